// What a handler reads about its connection: the decoder holding the ready
// message and the peer's and local addresses. One per session, owned by the
// session. Public face of framework/.
#pragma once

class SP_MsgDecoder;

class SP_RequestContext {
 public:
  // Starts with an SP_DefaultMsgDecoder.
  SP_RequestContext();
  ~SP_RequestContext();
  SP_RequestContext(const SP_RequestContext&) = delete;
  SP_RequestContext& operator=(const SP_RequestContext&) = delete;

  SP_MsgDecoder* decoder() const { return decoder_; }
  // Deletes the current decoder and keeps `decoder` (owned from now on);
  // null installs a fresh SP_DefaultMsgDecoder.
  void setDecoder(SP_MsgDecoder* decoder);

  const char* clientAddress() const { return clientAddress_; }
  int clientPort() const { return clientPort_; }
  const char* localAddress() const { return localAddress_; }
  // Copy at most 32 bytes; the last byte always stays zero.
  void setClientAddress(const char* address);
  void setClientPort(int port) { clientPort_ = port; }
  void setLocalAddress(const char* address);

 private:
  SP_MsgDecoder* decoder_;
  char clientAddress_[32] = {};
  int clientPort_ = 0;
  char localAddress_[32] = {};
};
