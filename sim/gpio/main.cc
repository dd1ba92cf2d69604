// tavik-gpio-sim: serves $TAVIK_ROOT/dev/gpio (or ROOT/dev/gpio) until
// SIGINT or SIGTERM, with the control socket $TAVIK_ROOT/sim/gpio.ctl.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/gpio/GpioSimulator.h"

int main(int argc, char** argv) {
  std::string root;
  if (argc == 2) {
    root = argv[1];
  } else if (argc == 1 && std::getenv("TAVIK_ROOT") != nullptr) {
    root = std::getenv("TAVIK_ROOT");
  }
  if (root.empty()) {
    std::fprintf(stderr, "usage: tavik-gpio-sim [ROOT]   (or set TAVIK_ROOT)\n");
    return 2;
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // Blocked before any thread starts, so only sigwait below sees them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  tavik::sim::GpioSimulator gpio;
  if (!gpio.start(root)) {
    std::fprintf(stderr, "tavik-gpio-sim: cannot serve %s/dev/gpio: %s\n", root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::printf("tavik-gpio-sim: serving %s/dev/gpio, control %s/sim/gpio.ctl\n", root.c_str(),
              root.c_str());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  gpio.stop();
  return 0;
}
