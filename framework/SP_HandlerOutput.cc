#include "framework/SP_HandlerOutput.h"

#include "framework/SP_OutMessage.h"

SP_HandlerOutput::SP_HandlerOutput(SP_SessionId senderId) : senderId_(senderId) {}

SP_HandlerOutput::~SP_HandlerOutput() {
  for (int i = 0; i < messages_.count(); ++i) delete static_cast<SP_OutMessage*>(messages_.takeItem(i));
  delete closeList_;
}

SP_OutMessage* SP_HandlerOutput::replyMessage() {
  if (reply_ == nullptr) {
    reply_ = new SP_OutMessage(0);
    reply_->recipients()->add(senderId_);
    messages_.append(reply_);
  }
  return reply_;
}

void SP_HandlerOutput::addMessage(SP_OutMessage* message) {
  if (message != nullptr) messages_.append(message);
}

SP_OutMessage* SP_HandlerOutput::takeMessage() { return static_cast<SP_OutMessage*>(messages_.removeAt(0)); }

SP_SessionIdList* SP_HandlerOutput::closeList() {
  if (closeList_ == nullptr) closeList_ = new SP_SessionIdList();
  return closeList_;
}
