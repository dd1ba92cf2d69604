#include "framework/SP_Server.h"

#include <event2/event.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "framework/SP_Assert.h"
#include "framework/SP_EventCallback.h"
#include "framework/SP_Executor.h"
#include "framework/SP_Handler.h"
#include "framework/SP_HandlerOutput.h"
#include "framework/SP_IOChannel.h"
#include "framework/SP_IOUtils.h"
#include "framework/SP_Log.h"
#include "framework/SP_NotifyQueue.h"
#include "framework/SP_OutMessage.h"

namespace {

struct CompletionRecord {
  SP_CompletionHandler* handler;
  SP_OutMessage* message;
};

// Hands one finished message to the completion handler. Dropped at
// shutdown, it still hands the message over (the handler outlives the
// "act" executor), so no message is lost or leaked.
class CompletionTask : public SP_Task {
 public:
  explicit CompletionTask(CompletionRecord* record) : record_(record) {}
  ~CompletionTask() override {
    if (record_ != nullptr) SP_Server::outputCompleted(record_);
  }
  CompletionTask(const CompletionTask&) = delete;
  CompletionTask& operator=(const CompletionTask&) = delete;
  void perform() override {
    SP_Server::outputCompleted(record_);
    record_ = nullptr;
    delete this;
  }

 private:
  CompletionRecord* record_;
};

// libevent's own warnings (e.g. signals shared by several loops) go to the
// framework's sink, not to stderr.
void libeventLog(int severity, const char* message) {
  sp_syslog(severity >= EVENT_LOG_WARN ? LOG_WARNING : LOG_DEBUG, "libevent: %s", message);
}

void shutdownSocket(SP_Session* session, void*) { ::shutdown(session->socket(), SHUT_RDWR); }

void closeSession(SP_Session* session, void* completionHandler) {
  SP_EventCallback::closeAtShutdown(session, static_cast<SP_CompletionHandler*>(completionHandler));
}

void failAll(SP_OutMessage* message, SP_CompletionHandler* done) {
  while (message->recipients()->count() > 0) message->failed()->add(message->recipients()->take(SP_ArrayList::LAST_INDEX));
  done->onMessageDone(message);
}

}  // namespace

SP_Server::SP_Server(const char* bindAddress, int port, SP_HandlerFactory* handlerFactory)
    : handlerFactory_(handlerFactory), port_(port), refusalText_(strdup("System busy, try again later.")) {
  std::snprintf(bindAddress_, sizeof(bindAddress_), "%s", bindAddress != nullptr ? bindAddress : "");
}

SP_Server::~SP_Server() {
  shutdown();
  delete handlerFactory_;
  delete channelFactory_;
  std::free(refusalText_);
}

void SP_Server::setSessionTimeout(int seconds) {
  if (seconds >= 1) timeoutSeconds_ = seconds;
}

void SP_Server::setWorkerCount(int count) {
  if (count >= 1) workerCount_ = count;
}

void SP_Server::setConnectionLimit(int count) {
  if (count >= 1) connectionLimit_ = count;
}

void SP_Server::setQueueLimit(int limit, const char* refusalText) {
  if (limit >= 1) queueLimit_ = limit;
  std::free(refusalText_);
  refusalText_ = strdup(refusalText != nullptr ? refusalText : "");
}

void SP_Server::setChannelFactory(SP_IOChannelFactory* factory) {
  if (factory == channelFactory_) return;
  delete channelFactory_;
  channelFactory_ = factory;
}

void SP_Server::requestStop() {
  stopRequested_ = 1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (wakeQueue_ != nullptr) wakeQueue_->push(nullptr);
}

bool SP_Server::waitStopped(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs < 0) {
    while (loopRunning_) ended_.wait(lock);
    return true;
  }
  return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return loopRunning_ == 0; });
}

void SP_Server::shutdown() {
  if (!loopRunning_) return;
  requestStop();
  waitStopped(-1);
}

void SP_Server::sigHandler(int /*signal*/, short /*events*/, void* server) {
  static_cast<SP_Server*>(server)->requestStop();
}

void SP_Server::outputCompleted(void* arg) {
  CompletionRecord* record = static_cast<CompletionRecord*>(arg);
  record->handler->onMessageDone(record->message);
  delete record;
}

