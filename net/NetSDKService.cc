#include "net/NetSDKService.h"

#include "config/ConfigStore.h"
#include "framework/SP_Server.h"

namespace tavik {

NetSDKService::NetSDKService() = default;

NetSDKService::~NetSDKService() { stop(); }

int NetSDKService::start(PrinterPort& port, Logger& logger, ConfigStore& config) {
  if (server_ != nullptr) return -1;
  objects_ = {&port, &logger, &config};
  const ServiceConfig& c = config.service();
  ServerSettings s;
  s.port = c.sdk_port;
  s.timeoutSeconds = c.sdk_timeout / 1000;
  s.queueLimit = 128;
  s.tls = c.sdk_ssl != 0;
  return startServer(new SP_NetSDKHandlerFactory(*this), s, &server_);
}

bool NetSDKService::isRunning() const { return serverRunning(server_); }

void NetSDKService::stop() { stopServer(&server_); }

}  // namespace tavik
