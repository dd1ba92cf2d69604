// The network spool service: print streams of "CP" frames (and a single
// raw command or TVNP request) on the spool port, plain TCP. Public face of
// net/ for the entry point.
#pragma once

#include <memory>

#include "framework/SP_Handler.h"
#include "net/NetService.h"
#include "server/Service.h"

class SP_Server;

namespace tavik {

class NetSpoolService : public Service {
 public:
  NetSpoolService();
  ~NetSpoolService() override;  // stops
  NetSpoolService(const NetSpoolService&) = delete;
  NetSpoolService& operator=(const NetSpoolService&) = delete;

  // Runs the server on `spool_port`; 0, or -1 when its loop did not start.
  int start(PrinterPort& port, Logger& logger, ConfigStore& config) override;
  bool isRunning() const override;
  void stop() override;

  const ServiceObjects& objects() const { return objects_; }
  // The idle time-out the running server applies, in seconds; 0 when stopped.
  int sessionTimeout() const { return serverTimeout(server_); }

 private:
  ServiceObjects objects_;
  std::unique_ptr<SP_Server> server_;
};

class SP_NetSpoolHandler : public NetCommandHandler {
 public:
  explicit SP_NetSpoolHandler(NetSpoolService& service)
      : NetCommandHandler(service.objects(), false) {}
};

class SP_NetSpoolHandlerFactory : public SP_HandlerFactory {
 public:
  explicit SP_NetSpoolHandlerFactory(NetSpoolService& service) : service_(service) {}
  SP_Handler* newHandler() override { return new SP_NetSpoolHandler(service_); }

 private:
  NetSpoolService& service_;  // not owned
};

}  // namespace tavik
