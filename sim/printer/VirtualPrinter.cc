#include "sim/printer/VirtualPrinter.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <thread>

namespace tavik::sim {

namespace {

constexpr uint32_t kIoctlDeviceId = 0x80005001;
constexpr uint32_t kIoctlCommandWrite = 0x4000500E;
constexpr uint32_t kIoctlCommandRead = 0x8000500F;
constexpr uint32_t kIoctlSizeMask = 0x3FFF0000;
constexpr size_t kTranscriptBytes = 64;  // bytes shown per direction

std::string hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  size_t shown = std::min(n, kTranscriptBytes);
  for (size_t i = 0; i < shown; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  if (n > shown) s += "...(" + std::to_string(n) + " bytes)";
  return s.empty() ? "-" : s;
}

// Short names of the printer's frames, for the transcript.
const char* frameName(const uint8_t* f, size_t n) {
  struct Name {
    uint8_t cls, code;
    const char* name;
  };
  static const Name kNames[] = {
      {0x00, 0x00, "status"}, {0x02, 0x00, "extended-status"},
      {0x40, 0x01, "card-in"}, {0x40, 0x02, "card-out"}, {0x40, 0x03, "card-out-back"},
      {0x40, 0x05, "move-print"}, {0x40, 0x06, "move-magnetic"}, {0x40, 0x07, "move-contact"},
      {0x40, 0x08, "move-contactless"}, {0x40, 0x09, "move-flipper"},
      {0x40, 0x0A, "move-device"}, {0x40, 0x0B, "print"}, {0x40, 0x0C, "sbs-start"},
      {0x40, 0x0D, "sbs-end"}, {0x40, 0x0F, "auto-rotator"}, {0x40, 0x12, "contact"},
      {0x40, 0x13, "discontact"}, {0x40, 0x14, "move-from-in"}, {0x40, 0x15, "move-from-out"},
      {0x40, 0x1A, "rotate-top"}, {0x40, 0x1B, "rotate-bottom"}, {0x40, 0x1C, "rotate"},
      {0x40, 0x1D, "test-mode"}, {0x40, 0x1E, "cleaning"}, {0x40, 0x20, "lcd-text"},
      {0x40, 0x21, "beep"}, {0x40, 0x30, "mag-read"}, {0x40, 0x31, "mag-get-buffer"},
      {0x40, 0x32, "mag-get-crypto-buffer"}, {0x40, 0x40, "mag-write"},
      {0x40, 0x41, "mag-set-buffer"}, {0x40, 0x42, "mag-set-crypto-buffer"},
      {0x40, 0x70, "run-test"}, {0x40, 0xF0, "clear-status"}, {0x40, 0xF1, "reboot"},
      {0x50, 0x01, "version"}, {0x50, 0x02, "serial"}, {0x50, 0x03, "parameters"},
      {0x50, 0x04, "head-serial"}, {0x50, 0x05, "password"}, {0x50, 0x06, "identification"},
      {0x50, 0x07, "pc-name"}, {0x50, 0x09, "mag-crypt-key"}, {0x50, 0x0A, "verify-password"},
      {0x50, 0x0B, "monitorings"}, {0x50, 0x0D, "ex-parameters"}, {0x50, 0x10, "temperature"},
      {0x50, 0x11, "user-issue-count"}, {0x50, 0x12, "factory-issue-count"},
      {0x50, 0x17, "user-password"}, {0x50, 0x18, "unlock"}, {0x50, 0x19, "lock"},
      {0x50, 0x1A, "timed-unlock"}, {0x50, 0x21, "data-bank-select"},
      {0x50, 0x22, "data-bank"}};
  if (n < 2) return "short";
  for (const auto& e : kNames) {
    if (e.cls == f[0] && e.code == f[1]) return e.name;
  }
  return "unknown";
}

bool parseNumber(const std::string& text, int64_t* out) {
  if (text.empty()) return false;
  try {
    size_t used = 0;
    *out = std::stoll(text, &used, 0);
    return used == text.size();
  } catch (...) {
    return false;
  }
}

// "%20"-style escapes in control-line values.
std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int64_t v;
      if (parseNumber("0x" + s.substr(i + 1, 2), &v)) {
        out += static_cast<char>(v);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// Splits a flat JSON object ({"key":value,...}; values are numbers, true,
// false or strings without escapes) or "key=value key=value" into pairs.
// Returns false for text of neither form.
bool splitSettings(const std::string& text, std::vector<std::pair<std::string, std::string>>* out) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  if (text[i] != '{') {
    std::istringstream in(text);
    std::string item;
    while (in >> item) {
      size_t eq = item.find('=');
      if (eq == std::string::npos || eq == 0) return false;
      out->emplace_back(item.substr(0, eq), unescape(item.substr(eq + 1)));
    }
    return !out->empty();
  }
  ++i;
  auto skip = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',')) ++i;
  };
  auto quoted = [&](std::string* s) {
    if (i >= text.size() || text[i] != '"') return false;
    size_t end = text.find('"', i + 1);
    if (end == std::string::npos) return false;
    *s = text.substr(i + 1, end - i - 1);
    i = end + 1;
    return true;
  };
  for (skip(); i < text.size() && text[i] != '}'; skip()) {
    std::string key, value;
    if (!quoted(&key)) return false;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size() || text[i] != ':') return false;
    ++i;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && text[i] == '"') {
      if (!quoted(&value)) return false;
    } else {
      size_t end = text.find_first_of(",}", i);
      if (end == std::string::npos) return false;
      value = text.substr(i, end - i);
      while (!value.empty() && value.back() == ' ') value.pop_back();
      i = end;
    }
    out->emplace_back(key, value);
  }
  return i < text.size();
}

}  // namespace

