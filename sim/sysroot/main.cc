// tavik-sysroot ROOT: makes or renews a sysroot for running the firmware off
// the module (directories, sbin stubs, platform files).
#include <cstdio>
#include <string>

#include "sim/sysroot/Sysroot.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0' || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: tavik-sysroot ROOT\n");
    return 2;
  }
  std::string error;
  if (tavik::sim::makeSysroot(argv[1], &error) != 0) {
    std::fprintf(stderr, "tavik-sysroot: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
