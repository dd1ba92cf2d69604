// Tasks and the executor that runs them: a queue with its own dispatcher
// thread that hands each task to an SP_ThreadPool (or, with one thread,
// runs it itself, strictly in order). Public face of framework/.
#pragma once

#include <condition_variable>
#include <mutex>

class SP_BlockingQueue;
class SP_ThreadPool;

class SP_Task {
 public:
  virtual ~SP_Task() = default;
  virtual void perform() = 0;
};

// function(argument); deletes itself after the run when deleteAfterRun is
// set. Deleting one that never ran does not call the function.
class SP_SimpleTask : public SP_Task {
 public:
  using Function = void (*)(void* argument);
  SP_SimpleTask(Function function, void* argument, int deleteAfterRun);
  SP_SimpleTask(const SP_SimpleTask&) = delete;
  SP_SimpleTask& operator=(const SP_SimpleTask&) = delete;
  void perform() override;

 private:
  Function function_;
  void* argument_;
  int deleteAfterRun_;
};

class SP_Executor {
 public:
  // threadLimit below 1 gives a pool of 2; a null tag becomes "unknown".
  SP_Executor(int threadLimit, const char* tag = nullptr);
  // Stops the dispatcher, waits for the tasks already handed to threads,
  // and deletes (without running) the tasks still queued.
  ~SP_Executor();
  SP_Executor(const SP_Executor&) = delete;
  SP_Executor& operator=(const SP_Executor&) = delete;

  // Any thread. The executor owns the task until it is performed.
  void submit(SP_Task* task);
  void submit(void (*function)(void*), void* argument);
  int pendingCount();
  // Asks the dispatcher to end before its next take; a second call does
  // nothing. Locks mutex_.
  void stop();
  // Whether the dispatcher thread is running (false when it never started).
  bool isDispatching();

  static void worker(void* task);

 private:
  static void* eventLoop(void* executor);

  SP_ThreadPool* pool_;
  SP_BlockingQueue* queue_;
  int stopState_ = 0;  // 0 running, 1 stop requested, 2 ended; guarded by mutex_
  std::mutex mutex_;
  std::condition_variable cond_;
};
