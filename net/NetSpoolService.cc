#include "net/NetSpoolService.h"

#include "config/ConfigStore.h"
#include "framework/SP_Server.h"

namespace tavik {

NetSpoolService::NetSpoolService() = default;

NetSpoolService::~NetSpoolService() { stop(); }

int NetSpoolService::start(PrinterPort& port, Logger& logger, ConfigStore& config) {
  if (server_ != nullptr) return -1;
  objects_ = {&port, &logger, &config};
  const ServiceConfig& c = config.service();
  ServerSettings s;
  s.port = c.spool_port;
  s.timeoutSeconds = c.spool_timeout / 1000;
  s.queueLimit = 128;
  s.tls = false;
  return startServer(new SP_NetSpoolHandlerFactory(*this), s, &server_);
}

bool NetSpoolService::isRunning() const { return serverRunning(server_); }

void NetSpoolService::stop() { stopServer(&server_); }

}  // namespace tavik
