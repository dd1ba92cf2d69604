// Growable FIFO ring of untyped pointers; starts with 8 slots. Items are not
// owned. Not thread-safe. Public face of framework/.
#pragma once

class SP_CircleQueue {
 public:
  SP_CircleQueue();
  virtual ~SP_CircleQueue();
  SP_CircleQueue(const SP_CircleQueue&) = delete;
  SP_CircleQueue& operator=(const SP_CircleQueue&) = delete;

  void enqueue(void* item);
  // Oldest item, or null when empty.
  void* dequeue();
  void* front() const;
  int length() const { return count_; }
  int capacity() const { return capacity_; }

 private:
  void** entries_;
  int head_ = 0;
  int tail_ = 0;
  int count_ = 0;
  int capacity_ = 8;
};
