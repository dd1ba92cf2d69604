// What one handler call produces: the reply to the calling session, other
// messages, and sessions to close once their output is written. Made by the
// framework before each call, filled by the handler, routed and deleted on
// the loop thread. Public face of framework/.
#pragma once

#include "framework/SP_ArrayList.h"
#include "framework/SP_SessionId.h"

class SP_OutMessage;

class SP_HandlerOutput {
 public:
  explicit SP_HandlerOutput(SP_SessionId senderId);
  // Deletes the messages still held and the close list.
  ~SP_HandlerOutput();
  SP_HandlerOutput(const SP_HandlerOutput&) = delete;
  SP_HandlerOutput& operator=(const SP_HandlerOutput&) = delete;

  // The reply to the sender, created on first call; the same on every call.
  SP_OutMessage* replyMessage();
  // Adds a message with recipients of the handler's choice (owned from now).
  void addMessage(SP_OutMessage* message);
  // Removes and returns the first message; null when none.
  SP_OutMessage* takeMessage();
  int messageCount() const { return messages_.count(); }
  // Sessions to end once their pending output is written.
  SP_SessionIdList* closeList();
  SP_SessionIdList* closeListIfAny() const { return closeList_; }
  SP_SessionId senderId() const { return senderId_; }

 private:
  SP_SessionId senderId_;
  SP_OutMessage* reply_ = nullptr;
  SP_SessionIdList* closeList_ = nullptr;
  SP_ArrayList messages_;  // of SP_OutMessage*, owned until taken
};
