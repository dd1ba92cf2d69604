// Hands items from any thread to one event loop: pushing into an empty
// queue writes one wake-up byte to a socket pair that the loop watches; the
// loop then passes every queued item, in order, to a callback on its own
// thread. Items are not owned. Public face of framework/.
#pragma once

#include <mutex>

struct event;
struct event_base;

class SP_NotifyQueue {
 public:
  using Callback = void (*)(void* item, void* argument);

  // Limit 0 means unlimited. Returns null when any allocation or the socket
  // pair fails (nothing is left behind).
  static SP_NotifyQueue* create(struct event_base* eventBase, int limit, Callback callback,
                                void* argument);
  // Removes the read event from the loop and closes both sockets; items
  // still queued are forgotten (take them first with takeFront()).
  ~SP_NotifyQueue();
  SP_NotifyQueue(const SP_NotifyQueue&) = delete;
  SP_NotifyQueue& operator=(const SP_NotifyQueue&) = delete;

  // Any thread; locks mutex_. Returns 0, or -1 when a limited ring is full
  // or cannot grow (the item is not queued).
  int push(void* item);
  int length();
  // Removes the oldest item without calling back; null when empty. For the
  // owner, after the loop has ended.
  void* takeFront();
  // Wake-up bytes written but not yet consumed by the loop (diagnostics).
  int pendingWakeBytes() const;

 private:
  SP_NotifyQueue() = default;
  static void onPop(int fd, short events, void* arg);

  int pushSocket_ = -1;
  int popSocket_ = -1;
  int releaseDuringCallback_ = 1;
  struct event* readEvent_ = nullptr;
  std::mutex mutex_;
  Callback callback_ = nullptr;
  void* argument_ = nullptr;
  // The ring, a power-of-two array; guarded by mutex_.
  int head_ = 0;
  int tail_ = 0;
  int count_ = 0;
  int limit_ = 0;
  int arraySize_ = 0;
  void** entries_ = nullptr;
};
