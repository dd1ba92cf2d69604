#include "framework/SP_Executor.h"

#include <pthread.h>

#include "framework/SP_Assert.h"
#include "framework/SP_BlockingQueue.h"
#include "framework/SP_Log.h"
#include "framework/SP_ThreadPool.h"

SP_SimpleTask::SP_SimpleTask(Function function, void* argument, int deleteAfterRun)
    : function_(function), argument_(argument), deleteAfterRun_(deleteAfterRun) {}

void SP_SimpleTask::perform() {
  if (function_ != nullptr) function_(argument_);
  if (deleteAfterRun_) delete this;
}

SP_Executor::SP_Executor(int threadLimit, const char* tag)
    : pool_(new SP_ThreadPool(threadLimit, tag)), queue_(new SP_BlockingQueue()) {
  const char* name = tag != nullptr ? tag : "unknown";
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  SP_ASSERT(pthread_attr_setstacksize(&attr, 1024 * 1024) == 0,
            "pthread_attr_setstacksize( &attr, 1024 * 1024 ) == 0", "SP_Executor::SP_Executor(int, const char*)");
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, &SP_Executor::eventLoop, this);
  pthread_attr_destroy(&attr);
  if (rc == 0) {
    sp_syslog(LOG_NOTICE, "[ex@%s] Thread #%ld has been created for executor", name, static_cast<long>(thread));
  } else {
    // No dispatcher will ever mark the end; the destructor must not wait.
    stopState_ = 2;
    sp_syslog(LOG_WARNING, "[ex@%s] Unable to create a thread for executor", name);
  }
}

SP_Executor::~SP_Executor() {
  stop();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    while (stopState_ != 2) cond_.wait(lock);
  }
  delete pool_;
  // Dropped tasks are released, not run.
  while (queue_->length() > 0) delete static_cast<SP_Task*>(queue_->dequeue());
  delete queue_;
}

void SP_Executor::submit(SP_Task* task) {
  if (task != nullptr) queue_->enqueue(task);
}

void SP_Executor::submit(void (*function)(void*), void* argument) {
  submit(new SP_SimpleTask(function, argument, 1));
}

int SP_Executor::pendingCount() { return queue_->length(); }

void SP_Executor::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopState_ == 0) {
    stopState_ = 1;
    // Wakes a dispatcher blocked on the empty queue.
    queue_->enqueue(new SP_SimpleTask(&SP_Executor::worker, nullptr, 1));
  }
}

bool SP_Executor::isDispatching() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopState_ != 2;
}

void SP_Executor::worker(void* task) {
  if (task != nullptr) static_cast<SP_Task*>(task)->perform();
}

void* SP_Executor::eventLoop(void* arg) {
  SP_Executor* executor = static_cast<SP_Executor*>(arg);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(executor->mutex_);
      if (executor->stopState_ != 0) {
        executor->stopState_ = 2;
        executor->cond_.notify_all();
        return nullptr;
      }
    }
    SP_Task* task = static_cast<SP_Task*>(executor->queue_->dequeue());
    if (executor->pool_->capacity() > 1 && executor->pool_->assign(&SP_Executor::worker, task) == 0) continue;
    worker(task);
  }
}
