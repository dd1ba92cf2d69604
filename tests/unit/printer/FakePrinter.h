// A scripted card printer behind the device socket of /dev/usblp0, for the
// port and command-set tests: it answers the identification, the two
// status queries and the lock frames like a printer, records every frame and
// every data write, and lets a test script status words, override single
// answers (failures, short replies, delays) and unplug the printer. Also a
// clock for the port that moves only when the port sleeps or the test says.
#pragma once

#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "printer/PrinterApi.h"
#include "printer/PrinterPort.h"
#include "sim/DeviceServer.h"
#include "tests/support/TestSupport.h"

namespace tavik::test {

// Time moves by the port's sleeps and by advanceMs(). With a real-time
// divisor each sleep also really sleeps ms/divisor, so that other threads
// get to run while one waits.
class ManualClock : public PortClock {
 public:
  explicit ManualClock(int realDivisor = 0) : divisor_(realDivisor) {}
  void now(int64_t* seconds, int64_t* micros) override {
    int64_t t = us_.load();
    *seconds = t / 1000000;
    *micros = t % 1000000;
  }
  void sleepMs(int ms) override {
    sleeps_.fetch_add(1);
    sleptMs_.fetch_add(ms);
    us_.fetch_add(static_cast<int64_t>(ms) * 1000);
    if (divisor_ > 0) std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / divisor_));
  }
  void advanceMs(int ms) { us_.fetch_add(static_cast<int64_t>(ms) * 1000); }
  void advanceUs(int64_t us) { us_.fetch_add(us); }
  int64_t nowMs() const { return us_.load() / 1000; }
  int64_t sleptMs() const { return sleptMs_.load(); }
  int sleeps() const { return sleeps_.load(); }

 private:
  // Starts at an odd point inside a second so that microsecond borrows occur.
  std::atomic<int64_t> us_{5000000000LL + 999500};
  std::atomic<int64_t> sleptMs_{0};
  std::atomic<int> sleeps_{0};
  int divisor_;
};

constexpr uint32_t kReqWrite = 0x500E;
constexpr uint32_t kReqRead = 0x500F;
constexpr uint32_t kReqDeviceId = 0x5001;

inline uint32_t requestKind(uint32_t request) { return request & 0xFFFF; }
inline uint32_t requestSize(uint32_t request) { return (request >> 16) & 0x3FFF; }

using Bytes = std::vector<uint8_t>;

// One vendor request as the printer saw it.
struct Exchange {
  uint32_t request = 0;
  Bytes data;  // the buffer before the call (the frame)
  bool isWrite() const { return requestKind(request) == kReqWrite; }
  bool isRead() const { return requestKind(request) == kReqRead; }
  Bytes head(size_t n) const { return Bytes(data.begin(), data.begin() + std::min(n, data.size())); }
};

inline Bytes md5(const uint8_t* data, size_t n) {
  uint8_t out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(data, n, out, &len, EVP_md5(), nullptr);
  return Bytes(out, out + len);
}

// The digest the printer expects for a password and ribbon count bytes.
inline Bytes lockDigest(const std::string& password, uint8_t lo, uint8_t hi) {
  uint8_t input[20] = {};
  std::memcpy(input, password.data(), std::min<size_t>(password.size(), 8));
  input[8] = lo;
  input[9] = hi;
  std::memcpy(input + 10, "QOLBERVUNZ", 10);
  return md5(input, sizeof input);
}

class FakePrinter : public sim::DeviceModel {
 public:
  // A write hook returns -1 to fail a write, a count to take only that many
  // bytes, nullopt to take them all.
  // Overrides one vendor request: return a result to answer it yourself
  // (buffer already holds the frame), nullopt to let the printer answer.
  using Hook = std::function<std::optional<int64_t>(const Exchange& ex, Bytes* buffer, int* error)>;
  using WriteHook = std::function<std::optional<int64_t>(size_t size, int* error)>;

  FakePrinter() {
    ext_.assign(16, 0);
    ext_[8] = 0x07;   // ribbon type
    ext_[10] = 0x34;  // ribbon count 0x1234
    ext_[11] = 0x12;
  }

  std::shared_ptr<sim::OpenDevice> open(uint32_t /*flags*/, int* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++opens_;
    if (!plugged_) {
      *error = ENODEV;
      return nullptr;
    }
    return std::make_shared<File>(this, plugCount_);
  }

