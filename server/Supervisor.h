// The start, supervision and orderly stop of TavikServer: loads the settings,
// logs the start banner, starts the services the settings enable, then ticks
// every 100 ms on the main thread, blinking the status LED, watching the reset
// button (a hold of more than 30 ticks is a factory reset) and ending as soon
// as one of the watched services stops running. Internal to server/; used by
// the entry point and the tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/DeviceFile.h"

namespace tavik {

class ConfigStore;
class Logger;
class PrinterPort;
class Service;

// The services the entry point owns. A null slot is a service that does not
// exist (yet) and therefore never runs.
struct ServiceSlots {
  Service* usb = nullptr;    // the USB gadget bridge
  Service* spool = nullptr;  // network spool
  Service* sdk = nullptr;    // network command service
  Service* ocp = nullptr;    // OCP text service
  Service* admin = nullptr;  // administration service (always started)
};

class Supervisor {
 public:
  static constexpr std::chrono::milliseconds kTick{100};
  static constexpr int kLedTicks = 5;         // LED changes every 5 ticks
  static constexpr int kResetHoldTicks = 30;  // a longer hold resets the module

  // GPIO driver requests (argument-less).
  static constexpr unsigned long kGpioInit = 0x5500;
  static constexpr unsigned long kGpioLedA = 0x5506;
  static constexpr unsigned long kGpioLedB = 0x5507;
  static constexpr unsigned long kGpioButton = 0x5508;  // 0 while held

  // Borrows the logger, the store, the printer port and the services, all of
  // which must outlive the supervisor. The services are started with *port;
  // with no port no service is started.
  Supervisor(Logger& logger, ConfigStore& config, PrinterPort* port, ServiceSlots services);
  Supervisor(const Supervisor&) = delete;
  Supervisor& operator=(const Supervisor&) = delete;

  // Tests only: a shorter tick. The product always ticks every 100 ms.
  void setTick(std::chrono::milliseconds tick) { tick_ = tick; }
  // Closes the printer once the services have stopped.
  void setPrinterClose(std::function<void()> close) { closePrinter_ = std::move(close); }

  // The whole life of the program once its objects exist: configure, start,
  // supervise, stop. Returns the exit status, 0.
  int run(int argc, const char* const* argv);

  // The steps run() is made of, in order.
  void configure(int argc, const char* const* argv);  // settings, threshold, "-c", banner
  void startServices();                               // and open the GPIO driver
  void supervise();                                   // the tick loop
  void stop();                                        // services, printer, last log line

  // Exactly one argument "-c" selects console logging.
  static bool consoleRequested(int argc, const char* const* argv);

  // Ticks counted by the loop so far (readable from another thread).
  int32_t ticks() const { return ticks_.load(std::memory_order_relaxed); }

 private:
  bool watchedServicesRunning() const;
  void blinkLed();
  void watchButton();
  void factoryReset();

  Logger& logger_;
  ConfigStore& config_;
  PrinterPort* port_;
  ServiceSlots services_;
  std::chrono::milliseconds tick_ = kTick;
  std::function<void()> closePrinter_;

  platform::DeviceFile gpio_;
  std::atomic<int32_t> ticks_{0};  // written by the loop only
  int ledPhase_ = 0;
  int buttonHeldTicks_ = 0;
};

}  // namespace tavik
