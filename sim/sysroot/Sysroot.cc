#include "sim/sysroot/Sysroot.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tavik::sim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDirectories[] = {
    "/flash", "/flash/ocp", "/dev",         "/tmp",        "/tmp/pcscd",   "/var/log",
    "/etc",   "/etc/network", "/etc/drivers", "/proc/bus/usb", "/sim", "/sbin", "/lib/modules"};

// Every stub starts like this: find the sysroot from the stub's own place
// (so it works, and stays inside, even without TAVIK_ROOT) and log the call.
std::string stubHead(const char* name, const char* what) {
  std::string s = "#!/bin/sh\n";
  s += std::string("# Simulated ") + name + ": " + what + "\n";
  s += "# Writes nothing outside the sysroot this stub lives in.\n";
  s += "ROOT=$(CDPATH= cd -- \"$(dirname -- \"$0\")/..\" && pwd -P) || exit 1\n";
  s += "mkdir -p \"$ROOT/sim\"\n";
  // Arguments are logged as the firmware wrote them: without the sysroot
  // prefix the command runner put in front of module paths.
  s += std::string("line=") + name + "\n";
  s += "for a in \"$@\"; do\n"
       "  case \"$a\" in \"$ROOT\"/*) a=${a#\"$ROOT\"} ;; esac\n"
       "  if [ -n \"${TAVIK_ROOT:-}\" ]; then\n"
       "    case \"$a\" in \"${TAVIK_ROOT%/}\"/*) a=${a#\"${TAVIK_ROOT%/}\"} ;; esac\n"
       "  fi\n"
       "  line=\"$line $a\"\n"
       "done\n"
       "printf '%s\\n' \"$line\" >>\"$ROOT/sim/commands.log\"\n";
  return s;
}

// The module name of the first argument that is not an option ("g_usbtavik"
// from "/etc/drivers/g_usbtavik.ko").
constexpr const char* kModuleArgument =
    "mod=\n"
    "for a in \"$@\"; do case \"$a\" in -*) ;; *) mod=$(basename -- \"$a\" .ko); break ;; esac; "
    "done\n"
    "mods=\"$ROOT/sim/modules\"\n"
    "touch \"$mods\"\n";

struct Stub {
  const char* name;
  const char* what;
  const char* body;
};

const Stub kStubs[] = {
    {"reboot", "records the reboot; the module stays up", "exit 0\n"},
    {"ifconfig", "records the interface set-up", "exit 0\n"},
    {"ifup", "records the interfaces brought up", "exit 0\n"},
    {"insmod", "records the module as loaded",
     "[ -n \"$mod\" ] || { echo \"insmod: no module given\" >&2; exit 1; }\n"
     "if grep -qx -- \"$mod\" \"$mods\"; then\n"
     "  echo \"insmod: can't insert '$mod': File exists\" >&2; exit 1\n"
     "fi\n"
     "printf '%s\\n' \"$mod\" >>\"$mods\"\n"
     "exit 0\n"},
    {"rmmod", "forgets a loaded module",
     "if [ -z \"$mod\" ] || ! grep -qx -- \"$mod\" \"$mods\"; then\n"
     "  echo \"rmmod: can't unload '$mod': No such file or directory\" >&2; exit 1\n"
     "fi\n"
     "grep -vx -- \"$mod\" \"$mods\" >\"$mods.new\"\n"
     "mv -f \"$mods.new\" \"$mods\"\n"
     "exit 0\n"},
    {"lsmod", "lists the modules the simulated insmod loaded",
     "printf 'Module                  Size  Used by\\n'\n"
     "while read -r m; do [ -n \"$m\" ] && printf '%-19s %8d  0\\n' \"$m\" 16384; done <\"$mods\"\n"
     "exit 0\n"},
};

bool writeText(const fs::path& path, const std::string& text, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    *error = "cannot write " + path.string();
    return false;
  }
  return true;
}

