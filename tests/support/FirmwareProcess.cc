#include "tests/support/FirmwareProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/DeviceServer.h"
#include "tools/client/Discovery.h"
#include "tests/support/TestSupport.h"

namespace tavik::test {
namespace {

std::atomic<int> gInstance{0};

int sh(const std::string& command) {
  int r = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

std::string bin(const std::string& relative) { return buildDir() + "/" + relative; }

void writeBinary(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
}

}  // namespace

ServiceConfig FirmwareProcess::defaultService() { return defaultServiceConfig(); }

FirmwareProcess::FirmwareProcess(FirmwareOptions options) : options_(std::move(options)) {
  int n = (int(getpid()) * 8 + gInstance++) % 16384;
  char name[32];
  std::snprintf(name, sizeof name, "tvk%x", n);
  outerIf_ = name;
  netns_ = std::string(name) + "ns";
  int a = n / 64, b = (n % 64) * 4;
  outerAddress_ = "198.18." + std::to_string(a) + "." + std::to_string(b + 1);
  innerAddress_ = "198.18." + std::to_string(a) + "." + std::to_string(b + 2);
  broadcast_ = "198.18." + std::to_string(a) + "." + std::to_string(b + 3);
  mac_ = "00:1b:2c:3d:4e:5f";
}

FirmwareProcess::~FirmwareProcess() {
  stopServer();
  int ignored;
  stopChild(&gpio_, &ignored);
  stopChild(&printer_, &ignored);
  removeNamespace();
  if (!root_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
}

pid_t FirmwareProcess::spawn(const std::vector<std::string>& argv, const std::string& outputFile) {
  // Everything the child needs is prepared here: after fork() it only
  // redirects and execs.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envText = {"TAVIK_ROOT=" + root_};
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "TAVIK_ROOT=", 11) != 0) envText.emplace_back(*e);
  std::vector<char*> env;
  for (auto& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::dup2(fd, 1);
    ::dup2(fd, 2);
  }
  ::execvpe(args[0], args.data(), env.data());
  std::_Exit(127);
}

void FirmwareProcess::stopChild(pid_t* pid, int* status) {
  *status = -1;
  if (*pid <= 0) return;
  ::kill(*pid, SIGTERM);
  for (int i = 0; i < 1500; ++i) {
    int st = 0;
    pid_t r = ::waitpid(*pid, &st, WNOHANG);
    if (r == *pid) {
      *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
      *pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(*pid, SIGKILL);
  ::waitpid(*pid, nullptr, 0);
  *pid = -1;
}

int FirmwareProcess::stopServer() {
  if (server_ <= 0) return serverStatus_;
  stopChild(&server_, &serverStatus_);
  return serverStatus_;
}

bool FirmwareProcess::serverAlive() {
  if (server_ <= 0) return false;
  int st = 0;
  if (::waitpid(server_, &st, WNOHANG) == server_) {
    serverStatus_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    server_ = -1;
    return false;
  }
  return true;
}

bool FirmwareProcess::makeNamespace(std::string* error) {
  // Leftovers of a test process that was killed with the same names.
  namespaceMade_ = true;
  removeNamespace();
  const std::string ns = "ip netns exec " + netns_ + " ";
  std::vector<std::string> commands = {
      "ip netns add " + netns_,
      "ip link add " + outerIf_ + " type veth peer name eth0 netns " + netns_,
      "ip addr add " + outerAddress_ + "/30 broadcast " + broadcast_ + " dev " + outerIf_,
      "ip link set " + outerIf_ + " up",
      ns + "ip link set lo up",
      ns + "ip link set eth0 address " + mac_,
      ns + "ip addr add " + innerAddress_ + "/30 broadcast " + broadcast_ + " dev eth0",
      ns + "ip link set eth0 up",
      ns + "ip route add 255.255.255.255/32 dev eth0",
  };
  namespaceMade_ = true;
  for (const auto& c : commands) {
    if (sh(c) != 0) {
      *error = "network namespace set-up failed (root needed): " + c;
      return false;
    }
  }
  return true;
}

void FirmwareProcess::removeNamespace() {
  if (!namespaceMade_) return;
  sh("ip link del " + outerIf_);
  sh("ip netns del " + netns_);
  namespaceMade_ = false;
}

bool FirmwareProcess::portOpen(int port) const {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  ::inet_aton(innerAddress_.c_str(), &addr.sin_addr);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

bool FirmwareProcess::start(std::string* error) {
  char dir[] = "/tmp/tavik-e2e-XXXXXX";
  if (::mkdtemp(dir) == nullptr) {
    *error = "mkdtemp failed";
    return false;
  }
  root_ = dir;
  if (sh(bin("sim/sysroot/tavik-sysroot") + " " + root_) != 0) {
    *error = "tavik-sysroot failed";
    return false;
  }
  ServiceConfig service = options_.service.value_or(defaultService());
  if (options_.service) writeBinary(path("/flash/tavik_service"), &service, sizeof service);
  if (options_.ocp) writeBinary(path("/flash/tavik_ocp"), &*options_.ocp, sizeof *options_.ocp);
  if (!options_.userFile.empty())
    writeBinary(path("/flash/tavik_user"), options_.userFile.data(), options_.userFile.size());

  if (options_.startPrinter) {
    std::ostringstream scale;
    scale << options_.printerTimeScale;
    printer_ = spawn({bin("sim/printer/tavik-printer-sim"), "--root", root_, "--time-scale",
                      scale.str()},
                     root_ + "/sim/printer-sim.out");
    if (!waitFor([&] { return fileExists(path("/dev/usblp0")); })) {
      *error = "the virtual printer did not come up";
      return false;
    }
  }
  gpio_ = spawn({bin("sim/gpio/tavik-gpio-sim"), root_}, root_ + "/sim/gpio-sim.out");
  waitFor([&] { return fileExists(path("/dev/gpio")); }, std::chrono::seconds(5));

  if (!makeNamespace(error)) return false;
  server_ = spawn({"ip", "netns", "exec", netns_, bin("server/TavikServer"), "-c"},
                  root_ + "/sim/TavikServer.out");
  std::vector<int> ports = {11111};
  if (service.net_sdk) ports.push_back(service.sdk_port);
  if (service.net_spool) ports.push_back(service.spool_port);
  for (int port : ports) {
    if (!waitFor([&] { return portOpen(port) || !serverAlive(); }, std::chrono::seconds(20)) ||
        !serverAlive()) {
      *error = "TavikServer does not accept on port " + std::to_string(port) + "; log:\n" + log();
      return false;
    }
  }
  // The discovery responder starts a moment after the admin port listens.
  if (!waitFor([&] {
        std::vector<client::DiscoveryAnswer> answers;
        return client::discover(innerAddress_, client::kDiscoverAdmin, 200, &answers, nullptr,
                                "harness", 1) > 0;
      }, std::chrono::seconds(20))) {
    *error = "the module does not answer discovery; log:\n" + log();
    return false;
  }
  return true;
}

std::string FirmwareProcess::printer(const std::string& line) const {
  return sim::controlRequest(path("/sim/printer.ctl"), line);
}

std::string FirmwareProcess::log() const { return readFile(root_ + "/sim/TavikServer.out"); }

bool FirmwareProcess::waitForLog(const std::string& text, std::chrono::milliseconds limit) const {
  return waitFor([&] { return log().find(text) != std::string::npos; }, limit);
}

std::string FirmwareProcess::transcript() const {
  return readFile(path("/sim/printer/transcript.log"));
}

int FirmwareProcess::tavikctl(const std::string& args, std::string* output) const {
  std::string command = bin("tools/tavikctl/tavikctl") + " --host " + innerAddress_ + " " + args +
                        " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  std::string out;
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = ::pclose(p);
  if (output) *output = out;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

namespace {

// Literal runs only: valid code for the printer's run-length decoder.
void appendLiteral(const std::vector<uint8_t>& planes, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < planes.size(); i += 127) {
    size_t n = std::min<size_t>(127, planes.size() - i);
    out->push_back(uint8_t(0x80 | n));
    for (size_t k = 0; k < n; ++k) out->push_back(planes[i + k]);
  }
}

}  // namespace

std::vector<uint8_t> makeTestPrintImage(uint16_t width, uint16_t height) {
  const size_t groups = (width + 7) / 8;
  std::vector<uint8_t> panel;
  for (uint16_t y = 0; y < height; ++y) {
    std::vector<uint8_t> samples(width);
    for (uint16_t x = 0; x < width; ++x) samples[x] = ((x / 8 + y / 8) % 2) ? 255 : 0;
    std::vector<uint8_t> planes(12 * groups, 0);
    uint32_t sum = 0;
    uint16_t setBits[12] = {};
    for (uint16_t x = 0; x < width; ++x) {
      uint8_t v = samples[x];
      sum += v;
      for (int l = 0; l < 12; ++l) {
        bool bit = l < 7 ? (v >> 5) >= 7 - l : ((v >> (11 - l)) & 1) != 0;
        if (!bit) continue;
        planes[size_t(l) * groups + x / 8] |= uint8_t(0x80 >> (x % 8));
        ++setBits[l];
      }
    }
    uint8_t head[28];
    head[0] = uint8_t(sum);
    head[1] = uint8_t(sum >> 8);
    head[2] = uint8_t(sum >> 16);
    head[3] = uint8_t(sum >> 24);
    for (int l = 0; l < 12; ++l) {
      head[4 + 2 * l] = uint8_t(setBits[l]);
      head[5 + 2 * l] = uint8_t(setBits[l] >> 8);
    }
    for (uint8_t b : head) panel.push_back(b);
    appendLiteral(planes, &panel);
  }
  std::vector<uint8_t> image(20 + 8, 0);
  image[0] = 'C';
  image[1] = 'P';
  image[2] = 2;
  image[3] = 0x80;  // front, no lamination
  image[10] = 0x08;  // K panel only
  image[16] = uint8_t(height);
  image[17] = uint8_t(height >> 8);
  image[18] = uint8_t(width);
  image[19] = uint8_t(width >> 8);
  image[20] = 0x08;  // section: K, whole panel
  uint32_t len = uint32_t(panel.size());
  for (int i = 0; i < 4; ++i) image[24 + i] = uint8_t(len >> (8 * i));
  image.resize(28 + panel.size());
  std::memcpy(image.data() + 28, panel.data(), panel.size());
  uint32_t total = uint32_t(image.size());
  for (int i = 0; i < 4; ++i) image[4 + i] = uint8_t(total >> (8 * i));
  return image;
}

}  // namespace tavik::test