// One open file of /dev/usblp0.
class PrinterFile : public OpenDevice {
 public:
  PrinterFile(VirtualPrinter& printer, uint32_t generation, bool nonBlocking)
      : printer_(printer), generation_(generation), nonBlocking_(nonBlocking) {}

  int64_t ioctl(uint32_t request, std::vector<uint8_t>* buffer, int* error) override;
  int64_t read(uint32_t maxBytes, std::vector<uint8_t>* out, int* error) override;
  int64_t write(const std::vector<uint8_t>& data, int* error) override;
  int64_t poll(uint32_t events, int32_t timeoutMs, int* error) override;

 private:
  // False with *error set when the printer is gone or a fault is injected.
  bool usable(int* error);

  VirtualPrinter& printer_;
  const uint32_t generation_;
  const bool nonBlocking_;
};

class PrinterDeviceModel : public DeviceModel {
 public:
  explicit PrinterDeviceModel(VirtualPrinter& printer) : printer_(printer) {}
  std::shared_ptr<OpenDevice> open(uint32_t flags, int* error) override {
    if (!printer_.plugged()) {
      *error = ENODEV;
      printer_.record("OPEN", flags, nullptr, 0, -1, ENODEV, nullptr, 0);
      return nullptr;
    }
    printer_.record("OPEN", flags, nullptr, 0, 0, 0, nullptr, 0);
    return std::make_shared<PrinterFile>(printer_, printer_.generation_.load(),
                                         (flags & O_NONBLOCK) != 0);
  }

 private:
  VirtualPrinter& printer_;
};

bool PrinterFile::usable(int* error) {
  printer_.applyDelay();
  if (!printer_.plugged() || printer_.generation_.load() != generation_) {
    *error = ENODEV;
    return false;
  }
  if (printer_.takeIoError()) {
    *error = EIO;
    return false;
  }
  return true;
}

int64_t PrinterFile::ioctl(uint32_t request, std::vector<uint8_t>* buffer, int* error) {
  const std::vector<uint8_t> in = *buffer;
  int64_t result = -1;
  const size_t size = (request & kIoctlSizeMask) >> 16;
  const uint32_t kind = request & ~kIoctlSizeMask;
  PrinterModel& model = printer_.model();
  const char* op = "IOCTL";
  if (!usable(error)) {
    // result stays -1
  } else if (kind != kIoctlDeviceId && kind != kIoctlCommandWrite && kind != kIoctlCommandRead) {
    *error = ENOTTY;
  } else if (size != buffer->size() || size == 0) {
    *error = EINVAL;
  } else if (kind == kIoctlDeviceId) {
    op = "DEVICE_ID";
    std::string id = model.deviceId();
    size_t length = std::min(id.size() + 2, size);
    (*buffer)[0] = static_cast<uint8_t>((id.size() + 2) >> 8);
    if (size > 1) (*buffer)[1] = static_cast<uint8_t>(id.size() + 2);
    for (size_t i = 2; i < length; ++i) (*buffer)[i] = static_cast<uint8_t>(id[i - 2]);
    result = static_cast<int64_t>(length);
  } else if (kind == kIoctlCommandWrite) {
    op = "CMD_WRITE";
    if (!model.commandWrite(buffer->data(), size)) op = "CMD_WRITE(unknown)";
    result = static_cast<int64_t>(size);
  } else {
    op = "CMD_READ";
    std::vector<uint8_t> reply = model.commandRead(buffer->data(), std::min<size_t>(size, 3));
    if (reply.empty()) op = "CMD_READ(unknown)";
    if (!reply.empty() && printer_.takeShortReply()) reply.pop_back();
    size_t n = std::min(reply.size(), size);
    std::copy(reply.begin(), reply.begin() + static_cast<long>(n), buffer->begin());
    result = static_cast<int64_t>(n);
  }
  const char* frame = nullptr;
  if (kind == kIoctlCommandWrite || kind == kIoctlCommandRead) {
    frame = frameName(in.data(), in.size());
  }
  printer_.record(op, request, in.data(), in.size(), result, result < 0 ? *error : 0,
                  buffer->data(), result > 0 ? static_cast<size_t>(result) : 0, frame);
  return result;
}

