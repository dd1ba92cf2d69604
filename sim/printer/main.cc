// tavik-printer-sim: the virtual card printer as a program.
//
//   tavik-printer-sim [--root DIR] [--time-scale X] [--hopper N]
//                     [--ribbon N] [--ribbon-type N] [--unplugged]
//
// Serves DIR/dev/usblp0 (DIR defaults to $TAVIK_ROOT) until SIGINT or
// SIGTERM; control socket DIR/sim/printer.ctl; records under DIR/sim/printer/.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Paths.h"
#include "sim/printer/VirtualPrinter.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

int usage() {
  std::fprintf(stderr,
               "usage: tavik-printer-sim [--root DIR] [--time-scale X] [--hopper N]\n"
               "                         [--ribbon N] [--ribbon-type N] [--unplugged]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  tavik::sim::PrinterConfig config;
  std::string root = tavik::platform::sysroot();
  bool unplugged = false;
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
