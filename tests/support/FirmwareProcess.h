// Runs the whole firmware for an end-to-end test: a fresh sysroot made by
// tavik-sysroot, the virtual printer and GPIO simulators, and TavikServer
// inside a private network namespace whose eth0 is one end of a veth pair.
// The test talks to the module over real sockets from the outer end, as a
// PC on the same Ethernet would. Needs root (network namespaces).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/ConfigRecords.h"

namespace tavik::test {

struct FirmwareOptions {
  // Written to /flash/tavik_service before the start; the defaults otherwise.
  std::optional<ServiceConfig> service;
  // Written to /flash/tavik_ocp before the start. By default the OCP shell
  // is off, so that these tests watch only the services they are about.
  std::optional<OcpConfig> ocp = [] {
    OcpConfig c = defaultOcpConfig();
    c.enabled = 0;
    return c;
  }();
  // Accounts file content ("name:digest" lines), written when not empty.
  std::string userFile;
  double printerTimeScale = 0.01;  // a 1.2 s card feed takes 12 ms
  bool startPrinter = true;
};

// Options with these settings written before the start.
inline FirmwareOptions withService(const ServiceConfig& service) {
  FirmwareOptions o;
  o.service = service;
  return o;
}

class FirmwareProcess {
 public:
  explicit FirmwareProcess(FirmwareOptions options = {});
  ~FirmwareProcess();  // stops everything, removes the namespace and the sysroot
  FirmwareProcess(const FirmwareProcess&) = delete;
  FirmwareProcess& operator=(const FirmwareProcess&) = delete;

  // Makes the sysroot, starts the simulators, the namespace and TavikServer,
  // and waits until every enabled TCP port accepts. False with a reason.
  bool start(std::string* error);
  // SIGTERM to TavikServer and a wait for its exit (SIGKILL after 15 s).
  // Returns its exit status, or -1 when it had to be killed or never ran.
  int stopServer();
  bool serverAlive();
  // TavikServer's process id (-1 when not running).
  pid_t serverPid() const { return server_; }

  const std::string& root() const { return root_; }
  std::string path(const std::string& modulePath) const { return root_ + modulePath; }
  // The module's eth0 address, the outer end's address, the subnet broadcast.
  const std::string& address() const { return innerAddress_; }
  const std::string& hostAddress() const { return outerAddress_; }
  const std::string& broadcast() const { return broadcast_; }
  const std::string& macAddress() const { return mac_; }

  // One line to the virtual printer's control socket; its answer.
  std::string printer(const std::string& line) const;
  // TavikServer's console output so far.
  std::string log() const;
  bool waitForLog(const std::string& text,
                  std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // The printer's exchange transcript so far.
  std::string transcript() const;
  // Runs tavikctl against the module; returns its exit status and output.
  int tavikctl(const std::string& args, std::string* output) const;

  static ServiceConfig defaultService();

 private:
  bool makeNamespace(std::string* error);
  void removeNamespace();
  pid_t spawn(const std::vector<std::string>& argv, const std::string& outputFile);
  void stopChild(pid_t* pid, int* status);
  bool portOpen(int port) const;

  FirmwareOptions options_;
  std::string root_;
  std::string netns_;
  std::string outerIf_;
  std::string innerAddress_;
  std::string outerAddress_;
  std::string broadcast_;
  std::string mac_;
  bool namespaceMade_ = false;
  pid_t server_ = -1;
  pid_t printer_ = -1;
  pid_t gpio_ = -1;
  int serverStatus_ = -1;
};

// A small valid print image: one "CP" frame with a K panel of width x height
// whose samples form a simple pattern. The virtual printer prints it.
std::vector<uint8_t> makeTestPrintImage(uint16_t width = 64, uint16_t height = 32);

}  // namespace tavik::test