int64_t PrinterFile::read(uint32_t maxBytes, std::vector<uint8_t>* out, int* error) {
  int64_t result = -1;
  if (usable(error)) {
    *out = printer_.model().takeReply(maxBytes);
    // The printer answers at once: nothing to send is a read of 0 bytes
    // (EAGAIN only for a non-blocking file).
    if (out->empty() && nonBlocking_) {
      *error = EAGAIN;
    } else {
      result = static_cast<int64_t>(out->size());
    }
  }
  printer_.record("READ", maxBytes, nullptr, 0, result, result < 0 ? *error : 0, out->data(),
                  out->size());
  return result;
}

int64_t PrinterFile::write(const std::vector<uint8_t>& data, int* error) {
  int64_t result = -1;
  if (usable(error)) {
    printer_.model().printData(data.data(), data.size());
    result = static_cast<int64_t>(data.size());
  }
  printer_.record("WRITE", static_cast<uint32_t>(data.size()), data.data(), data.size(), result,
                  result < 0 ? *error : 0, nullptr, 0);
  return result;
}

int64_t PrinterFile::poll(uint32_t events, int32_t timeoutMs, int* error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int64_t result = 0;
  for (;;) {
    if (!printer_.plugged() || printer_.generation_.load() != generation_ ||
        printer_.stopping_.load()) {
      *error = ENODEV;
      result = -1;
      break;
    }
    uint32_t revents = events & POLLOUT;
    if ((events & POLLIN) && printer_.model().hasReply()) revents |= POLLIN;
    result = revents;
    if (revents != 0) break;
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  printer_.record("POLL", events, nullptr, 0, result, result < 0 ? *error : 0, nullptr, 0);
  return result;
}

VirtualPrinter::VirtualPrinter(PrinterConfig config)
    : model_(std::make_unique<PrinterModel>(std::move(config))),
      deviceModel_(std::make_unique<PrinterDeviceModel>(*this)) {}

VirtualPrinter::~VirtualPrinter() { stop(); }

bool VirtualPrinter::start(const std::string& hostRoot) {
  stopping_ = false;
  std::error_code ec;
  std::filesystem::create_directories(hostRoot + "/dev", ec);
  std::filesystem::create_directories(hostRoot + "/sim/printer/cards", ec);
  recordDir_ = hostRoot + "/sim/printer";
  model_->setRecordDir(recordDir_);
  {
    std::lock_guard<std::mutex> lock(transcriptMutex_);
    if (!transcript_) transcript_ = std::fopen((recordDir_ + "/transcript.log").c_str(), "a");
    started_ = std::chrono::steady_clock::now();
  }
  deviceServer_ = std::make_unique<DeviceServer>(hostRoot + "/dev/usblp0", *deviceModel_);
  controlServer_ = std::make_unique<ControlServer>(
      hostRoot + "/sim/printer.ctl", [this](const std::string& line) { return control(line); });
  if (!deviceServer_->start()) return false;
  return controlServer_->start();
}

void VirtualPrinter::stop() {
  stopping_ = true;  // ends polls that wait without limit
  if (controlServer_) controlServer_->stop();
  if (deviceServer_) deviceServer_->stop();
  controlServer_.reset();
  deviceServer_.reset();
  model_->setRecordDir("");  // drains the card writer
  std::lock_guard<std::mutex> lock(transcriptMutex_);
  if (transcript_) std::fclose(transcript_);
  transcript_ = nullptr;
}

void VirtualPrinter::plug() {
  plugged_ = true;
  record("PLUG", 0, nullptr, 0, 0, 0, nullptr, 0);
}

void VirtualPrinter::unplug() {
  if (plugged_.exchange(false)) ++generation_;
  record("UNPLUG", 0, nullptr, 0, 0, 0, nullptr, 0);
}

bool VirtualPrinter::chance() {
  std::lock_guard<std::mutex> lock(chaosMutex_);
  if (chaosPercent_ <= 0) return false;
  return static_cast<int>(chaos_() % 100) < chaosPercent_;
}

bool VirtualPrinter::takeIoError() {
  if (chance()) return true;
  int n = ioErrors_.load();
  while (n > 0) {
    if (ioErrors_.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

bool VirtualPrinter::takeShortReply() {
  if (chance()) return true;
  int n = shortReplies_.load();
  while (n > 0) {
    if (shortReplies_.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

void VirtualPrinter::applyDelay() {
  int ms = delayMs_.load();
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void VirtualPrinter::record(const char* op, uint32_t arg, const uint8_t* in, size_t inLen,
                            int64_t result, int error, const uint8_t* out, size_t outLen,
                            const char* frame) {
  std::lock_guard<std::mutex> lock(transcriptMutex_);
  if (!transcript_) return;
  double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  std::fprintf(transcript_, "%10.3f %-18s arg=0x%08X in=%s result=%lld errno=%d out=%s%s%s\n", t,
               op, arg, hex(in, inLen).c_str(), static_cast<long long>(result), error,
               hex(out, outLen).c_str(), frame ? " frame=" : "", frame ? frame : "");
  std::fflush(transcript_);
}

std::string VirtualPrinter::control(const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a, b;
  in >> cmd >> a >> b;
  int64_t n = 0;
  auto onOff = [](const std::string& s) { return s == "on" || s == "open" || s == "1"; };
  PrinterModel& m = *model_;
  if (cmd == "plug") {
    plug();
  } else if (cmd == "unplug") {
    unplug();
  } else if (cmd == "state") {
    std::string s = m.stateJson();
    s.insert(s.size() - 1, std::string(",\"plugged\":") + (plugged() ? "true" : "false"));
    return "OK " + s;
  } else if (cmd == "card") {
    return "OK " + m.cardJson();
  } else if (cmd == "last") {
    return "OK " + m.lastPrintedJson();
  } else if (cmd == "hopper" && parseNumber(a, &n)) {
    m.setHopper(static_cast<int>(n));
  } else if (cmd == "load") {
    CardRecord card;
    std::istringstream rest(line.substr(line.find(cmd) + cmd.size()));
    std::string item;
    while (rest >> item) {
      size_t eq = item.find('=');
      std::string key = item.substr(0, eq);
      std::string value = eq == std::string::npos ? "" : unescape(item.substr(eq + 1));
      if (key == "t1") card.tracks[0] = value;
      else if (key == "t2") card.tracks[1] = value;
      else if (key == "t3") card.tracks[2] = value;
      else if (key == "jis") card.tracks[3] = value;
      else if (key == "hico") card.highCoercivity = true;
      else return "ERR unknown item " + key;
    }
    m.loadCard(card);
  } else if (cmd == "cover" && (a == "open" || a == "closed" || a == "close")) {
    m.setCoverOpen(a == "open");
  } else if (cmd == "ribbon" && (a == "empty" || a == "full")) {
    m.setRibbonEmpty(a == "empty");
  } else if (cmd == "ribbon" && parseNumber(a, &n)) {
    int64_t type = -1;
    if (!b.empty() && !parseNumber(b, &type)) return "ERR bad ribbon type";
    m.setRibbon(static_cast<int>(n), static_cast<int>(type));
  } else if (cmd == "busy" && (a == "on" || a == "off")) {
    m.setBusyLatched(a == "on");
  } else if (cmd == "busy" && parseNumber(a, &n)) {
    m.setBusy(static_cast<int>(n));
  } else if (cmd == "fault" && parseNumber(a, &n)) {
    m.injectFault(static_cast<uint32_t>(n));
  } else if (cmd == "failnext" && parseNumber(a, &n)) {
    m.failNextAction(static_cast<uint32_t>(n));
  } else if (cmd == "clear") {
    m.clearStatus();
  } else if (cmd == "lock" || cmd == "unlock") {
    m.setLocked(cmd == "lock");
  } else if (cmd == "password") {
    m.setPassword(unescape(a));
  } else if (cmd == "sbs" && !a.empty()) {
    m.setSbs(onOff(a));
  } else if (cmd == "testmode" && !a.empty()) {
    m.setTestMode(onOff(a));
  } else if (cmd == "place") {
    static const std::pair<const char*, CardPosition> kPlaces[] = {
        {"none", CardPosition::kNone},         {"in", CardPosition::kIn},
        {"print", CardPosition::kPrint},       {"magnetic", CardPosition::kMagnetic},
        {"contact", CardPosition::kContact},   {"contactless", CardPosition::kContactless},
        {"flipper", CardPosition::kFlipper},   {"device", CardPosition::kDevice}};
    bool found = false;
    for (const auto& [name, pos] : kPlaces) {
      if (a == name) {
        m.placeCard(pos);
        found = true;
      }
    }
    if (!found) return "ERR unknown position";
  } else if (cmd == "timescale") {
    double scale = 0;
    try {
      scale = std::stod(a);
    } catch (...) {
    }
    if (!(scale > 0)) return "ERR bad time scale";
    m.setTimeScale(scale);
  } else if (cmd == "set") {
    return applySettings(line.substr(line.find(cmd) + cmd.size()));
  } else if (cmd == "ioerror" && parseNumber(a, &n) && n >= 0) {
    ioErrors_ = static_cast<int>(n);
  } else if (cmd == "chaos" && parseNumber(a, &n) && n >= 0) {
    int64_t percent = 0;
    if (!parseNumber(b, &percent) || percent < 0 || percent > 100) return "ERR bad percentage";
    std::lock_guard<std::mutex> lock(chaosMutex_);
    chaos_.seed(static_cast<uint32_t>(n));
    chaosPercent_ = static_cast<int>(percent);
  } else if (cmd == "short" && parseNumber(a, &n) && n >= 0) {
    shortReplies_ = static_cast<int>(n);
  } else if (cmd == "delay" && parseNumber(a, &n) && n >= 0) {
    delayMs_ = static_cast<int>(std::min<int64_t>(n, 60000));
  } else {
    return "ERR unknown command";
  }
  return "OK";
}

}  // namespace tavik::sim

namespace tavik::sim {

std::string VirtualPrinter::applySettings(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (!splitSettings(text, &pairs)) return "ERR expected {\"key\":value,...} or key=value ...";
  // Checked first, applied after: a bad line changes nothing.
  for (const auto& [key, value] : pairs) {
    int64_t n = 0;
    bool number = parseNumber(value, &n);
    bool flag = value == "true" || value == "false" || value == "on" || value == "off";
    if (key == "hopper" || key == "ribbonRemaining" || key == "ribbonType") {
      if (!number || n < 0) return "ERR bad value for " + key;
    } else if (key == "sbs" || key == "testMode" || key == "locked" || key == "ribbonEmpty" ||
               key == "plugged") {
      if (!flag) return "ERR bad value for " + key;
    } else if (key == "cover") {
      if (value != "open" && value != "closed") return "ERR bad value for cover";
    } else if (key == "timeScale") {
      char* end = nullptr;
      double v = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0' || !(v > 0)) return "ERR bad value for timeScale";
    } else if (key != "password") {
      return "ERR unknown setting " + key;
    }
  }
  PrinterModel& m = *model_;
  for (const auto& [key, value] : pairs) {
    int64_t n = 0;
    parseNumber(value, &n);
    bool on = value == "true" || value == "on";
    if (key == "hopper") m.setHopper(static_cast<int>(n));
    else if (key == "ribbonRemaining") m.setRibbon(static_cast<int>(n), -1);
    else if (key == "ribbonType") m.setRibbonType(static_cast<int>(n));
    else if (key == "sbs") m.setSbs(on);
    else if (key == "testMode") m.setTestMode(on);
    else if (key == "locked") m.setLocked(on);
    else if (key == "ribbonEmpty") m.setRibbonEmpty(on);
    else if (key == "plugged") on ? plug() : unplug();
    else if (key == "cover") m.setCoverOpen(value == "open");
    else if (key == "timeScale") m.setTimeScale(std::strtod(value.c_str(), nullptr));
    else if (key == "password") m.setPassword(value);
  }
  return "OK";
}

}  // namespace tavik::sim