  // ---- scripting ----
  void setIdle(uint32_t a, uint32_t b) {
    std::lock_guard<std::mutex> lock(mutex_);
    idleA_ = a;
    idleB_ = b;
  }
  // Status answers for the next polls, then the idle words again.
  void scriptStatus(std::initializer_list<std::pair<uint32_t, uint32_t>> words) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& w : words) script_.push_back(w);
  }
  void scriptStatusRepeat(uint32_t a, uint32_t b, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < times; ++i) script_.push_back({a, b});
  }
  void setExtended(Bytes ext) {
    std::lock_guard<std::mutex> lock(mutex_);
    ext_ = std::move(ext);
  }
  void setReply(Bytes head3, Bytes reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[head3] = std::move(reply);
  }
  void setIdentity(std::string id) {
    std::lock_guard<std::mutex> lock(mutex_);
    identity_ = std::move(id);
  }
  void setLockPassword(std::string password) {
    std::lock_guard<std::mutex> lock(mutex_);
    lockPassword_ = std::move(password);
  }
  bool locked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return locked_;
  }
  void setHook(Hook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
  }
  void setWriteHook(WriteHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeHook_ = std::move(hook);
  }
  void unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = false;
    ++plugCount_;
  }
  void plug() {
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = true;
  }

  // ---- what the printer saw ----
  std::vector<Exchange> exchanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exchanges_;
  }
  // Command frames written (0x500E), in order.
  std::vector<Bytes> frames() const {
    std::vector<Bytes> out;
    for (const Exchange& ex : exchanges()) {
      if (ex.isWrite()) out.push_back(ex.data);
    }
    return out;
  }
  // Frames written that are not the prepare step's clear (0x40 0xF0 0x00).
  std::vector<Bytes> actionFrames() const {
    std::vector<Bytes> out;
    for (const Bytes& f : frames()) {
      if (!(f.size() == 3 && f[0] == 0x40 && f[1] == 0xF0 && f[2] == 0x00)) out.push_back(f);
    }
    return out;
  }
  // Request heads of the command reads, in order.
  std::vector<Bytes> readHeads() const {
    std::vector<Bytes> out;
    for (const Exchange& ex : exchanges()) {
      if (ex.isRead()) out.push_back(ex.head(3));
    }
    return out;
  }
  int statusReads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statusReads_;
  }
  int extendedReads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return extendedReads_;
  }
  std::vector<size_t> writeSizes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeSizes_;
  }
  Bytes printData() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return printData_;
  }
  int opens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
  }
  void clearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    exchanges_.clear();
    writeSizes_.clear();
    statusReads_ = 0;
    extendedReads_ = 0;
  }

 private:
  class File : public sim::OpenDevice {
   public:
    File(FakePrinter* printer, int plugCount) : printer_(printer), plugCount_(plugCount) {}
    int64_t ioctl(uint32_t request, Bytes* buffer, int* error) override {
      return printer_->onIoctl(plugCount_, request, buffer, error);
    }
    int64_t write(const Bytes& data, int* error) override {
      return printer_->onWrite(plugCount_, data, error);
    }
    int64_t read(uint32_t, Bytes* out, int*) override {
      out->clear();
      return 0;
    }

   private:
    FakePrinter* printer_;
    int plugCount_;
  };

  static void putLe32(Bytes* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

  int64_t onIoctl(int plugCount, uint32_t request, Bytes* buffer, int* error) {
    Hook hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exchanges_.push_back({request, *buffer});
      if (!plugged_ || plugCount != plugCount_) {
        *error = ENODEV;
        return -1;
      }
      hook = hook_;
    }
    if (hook) {
      std::optional<int64_t> r = hook(Exchange{request, *buffer}, buffer, error);
      if (r) return *r;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return answer(request, buffer);
  }

  // The printer's own answers; expects mutex_ held.
  int64_t answer(uint32_t request, Bytes* buffer) {
    Bytes& b = *buffer;
    uint32_t kind = requestKind(request);
    if (kind == kReqDeviceId) {
      std::string id = "MFG:Tavik;CMD:CP;MDL:" + identity_ + ";";
      std::fill(b.begin(), b.end(), 0);
      size_t n = std::min(id.size(), b.size() > 2 ? b.size() - 2 : 0);
      if (b.size() >= 2) {
        b[0] = static_cast<uint8_t>((n + 2) >> 8);
        b[1] = static_cast<uint8_t>(n + 2);
      }
      std::memcpy(b.data() + 2, id.data(), n);
      return static_cast<int64_t>(b.size());
    }
    if (kind == kReqWrite) {
      onFrame(b);
      return static_cast<int64_t>(b.size());
    }
    if (kind != kReqRead || b.size() < 3) return -1;
    Bytes head3(b.begin(), b.begin() + 3);
    Bytes reply;
    if (head3 == Bytes{0x00, 0x00, 0x00}) {
      ++statusReads_;
      uint32_t a = idleA_ | (locked_ ? 0 : 0);
      uint32_t w = idleB_ | (locked_ ? status_b::kLocked : 0);
      if (!script_.empty()) {
        a = script_.front().first;
        w = script_.front().second | (locked_ ? status_b::kLocked : 0);
        script_.pop_front();
      }
      reply.assign(12, 0);
      putLe32(&reply, 0, a);
      putLe32(&reply, 4, w);
    } else if (head3 == Bytes{0x02, 0x00, 0x00}) {
      ++extendedReads_;
      reply = ext_;
    } else if (head3 == Bytes{0x50, 0x06, 0x00}) {
      reply.assign(identity_.begin(), identity_.end());
    } else {
      auto it = replies_.find(head3);
      if (it != replies_.end()) reply = it->second;
    }
    std::fill(b.begin(), b.end(), 0);
    size_t n = std::min(reply.size(), b.size());
    std::copy(reply.begin(), reply.begin() + n, b.begin());
    return static_cast<int64_t>(n);
  }

  // Frames with an effect on the printer's state; expects mutex_ held.
  void onFrame(const Bytes& f) {
    if (f.size() < 19 || f[0] != 0x50 || (f[1] != 0x18 && f[1] != 0x19 && f[1] != 0x1A)) return;
    Bytes want = lockDigest(lockPassword_, ext_.size() > 11 ? ext_[10] : 0,
                            ext_.size() > 11 ? ext_[11] : 0);
    if (!std::equal(want.begin(), want.end(), f.begin() + 3)) return;
    locked_ = f[1] == 0x19;
  }

  int64_t onWrite(int plugCount, const Bytes& data, int* error) {
    WriteHook hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!plugged_ || plugCount != plugCount_) {
        *error = ENODEV;
        return -1;
      }
      hook = writeHook_;
    }
    size_t taken = data.size();
    if (hook) {
      std::optional<int64_t> r = hook(data.size(), error);
      if (r && *r < 0) return *r;
      if (r) taken = std::min(static_cast<size_t>(*r), data.size());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    writeSizes_.push_back(data.size());
    printData_.insert(printData_.end(), data.begin(), data.begin() + taken);
    return static_cast<int64_t>(taken);
  }

  mutable std::mutex mutex_;
  bool plugged_ = true;                              // guarded by mutex_
  int plugCount_ = 0;                                // guarded by mutex_
  int opens_ = 0;                                    // guarded by mutex_
  std::string identity_ = "TAVIK CP-2000";           // guarded by mutex_
  uint32_t idleA_ = 0;                               // guarded by mutex_
  uint32_t idleB_ = 0;                               // guarded by mutex_
  std::deque<std::pair<uint32_t, uint32_t>> script_;  // guarded by mutex_
  Bytes ext_;                                        // guarded by mutex_
  std::map<Bytes, Bytes> replies_;                   // guarded by mutex_
  std::string lockPassword_;                         // guarded by mutex_
  bool locked_ = false;                              // guarded by mutex_
  Hook hook_;                                        // guarded by mutex_
  WriteHook writeHook_;                              // guarded by mutex_
  std::vector<Exchange> exchanges_;                  // guarded by mutex_
  std::vector<size_t> writeSizes_;                   // guarded by mutex_
  Bytes printData_;                                  // guarded by mutex_
  int statusReads_ = 0;                              // guarded by mutex_
  int extendedReads_ = 0;                            // guarded by mutex_
};

