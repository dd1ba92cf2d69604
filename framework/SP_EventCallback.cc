#include "framework/SP_EventCallback.h"

#include <arpa/inet.h>
#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "framework/SP_Assert.h"
#include "framework/SP_Buffer.h"
#include "framework/SP_Executor.h"
#include "framework/SP_Handler.h"
#include "framework/SP_HandlerOutput.h"
#include "framework/SP_IOChannel.h"
#include "framework/SP_IOUtils.h"
#include "framework/SP_Log.h"
#include "framework/SP_MsgDecoder.h"
#include "framework/SP_NotifyQueue.h"
#include "framework/SP_OutMessage.h"
#include "framework/SP_RequestContext.h"

namespace {

// A session's work item. A close, time-out or error task that is dropped at
// shutdown still releases its session, which is no longer in the table.
class SessionTask : public SP_Task {
 public:
  enum Kind { Start, Request, Close, Timeout, Error };
  SessionTask(Kind kind, SP_Session* session) : kind_(kind), session_(session) {}
  ~SessionTask() override {
    if (!performed_ && kind_ >= Close) SP_EventHelper::discard(session_);
  }
  SessionTask(const SessionTask&) = delete;
  SessionTask& operator=(const SessionTask&) = delete;

  void perform() override {
    performed_ = true;
    switch (kind_) {
      case Start: SP_EventHelper::start(session_); break;
      case Request: SP_EventHelper::worker(session_); break;
      case Close: SP_EventHelper::myclose(session_); break;
      case Timeout: SP_EventHelper::timeout(session_); break;
      case Error: SP_EventHelper::error(session_); break;
    }
    delete this;
  }

