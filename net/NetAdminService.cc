#include "net/NetAdminService.h"

#include "config/ConfigStore.h"
#include "framework/SP_Server.h"
#include "net/Discovery.h"
#include "server/Logger.h"

namespace tavik {

NetAdminService::NetAdminService() = default;

NetAdminService::~NetAdminService() { stop(); }

int NetAdminService::start(PrinterPort& port, Logger& logger, ConfigStore& config) {
  if (server_ != nullptr) return -1;
  objects_ = {&port, &logger, &config};
  ServerSettings s;
  s.port = kPort;
  s.timeoutSeconds = kTimeoutSeconds;
  s.queueLimit = kQueueLimit;
  s.tls = true;
  int r = startServer(new SP_NetAdminHandlerFactory(*this), s, &server_);
  if (r != 0) return r;
  lookupRun_.store(1);
  try {
    lookup_ = std::thread(thread_lookup, this);
  } catch (...) {
    // No discovery thread: the admin port itself still serves.
    lookupRun_.store(0);
    logger.log(3, "NetAdmin Lookup thread error\n");
  }
  return 0;
}

bool NetAdminService::isRunning() const { return serverRunning(server_); }

void NetAdminService::stop() {
  stopServer(&server_);
  lookupRun_.store(0);
  if (lookup_.joinable()) lookup_.join();
}

void thread_lookup(NetAdminService* service) {
  const ServiceObjects& o = service->objects();
  runLookup(*o.port, *o.logger, o.config->service(), service->lookupRunFlag());
}

}  // namespace tavik
