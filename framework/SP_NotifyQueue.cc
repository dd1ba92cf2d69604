#include "framework/SP_NotifyQueue.h"

#include <event2/event.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

SP_NotifyQueue* SP_NotifyQueue::create(struct event_base* eventBase, int limit, Callback callback,
                                       void* argument) {
  if (eventBase == nullptr || callback == nullptr || limit < 0) return nullptr;
  SP_NotifyQueue* queue = new (std::nothrow) SP_NotifyQueue();
  if (queue == nullptr) return nullptr;
  queue->limit_ = limit;
  int size = 1024;
  if (limit > 0) {
    size = 1;
    while (size < limit) size <<= 1;
  }
  queue->arraySize_ = size;
  queue->entries_ = static_cast<void**>(std::calloc(static_cast<size_t>(size), sizeof(void*)));
  int pair[2];
  if (queue->entries_ == nullptr || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    delete queue;
    return nullptr;
  }
  queue->pushSocket_ = pair[0];
  queue->popSocket_ = pair[1];
  // Neither end may ever block a pusher or the loop.
  ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
  ::fcntl(pair[1], F_SETFL, ::fcntl(pair[1], F_GETFL) | O_NONBLOCK);
  queue->callback_ = callback;
  queue->argument_ = argument;
  queue->readEvent_ = event_new(eventBase, queue->popSocket_, EV_READ | EV_PERSIST, &SP_NotifyQueue::onPop, queue);
  if (queue->readEvent_ == nullptr || event_add(queue->readEvent_, nullptr) != 0) {
    delete queue;
    return nullptr;
  }
  queue->releaseDuringCallback_ = 1;
  return queue;
}

SP_NotifyQueue::~SP_NotifyQueue() {
  if (readEvent_ != nullptr) {
    event_del(readEvent_);
    event_free(readEvent_);
  }
  if (pushSocket_ >= 0) ::close(pushSocket_);
  if (popSocket_ >= 0) ::close(popSocket_);
  std::free(entries_);
}

int SP_NotifyQueue::push(void* item) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (limit_ > 0 && count_ >= limit_) return -1;
  if (count_ == arraySize_) {
    int grown = arraySize_ * 2;
    void** fresh = static_cast<void**>(std::calloc(static_cast<size_t>(grown), sizeof(void*)));
    if (fresh == nullptr) return -1;
    for (int i = 0; i < count_; ++i) fresh[i] = entries_[(head_ + i) & (arraySize_ - 1)];
    std::free(entries_);
    entries_ = fresh;
    head_ = 0;
    tail_ = count_;
    arraySize_ = grown;
  }
  entries_[tail_] = item;
  tail_ = (tail_ + 1) & (arraySize_ - 1);
  ++count_;
  if (count_ == 1) {
    char wake = 0;
    // One byte per empty-to-non-empty transition; the loop drains all items
    // on each wake, so the pair never fills up.
    (void)::send(pushSocket_, &wake, 1, MSG_NOSIGNAL);
  }
  return 0;
}

int SP_NotifyQueue::length() {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

void* SP_NotifyQueue::takeFront() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ == 0) return nullptr;
  void* item = entries_[head_];
  head_ = (head_ + 1) & (arraySize_ - 1);
  --count_;
  return item;
}

int SP_NotifyQueue::pendingWakeBytes() const {
  int n = 0;
  if (::ioctl(popSocket_, FIONREAD, &n) != 0) return -1;
  return n;
}

void SP_NotifyQueue::onPop(int fd, short /*events*/, void* arg) {
  SP_NotifyQueue* queue = static_cast<SP_NotifyQueue*>(arg);
  char discard[64];
  (void)::recv(fd, discard, sizeof(discard), 0);
  std::unique_lock<std::mutex> lock(queue->mutex_);
  while (queue->count_ > 0) {
    void* item = queue->entries_[queue->head_];
    queue->head_ = (queue->head_ + 1) & (queue->arraySize_ - 1);
    --queue->count_;
    if (queue->releaseDuringCallback_) lock.unlock();
    queue->callback_(item, queue->argument_);
    if (queue->releaseDuringCallback_) lock.lock();
  }
}
