#include "framework/SP_CircleQueue.h"

#include <cstdlib>

#include "framework/SP_Assert.h"

SP_CircleQueue::SP_CircleQueue()
    : entries_(static_cast<void**>(std::calloc(8, sizeof(void*)))) {
  SP_ASSERT(nullptr != entries_, "__null != entries", "SP_CircleQueue::SP_CircleQueue()");
}

SP_CircleQueue::~SP_CircleQueue() { std::free(entries_); }

void SP_CircleQueue::enqueue(void* item) {
  if (count_ >= capacity_) {
    int grown = capacity_ * 3 / 2 + 1;
    void** fresh = static_cast<void**>(std::calloc(static_cast<size_t>(grown), sizeof(void*)));
    SP_ASSERT(nullptr != fresh, "__null != entries", "void SP_CircleQueue::enqueue(void*)");
    for (int i = 0; i < count_; ++i) fresh[i] = entries_[(head_ + i) % capacity_];
    std::free(entries_);
    entries_ = fresh;
    head_ = 0;
    tail_ = count_;
    capacity_ = grown;
  }
  entries_[tail_] = item;
  tail_ = (tail_ + 1) % capacity_;
  ++count_;
}

void* SP_CircleQueue::dequeue() {
  if (count_ == 0) return nullptr;
  void* item = entries_[head_];
  entries_[head_] = nullptr;
  head_ = (head_ + 1) % capacity_;
  --count_;
  return item;
}

void* SP_CircleQueue::front() const { return count_ == 0 ? nullptr : entries_[head_]; }
