// The network command (SDK) service: any number of TVNP exchanges and raw
// command frames per connection on `sdk_port`, plain TCP or TLS with
// `sdk_ssl`. Public face of net/ for the entry point.
#pragma once

#include <memory>

#include "framework/SP_Handler.h"
#include "net/NetService.h"
#include "server/Service.h"

class SP_Server;

namespace tavik {

class NetSDKService : public Service {
 public:
  NetSDKService();
  ~NetSDKService() override;  // stops
  NetSDKService(const NetSDKService&) = delete;
  NetSDKService& operator=(const NetSDKService&) = delete;

  // Runs the server on `sdk_port`; 0, or -1 when its loop did not start.
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

class SP_NetSDKHandler : public NetCommandHandler {
 public:
  explicit SP_NetSDKHandler(NetSDKService& service)
      : NetCommandHandler(service.objects(), true) {}
};

class SP_NetSDKHandlerFactory : public SP_HandlerFactory {
 public:
  explicit SP_NetSDKHandlerFactory(NetSDKService& service) : service_(service) {}
  SP_Handler* newHandler() override { return new SP_NetSDKHandler(service_); }

 private:
  NetSDKService& service_;  // not owned
};

}  // namespace tavik