// One USB device in the kernel's listing format.
struct UsbEntry {
  int level, parent, port, count, device;
  const char* speed;
  int maxChildren;
  const char* deviceLine;
  const char* vendor;
  const char* product;
  const char* revision;
  const char* manufacturer;  // nullptr: no string
  const char* name;
  const char* serial;
  const char* rest;  // configuration, interface and endpoint lines
};

std::string entryText(const UsbEntry& e) {
  char line[256];
  std::string s;
  std::snprintf(line, sizeof line,
                "T:  Bus=01 Lev=%02d Prnt=%02d Port=%02d Cnt=%02d Dev#=%3d Spd=%-4s MxCh=%2d\n",
                e.level, e.parent, e.port, e.count, e.device, e.speed, e.maxChildren);
  s += line;
  if (e.level == 0) s += "B:  Alloc=  0/800 us ( 0%), #Int=  1, #Iso=  0\n";
  s += e.deviceLine;
  std::snprintf(line, sizeof line, "P:  Vendor=%s ProdID=%s Rev= %s\n", e.vendor, e.product,
                e.revision);
  s += line;
  if (e.manufacturer != nullptr) s += std::string("S:  Manufacturer=") + e.manufacturer + "\n";
  if (e.name != nullptr) s += std::string("S:  Product=") + e.name + "\n";
  if (e.serial != nullptr) s += std::string("S:  SerialNumber=") + e.serial + "\n";
  s += e.rest;
  return s;
}

}  // namespace

std::string usbDeviceListText() {
  using U = SimulatedUsb;
  const char* hubRest =
      "C:* #Ifs= 1 Cfg#= 1 Atr=e0 MxPwr=  0mA\n"
      "I:* If#= 0 Alt= 0 #EPs= 1 Cls=09(hub  ) Sub=00 Prot=00 Driver=hub\n"
      "E:  Ad=81(I) Atr=03(Int.) MxPS=   4 Ivl=256ms\n";
  const char* readerRest =
      "C:* #Ifs= 1 Cfg#= 1 Atr=80 MxPwr= 50mA\n"
      "I:* If#= 0 Alt= 0 #EPs= 3 Cls=0b(scard) Sub=00 Prot=00 Driver=(none)\n"
      "E:  Ad=01(O) Atr=02(Bulk) MxPS=  64 Ivl=0ms\n"
      "E:  Ad=82(I) Atr=02(Bulk) MxPS=  64 Ivl=0ms\n"
      "E:  Ad=83(I) Atr=03(Int.) MxPS=   8 Ivl=16ms\n";
  const UsbEntry entries[] = {
      {0, 0, 0, 0, 1, "480", 1,
       "D:  Ver= 2.00 Cls=09(hub  ) Sub=00 Prot=01 MxPS=64 #Cfgs=  1\n", "1d6b", "0002", "2.06",
       "Linux ehci_hcd", "EHCI Host Controller", "ehci_hcd", hubRest},
      // The printer's internal hub: printer and encoders hang on it.
      {1, 1, 0, 1, 2, "480", 4,
       "D:  Ver= 2.00 Cls=09(hub  ) Sub=00 Prot=01 MxPS=64 #Cfgs=  1\n", "05e3", "0608", "7.02",
       nullptr, "USB2.0 Hub", nullptr, hubRest},
      {2, 2, U::kPrinterPort, 1, U::kPrinterDevice, "12", 0,
       "D:  Ver= 2.00 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=64 #Cfgs=  1\n", U::kPrinterVendor,
       U::kPrinterProduct, U::kPrinterRevision, U::kPrinterManufacturer, U::kPrinterName,
       U::kPrinterSerial,
       "C:* #Ifs= 1 Cfg#= 1 Atr=c0 MxPwr=  2mA\n"
       "I:* If#= 0 Alt= 0 #EPs= 2 Cls=07(print) Sub=01 Prot=02 Driver=usblp\n"
       "E:  Ad=01(O) Atr=02(Bulk) MxPS=  64 Ivl=0ms\n"
       "E:  Ad=82(I) Atr=02(Bulk) MxPS=  64 Ivl=0ms\n"},
      {2, 2, U::kContactReaderPort, 2, U::kContactReaderDevice, "12", 0,
       "D:  Ver= 1.10 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=16 #Cfgs=  1\n", "08e6", "3437", "2.00",
       "Gemalto", "PC Twin Reader", nullptr, readerRest},
      {2, 2, U::kContactlessReaderPort, 3, U::kContactlessReaderDevice, "12", 0,
       "D:  Ver= 2.00 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=64 #Cfgs=  1\n", "2a2b", "0001", "1.00",
       "DE", "ABCM COMBI", nullptr, readerRest},
  };
  std::string s;
  for (const UsbEntry& e : entries) {
    if (!s.empty()) s += "\n";
    s += entryText(e);
  }
  return s;
}

