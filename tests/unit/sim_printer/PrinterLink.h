// Test helpers: the virtual printer in a private sysroot, reached the way
// the firmware reaches it (DeviceFile on /dev/usblp0), and a small PRN
// image encoder for hand-made print images.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DeviceFile.h"
#include "sim/printer/VirtualPrinter.h"
#include "tests/support/TestSupport.h"

namespace tavik::test {

constexpr unsigned long kDeviceIdRequest = 0x80005001;
constexpr unsigned long kCommandWriteRequest = 0x4000500E;
constexpr unsigned long kCommandReadRequest = 0x8000500F;

inline unsigned long withSize(unsigned long request, size_t n) {
  return request + static_cast<unsigned long>(n) * 0x10000;
}

inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The driver's view of the printer.
class PrinterLink {
 public:
  int open() { return file_.open("/dev/usblp0", O_RDWR); }
  platform::DeviceFile& file() { return file_; }

  // Command write of one frame; returns the driver result.
  int send(std::vector<uint8_t> frame) {
    return file_.ioctl(withSize(kCommandWriteRequest, frame.size()), frame.data(), frame.size());
  }
  // Command read; returns the reply (result < 0 gives an empty reply and
  // sets *result when asked).
  std::vector<uint8_t> ask(std::vector<uint8_t> request, size_t capacity = 32,
                           int* result = nullptr) {
    std::vector<uint8_t> buffer(capacity, 0xEE);
    std::copy(request.begin(), request.end(), buffer.begin());
    int r = file_.ioctl(withSize(kCommandReadRequest, capacity), buffer.data(), capacity);
    if (result) *result = r;
    if (r < 0) return {};
    buffer.resize(static_cast<size_t>(r));
    return buffer;
  }
  uint32_t wordA() {
    auto s = ask({0x00, 0x00, 0x00});
    return s.size() >= 8 ? le32(s.data()) : 0xFFFFFFFF;
  }
  uint32_t wordB() {
    auto s = ask({0x00, 0x00, 0x00});
    return s.size() >= 8 ? le32(s.data() + 4) : 0xFFFFFFFF;
  }
  // Waits until none of the activity bits is set.
  bool waitIdle() {
    return waitFor([&] { return (wordA() & 0x2503FFFF) == 0; }, std::chrono::seconds(20));
  }

 private:
  platform::DeviceFile file_;
};

// A running virtual printer in a fresh sysroot.
class VirtualPrinterTest : public ::testing::Test {
 protected:
  static sim::PrinterConfig fastConfig() {
    sim::PrinterConfig c;
    c.timeScale = 0.05;  // a 1200 ms feed takes 60 ms
    c.hopperCount = 5;
    return c;
  }
  VirtualPrinterTest() : printer_(fastConfig()) {}
  void SetUp() override {
    ASSERT_TRUE(printer_.start(root_.root()));
    ASSERT_EQ(link_.open(), 0);
  }
  std::string ctl(const std::string& line) {
    return sim::controlRequest(root_.path("/sim/printer.ctl"), line);
  }

  ScopedSysroot root_;
  sim::VirtualPrinter printer_;
  PrinterLink link_;
};

// Builds a PRN print image from panels of samples (0 no ink .. 255 full),
// coding each line with literal runs only; the decoder must accept any
// valid run-length code.
struct TestPanel {
  uint8_t id;
  std::vector<uint8_t> samples;  // width x height
};

inline std::vector<uint8_t> encodePrn(uint8_t sideFlags, uint16_t width, uint16_t height,
                                      const std::vector<TestPanel>& panels) {
  auto put16 = [](std::vector<uint8_t>* v, uint32_t x) {
    v->push_back(static_cast<uint8_t>(x));
    v->push_back(static_cast<uint8_t>(x >> 8));
  };
  auto put32 = [&](std::vector<uint8_t>* v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
  };
  std::vector<uint8_t> out = {'C', 'P', 2, sideFlags, 0, 0, 0, 0};
  uint16_t flags = 0;
  for (const auto& p : panels) flags |= p.id;
  put16(&out, 0);
  put16(&out, flags);
  put16(&out, 0);
  put16(&out, 0);
  put16(&out, height);
  put16(&out, width);
  const size_t groups = (width + 7u) / 8u;
  for (const auto& p : panels) {
    std::vector<uint8_t> data;
    for (uint16_t y = 0; y < height; ++y) {
      std::vector<uint8_t> planes(groups * 12, 0);
      uint32_t sum = 0;
      for (uint16_t x = 0; x < width; ++x) {
        uint8_t v = p.samples[static_cast<size_t>(y) * width + x];
        sum += v;
        for (int l = 0; l < 12; ++l) {
          bool bit = l < 7 ? (v >> 5) >= 7 - l : ((v >> (11 - l)) & 1) != 0;
          if (bit) planes[l * groups + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
      }
      put32(&data, sum);
      for (int l = 0; l < 12; ++l) {
        unsigned bits = 0;
        for (size_t g = 0; g < groups; ++g) bits += __builtin_popcount(planes[l * groups + g]);
        put16(&data, bits);
      }
      for (size_t i = 0; i < planes.size(); i += 127) {
        size_t n = std::min<size_t>(127, planes.size() - i);
        data.push_back(static_cast<uint8_t>(0x80 | n));
        data.insert(data.end(), planes.begin() + static_cast<long>(i),
                    planes.begin() + static_cast<long>(i + n));
      }
    }
    out.push_back(p.id);
    out.push_back(0);
    put16(&out, 0);
    put32(&out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
  }
  uint32_t total = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(total >> (8 * i));
  return out;
}

}  // namespace tavik::test
