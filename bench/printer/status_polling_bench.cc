// Status polling through the shared printer port: however many clients
// poll, the printer must see at most one status transaction per 50 ms per
// status kind. Each thread is one client with its own PrinterApi, polling
// the status and the extended status as fast as it can against a printer
// served over the device socket.
//
// Reported per run: polls served, device transactions of each kind, and
// the ratio transactions / (elapsed / 50 ms), which must stay at or below 1.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Paths.h"
#include "printer/PrinterApi.h"
#include "printer/PrinterPort.h"
#include "sim/DeviceServer.h"

namespace {

using tavik::PrinterApi;
using tavik::PrinterPort;
using tavik::PrinterStatus;

std::atomic<long> gStatusTx{0};
std::atomic<long> gExtendedTx{0};

// Just enough printer: identification and the two status replies.
class CountingFile : public tavik::sim::OpenDevice {
 public:
  int64_t ioctl(uint32_t request, std::vector<uint8_t>* buffer, int*) override {
    std::vector<uint8_t>& b = *buffer;
    if ((request & 0xFFFF) != 0x500F || b.size() < 3) return static_cast<int64_t>(b.size());
    uint8_t c0 = b[0];
    uint8_t c1 = b[1];
    std::fill(b.begin(), b.end(), 0);
    if (c0 == 0x00 && c1 == 0x00 && b.size() >= 12) {
      ++gStatusTx;
      return 12;
    }
    if (c0 == 0x02 && c1 == 0x00 && b.size() >= 16) {
      ++gExtendedTx;
      return 16;
    }
    if (c0 == 0x50 && c1 == 0x06) {
      static const char kId[] = "TAVIK BENCH";
      std::copy(kId, kId + sizeof kId - 1, b.begin());
      return sizeof kId - 1;
    }
    return 0;
  }
};

class CountingPrinter : public tavik::sim::DeviceModel {
 public:
  std::shared_ptr<tavik::sim::OpenDevice> open(uint32_t, int*) override {
    return std::make_shared<CountingFile>();
  }
};

// A private sysroot with the counting printer on /dev/usblp0.
struct Rig {
  Rig() {
    char tmpl[] = "/tmp/tavik-bench-XXXXXX";
    root = ::mkdtemp(tmpl);
    ::setenv("TAVIK_ROOT", root.c_str(), 1);
    std::filesystem::create_directories(root + "/dev");
    server = std::make_unique<tavik::sim::DeviceServer>(tavik::platform::hostPath("/dev/usblp0"),
                                                        model);
    server->start();
    port = std::make_unique<PrinterPort>();
  }
  ~Rig() {
    port.reset();
    server->stop();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string root;
  CountingPrinter model;
  std::unique_ptr<tavik::sim::DeviceServer> server;
  std::unique_ptr<PrinterPort> port;
};

Rig* gRig = nullptr;
std::chrono::steady_clock::time_point gStart;

void BM_StatusPolling(benchmark::State& state) {
  if (state.thread_index() == 0) {
    gRig = new Rig();
    gStatusTx = 0;
    gExtendedTx = 0;
  }
  // Every thread is a client of its own, as each network session is.
  std::unique_ptr<PrinterApi> api;
  long polls = 0;
  for (auto _ : state) {
    if (!api) {
      api = std::make_unique<PrinterApi>(*gRig->port);
      if (state.thread_index() == 0) gStart = std::chrono::steady_clock::now();
    }
    PrinterStatus st;
    std::vector<uint8_t> ext;
    benchmark::DoNotOptimize(api->getStatus(&st));
    benchmark::DoNotOptimize(api->getStatus2(&ext));
    ++polls;
  }
  state.counters["polls"] = benchmark::Counter(static_cast<double>(polls));
  if (state.thread_index() == 0) {
    double elapsedMs = std::chrono::duration<double, std::milli>(
                           std::chrono::steady_clock::now() - gStart)
                           .count();
    double windows = elapsedMs / 50.0;
    state.counters["status_tx"] = static_cast<double>(gStatusTx.load());
    state.counters["ext_tx"] = static_cast<double>(gExtendedTx.load());
    state.counters["status_ratio"] = static_cast<double>(gStatusTx.load()) / windows;
    state.counters["ext_ratio"] = static_cast<double>(gExtendedTx.load()) / windows;
    delete gRig;
    gRig = nullptr;
  }
}

BENCHMARK(BM_StatusPolling)->Threads(1)->Threads(8)->Threads(32)->UseRealTime()->MinTime(3.0);

}  // namespace
