#include "printer/PrinterPort.h"

#include <fcntl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Paths.h"

namespace tavik {

namespace {

constexpr const char* kDevicePath = "/dev/usblp0";
constexpr const char* kUsbDevices = "/proc/bus/usb/devices";
// The printer's line in the kernel's USB device list.
constexpr const char* kPrinterLine = "P:  Vendor=0016";
constexpr size_t kMaxListLine = 1023;

constexpr int kRetryPauseMs = 100;
constexpr int kCommandAttempts = 5;
constexpr int kStatusAttempts = 10;
constexpr size_t kStatusLength = 12;
constexpr size_t kExtStatusLength = 16;

class SystemClock : public PortClock {
 public:
  void now(int64_t* seconds, int64_t* micros) override {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    *seconds = ts.tv_sec;
    *micros = ts.tv_nsec / 1000;
  }
  void sleepMs(int milliseconds) override {
    if (milliseconds <= 0) return;
    timespec ts{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
};

int64_t nowMicros(PortClock& clock) {
  int64_t s = 0;
  int64_t us = 0;
  clock.now(&s, &us);
  return s * 1000000 + us;
}

// One line of the USB device list, cut to the length the module reads.
bool nextListLine(std::ifstream& in, std::string* line) {
  if (!std::getline(in, *line)) return false;
  if (line->size() > kMaxListLine) line->resize(kMaxListLine);
  return true;
}

// prefix + the characters after the first `key` in `line` up to the
// terminator, a line feed or the line's end. Empty when the key is missing.
std::string extract(const std::string& line, const char* prefix, const char* key,
                    char terminator) {
  size_t at = line.find(key);
  if (at == std::string::npos) return "";
  std::string out = prefix;
  for (size_t i = at + std::strlen(key); i < line.size(); ++i) {
    char c = line[i];
    if (c == terminator || c == '\n' || c == '\r' || c == '\0') break;
    out += c;
  }
  return out;
}

void putSlot(char* block, int slot, const std::string& text) {
  char* dst = block + slot * PrinterPort::kDescribeSlot;
  size_t n = std::min(text.size(), PrinterPort::kDescribeSlot - 1);
  std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

bool isStatusRequest(const uint8_t* request, size_t length, uint8_t kind) {
  return length == 3 && request[0] == kind && request[1] == 0 && request[2] == 0;
}

}  // namespace

PortClock& PortClock::system() {
  static SystemClock clock;
  return clock;
}

PrinterPort::PrinterPort(PortClock& clock) : clock_(clock) { open(); }

PrinterPort::~PrinterPort() { close(); }

int PrinterPort::openLocked(Identity* identity) {
  closeLocked();
  ++generation_;
  if (device_.open(kDevicePath, O_RDWR) != 0) return -1;
  // The identification answers in at most 31 characters.
  uint8_t reply[kPrinterIdSize] = {0x50, 0x06, 0x00};
  int n = device_.ioctl(commandReadRequest(sizeof reply), reply, sizeof reply);
  if (n < 1) {
    closeLocked();
    return -1;
  }
  size_t keep = std::min(static_cast<size_t>(n), kPrinterIdSize - 1);
  std::memset(identity->printerId, 0, sizeof identity->printerId);
  std::memcpy(identity->printerId, reply, keep);
  identity->identified = true;
  return 0;
}

int PrinterPort::closeLocked() {
  if (!device_.isOpen()) return -1;
  ++generation_;
  return device_.close();
}

void PrinterPort::storeIdentity(uint64_t generation, const char* printerId, int productId) {
  std::lock_guard<std::mutex> lock(infoMutex_);
  if (generation < infoGeneration_) return;
  infoGeneration_ = generation;
  std::memset(printerId_, 0, sizeof printerId_);
  if (printerId != nullptr) std::memcpy(printerId_, printerId, kPrinterIdSize - 1);
  productId_ = productId;
}

int PrinterPort::readProductId(int* productId) const {
  std::ifstream in(platform::hostPath(kUsbDevices));
  if (!in) return -1;
  std::string line;
  size_t prefix = std::strlen(kPrinterLine);
  while (nextListLine(in, &line)) {
    if (line.compare(0, prefix, kPrinterLine) != 0) continue;
    std::string hex = extract(line, "0x", "ProdID=", ' ');
    if (hex.size() <= 2) return -1;
    char* end = nullptr;
    long value = std::strtol(hex.c_str(), &end, 16);
    if (end == hex.c_str()) return -1;
    *productId = static_cast<int>(value);
    return 0;
  }
  return -1;
}

int PrinterPort::open() { return openPort(false); }

int PrinterPort::openPort(bool onlyIfClosed) {
  Identity identity;
  uint64_t generation = 0;
  int result;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (onlyIfClosed && device_.isOpen()) return 0;
    result = openLocked(&identity);
    generation = generation_;
  }
  if (result != 0) {
    storeIdentity(generation, nullptr, 0);
    return -1;
  }
  storeIdentity(generation, identity.printerId, 0);
  int product = 0;
  if (readProductId(&product) != 0) return -1;
  std::lock_guard<std::mutex> info(infoMutex_);
  if (infoGeneration_ == generation) productId_ = product;
  return 0;
}

int PrinterPort::close() {
  int result;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    result = closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return result;
}

bool PrinterPort::ensureOpen() {
  openPort(true);
  return isOpen();
}

bool PrinterPort::isOpen() const {
  std::lock_guard<std::mutex> io(ioMutex_);
  return device_.isOpen();
}

int PrinterPort::nextSessionId() {
  std::lock_guard<std::mutex> lock(ownerMutex_);
  return sessionCounter_++;
}

int PrinterPort::acquire(int session, int waitSeconds) {
  int64_t deadline = nowMicros(clock_) + static_cast<int64_t>(waitSeconds) * 1000000;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(ownerMutex_);
      if (owner_.load() == 0) owner_.store(session);
    }
    if (owner_.load() == session) break;
    clock_.sleepMs(kRetryPauseMs);
    if (nowMicros(clock_) >= deadline) break;
  }
  if (session == 0) return 0;
  return owner_.load() == session ? session : 0;
}

void PrinterPort::release(int session) {
  std::lock_guard<std::mutex> lock(ownerMutex_);
  if (owner_.load() == session) owner_.store(0);
}

int PrinterPort::printerId(char* out) const {
  if (out == nullptr) return -1;
  std::lock_guard<std::mutex> info(infoMutex_);
  std::memcpy(out, printerId_, kPrinterIdSize);
  return 0;
}

int PrinterPort::productId(int* out) const {
  if (out == nullptr) return -1;
  std::lock_guard<std::mutex> info(infoMutex_);
  *out = productId_;
  return 0;
}

int PrinterPort::deviceId(uint8_t* buffer, size_t size) {
  if (buffer == nullptr || size == 0 || size > kMaxRequestSize) return -1;
  if (!ensureOpen()) return -1;
  int result;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (!device_.isOpen()) return -1;
    buffer[0] = 0;
    result = device_.ioctl(deviceIdRequest(size), buffer, size);
    if (result >= 0) return result;
    closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return result;
}

int PrinterPort::describe(char* block) {
  if (block == nullptr) return -1;
  std::memset(block, 0, kDescribeSize);
  std::ifstream in(platform::hostPath(kUsbDevices));
  if (!in) return -1;
  std::string line;
  size_t prefix = std::strlen(kPrinterLine);
  bool found = false;
  while (nextListLine(in, &line)) {
    if (line.compare(0, prefix, kPrinterLine) == 0) {
      found = true;
      break;
    }
  }
  if (!found) return -1;
  putSlot(block, 0, extract(line, "0x", "Vendor=", ' '));
  putSlot(block, 1, extract(line, "0x", "ProdID=", ' '));
  putSlot(block, 2, extract(line, "", "Rev= ", ' '));
  const char* keys[3] = {"Manufacturer=", "Product=", "SerialNumber="};
  for (int i = 0; i < 3; ++i) {
    if (!nextListLine(in, &line)) return -1;
    putSlot(block, 3 + i, extract(line, "", keys[i], '\n'));
  }
  uint8_t id[1024] = {};
  if (deviceId(id, sizeof id) < 0) return -1;
  // Slots 6 to 9 hold the ID text: 255 characters and a zero at most.
  char* dst = block + 6 * kDescribeSlot;
  size_t n = 0;
  while (n < 255 && 2 + n < sizeof id && id[2 + n] != 0) {
    dst[n] = static_cast<char>(id[2 + n]);
    ++n;
  }
  dst[n] = '\0';
  return 1;
}

int PrinterPort::getDataBank(const uint8_t selector[4], uint8_t value[4]) {
  if (selector == nullptr || value == nullptr) return -1;
  if (!ensureOpen()) return -1;
  int result;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (!device_.isOpen()) return -1;
    uint8_t frame[7] = {0x50, 0x21, 0x00, selector[0], selector[1], selector[2], selector[3]};
    device_.ioctl(commandWriteRequest(sizeof frame), frame, sizeof frame);
    clock_.sleepMs(kRetryPauseMs);
    uint8_t reply[4] = {0x50, 0x22, 0x00, 0x00};
    result = device_.ioctl(commandReadRequest(sizeof reply), reply, sizeof reply);
    if (result == 4) {
      std::memcpy(value, reply, 4);
      return 4;
    }
    if (result >= 0) return -1;
    closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return -1;
}

int PrinterPort::setDataBank(const uint8_t selector[4], const uint8_t value[4]) {
  if (selector == nullptr || value == nullptr) return -1;
  if (!ensureOpen()) return -1;
  int result;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (!device_.isOpen()) return -1;
    uint8_t select[7] = {0x50, 0x21, 0x00, selector[0], selector[1], selector[2], selector[3]};
    device_.ioctl(commandWriteRequest(sizeof select), select, sizeof select);
    clock_.sleepMs(kRetryPauseMs);
    uint8_t put[7] = {0x50, 0x22, 0x00, value[0], value[1], value[2], value[3]};
    result = device_.ioctl(commandWriteRequest(sizeof put), put, sizeof put);
    clock_.sleepMs(kRetryPauseMs);
    if (result >= 0) return result;
    closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return result;
}

int PrinterPort::commandWrite(const uint8_t* frame, size_t length) {
  if (frame == nullptr || length == 0 || length > kMaxRequestSize) return -1;
  if (!ensureOpen()) return -1;
  int result = -1;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (!device_.isOpen()) return -1;
    // The driver may write into the buffer; the caller's frame stays intact.
    std::vector<uint8_t> buffer(frame, frame + length);
    for (int attempt = 0; attempt < kCommandAttempts; ++attempt) {
      std::copy(frame, frame + length, buffer.begin());
      result = device_.ioctl(commandWriteRequest(length), buffer.data(), length);
      if (result >= 0) return result;
      clock_.sleepMs(kRetryPauseMs);
    }
    closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return result;
}

bool PrinterPort::cacheFresh(const StatusCache& cache) const {
  if (cache.length <= 0) return false;
  int64_t s = 0;
  int64_t us = 0;
  clock_.now(&s, &us);
  int64_t ageMs = (us - cache.micros) / 1000 + (s - cache.seconds) * 1000;
  // A negative age cannot be a fresh answer (the clock went back); ask again.
  return ageMs >= 0 && ageMs <= kStatusCacheMs;
}

int PrinterPort::commandRead(const uint8_t* request, size_t requestLength, uint8_t* buffer,
                             size_t bufferSize) {
  if (request == nullptr || requestLength == 0) return -1;
  if (!ensureOpen()) return -1;
  if (buffer == nullptr || bufferSize == 0 || requestLength > bufferSize ||
      bufferSize > kMaxRequestSize) {
    return -1;
  }
  StatusCache* cache = nullptr;
  size_t wanted = 0;
  if (isStatusRequest(request, requestLength, 0x00)) {
    cache = &status_;
    wanted = kStatusLength;
  } else if (isStatusRequest(request, requestLength, 0x02)) {
    cache = &extStatus_;
    wanted = kExtStatusLength;
  }
  int result = -1;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (!device_.isOpen()) return -1;
    if (cache != nullptr && cacheFresh(*cache)) {
      size_t n = std::min(static_cast<size_t>(cache->length), bufferSize);
      std::memcpy(buffer, cache->data, n);
      return static_cast<int>(n);
    }
    int attempts = cache != nullptr ? kStatusAttempts : kCommandAttempts;
    for (int attempt = 0; attempt < attempts; ++attempt) {
      // Each attempt sends the request again: a failed one may have left a
      // partial reply in the buffer.
      std::memcpy(buffer, request, requestLength);
      result = device_.ioctl(commandReadRequest(bufferSize), buffer, bufferSize);
      if (cache != nullptr) {
        if (result == static_cast<int>(wanted) && bufferSize >= wanted) {
          std::memcpy(cache->data, buffer, wanted);
          cache->length = result;
          clock_.now(&cache->seconds, &cache->micros);
          return result;
        }
      } else if (result > 0) {
        return std::min(result, static_cast<int>(bufferSize));
      }
      clock_.sleepMs(kRetryPauseMs);
    }
    closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return result;
}

ssize_t PrinterPort::read(void* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return -1;
  if (!ensureOpen()) return -1;
  ssize_t result;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (!device_.isOpen()) return -1;
    result = device_.read(buffer, size);
    if (result >= 0) return result;
    closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return result;
}

ssize_t PrinterPort::write(const void* data, size_t length) {
  if (data == nullptr) return -1;
  if (!ensureOpen()) return -1;
  if (length == 0) return 0;
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t generation;
  {
    std::lock_guard<std::mutex> io(ioMutex_);
    if (!device_.isOpen()) return -1;
    size_t done = 0;
    while (done < length) {
      size_t piece = std::min(kWritePiece, length - done);
      ssize_t n = device_.write(p + done, piece);
      if (n < 0 && errno == EINTR) continue;
      // A write that moves nothing would loop for ever: treat it as failed.
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done == length) return static_cast<ssize_t>(length);
    closeLocked();
    generation = generation_;
  }
  storeIdentity(generation, nullptr, 0);
  return -1;
}

}  // namespace tavik
