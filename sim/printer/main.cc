// tavik-printer-sim: the virtual card printer as a program.
//
//   tavik-printer-sim [--root DIR] [--time-scale X] [--hopper N]
//                     [--ribbon N] [--ribbon-type N] [--unplugged]
//   tavik-printer-sim [--root DIR] --send FILE
//
// Serves DIR/dev/usblp0 (DIR defaults to $TAVIK_ROOT) until SIGINT or
// SIGTERM; control socket DIR/sim/printer.ctl; records under DIR/sim/printer/.
// With --send, writes FILE (a print image) to the simulator already serving
// DIR, waits for the end of printing and shows what was printed.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/DeviceFile.h"
#include "platform/Paths.h"
#include "sim/printer/VirtualPrinter.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

int usage() {
  std::fprintf(stderr,
               "usage: tavik-printer-sim [--root DIR] [--time-scale X] [--hopper N]\n"
               "                         [--ribbon N] [--ribbon-type N] [--unplugged]\n"
               "       tavik-printer-sim [--root DIR] --send FILE\n");
  return 2;
}

uint32_t wordA(tavik::platform::DeviceFile& device) {
  uint8_t buffer[32] = {};
  int n = device.ioctl(0x8000500F + 32 * 0x10000, buffer, sizeof buffer);
  if (n < 8) return 0xFFFFFFFF;
  return static_cast<uint32_t>(buffer[0] | buffer[1] << 8 | buffer[2] << 16) |
         static_cast<uint32_t>(buffer[3]) << 24;
}

// Sends one print image to the simulator serving `root`, as the module's
// print path would: in 4096-byte writes, then waits for the end of printing.
int sendFile(const std::string& root, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    std::fprintf(stderr, "tavik-printer-sim: cannot read %s\n", file.c_str());
    return 1;
  }
  ::setenv("TAVIK_ROOT", root.c_str(), 1);
  tavik::platform::DeviceFile device;
  if (device.open("/dev/usblp0", O_RDWR) != 0) {
    std::fprintf(stderr, "tavik-printer-sim: cannot open %s/dev/usblp0: %s\n", root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  for (size_t pos = 0; pos < data.size(); pos += 4096) {
    size_t n = std::min<size_t>(4096, data.size() - pos);
    if (device.write(data.data() + pos, n) != static_cast<ssize_t>(n)) {
      std::fprintf(stderr, "tavik-printer-sim: write failed: %s\n", std::strerror(errno));
      return 1;
    }
  }
  // Busy while anything moves or prints; ten minutes is more than any card.
  constexpr uint32_t kBusy = 0x2503FFFF;
  for (int i = 0; i < 6000 && (wordA(device) & kBusy) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::string last = tavik::sim::controlRequest(root + "/sim/printer.ctl", "last");
  std::printf("%s\n", last.c_str());
  return last.rfind("OK {", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  tavik::sim::PrinterConfig config;
  config.announceCards = true;
  std::string root = tavik::platform::sysroot();
  bool unplugged = false;
  std::string sendPath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](double* out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      *out = std::strtod(argv[++i], &end);
      return end != nullptr && *end == '\0';
    };
    double v = 0;
    if (arg == "--root" && i + 1 < argc) {
      root = argv[++i];
    } else if (arg == "--time-scale" && value(&v) && v > 0) {
      config.timeScale = v;
    } else if (arg == "--hopper" && value(&v) && v >= 0) {
      config.hopperCount = static_cast<int>(v);
    } else if (arg == "--ribbon" && value(&v) && v >= 0) {
      config.ribbonRemaining = static_cast<int>(v);
    } else if (arg == "--ribbon-type" && value(&v) && v >= 0) {
      config.ribbonType = static_cast<int>(v);
    } else if (arg == "--send" && i + 1 < argc) {
      sendPath = argv[++i];
    } else if (arg == "--unplugged") {
      unplugged = true;
    } else {
      return usage();
    }
  }
  if (root.empty()) {
    std::fprintf(stderr, "tavik-printer-sim: no root: set TAVIK_ROOT or pass --root\n");
    return 2;
  }
  if (!sendPath.empty()) return sendFile(root, sendPath);
  tavik::sim::VirtualPrinter printer(config);
  if (unplugged) printer.unplug();
  if (!printer.start(root)) {
    std::fprintf(stderr, "tavik-printer-sim: cannot serve %s/dev/usblp0: %s\n", root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::printf("tavik-printer-sim: serving %s/dev/usblp0, control %s/sim/printer.ctl\n",
              root.c_str(), root.c_str());
  std::fflush(stdout);
  while (!gStop) pause();
  printer.stop();
  return 0;
}
