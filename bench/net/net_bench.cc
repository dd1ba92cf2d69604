// Figures of the network command services, each with a baseline measured in
// the same run:
//   1. TVCID_GETSTATUS round trips per second and p99 latency, 1 and 32
//      connections, plain and TLS, against a bare TCP ping-pong of the same
//      sizes (24-byte request, 36-byte reply) on loopback;
//   2. spool throughput of a 6 MiB print image to the virtual printer,
//      against p910nd copying the same bytes to a pipe;
//   3. resident memory of TavikServer idle and with 32 raw-print
//      connections each in the middle of a 64 KiB frame (goals: 16 and
//      48 MiB).
// Run as root (the memory figure starts the firmware in a namespace):
//   ./build/bench/net/net_bench
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/ConfigStore.h"
#include "net/NetSDKService.h"
#include "net/NetSpoolService.h"
#include "net/TvnpCommands.h"
#include "printer/PrinterPort.h"
#include "server/Logger.h"
#include "sim/printer/VirtualPrinter.h"
#include "tests/support/FirmwareProcess.h"
#include "tests/support/TestSupport.h"
#include "tools/client/TvnpClient.h"

using namespace tavik;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kRun = std::chrono::seconds(2);

struct Figure {
  double perSecond = 0;
  double p99us = 0;
};

// N client threads, each with its own connection, run `exchange` until the
// time is up. Latencies are pooled.
template <typename Connect, typename Exchange>
Figure drive(int clients, Connect connect, Exchange exchange) {
  std::vector<std::vector<double>> lat(clients);
  std::vector<std::thread> threads;
  std::atomic<long> total{0};
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      auto conn = connect();
      if (!conn) return;
      auto end = Clock::now() + kRun;
      while (Clock::now() < end) {
        auto t0 = Clock::now();
        if (!exchange(*conn)) return;
        lat[i].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        ++total;
      }
    });
  }
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& v : lat) all.insert(all.end(), v.begin(), v.end());
  Figure f;
  f.perSecond = double(total) / std::chrono::duration<double>(kRun).count();
  if (!all.empty()) {
    std::sort(all.begin(), all.end());
    f.p99us = all[size_t(double(all.size() - 1) * 0.99)];
  }
  return f;
}

// Bare TCP ping-pong server: reads 24 bytes, answers 36, one thread per
// connection.
class PingPong {
 public:
  PingPong() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 64);
    acceptor_ = std::thread([this] {
      for (;;) {
        int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        int one = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([c] {
          uint8_t in[24], out[36] = {};
          for (;;) {
            size_t got = 0;
            while (got < sizeof in) {
              ssize_t n = ::recv(c, in + got, sizeof in - got, 0);
              if (n <= 0) {
                ::close(c);
                return;
              }
              got += size_t(n);
            }
            if (::send(c, out, sizeof out, MSG_NOSIGNAL) != sizeof out) break;
          }
          ::close(c);
        }).detach();
      }
    });
  }
  ~PingPong() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    acceptor_.join();
  }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
  std::thread acceptor_;
};

void roundTrips() {
  test::ScopedSysroot root;
  test::writeFile(root.path("/proc/bus/usb/devices"), "P:  Vendor=0016 ProdID=0101 Rev= 1.00\n");
  sim::PrinterConfig pc;
  pc.timeScale = 0.01;
  sim::VirtualPrinter printer(pc);
  if (!printer.start(root.root())) return (void)std::printf("virtual printer failed\n");
  Logger logger;
  ConfigStore config;
  ServiceConfig s = defaultServiceConfig();
  PingPong baseline;
  PrinterPort port;
  std::printf("TVCID_GETSTATUS round trips (%lld s each)\n", (long long)kRun.count());
  for (int tls : {0, 1}) {
    s.sdk_ssl = tls;
    s.sdk_port = 31000 + int(getpid() % 1000) * 2 + tls;
    config.writeService(s);
    config.load();
    logger.setThreshold(config.service().log_level);
    NetSDKService sdk;
    if (sdk.start(port, logger, config) != 0) {
      std::printf("SDK service did not start\n");
      continue;
    }
    for (int clients : {1, 32}) {
      Figure tvnp = drive(
          clients,
          [&] {
            auto c = std::make_unique<client::TvnpConnection>();
            if (c->connect("127.0.0.1", uint16_t(s.sdk_port), tls != 0) < 0) c.reset();
            return c;
          },
          [](client::TvnpConnection& c) {
            client::Reply r;
            return c.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r) == 0 && r.ok();
          });
      Figure bare = drive(
          clients,
          [&] {
            auto c = std::make_unique<client::TvnpConnection>();
            if (c->connect("127.0.0.1", baseline.port(), false) < 0) c.reset();
            return c;
          },
          [](client::TvnpConnection& c) {
            uint8_t req[24] = {}, rep[36];
            return c.sendAll(req, sizeof req) == 0 && c.readExact(rep, sizeof rep) == 0;
          });
      std::printf("  %-5s %2d conn: %9.0f req/s p99 %8.0f us | bare TCP %9.0f req/s p99 %8.0f us"
                  " | ratio %.2f\n",
                  tls ? "TLS" : "plain", clients, tvnp.perSecond, tvnp.p99us, bare.perSecond,
                  bare.p99us, bare.perSecond > 0 ? tvnp.perSecond / bare.perSecond : 0.0);
    }
    sdk.stop();
  }
}

