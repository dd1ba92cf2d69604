#include "framework/SP_RequestContext.h"

#include <cstring>

#include "framework/SP_MsgDecoder.h"

SP_RequestContext::SP_RequestContext() : decoder_(new SP_DefaultMsgDecoder()) {}

SP_RequestContext::~SP_RequestContext() { delete decoder_; }

void SP_RequestContext::setDecoder(SP_MsgDecoder* decoder) {
  if (decoder == decoder_) return;
  delete decoder_;
  // A session always has a decoder.
  decoder_ = decoder != nullptr ? decoder : new SP_DefaultMsgDecoder();
}

void SP_RequestContext::setClientAddress(const char* address) {
  std::strncpy(clientAddress_, address != nullptr ? address : "", sizeof(clientAddress_) - 1);
  clientAddress_[sizeof(clientAddress_) - 1] = '\0';
}

void SP_RequestContext::setLocalAddress(const char* address) {
  std::strncpy(localAddress_, address != nullptr ? address : "", sizeof(localAddress_) - 1);
  localAddress_[sizeof(localAddress_) - 1] = '\0';
}
