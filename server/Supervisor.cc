#include "server/Supervisor.h"

#include <fcntl.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>

#include "config/ConfigStore.h"
#include "platform/Shell.h"
#include "server/Logger.h"
#include "server/Service.h"

namespace tavik {
namespace {

constexpr const char* kProtocolName = "TVNP2.0";

bool running(const Service* service) { return service != nullptr && service->isRunning(); }

const char* onOff(int32_t flag) { return flag != 0 ? "ON" : "OFF"; }

}  // namespace

Supervisor::Supervisor(Logger& logger, ConfigStore& config, PrinterPort* port,
                       ServiceSlots services)
    : logger_(logger), config_(config), port_(port), services_(services) {}

bool Supervisor::consoleRequested(int argc, const char* const* argv) {
  return argc == 2 && argv != nullptr && argv[1] != nullptr && std::strcmp(argv[1], "-c") == 0;
}

int Supervisor::run(int argc, const char* const* argv) {
  configure(argc, argv);
  startServices();
  supervise();
  stop();
  return 0;
}

void Supervisor::configure(int argc, const char* const* argv) {
  // A missing record is created with its defaults; a damaged one still
  // leaves a usable copy, so the program runs in any case.
  config_.load();
  const ServiceConfig& service = config_.service();
  logger_.setThreshold(service.log_level);
  if (consoleRequested(argc, argv)) logger_.setConsoleMode();
  logger_.log(2, "TavikServer(%s) Started USB_SPOOL:%s  NET_SPOOL:%s  NET_SDK: %s(%s,%s)",
              kProtocolName, onOff(service.usb_spool), onOff(service.net_spool),
              onOff(service.net_sdk), service.sdk_ssl != 0 ? "SSL" : "TCP",
              service.sdk_auth != 0 ? "AUTH" : "NO AUTH");
}

void Supervisor::startServices() {
  const ServiceConfig& service = config_.service();
  // Start results are not looked at: a service that did not come up is not
  // running when the loop first looks.
  auto start = [this](Service* s) {
    if (s != nullptr && port_ != nullptr) s->start(*port_, logger_, config_);
  };
  if (service.usb_spool != 0) start(services_.usb);
  if (service.net_spool != 0) start(services_.spool);
  if (service.net_sdk != 0) start(services_.sdk);
  if (config_.ocp().enabled != 0) start(services_.ocp);
  start(services_.admin);

  if (gpio_.open("/dev/gpio", O_RDWR) == 0) gpio_.ioctl(kGpioInit);
}

bool Supervisor::watchedServicesRunning() const {
  const ServiceConfig& service = config_.service();
  // The USB bridge is not watched: the module stays useful on the network
  // without it.
  // A service this firmware build does not include (an empty slot) cannot
  // stop: it is not watched, so an enabled setting for it does not end the
  // program. The admin service is always watched.
  auto watched = [](int32_t enabled, const Service* s) {
    return enabled == 0 || s == nullptr || s->isRunning();
  };
  return running(services_.admin) && watched(service.net_spool, services_.spool) &&
         watched(service.net_sdk, services_.sdk) && watched(config_.ocp().enabled, services_.ocp);
}

void Supervisor::supervise() {
  while (watchedServicesRunning()) {
    // Wraps instead of overflowing after years of uptime.
    int32_t tick = ticks() == std::numeric_limits<int32_t>::max() ? 0 : ticks() + 1;
    ticks_.store(tick, std::memory_order_relaxed);
    std::this_thread::sleep_for(tick_);
    if (tick % kLedTicks == 0) blinkLed();
    watchButton();
  }
}

void Supervisor::blinkLed() {
  if (!gpio_.isOpen()) return;
  gpio_.ioctl(ledPhase_ == 0 ? kGpioLedA : kGpioLedB);
  ledPhase_ = 1 - ledPhase_;
}

void Supervisor::watchButton() {
  // Without the driver the read fails (non-zero) and never counts as held.
  if (gpio_.ioctl(kGpioButton) != 0) {
    buttonHeldTicks_ = 0;
    return;
  }
  // The count is not cleared after a reset: while the button stays held the
  // reset is issued again every tick until the reboot ends the process.
  if (buttonHeldTicks_ <= kResetHoldTicks) ++buttonHeldTicks_;
  if (buttonHeldTicks_ > kResetHoldTicks) factoryReset();
}

void Supervisor::factoryReset() {
  platform::runCommand("/bin/rm -r -f /flash/tavik_*");
  platform::runCommand("/sbin/reboot");
}

void Supervisor::stop() {
  gpio_.close();
  for (Service* s : {services_.ocp, services_.admin, services_.sdk, services_.spool,
                     services_.usb}) {
    if (s != nullptr) s->stop();
  }
  if (closePrinter_) closePrinter_();
  logger_.log(2, "TavikServer Terminated\n");
}

}  // namespace tavik
