// The event flow of a server: the per-loop context, the loop-thread
// callbacks and steps (SP_EventCallback) and the work-thread tasks
// (SP_EventHelper) that carry a session from accept to close. Internal to
// framework/.
#pragma once

#include <event2/event.h>

#include "framework/SP_BlockingQueue.h"
#include "framework/SP_Session.h"

class SP_CompletionHandler;
class SP_HandlerFactory;
class SP_IOChannelFactory;
class SP_NotifyQueue;
class SP_Session;

// One per running loop; created and used by the server thread.
struct SP_LoopContext {
  // Returns a context whose eventBase and notifyQueue are both set, or null.
  static SP_LoopContext* create(int timeoutSeconds);
  // Deletes the sessions still in the table, then the notify queue, then
  // the event base.
  ~SP_LoopContext();

  struct event_base* eventBase = nullptr;
  SP_NotifyQueue* notifyQueue = nullptr;
  SP_BlockingQueue* taskQueue = nullptr;  // of SP_Task*
  SP_BlockingQueue* doneQueue = nullptr;  // of finished SP_OutMessage*
  SP_SessionManager* sessionManager = nullptr;
  int timeoutSeconds = 600;
};

// Argument of the listening event.
struct SP_ListenContext {
  SP_LoopContext* loopContext;
  SP_HandlerFactory* handlerFactory;
  SP_IOChannelFactory* channelFactory;
  int queueLimit;
  int connectionLimit;
  const char* refusalText;
};

// Loop-thread callbacks and steps.
class SP_EventCallback {
 public:
  static void onAccept(evutil_socket_t fd, short events, void* listenContext);
  static void onRead(evutil_socket_t fd, short events, void* session);
  static void onWrite(evutil_socket_t fd, short events, void* session);
  // The notify queue's callback; a null output only wakes the loop.
  static void onResponse(void* output, void* loopContext);

  static void armEvents(SP_Session* session, short which, int socket);
  static void queueStart(SP_Session* session);
  static void queueRequest(SP_Session* session);
  static void queueClose(SP_Session* session);
  static void queueTimeout(SP_Session* session);
  static void queueError(SP_Session* session);

  // At loop end: fail the session's pending messages into `done` (handled
  // by the caller), close the handler and the socket. Not for work threads.
  static void closeAtShutdown(SP_Session* session, SP_CompletionHandler* done);
};

// Work-thread tasks; each runs once for its session.
class SP_EventHelper {
 public:
  static void start(void* session);
  static void worker(void* session);
  static void myclose(void* session);
  static void timeout(void* session);
  static void error(void* session);
  // For a close, time-out or error task dropped at shutdown: close the
  // handler and the socket and delete the session.
  static void discard(SP_Session* session);
};