double sendImage(uint16_t port, const std::vector<uint8_t>& image) {
  client::TvnpConnection c;
  if (c.connect("127.0.0.1", port, false) < 0) return 0;
  auto t0 = Clock::now();
  if (c.sendAll(image) < 0) return 0;
  c.finishSending();
  if (!c.waitClosed(60000)) return 0;
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return double(image.size()) / s / 1e6;
}

void spoolThroughput() {
  auto image = test::makeTestPrintImage(1016, 4000);  // just under 6 MiB
  std::printf("spool throughput, %zu-byte print image\n", image.size());
  double ours = 0;
  {
    test::ScopedSysroot root;
    test::writeFile(root.path("/proc/bus/usb/devices"), "P:  Vendor=0016 ProdID=0101 Rev= 1.00\n");
    sim::PrinterConfig pc;
    pc.timeScale = 0.01;
    sim::VirtualPrinter printer(pc);
    if (!printer.start(root.root())) return (void)std::printf("virtual printer failed\n");
    Logger logger;
    ConfigStore config;
    ServiceConfig s = defaultServiceConfig();
    s.spool_port = 32000 + int(getpid() % 1000);
    config.writeService(s);
    config.load();
    PrinterPort port;
    NetSpoolService spool;
    if (spool.start(port, logger, config) != 0) return (void)std::printf("spool did not start\n");
    ours = sendImage(uint16_t(s.spool_port), image);
  }
  // p910nd in its inetd mode (the accepted socket on its standard input)
  // copying to a pipe that a thread drains.
  double theirs = 0;
  {
    char dir[] = "/tmp/tavik-bench-XXXXXX";
    ::mkdtemp(dir);
    std::string fifo = std::string(dir) + "/lp";
    ::mkfifo(fifo.c_str(), 0600);
    ::mkdir("/var/lock/p910nd", 0755);  // p910nd keeps its lock file there
    std::thread drain([&] {
      int fd = ::open(fifo.c_str(), O_RDONLY);
      std::vector<char> buf(65536);
      while (::read(fd, buf.data(), buf.size()) > 0) {
      }
      ::close(fd);
    });
    int ls = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
    ::listen(ls, 1);
    std::thread server([&] {
      int c = ::accept(ls, nullptr, nullptr);
      pid_t pid = ::fork();
      if (pid == 0) {
        ::dup2(c, 0);
        ::dup2(c, 1);
        ::execl("/usr/sbin/p910nd", "p910nd", "-f", fifo.c_str(), (char*)nullptr);
        std::_Exit(127);
      }
      ::close(c);
      ::waitpid(pid, nullptr, 0);
    });
    theirs = sendImage(ntohs(a.sin_port), image);
    server.join();
    ::close(ls);
    // A reader still waiting for a writer (p910nd never opened the pipe)
    // is released by one empty open and close.
    int wake = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (wake >= 0) ::close(wake);
    drain.join();
    ::unlink(fifo.c_str());
    ::rmdir(dir);
  }
  std::printf("  TavikServer spool to the virtual printer: %7.1f MB/s | p910nd to a pipe: %7.1f MB/s"
              " | ratio %.2f\n",
              ours, theirs, theirs > 0 ? ours / theirs : 0.0);
}

long rssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

void memory() {
  test::FirmwareProcess fw;
  std::string error;
  if (!fw.start(&error)) return (void)std::printf("firmware did not start: %s\n", error.c_str());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  long idle = rssKb(fw.serverPid());
  // 32 raw print streams, each stopped 1 KiB into a 64 KiB frame.
  std::vector<std::unique_ptr<client::TvnpConnection>> conns;
  auto frame = test::makeTestPrintImage(1016, 40);
  frame.resize(65536);
  tvnp::storeU32(frame.data() + 4, 65536);
  for (int i = 0; i < 32; ++i) {
    auto c = std::make_unique<client::TvnpConnection>();
    if (c->connect(fw.address(), 9100, false) == 0) c->sendAll(frame.data(), 1024);
    conns.push_back(std::move(c));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  long busy = rssKb(fw.serverPid());
  std::printf("TavikServer resident memory: idle %ld KiB (goal < 16384) | 32 raw-print connections"
              " mid-frame %ld KiB (goal < 49152) | ratio %.2f\n",
              idle, busy, idle > 0 ? double(busy) / double(idle) : 0.0);
}

}  // namespace

// With no argument all three run; otherwise the named ones
// (roundtrip, spool, memory).
int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  auto wanted = [&](const char* name) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i)
      if (std::strcmp(argv[i], name) == 0) return true;
    return false;
  };
  if (wanted("roundtrip")) roundTrips();
  if (wanted("spool")) spoolThroughput();
  if (wanted("memory")) memory();
  return 0;
}
