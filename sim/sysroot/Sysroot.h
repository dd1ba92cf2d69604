// Makes a sysroot in which the firmware runs off the module: the module's
// directories, the platform programs as stubs under sbin/, and the files the
// module's kernel and daemons would provide. Public face of sim/sysroot/ for
// tests and for the tavik-sysroot program.
//
// The stubs (reboot, insmod, rmmod, lsmod, ifconfig, ifup) find the sysroot
// from their own location, append "NAME args" to ROOT/sim/commands.log and
// write nothing outside ROOT; insmod records the module in ROOT/sim/modules,
// lsmod lists what is recorded there and rmmod takes it out again.
//
// Running the set-up again on an existing sysroot renews the stubs and the
// platform files and forgets what the simulated kernel had loaded, but keeps
// the settings in ROOT/flash, as a reboot of the module would.
#pragma once

#include <cstdint>
#include <string>

namespace tavik::sim {

// The printer and encoders the simulated USB device list shows. The printer
// simulator (its default identity: "TAVIK TC-D200", serial TD2A0012345)
// answers the same.
struct SimulatedUsb {
  static constexpr const char* kPrinterVendor = "0016";
  static constexpr const char* kPrinterProduct = "0101";
  static constexpr const char* kPrinterRevision = "1.00";
  static constexpr const char* kPrinterManufacturer = "TAVIK";
  static constexpr const char* kPrinterName = "TC-D200";
  static constexpr const char* kPrinterSerial = "TD2A0012345";
  // Ports on the printer's internal hub and USB device numbers.
  static constexpr int kPrinterPort = 0;
  static constexpr int kPrinterDevice = 3;
  static constexpr int kContactReaderPort = 1;
  static constexpr int kContactReaderDevice = 4;
  static constexpr int kContactlessReaderPort = 2;
  static constexpr int kContactlessReaderDevice = 5;
  static constexpr const char* kContactReaderName = "Gemalto PC Twin Reader 00 00";
  static constexpr const char* kContactlessReaderName = "DE-ABCM COMBI 01 00";
};

// The module's Ethernet address in /flash/vusk_system.cfg (414 bytes).
constexpr uint8_t kSimulatedMac[6] = {0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
constexpr size_t kPlatformConfigSize = 414;

// The text of /proc/bus/usb/devices and of /tmp/pcscd/readermap.
std::string usbDeviceListText();
std::string readerMapText();

// Makes or renews the sysroot at `root` (a host directory, created if
// missing; never "/"). Returns 0, or -1 with a reason in *error.
int makeSysroot(const std::string& root, std::string* error);

}  // namespace tavik::sim