 private:
  Kind kind_;
  SP_Session* session_;
  bool performed_ = false;
};

void enqueueTask(SP_Session* session, SessionTask::Kind kind) {
  session->loopContext()->taskQueue->enqueue(new SessionTask(kind, session));
}

int decodeInput(SP_Session* session) {
  return session->request()->decoder()->decode(session->inputBuffer());
}

void logSessionLine(int priority, const char* what, SP_Session* session) {
  SP_SessionManager* table = session->loopContext()->sessionManager;
  sp_syslog(priority, "session(%d.%d) %s, r %d(%d), w %d(%d), i %d, o %d, s %d(%d)", session->id().mKey,
            session->id().mSeq, what, session->bytesRead(), session->readArmed(), session->bytesWritten(),
            session->writeArmed(), session->inputBuffer()->size(), session->outputList()->count(), table->count(),
            table->freeCount());
}

// Moves the session's pending messages to `failed`; a message left without
// recipients goes to the done queue.
void failPendingOutput(SP_Session* session, SP_CompletionHandler* direct) {
  SP_ArrayList* list = session->outputList();
  SP_SessionId sid = session->id();
  while (list->count() > 0) {
    SP_OutMessage* message = static_cast<SP_OutMessage*>(list->removeAt(SP_ArrayList::LAST_INDEX));
    int at = message->recipients()->find(sid);
    if (at >= 0) message->recipients()->take(at);
    message->failed()->add(sid);
    if (message->recipients()->count() == 0) {
      if (direct != nullptr) {
        direct->onMessageDone(message);
      } else {
        session->loopContext()->doneQueue->enqueue(message);
      }
    }
  }
  session->setOutputOffset(0);
}

void closeSocket(SP_Session* session) {
  if (session->socket() >= 0) ::close(session->socket());
}

// Bounds a TLS handshake (a blocking attach) by the session time-out.
void limitBlockingWaits(int fd, int seconds) {
  struct timeval tv = {seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

// No key left in the table: refuse without a session object.
void refuseWithoutSession(int fd, SP_ListenContext* listen, bool handshake) {
  SP_LoopContext* loop = listen->loopContext;
  sp_syslog(LOG_WARNING, "System busy, session.count %d [%d], queue.length %d [%d]", loop->sessionManager->count(),
            listen->connectionLimit, loop->taskQueue->length(), listen->queueLimit);
  if (!handshake) {
    SP_Buffer text;
    text.append(listen->refusalText);
    text.append("\r\n", 2);
    (void)::send(fd, text.rawBytes(), static_cast<size_t>(text.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  ::close(fd);
}

}  // namespace

SP_LoopContext* SP_LoopContext::create(int timeoutSeconds) {
  SP_LoopContext* context = new SP_LoopContext();
  context->timeoutSeconds = timeoutSeconds;
  context->taskQueue = new SP_BlockingQueue();
  context->doneQueue = new SP_BlockingQueue();
  context->sessionManager = new SP_SessionManager();
  context->eventBase = event_base_new();
  if (context->eventBase != nullptr) {
    context->notifyQueue = SP_NotifyQueue::create(context->eventBase, 0, &SP_EventCallback::onResponse, context);
  }
  if (context->notifyQueue == nullptr) {
    delete context;
    return nullptr;
  }
  return context;
}

SP_LoopContext::~SP_LoopContext() {
  delete sessionManager;
  delete notifyQueue;
  delete taskQueue;
  delete doneQueue;
  if (eventBase != nullptr) event_base_free(eventBase);
}

void SP_EventCallback::onAccept(evutil_socket_t listenFd, short /*events*/, void* arg) {
  SP_ListenContext* listen = static_cast<SP_ListenContext*>(arg);
  SP_LoopContext* loop = listen->loopContext;
  struct sockaddr_in peer;
  socklen_t peerLen = sizeof(peer);
  int fd = ::accept4(listenFd, reinterpret_cast<struct sockaddr*>(&peer), &peerLen, SOCK_CLOEXEC);
  if (fd < 0) {
    sp_syslog(LOG_WARNING, "accept failed");
    return;
  }
  if (SP_IOUtils::setNonBlocking(fd) != 0) sp_syslog(LOG_WARNING, "failed to set client socket non-blocking");

  SP_IOChannel* channel = listen->channelFactory->newChannel();
  bool handshake = channel != nullptr && channel->needsHandshake() != 0;
  SP_SessionId sid;
  sid.mKey = loop->sessionManager->allocateKey(&sid.mSeq);
  if (sid.mKey == 0) {
    delete channel;
    refuseWithoutSession(fd, listen, handshake);
    return;
  }

  SP_Session* session = new (std::nothrow) SP_Session(sid, fd);
  SP_Handler* handler = session != nullptr ? listen->handlerFactory->newHandler() : nullptr;
  if (session == nullptr || handler == nullptr || channel == nullptr) {
    delete session;
    delete handler;
    delete channel;
    loop->sessionManager->remove(sid.mKey, sid.mSeq);
    ::close(fd);
    sp_syslog(LOG_WARNING, "Out of memory, cannot allocate session object!");
    return;
  }
  char text[32];
  SP_IOUtils::formatIpv4(peer.sin_addr, text, sizeof(text));
  session->request()->setClientAddress(text);
  session->request()->setClientPort(ntohs(peer.sin_port));
  struct sockaddr_in local;
  socklen_t localLen = sizeof(local);
  if (::getsockname(fd, reinterpret_cast<struct sockaddr*>(&local), &localLen) == 0) {
    SP_IOUtils::formatIpv4(local.sin_addr, text, sizeof(text));
    session->request()->setLocalAddress(text);
  }

  loop->sessionManager->put(sid.mKey, sid.mSeq, session);
  session->setHandler(handler);
  session->setIOChannel(channel);
  session->setLoopContext(loop);
  event_assign(session->readEvent(), loop->eventBase, fd, EV_READ, &SP_EventCallback::onRead, session);
  event_assign(session->writeEvent(), loop->eventBase, fd, EV_WRITE, &SP_EventCallback::onWrite, session);

  if (loop->sessionManager->count() <= listen->connectionLimit && loop->taskQueue->length() < listen->queueLimit) {
    queueStart(session);
    return;
  }

  sp_syslog(LOG_WARNING, "System busy, session.count %d [%d], queue.length %d [%d]", loop->sessionManager->count(),
            listen->connectionLimit, loop->taskQueue->length(), listen->queueLimit);
  if (!handshake) {
    // A TLS connection gets no refusal text: it would need a handshake.
    SP_OutMessage* refusal = new SP_OutMessage(0);
    refusal->content()->append(listen->refusalText);
    refusal->content()->append("\r\n", 2);
    session->outputList()->append(refusal);
    channel->attach(fd);
  }
  session->setStatus(SP_Session::Exiting);
  armEvents(session, EV_WRITE, fd);
}

void SP_EventCallback::onRead(evutil_socket_t /*fd*/, short events, void* arg) {
  SP_Session* session = static_cast<SP_Session*>(arg);
  SP_SessionId sid = session->id();
  session->setReadArmed(0);
  if ((events & EV_READ) == 0) {
    if (session->running()) {
      sp_syslog(LOG_NOTICE, "session(%d.%d) busy, process session timeout later", sid.mKey, sid.mSeq);
      return;
    }
    queueTimeout(session);
    return;
  }

  // A stale errno must not turn an end of stream into "try again".
  errno = 0;
  int n = session->ioChannel()->readInto(session);
  if (n > 0) {
    session->addRead(n);
    // Reading pauses while a request is handled; the bytes wait.
    if (session->running()) return;
    if (decodeInput(session) == SP_MsgDecoder::MessageReady) queueRequest(session);
    armEvents(session, EV_READ, -1);
    return;
  }

  int e = errno;
  if (e != EAGAIN) {
    // The peer's last message may still be waiting behind a running task.
    for (int i = 0; i < 1000 && session->running(); ++i) ::usleep(10 * 1000);
  }
  if (!session->running() && decodeInput(session) == SP_MsgDecoder::MessageReady) queueRequest(session);
  if (e != 0) {
    sp_syslog(LOG_WARNING, "session(%d.%d) read error, errno %d, status %d", sid.mKey, sid.mSeq, e,
              session->status());
  }
  if (e == EAGAIN) {
    armEvents(session, EV_READ, -1);
  } else if (session->running()) {
    sp_syslog(LOG_NOTICE, "session(%d.%d) read busy, process session error later", sid.mKey, sid.mSeq);
  } else {
    queueError(session);
  }
}

void SP_EventCallback::onWrite(evutil_socket_t /*fd*/, short events, void* arg) {
  SP_Session* session = static_cast<SP_Session*>(arg);
  SP_SessionId sid = session->id();
  session->setWriteArmed(0);
  if ((events & EV_WRITE) == 0) {
    if (session->running()) {
      sp_syslog(LOG_NOTICE, "session(%d.%d) busy, process session timeout later", sid.mKey, sid.mSeq);
      return;
    }
    queueTimeout(session);
    return;
  }

  if (session->outputList()->count() > 0) {
    errno = 0;
    int n = session->ioChannel()->flushOutput(session);
    if (n > 0) {
      session->addWritten(n);
      if (session->outputList()->count() > 0) armEvents(session, EV_WRITE, -1);
    } else if (errno == EAGAIN) {
      armEvents(session, EV_WRITE, -1);
    } else {
      int e = errno;
      if (session->running()) {
        sp_syslog(LOG_NOTICE, "session(%d.%d) write busy, process session error later, errno [%d]", sid.mKey,
                  sid.mSeq, e);
        return;
      }
      sp_syslog(LOG_NOTICE, "session(%d.%d) write error, errno %d, status %d, count %d", sid.mKey, sid.mSeq, e,
                session->status(), session->outputList()->count());
      queueError(session);
      return;
    }
  }

  if (session->outputList()->count() > 0 || session->status() != SP_Session::Exiting) {
    if (!session->running() && decodeInput(session) == SP_MsgDecoder::MessageReady) queueRequest(session);
    return;
  }
  if (session->running()) {
    sp_syslog(LOG_NOTICE, "session(%d.%d) busy, terminate session later", sid.mKey, sid.mSeq);
  } else {
    sp_syslog(LOG_DEBUG, "session(%d.%d) normal exit", sid.mKey, sid.mSeq);
    queueClose(session);
  }
}

void SP_EventCallback::onResponse(void* arg, void* contextArg) {
  if (arg == nullptr) return;  // a wake-up only (stop request)
  SP_HandlerOutput* output = static_cast<SP_HandlerOutput*>(arg);
  SP_LoopContext* loop = static_cast<SP_LoopContext*>(contextArg);
  SP_SessionManager* table = loop->sessionManager;

  SP_SessionId from = output->senderId();
  if (!from.isReserved()) {
    uint16_t seq = 0;
    SP_Session* sender = table->lookup(from.mKey, &seq);
    if (sender != nullptr && seq == from.mSeq) {
      if (sender->status() == SP_Session::ExitRequested) sender->setStatus(SP_Session::Exiting);
      if (sender->status() != SP_Session::Normal) event_del(sender->readEvent());
      armEvents(sender, EV_WRITE, -1);
      armEvents(sender, EV_READ, -1);
    } else {
      sp_syslog(LOG_WARNING, "session(%d.%d) invalid, unknown FROM", from.mKey, from.mSeq);
    }
  }

  for (SP_OutMessage* message = output->takeMessage(); message != nullptr; message = output->takeMessage()) {
    SP_SessionIdList* recipients = message->recipients();
    if (message->totalSize() <= 0) {
      while (recipients->count() > 0) message->failed()->add(recipients->take(SP_ArrayList::LAST_INDEX));
    } else {
      for (int i = recipients->count() - 1; i >= 0; --i) {
        SP_SessionId to = recipients->get(i);
        uint16_t seq = 0;
        SP_Session* target = table->lookup(to.mKey, &seq);
        if (target == nullptr || seq != to.mSeq) {
          message->failed()->add(recipients->take(i));
          sp_syslog(LOG_WARNING, "session(%d.%d) invalid, unknown TO", to.mKey, to.mSeq);
        } else if (to == from) {
          target->outputList()->append(message);
          armEvents(target, EV_WRITE, -1);
        } else if (target->status() == SP_Session::Exiting) {
          message->failed()->add(recipients->take(i));
          sp_syslog(LOG_WARNING, "session(%d.%d) would exit, invalid TO", to.mKey, to.mSeq);
        } else {
          target->outputList()->append(message);
          armEvents(target, EV_WRITE, -1);
        }
      }
    }
    if (recipients->count() == 0) loop->doneQueue->enqueue(message);
  }

  SP_SessionIdList* closeList = output->closeListIfAny();
  for (int i = 0; closeList != nullptr && i < closeList->count(); ++i) {
    SP_SessionId id = closeList->get(i);
    uint16_t seq = 0;
    SP_Session* target = table->lookup(id.mKey, &seq);
    if (target != nullptr && seq == id.mSeq) {
      target->setStatus(SP_Session::Exiting);
      armEvents(target, EV_WRITE, -1);
    } else {
      sp_syslog(LOG_WARNING, "session(%d.%d) invalid, unknown CLOSE", id.mKey, id.mSeq);
    }
  }
  delete output;
}

void SP_EventCallback::armEvents(SP_Session* session, short which, int socket) {
  SP_LoopContext* loop = session->loopContext();
  int fd = socket < 0 ? session->socket() : socket;
  struct timeval timeout = {loop->timeoutSeconds, 0};
  if ((which & EV_READ) != 0 && !session->readArmed()) {
    session->setReadArmed(1);
    event_assign(session->readEvent(), loop->eventBase, fd, EV_READ, &SP_EventCallback::onRead, session);
    event_add(session->readEvent(), &timeout);
  }
  if ((which & EV_WRITE) != 0 && !session->writeArmed()) {
    session->setWriteArmed(1);
    event_assign(session->writeEvent(), loop->eventBase, fd, EV_WRITE, &SP_EventCallback::onWrite, session);
    event_add(session->writeEvent(), &timeout);
  }
}

void SP_EventCallback::queueStart(SP_Session* session) {
  session->setRunning(1);
  enqueueTask(session, SessionTask::Start);
}

void SP_EventCallback::queueRequest(SP_Session* session) {
  if (session->status() != SP_Session::Normal) {
    char head[16];
    session->inputBuffer()->moveInto(head, sizeof(head));
    sp_syslog(LOG_WARNING, "session(%d.%d) status is %d, ignore [%s...] (%dB)", session->id().mKey,
              session->id().mSeq, session->status(), head, session->inputBuffer()->size());
    session->inputBuffer()->clear();
    return;
  }
  session->setRunning(1);
  enqueueTask(session, SessionTask::Request);
}

void SP_EventCallback::queueClose(SP_Session* session) {
  event_del(session->readEvent());
  event_del(session->writeEvent());
  session->loopContext()->sessionManager->remove(session->id().mKey, session->id().mSeq);
  enqueueTask(session, SessionTask::Close);
}

void SP_EventCallback::queueTimeout(SP_Session* session) {
  event_del(session->readEvent());
  event_del(session->writeEvent());
  failPendingOutput(session, nullptr);
  session->loopContext()->sessionManager->remove(session->id().mKey, session->id().mSeq);
  enqueueTask(session, SessionTask::Timeout);
}

void SP_EventCallback::queueError(SP_Session* session) {
  event_del(session->readEvent());
  event_del(session->writeEvent());
  failPendingOutput(session, nullptr);
  session->loopContext()->sessionManager->remove(session->id().mKey, session->id().mSeq);
  enqueueTask(session, SessionTask::Error);
}

void SP_EventCallback::closeAtShutdown(SP_Session* session, SP_CompletionHandler* done) {
  event_del(session->readEvent());
  event_del(session->writeEvent());
  failPendingOutput(session, done);
  session->handler()->close();
  closeSocket(session);
}

void SP_EventHelper::start(void* arg) {
  SP_Session* session = static_cast<SP_Session*>(arg);
  limitBlockingWaits(session->socket(), session->loopContext()->timeoutSeconds);
  int attached = session->ioChannel()->attach(session->socket());
  SP_HandlerOutput* output = new SP_HandlerOutput(session->id());
  int ret = session->handler()->start(session->request(), output);
  if (attached != 0) {
    delete output;
    output = new SP_HandlerOutput(session->id());
    session->setStatus(SP_Session::ExitRequested);
  } else {
    session->setStatus(ret != 0 ? SP_Session::ExitRequested : SP_Session::Normal);
  }
  SP_NotifyQueue* notify = session->loopContext()->notifyQueue;
  session->setRunning(0);
  notify->push(output);
}

void SP_EventHelper::worker(void* arg) {
  SP_Session* session = static_cast<SP_Session*>(arg);
  SP_HandlerOutput* output = new SP_HandlerOutput(session->id());
  if (session->handler()->handle(session->request(), output) != 0) session->setStatus(SP_Session::ExitRequested);
  SP_NotifyQueue* notify = session->loopContext()->notifyQueue;
  session->setRunning(0);
  notify->push(output);
}

void SP_EventHelper::myclose(void* arg) {
  SP_Session* session = static_cast<SP_Session*>(arg);
  logSessionLine(LOG_DEBUG, "close", session);
  session->handler()->close();
  closeSocket(session);
  delete session;
}

void SP_EventHelper::timeout(void* arg) {
  SP_Session* session = static_cast<SP_Session*>(arg);
  SP_HandlerOutput* output = new SP_HandlerOutput(session->id());
  session->handler()->timeout(output);
  session->loopContext()->notifyQueue->push(output);
  logSessionLine(LOG_WARNING, "timeout", session);
  session->handler()->close();
  closeSocket(session);
  delete session;
}

void SP_EventHelper::error(void* arg) {
  SP_Session* session = static_cast<SP_Session*>(arg);
  SP_HandlerOutput* output = new SP_HandlerOutput(session->id());
  session->handler()->error(output);
  session->loopContext()->notifyQueue->push(output);
  logSessionLine(LOG_WARNING, "error", session);
  session->handler()->close();
  closeSocket(session);
  delete session;
}

void SP_EventHelper::discard(SP_Session* session) {
  session->handler()->close();
  closeSocket(session);
  delete session;
}
