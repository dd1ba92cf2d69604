// One accepted connection of a server: its id, events, handler, channel,
// input buffer and queue of outgoing messages. Touched by the loop thread,
// and by one work thread at a time while `running` keeps the loop away.
// Internal to framework/; channels (SP_IOChannel) read and write through it.
#pragma once

#include <event2/event_struct.h>

#include <atomic>
#include <cstdint>

#include "framework/SP_ArrayList.h"
#include "framework/SP_SessionId.h"

class SP_Buffer;
class SP_Handler;
class SP_IOChannel;
class SP_RequestContext;
struct SP_LoopContext;

class SP_Session {
 public:
  enum { Normal = 0, ExitRequested = 1, Exiting = 2 };

  SP_Session(SP_SessionId id, int socket);
  // Deletes the handler, request, input buffer, output list (not its
  // messages) and channel. The events must already be out of the loop; the
  // socket is closed by whoever ends the session.
  virtual ~SP_Session();
  SP_Session(const SP_Session&) = delete;
  SP_Session& operator=(const SP_Session&) = delete;

  SP_SessionId id() const { return id_; }
  int socket() const { return socket_; }
  struct event* readEvent() { return &readEvent_; }
  struct event* writeEvent() { return &writeEvent_; }

  SP_Handler* handler() const { return handler_; }
  void setHandler(SP_Handler* handler) { handler_ = handler; }  // owned from now
  SP_IOChannel* ioChannel() const { return ioChannel_; }
  void setIOChannel(SP_IOChannel* channel) { ioChannel_ = channel; }  // owned from now
  SP_LoopContext* loopContext() const { return loopContext_; }
  void setLoopContext(SP_LoopContext* context) { loopContext_ = context; }

  SP_Buffer* inputBuffer() const { return inputBuffer_; }
  SP_RequestContext* request() const { return request_; }
  SP_ArrayList* outputList() { return &outputList_; }  // of SP_OutMessage*, shared
  int outputOffset() const { return outputOffset_; }
  void setOutputOffset(int offset) { outputOffset_ = offset; }

  int status() const { return status_; }
  void setStatus(int status) { status_ = static_cast<uint8_t>(status); }
  int running() const { return running_; }
  void setRunning(int running) { running_ = static_cast<uint8_t>(running); }
  int readArmed() const { return readArmed_; }
  void setReadArmed(int armed) { readArmed_ = static_cast<uint8_t>(armed); }
  int writeArmed() const { return writeArmed_; }
  void setWriteArmed(int armed) { writeArmed_ = static_cast<uint8_t>(armed); }
  int bytesRead() const { return bytesRead_; }
  void addRead(int n) { bytesRead_ += n; }
  int bytesWritten() const { return bytesWritten_; }
  void addWritten(int n) { bytesWritten_ += n; }

 private:
  SP_SessionId id_;
  int socket_;
  struct event readEvent_;
  struct event writeEvent_;
  SP_Handler* handler_ = nullptr;
  SP_LoopContext* loopContext_ = nullptr;
  SP_Buffer* inputBuffer_;
  SP_RequestContext* request_;
  int outputOffset_ = 0;
  SP_ArrayList outputList_;
  // Written by a work task and read by the loop thread; the notify queue
  // orders the hand-over, the atomics keep the unordered reads sound.
  std::atomic<uint8_t> status_{Normal};
  std::atomic<uint8_t> running_{0};
  uint8_t writeArmed_ = 0;
  uint8_t readArmed_ = 0;
  int bytesRead_ = 0;
  int bytesWritten_ = 0;
  SP_IOChannel* ioChannel_ = nullptr;
};

// The session table: a two-level array addressed by the 16-bit key. Row 0
// is never used, so keys run from 1024 to 65535. Loop thread only, except
// that count() and freeCount() may be read anywhere for log lines.
class SP_SessionManager {
 public:
  SP_SessionManager();
  // Deletes the sessions still held.
  ~SP_SessionManager();
  SP_SessionManager(const SP_SessionManager&) = delete;
  SP_SessionManager& operator=(const SP_SessionManager&) = delete;

  // A free key and its sequence; 0 when every row is in use.
  uint16_t allocateKey(uint16_t* seq);
  void put(uint16_t key, uint16_t seq, SP_Session* session);
  // The session (null when free) and the key's current sequence.
  SP_Session* lookup(uint16_t key, uint16_t* seq) const;
  // Frees the key (its sequence moves on) and returns the session held.
  SP_Session* remove(uint16_t key, uint16_t seq);
  int count() const { return count_; }
  int freeCount() const { return freeCount_; }
  // Calls visit(session, argument) for every session held, in key order.
  void forEach(void (*visit)(SP_Session* session, void* argument), void* argument);

 private:
  struct Entry {
    uint16_t mSeq;
    uint16_t next;
    SP_Session* mSession;
  };
  std::atomic<int> count_{0};
  Entry* mArray[64] = {};
  std::atomic<int> freeCount_{0};
  uint16_t freeList_ = 0;
};
