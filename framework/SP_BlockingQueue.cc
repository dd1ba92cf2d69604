#include "framework/SP_BlockingQueue.h"

void SP_BlockingQueue::enqueue(void* item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.enqueue(item);
  }
  // Signalled after the unlock, so the woken taker does not block on the
  // mutex straight away; it re-tests the queue under the mutex anyway.
  cond_.notify_one();
}

void* SP_BlockingQueue::dequeue() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue_.length() == 0) cond_.wait(lock);
  return queue_.dequeue();
}

void* SP_BlockingQueue::front() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.front();
}

int SP_BlockingQueue::length() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.length();
}
