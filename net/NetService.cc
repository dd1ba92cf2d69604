#include "net/NetService.h"

#include <chrono>
#include <thread>

#include "framework/SP_Buffer.h"
#include "framework/SP_HandlerOutput.h"
#include "framework/SP_MsgDecoder.h"
#include "framework/SP_OpensslChannel.h"
#include "framework/SP_OutMessage.h"
#include "framework/SP_RequestContext.h"
#include "framework/SP_Server.h"

namespace tavik {
namespace {

constexpr int kWorkers = 32;
constexpr int kConnections = 32;
constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr int kStartPolls = 100;  // 10 s
constexpr int kStopWaitMs = 10000;

}  // namespace

int startServer(SP_HandlerFactory* factory, const ServerSettings& s,
                std::unique_ptr<SP_Server>* out) {
  auto server = std::make_unique<SP_Server>("", s.port, factory);
  server->setSessionTimeout(s.timeoutSeconds);  // below 1 keeps the default
  server->setWorkerCount(kWorkers);
  server->setConnectionLimit(kConnections);
  server->setQueueLimit(s.queueLimit, "");
  if (s.tls) {
    // A context that cannot be built is logged by the framework; the port
    // still runs and its handshakes fail, as a client would see it anyway.
    auto* tls = new SP_OpensslChannelFactory();
    tls->setUp();
    server->setChannelFactory(tls);
  }
  int r = server->run();
  if (r < 0) return r;
  // The loop counts as running from run() on, also while it finds its port
  // taken; a start succeeds only once the port listens.
  for (int i = 0; i < kStartPolls; ++i) {
    if (!server->isLoopRunning()) break;
    if (server->listenPort() != 0) {
      *out = std::move(server);
      return 0;
    }
    std::this_thread::sleep_for(kPoll);
  }
  stopServer(&server);
  return -1;
}

void stopServer(std::unique_ptr<SP_Server>* server) {
  if (*server == nullptr) return;
  if ((*server)->isLoopRunning()) (*server)->requestStop();
  if (!(*server)->waitStopped(kStopWaitMs)) {
    (void)server->release();  // still in use by its thread: never free it under it
    return;
  }
  server->reset();
}

bool serverRunning(const std::unique_ptr<SP_Server>& server) {
  return server != nullptr && server->isLoopRunning();
}

int serverTimeout(const std::unique_ptr<SP_Server>& server) {
  return server != nullptr ? server->sessionTimeout() : 0;
}

NetCommandHandler::NetCommandHandler(const ServiceObjects& objects, bool resetAfterReply)
    : objects_(objects), resetAfterReply_(resetAfterReply) {}

int NetCommandHandler::start(SP_RequestContext* request, SP_HandlerOutput*) {
  request->setDecoder(new SP_DefaultMsgDecoder());
  // A failed initialisation leaves the engine refusing every chunk, so the
  // connection ends on its first bytes.
  engine_.init(objects_.port, objects_.logger, objects_.config, request->clientAddress());
  return 0;
}

void NetCommandHandler::appendReply(SP_HandlerOutput* output) {
  if (engine_.replySize() > 0)
    output->replyMessage()->content()->append(engine_.reply(), engine_.replySize());
}

int NetCommandHandler::handle(SP_RequestContext* request, SP_HandlerOutput* output) {
  auto* decoder = static_cast<SP_DefaultMsgDecoder*>(request->decoder());
  SP_Buffer* message = decoder->getMsg();
  const uint8_t* data = reinterpret_cast<const uint8_t*>(message->bytes());
  int r = engine_.receive(data, size_t(message->size()));
  for (;;) {
    if (r < 0) return -1;
    if (r != CommandEngine::kReply) return 0;
    appendReply(output);
    if (!resetAfterReply_) {
      // The spool port answers once; a further raw command in the same
      // chunk ends the connection after that answer.
      return engine_.hasPending() ? -1 : 0;
    }
    engine_.reset();
    if (!engine_.hasPending()) return 0;
    r = engine_.receivePending();
  }
}

}  // namespace tavik
