// Shell commands of the module (rm, reboot, insmod, ifconfig, ...).
// Public face of platform/. Callers pass the module's own command text;
// under a sysroot the module's platform programs are taken from
// $TAVIK_ROOT/sbin/ and absolute path arguments are mapped under the root,
// so that a simulated run never reboots or reconfigures the host.
#pragma once

#include <string>

namespace tavik::platform {

// The command text as the host will run it (unchanged without a sysroot).
std::string mapCommand(const std::string& command);

// system() form: runs the command through /bin/sh and returns the raw
// wait status of system(3) (-1 when no shell could be started).
int runCommand(const std::string& command);

// popen() form: runs the command and collects its standard output into
// *output (at most maxBytes). Returns the pclose(3) status, or -1 when the
// command could not be started.
int runCommandRead(const std::string& command, std::string* output,
                   size_t maxBytes = 1 << 20);

}  // namespace tavik::platform