inline const char* kDeviceList =
    "T:  Bus=01 Lev=00 Prnt=00 Port=00 Cnt=00 Dev#=  1 Spd=480  MxCh= 1\n"
    "D:  Ver= 2.00 Cls=09(hub  ) Sub=00 Prot=01 MxPS=64 #Cfgs=  1\n"
    "P:  Vendor=1d6b ProdID=0002 Rev= 3.10\n"
    "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  3 Spd=12   MxCh= 0\n"
    "D:  Ver= 1.10 Cls=00(>ifc ) Sub=00 Prot=00 MxPS= 8 #Cfgs=  1\n"
    "P:  Vendor=0016 ProdID=2A0F Rev= 1.05\n"
    "S:  Manufacturer=Tavik Systems\n"
    "S:  Product=Tavik CP-2000 Card Printer\n"
    "S:  SerialNumber=TV0012345\n"
    "C:* #Ifs= 1 Cfg#= 1 Atr=c0 MxPwr=  2mA\n";

// A sysroot with the fake printer serving /dev/usblp0 and a device list.
class PrinterRig {
 public:
  explicit PrinterRig(const std::string& deviceList = kDeviceList)
      : server_(sysroot_.path("/dev/usblp0"), printer_) {
    writeFile(sysroot_.path("/proc/bus/usb/devices"), deviceList);
    started_ = server_.start();
  }
  ~PrinterRig() { server_.stop(); }
  bool started() const { return started_; }
  FakePrinter& printer() { return printer_; }
  ScopedSysroot& sysroot() { return sysroot_; }

 private:
  ScopedSysroot sysroot_;
  FakePrinter printer_;
  sim::DeviceServer server_;
  bool started_ = false;
};

}  // namespace tavik::test