int SP_Server::run() {
  if (loopRunning_.exchange(1) != 0) return EALREADY;
  static std::once_flag logOnce;
  std::call_once(logOnce, [] { event_set_log_callback(&libeventLog); });

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  SP_ASSERT(pthread_attr_setstacksize(&attr, 1024 * 1024) == 0, "pthread_attr_setstacksize( &attr, 1024 * 1024 ) == 0",
            "int SP_Server::run()");
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, &SP_Server::eventLoop, this);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    setLoopEnded();
    sp_syslog(LOG_WARNING, "Unable to create a thread for TCP server on port [%d], %s", port_, std::strerror(rc));
    return rc;
  }
  sp_syslog(LOG_NOTICE, "Thread #%ld has been created to listen on port [%d]", static_cast<long>(thread), port_);
  return 0;
}

void* SP_Server::eventLoop(void* arg) {
  static_cast<SP_Server*>(arg)->loop();
  return nullptr;
}

void SP_Server::setLoopEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  loopRunning_ = 0;
  ended_.notify_all();
}

void SP_Server::loop() {
  // A write to a connection the peer has closed must fail, not end the
  // process.
  ::signal(SIGPIPE, SIG_IGN);

  int listenSocket = -1;
  if (SP_IOUtils::openTcpListener(bindAddress_, port_, &listenSocket, 0) != 0) {
    setLoopEnded();
    return;
  }
  SP_LoopContext* context = SP_LoopContext::create(timeoutSeconds_);
  if (context == nullptr) {
    sp_syslog(LOG_WARNING, "Out of memory, cannot allocate event loop!");
    ::close(listenSocket);
    setLoopEnded();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wakeQueue_ = context->notifyQueue;
  }
  struct sockaddr_in bound;
  socklen_t boundLen = sizeof(bound);
  if (::getsockname(listenSocket, reinterpret_cast<struct sockaddr*>(&bound), &boundLen) == 0) {
    listenPort_ = ntohs(bound.sin_port);
  }

  struct event* sigTerm = evsignal_new(context->eventBase, SIGTERM, &SP_Server::sigHandler, this);
  struct event* sigInt = evsignal_new(context->eventBase, SIGINT, &SP_Server::sigHandler, this);
  if (sigTerm != nullptr) event_add(sigTerm, nullptr);
  if (sigInt != nullptr) event_add(sigInt, nullptr);

  if (channelFactory_ == nullptr) channelFactory_ = new SP_DefaultIOChannelFactory();
  SP_ListenContext listenContext = {context,     handlerFactory_, channelFactory_,
                                    queueLimit_, connectionLimit_, refusalText_};
  struct event* listenEvent =
      event_new(context->eventBase, listenSocket, EV_READ | EV_PERSIST, &SP_EventCallback::onAccept, &listenContext);
  event_add(listenEvent, nullptr);

  SP_Executor* work = new SP_Executor(workerCount_, "work");
  SP_Executor* act = new SP_Executor(1, "act");
  SP_CompletionHandler* completionHandler = handlerFactory_->newCompletionHandler();

  while (stopRequested_ == 0) {
    event_base_loop(context->eventBase, EVLOOP_ONCE);
    while (context->taskQueue->front() != nullptr) work->submit(static_cast<SP_Task*>(context->taskQueue->dequeue()));
    while (context->doneQueue->front() != nullptr) {
      CompletionRecord* record = new CompletionRecord{completionHandler, static_cast<SP_OutMessage*>(context->doneQueue->dequeue())};
      act->submit(new CompletionTask(record));
    }
  }

  sp_syslog(LOG_NOTICE, "Server is shutdown.");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wakeQueue_ = nullptr;
  }
  event_free(listenEvent);
  if (sigTerm != nullptr) event_free(sigTerm);
  if (sigInt != nullptr) event_free(sigInt);
  ::close(listenSocket);
  listenPort_ = 0;

  // Wake handshakes and handlers blocked on their sockets, then let the
  // executors finish what their threads already run.
  context->sessionManager->forEach(&shutdownSocket, nullptr);
  delete act;
  delete work;

  // Output that arrived after the last pass, and messages still queued for
  // sessions, fail and go to the completion handler here, on this thread.
  while (context->notifyQueue->length() > 0) {
    SP_HandlerOutput* output = static_cast<SP_HandlerOutput*>(context->notifyQueue->takeFront());
    if (output == nullptr) continue;
    for (SP_OutMessage* message = output->takeMessage(); message != nullptr; message = output->takeMessage()) {
      failAll(message, completionHandler);
    }
    delete output;
  }
  while (context->taskQueue->front() != nullptr) delete static_cast<SP_Task*>(context->taskQueue->dequeue());
  context->sessionManager->forEach(&closeSession, completionHandler);
  while (context->doneQueue->front() != nullptr) {
    completionHandler->onMessageDone(static_cast<SP_OutMessage*>(context->doneQueue->dequeue()));
  }
  delete completionHandler;
  delete context;
  setLoopEnded();
}
