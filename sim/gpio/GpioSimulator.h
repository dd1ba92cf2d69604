// The module's GPIO driver (/dev/gpio) off the module: the status LED, the
// reset button and the board set-up block, served over a device socket at
// $ROOT/dev/gpio, with a control socket at $ROOT/sim/gpio.ctl. Public face of
// sim/gpio/ for tests (in-process) and for the tavik-gpio-sim program.
//
// Requests (argument-less unless noted):
//   0x5500  driver initialisation, counted
//   0x5506  LED phase A, 0x5507 LED phase B: each change is recorded with the
//           simulator's monotonic time in ms and appended to $ROOT/sim/gpio.log
//   0x5508  reset button: 0 while held, 1 otherwise
//   0x5541  48-byte board set-up block: recorded and handed back unchanged
//
// The button is either steadily pressed or released, or follows a script of
// segments counted in button reads ("held for the next 30 reads, then free
// for 1"), so that a test can hold it for an exact number of supervisor
// ticks however loaded the machine is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/DeviceServer.h"

namespace tavik::sim {

class GpioSimulator {
 public:
  static constexpr uint32_t kInit = 0x5500;
  static constexpr uint32_t kLedA = 0x5506;
  static constexpr uint32_t kLedB = 0x5507;
  static constexpr uint32_t kButton = 0x5508;
  static constexpr uint32_t kSetup = 0x5541;
  static constexpr size_t kSetupSize = 48;

  struct LedChange {
    int64_t timeMs;         // monotonic, since the simulator started
    uint32_t request;       // kLedA or kLedB
    uint64_t buttonReads;   // button reads answered before this change
  };

  GpioSimulator();
  ~GpioSimulator();
  GpioSimulator(const GpioSimulator&) = delete;
  GpioSimulator& operator=(const GpioSimulator&) = delete;

  // Serves hostRoot/dev/gpio and hostRoot/sim/gpio.ctl (hostRoot is a host
  // directory, the sysroot). Returns false when a socket cannot be set up.
  bool start(const std::string& hostRoot);
  // Stops both sockets and removes them. Safe to call twice.
  void stop();

  // The button, as a finger on it would: steady states clear any script.
  void press();
  void release();
  // Appends a segment to the button script: held (or released) for the next
  // `reads` button reads. When the script runs out the steady state returns.
  void scriptButton(bool held, uint64_t reads);

  bool buttonHeld() const;
  uint64_t buttonReads() const;
  uint64_t initCount() const;
  std::vector<LedChange> ledHistory() const;
  void clearLedHistory();
  // The last set-up block written with 0x5541 (empty if none) and how many came.
  std::vector<uint8_t> setupBlock() const;
  uint64_t setupCount() const;

  // Answers one control-socket line (also usable in-process):
  //   press | release | hold N | free N | state | leds | setup | clear | help
  std::string control(const std::string& line);

  // What the driver does with one request; used by the open files.
  int64_t handleIoctl(uint32_t request, std::vector<uint8_t>* buffer, int* error);

 private:
  class Model;
  struct Segment {
    bool held;
    uint64_t reads;
  };

  int64_t nowMs() const;
  void appendLog(const std::string& line);  // takes logMutex_
  bool readButtonLocked();

  std::unique_ptr<Model> model_;
  std::unique_ptr<DeviceServer> device_;
  std::unique_ptr<ControlServer> control_;
  std::string logPath_;
  int64_t startNs_ = 0;

  mutable std::mutex mutex_;
  bool pressed_ = false;             // guarded by mutex_
  std::deque<Segment> script_;       // guarded by mutex_
  uint64_t buttonReads_ = 0;         // guarded by mutex_
  uint64_t initCount_ = 0;           // guarded by mutex_
  std::vector<LedChange> leds_;      // guarded by mutex_
  std::vector<uint8_t> setup_;       // guarded by mutex_
  uint64_t setupCount_ = 0;          // guarded by mutex_

  std::mutex logMutex_;  // serialises appends to gpio.log
};

}  // namespace tavik::sim