std::string readerMapText() {
  using U = SimulatedUsb;
  // Reader name, bus id, USB device number, slot: the device number is the
  // field after the next-to-last colon.
  return std::string(U::kContactReaderName) + ":usb:08e6/3437:" +
         std::to_string(U::kContactReaderDevice) + ":0\n" + U::kContactlessReaderName +
         ":usb:2a2b/0001:" + std::to_string(U::kContactlessReaderDevice) + ":0\n";
}

int makeSysroot(const std::string& root, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  std::error_code ec;
  if (root.empty()) {
    *error = "no sysroot directory given";
    return -1;
  }
  fs::path base = fs::absolute(root, ec);
  if (!ec) fs::create_directories(base, ec);
  if (!ec) base = fs::canonical(base, ec);
  if (ec) {
    *error = "cannot make " + root + ": " + ec.message();
    return -1;
  }
  // The stubs and the platform files would land in the host's own /sbin, /proc...
  if (base == base.root_path()) {
    *error = "refusing to use " + base.string() + " as a sysroot";
    return -1;
  }
  for (const char* dir : kDirectories) {
    fs::create_directories(base.string() + dir, ec);
    if (ec) {
      *error = std::string("cannot make ") + base.string() + dir + ": " + ec.message();
      return -1;
    }
  }

  for (const Stub& stub : kStubs) {
    std::string text = stubHead(stub.name, stub.what);
    std::string name = stub.name;
    if (name == "insmod" || name == "rmmod" || name == "lsmod") text += kModuleArgument;
    text += stub.body;
    fs::path path = base.string() + "/sbin/" + stub.name;
    fs::remove(path, ec);  // a stale socket or read-only file would block the write
    if (!writeText(path, text, error)) return -1;
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec, ec);
    if (ec) {
      *error = "cannot make " + path.string() + " executable: " + ec.message();
      return -1;
    }
  }

  // A fresh boot: the simulated kernel has loaded nothing and the logs start empty.
  for (const char* stale : {"/sim/modules", "/sim/commands.log", "/sim/gpio.log"}) {
    fs::remove(base.string() + stale, ec);
  }

  std::string cfg(kPlatformConfigSize, '\0');
  for (size_t i = 0; i < sizeof kSimulatedMac; ++i) cfg[i] = static_cast<char>(kSimulatedMac[i]);
  if (!writeText(base.string() + "/flash/vusk_system.cfg", cfg, error)) return -1;
  if (!writeText(base.string() + "/proc/bus/usb/devices", usbDeviceListText(), error)) return -1;
  if (!writeText(base.string() + "/tmp/pcscd/readermap", readerMapText(), error)) return -1;
  // The gadget module the USB bridge loads; insmod only records its name.
  if (!writeText(base.string() + "/etc/drivers/g_usbtavik.ko", "", error)) return -1;
  return 0;
}

}  // namespace tavik::sim
