// The contract between a service and the server: one SP_Handler per
// connection made by the service's SP_HandlerFactory, and the completion
// handler that receives every finished outgoing message. Public face of
// framework/.
//
// Calls for one session never overlap and run on the server's work threads:
// start once, handle once per decoded message, then exactly one of close
// (normal end), error + close (read/write failure or peer close) or
// timeout + close. A refused (busy) connection gets only close. A non-zero
// result from start or handle ends the session once its pending output,
// this call's reply included, has been written.
#pragma once

class SP_HandlerOutput;
class SP_OutMessage;
class SP_RequestContext;

class SP_Handler {
 public:
  virtual ~SP_Handler() = default;
  // 0: go on; non-zero: end after the output is written.
  virtual int start(SP_RequestContext* request, SP_HandlerOutput* output) = 0;
  // The ready message is held by request->decoder(). Result as for start.
  virtual int handle(SP_RequestContext* request, SP_HandlerOutput* output) = 0;
  // The session is already gone; messages to other sessions still go out.
  virtual void error(SP_HandlerOutput* output) = 0;
  virtual void timeout(SP_HandlerOutput* output) = 0;
  // Last call before the handler is deleted.
  virtual void close() = 0;
};

// Receives, on the server's "act" thread one at a time, every message whose
// recipients have all been served; owns the message from then on.
class SP_CompletionHandler {
 public:
  virtual ~SP_CompletionHandler() = default;
  virtual void onMessageDone(SP_OutMessage* message) = 0;
};

// Deletes each finished message.
class SP_DefaultCompletionHandler : public SP_CompletionHandler {
 public:
  void onMessageDone(SP_OutMessage* message) override;
};

class SP_HandlerFactory {
 public:
  virtual ~SP_HandlerFactory() = default;
  // Called on the loop thread for each accepted connection; the session owns
  // the result.
  virtual SP_Handler* newHandler() = 0;
  // Called once per server loop; the loop deletes it when it ends.
  virtual SP_CompletionHandler* newCompletionHandler();
};
