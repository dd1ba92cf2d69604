// A pool of worker threads that grows lazily up to a fixed capacity and
// reuses parked threads, the most recently parked first. Threads are never
// ended for being idle. Fed by one executor's dispatcher. Public face of
// framework/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

class SP_ThreadPool {
 public:
  using Function = void (*)(void* argument);

  // A capacity below 1 gives 2; a null tag becomes "unknown".
  SP_ThreadPool(int capacity, const char* tag = nullptr);
  // Waits until every thread is parked, then ends them all.
  ~SP_ThreadPool();
  SP_ThreadPool(const SP_ThreadPool&) = delete;
  SP_ThreadPool& operator=(const SP_ThreadPool&) = delete;

  int capacity() const { return capacity_; }
  // Runs function(argument) on a parked thread, or on a new one while fewer
  // than capacity exist; otherwise waits for a thread to park. Locks
  // mutex_, then a record's mutex. Returns 0, or -1 when no thread could
  // be created (the work is not taken).
  int assign(Function function, void* argument);
  // Counts for diagnostics; lock mutex_.
  int totalCount();
  int idleCount();

 private:
  struct ThreadRecord;
  int parkThread(ThreadRecord* record);
  static void* wrapperFunc(void* record);

  char* tag_;
  int capacity_;
  int idleCount_ = 0;            // guarded by mutex_
  int totalCount_ = 0;           // guarded by mutex_
  std::atomic<int> stopFlag_{0};
  std::mutex mutex_;
  std::condition_variable idleSignal_;
  std::condition_variable allIdleSignal_;
  std::condition_variable noneLeftSignal_;
  ThreadRecord** idleList_;      // stack of capacity_ slots; guarded by mutex_
};
