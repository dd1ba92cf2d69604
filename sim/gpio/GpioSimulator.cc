#include "sim/gpio/GpioSimulator.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <sstream>

namespace tavik::sim {
namespace {

int64_t monotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    out += pair;
  }
  return out;
}

// Reads a count argument: digits only, at most a billion.
bool parseCount(const std::string& text, uint64_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 1000000000) return false;
  *out = v;
  return true;
}

}  // namespace

// Every open of /dev/gpio reaches the same driver state.
class GpioSimulator::Model : public DeviceModel {
 public:
  explicit Model(GpioSimulator& sim) : sim_(sim) {}
  std::shared_ptr<OpenDevice> open(uint32_t, int*) override {
    return std::make_shared<File>(sim_);
  }

 private:
  class File : public OpenDevice {
   public:
    explicit File(GpioSimulator& sim) : sim_(sim) {}
    int64_t ioctl(uint32_t request, std::vector<uint8_t>* buffer, int* error) override {
      return sim_.handleIoctl(request, buffer, error);
    }

   private:
    GpioSimulator& sim_;
  };
  GpioSimulator& sim_;
};

GpioSimulator::GpioSimulator() : model_(std::make_unique<Model>(*this)), startNs_(monotonicNs()) {}

GpioSimulator::~GpioSimulator() { stop(); }

bool GpioSimulator::start(const std::string& hostRoot) {
  stop();
  logPath_ = hostRoot + "/sim/gpio.log";
  device_ = std::make_unique<DeviceServer>(hostRoot + "/dev/gpio", *model_);
  control_ = std::make_unique<ControlServer>(
      hostRoot + "/sim/gpio.ctl", [this](const std::string& line) { return control(line); });
  if (!device_->start() || !control_->start()) {
    int saved = errno;
    stop();
    errno = saved;
    return false;
  }
  return true;
}

void GpioSimulator::stop() {
  if (control_) control_->stop();
  if (device_) device_->stop();
  control_.reset();
  device_.reset();
}

int64_t GpioSimulator::nowMs() const { return (monotonicNs() - startNs_) / 1000000; }

void GpioSimulator::appendLog(const std::string& line) {
  if (logPath_.empty()) return;
  std::lock_guard<std::mutex> lock(logMutex_);
  FILE* f = std::fopen(logPath_.c_str(), "a");
  if (f == nullptr) return;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

bool GpioSimulator::readButtonLocked() {
  ++buttonReads_;
  while (!script_.empty() && script_.front().reads == 0) script_.pop_front();
  if (script_.empty()) return pressed_;
  Segment& front = script_.front();
  bool held = front.held;
  if (--front.reads == 0) script_.pop_front();
  return held;
}

int64_t GpioSimulator::handleIoctl(uint32_t request, std::vector<uint8_t>* buffer, int* error) {
  char line[160];
  switch (request) {
    case kInit: {
      std::lock_guard<std::mutex> lock(mutex_);
      ++initCount_;
      break;
    }
    case kLedA:
    case kLedB: {
      LedChange change{nowMs(), request, 0};
      {
        std::lock_guard<std::mutex> lock(mutex_);
        change.buttonReads = buttonReads_;
        leds_.push_back(change);
      }
      std::snprintf(line, sizeof line, "%" PRId64 " 0x%04x led %s", change.timeMs, request,
                    request == kLedA ? "A" : "B");
      appendLog(line);
      return 0;
    }
    case kButton: {
      std::lock_guard<std::mutex> lock(mutex_);
      return readButtonLocked() ? 0 : 1;
    }
    case kSetup: {
      // The driver copies exactly the block in and out; a smaller buffer
      // would make it read past the caller's memory.
      if (buffer->size() < kSetupSize) {
        *error = EFAULT;
        return -1;
      }
      std::vector<uint8_t> block(buffer->begin(), buffer->begin() + kSetupSize);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        setup_ = block;
        ++setupCount_;
      }
      std::snprintf(line, sizeof line, "%" PRId64 " 0x%04x setup ", nowMs(), request);
      appendLog(line + hex(block));
      return 0;
    }
    default:
      *error = ENOTTY;
      return -1;
  }
  std::snprintf(line, sizeof line, "%" PRId64 " 0x%04x init", nowMs(), request);
  appendLog(line);
  return 0;
}

void GpioSimulator::press() {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.clear();
  pressed_ = true;
}

void GpioSimulator::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.clear();
  pressed_ = false;
}

void GpioSimulator::scriptButton(bool held, uint64_t reads) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (reads > 0) script_.push_back(Segment{held, reads});
}

bool GpioSimulator::buttonHeld() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Segment& s : script_) {
    if (s.reads > 0) return s.held;
  }
  return pressed_;
}

uint64_t GpioSimulator::buttonReads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buttonReads_;
}

uint64_t GpioSimulator::initCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return initCount_;
}

std::vector<GpioSimulator::LedChange> GpioSimulator::ledHistory() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return leds_;
}

void GpioSimulator::clearLedHistory() {
  std::lock_guard<std::mutex> lock(mutex_);
  leds_.clear();
}

std::vector<uint8_t> GpioSimulator::setupBlock() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return setup_;
}

uint64_t GpioSimulator::setupCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return setupCount_;
}

std::string GpioSimulator::control(const std::string& line) {
  std::istringstream in(line);
  std::string command, argument, extra;
  in >> command >> argument >> extra;
  if (!extra.empty()) return "error: too many arguments";
  uint64_t count = 0;
  if (command == "press" && argument.empty()) {
    press();
    return "ok";
  }
  if (command == "release" && argument.empty()) {
    release();
    return "ok";
  }
  if ((command == "hold" || command == "free") && parseCount(argument, &count)) {
    scriptButton(command == "hold", count);
    return "ok";
  }
  if (command == "clear" && argument.empty()) {
    clearLedHistory();
    return "ok";
  }
  if (command == "leds" && argument.empty()) {
    // "A@620/4 B@1120/9 ...": phase, ms, button reads before the change.
    std::string out;
    for (const LedChange& c : ledHistory()) {
      if (!out.empty()) out += ' ';
      out += (c.request == kLedA ? "A@" : "B@") + std::to_string(c.timeMs) + "/" +
             std::to_string(c.buttonReads);
    }
    return out.empty() ? "none" : out;
  }
  if (command == "setup" && argument.empty()) {
    std::vector<uint8_t> block = setupBlock();
    return block.empty() ? "none" : hex(block);
  }
  if (command == "state" && argument.empty()) {
    std::vector<LedChange> leds = ledHistory();
    std::string led = leds.empty() ? "off" : (leds.back().request == kLedA ? "A" : "B");
    return std::string("button=") + (buttonHeld() ? "held" : "released") +
           " reads=" + std::to_string(buttonReads()) + " led=" + led +
           " changes=" + std::to_string(leds.size()) + " init=" + std::to_string(initCount()) +
           " setup=" + std::to_string(setupCount());
  }
  if (command == "help") {
    return "press | release | hold N | free N | state | leds | setup | clear";
  }
  return "error: unknown command (try help)";
}

}  // namespace tavik::sim
