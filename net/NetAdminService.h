// The administration service: the command set over TLS on port 11111, and
// the discovery responder on UDP port 11119 while the service runs. Public
// face of net/ for the entry point.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "framework/SP_Handler.h"
#include "net/NetService.h"
#include "server/Service.h"

class SP_Server;

namespace tavik {

class NetAdminService : public Service {
 public:
  static constexpr int kPort = 11111;
  static constexpr int kTimeoutSeconds = 300;
  static constexpr int kQueueLimit = 32;

  NetAdminService();
  ~NetAdminService() override;  // stops
  NetAdminService(const NetAdminService&) = delete;
  NetAdminService& operator=(const NetAdminService&) = delete;

  // Runs the TLS server, then the discovery thread. 0, or -1 when the
  // server's loop did not start (no discovery then either).
  int start(PrinterPort& port, Logger& logger, ConfigStore& config) override;
  bool isRunning() const override;
  // Stops the server, then ends the discovery thread and waits for it.
  void stop() override;

  const ServiceObjects& objects() const { return objects_; }
  // 1 while the discovery responder is to keep running.
  const std::atomic<int>& lookupRunFlag() const { return lookupRun_; }

 private:
  ServiceObjects objects_;
  std::unique_ptr<SP_Server> server_;
  std::thread lookup_;
  std::atomic<int> lookupRun_{0};
};

class SP_NetAdminHandler : public NetCommandHandler {
 public:
  explicit SP_NetAdminHandler(NetAdminService& service)
      : NetCommandHandler(service.objects(), true) {}
};

class SP_NetAdminHandlerFactory : public SP_HandlerFactory {
 public:
  explicit SP_NetAdminHandlerFactory(NetAdminService& service) : service_(service) {}
  SP_Handler* newHandler() override { return new SP_NetAdminHandler(service_); }

 private:
  NetAdminService& service_;  // not owned
};

}  // namespace tavik
