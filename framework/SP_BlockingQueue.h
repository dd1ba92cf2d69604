// Thread-safe FIFO of untyped pointers over one SP_CircleQueue; dequeue
// waits while the queue is empty. Nobody enqueues null. Public face of
// framework/.
#pragma once

#include <condition_variable>
#include <mutex>

#include "framework/SP_CircleQueue.h"

class SP_BlockingQueue {
 public:
  SP_BlockingQueue() = default;
  virtual ~SP_BlockingQueue() = default;
  SP_BlockingQueue(const SP_BlockingQueue&) = delete;
  SP_BlockingQueue& operator=(const SP_BlockingQueue&) = delete;

  // Locks mutex_; wakes one waiting dequeue.
  void enqueue(void* item);
  // Locks mutex_; waits while empty.
  void* dequeue();
  // Locks mutex_; null when empty.
  void* front();
  int length();

 private:
  SP_CircleQueue queue_;  // guarded by mutex_
  std::mutex mutex_;
  std::condition_variable cond_;
};
