// Request/reply throughput and latency of a service on the framework
// against a single-threaded libevent echo server, and TLS handshakes per
// second against the framework and against openssl s_server.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <event2/event.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "framework/SP_Buffer.h"
#include "framework/SP_Handler.h"
#include "framework/SP_HandlerOutput.h"
#include "framework/SP_Log.h"
#include "framework/SP_MsgDecoder.h"
#include "framework/SP_OpensslChannel.h"
#include "framework/SP_OutMessage.h"
#include "framework/SP_RequestContext.h"
#include "framework/SP_Server.h"

namespace {

using Clock = std::chrono::steady_clock;
const int kMessage = 24;

void quietSink(int, const char*) {}

struct RunResult {
  double requestsPerSecond = 0;
  double p99Micros = 0;
};
std::map<std::string, RunResult> gResults;

int requestCount() {
  const char* text = std::getenv("FRAMEWORK_BENCH_REQUESTS");
  int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : 32000;
}

// ---- the service on the framework ----

class ReplyHandler : public SP_Handler {
 public:
  int start(SP_RequestContext*, SP_HandlerOutput*) override { return 0; }
  int handle(SP_RequestContext* request, SP_HandlerOutput* output) override {
    SP_Buffer* message = static_cast<SP_DefaultMsgDecoder*>(request->decoder())->getMsg();
    output->replyMessage()->content()->append(message->rawBytes(), message->size());
    return 0;
  }
  void error(SP_HandlerOutput*) override {}
  void timeout(SP_HandlerOutput*) override {}
  void close() override {}
};

class ReplyFactory : public SP_HandlerFactory {
 public:
  SP_Handler* newHandler() override { return new ReplyHandler(); }
};

SP_Server* startFramework(bool tls, int workers) {
  SP_Server* server = new SP_Server("127.0.0.1", 0, new ReplyFactory());
  server->setWorkerCount(workers);
  server->setConnectionLimit(64);
  if (tls) {
    SP_OpensslChannelFactory* factory = new SP_OpensslChannelFactory();
    factory->setUp();
    server->setChannelFactory(factory);
  }
  server->run();
  while (server->listenPort() == 0 && server->isLoopRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return server;
}

// ---- the baseline: one thread, one libevent loop, echo ----

class EchoBaseline {
 public:
  EchoBaseline() {
    base_ = event_base_new();
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::listen(listenFd_, 1024);
    socklen_t len = sizeof(addr);
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listenEvent_ = event_new(base_, listenFd_, EV_READ | EV_PERSIST, &EchoBaseline::onAccept, this);
    event_add(listenEvent_, nullptr);
    thread_ = std::thread([this] { event_base_dispatch(base_); });
  }
  ~EchoBaseline() {
    event_base_loopbreak(base_);
    // Wake the loop so that it sees the break.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    thread_.join();
    ::close(fd);
    for (auto& c : clients_) {
      event_free(c.second);
      ::close(c.first);
    }
    event_free(listenEvent_);
    ::close(listenFd_);
    event_base_free(base_);
  }
  int port() const { return port_; }

 private:
  static void onAccept(evutil_socket_t fd, short, void* arg) {
    EchoBaseline* self = static_cast<EchoBaseline*>(arg);
    int client = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
    if (client < 0) return;
    int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    struct event* ev = event_new(self->base_, client, EV_READ | EV_PERSIST, &EchoBaseline::onRead, self);
    event_add(ev, nullptr);
    self->clients_[client] = ev;
  }
  static void onRead(evutil_socket_t fd, short, void* arg) {
    EchoBaseline* self = static_cast<EchoBaseline*>(arg);
    char data[4096];
    ssize_t n = ::read(fd, data, sizeof(data));
    if (n <= 0) {
      event_free(self->clients_[fd]);
      self->clients_.erase(fd);
      ::close(fd);
      return;
    }
    (void)::write(fd, data, static_cast<size_t>(n));
  }

  struct event_base* base_;
  int listenFd_;
  int port_ = 0;
  struct event* listenEvent_;
  std::map<int, struct event*> clients_;  // loop thread only
  std::thread thread_;
};

// ---- the load: one driver thread, N connections, one request in flight each ----

int connectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return -1;
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return fd;
}

RunResult drive(int port, int clients, int requests) {
  struct Conn {
    int fd;
    int got = 0;
    Clock::time_point sent;
  };
  std::vector<Conn> conns;
  for (int i = 0; i < clients; ++i) conns.push_back(Conn{connectLoopback(port), 0, Clock::now()});
  int ep = ::epoll_create1(0);
  for (int i = 0; i < clients; ++i) {
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<uint32_t>(i);
    ::epoll_ctl(ep, EPOLL_CTL_ADD, conns[static_cast<size_t>(i)].fd, &ev);
  }
  char request[kMessage];
  std::memset(request, 'q', sizeof(request));
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(requests));
  int issued = 0;
  auto begin = Clock::now();
  for (auto& c : conns) {
    if (issued == requests) break;
    c.sent = Clock::now();
    (void)::write(c.fd, request, sizeof(request));
    ++issued;
  }
  int done = 0;
  while (done < requests) {
    struct epoll_event events[64];
    int n = ::epoll_wait(ep, events, 64, 20000);
    if (n <= 0) break;  // a stalled server ends the run
    for (int i = 0; i < n; ++i) {
      Conn& c = conns[events[i].data.u32];
      char data[4096];
      ssize_t r = ::read(c.fd, data, sizeof(data));
      if (r <= 0) continue;
      c.got += static_cast<int>(r);
      while (c.got >= kMessage) {
        c.got -= kMessage;
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - c.sent).count());
        ++done;
        if (issued < requests) {
          c.sent = Clock::now();
          (void)::write(c.fd, request, sizeof(request));
          ++issued;
        }
      }
    }
  }
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  ::close(ep);
  for (auto& c : conns) ::close(c.fd);
  RunResult result;
  result.requestsPerSecond = done / seconds;
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    result.p99Micros = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  }
  return result;
}

void report(benchmark::State& state, const std::string& name, const RunResult& r) {
  state.counters["req_per_s"] = r.requestsPerSecond;
  state.counters["p99_us"] = r.p99Micros;
  gResults[name] = r;
}

// Arguments: clients, work threads (4 is the framework's default, 32 what
// the network services configure).
void BM_Framework(benchmark::State& state) {
  int clients = static_cast<int>(state.range(0));
  int workers = static_cast<int>(state.range(1));
  SP_Server* server = startFramework(false, workers);
  RunResult r;
  for (auto _ : state) r = drive(server->listenPort(), clients, requestCount());
  server->shutdown();
  delete server;
  report(state, "framework/w" + std::to_string(workers) + "/" + std::to_string(clients), r);
}

void BM_Baseline(benchmark::State& state) {
  int clients = static_cast<int>(state.range(0));
  EchoBaseline baseline;
  RunResult r;
  for (auto _ : state) r = drive(baseline.port(), clients, requestCount());
  report(state, "baseline/" + std::to_string(clients), r);
}

// ---- TLS handshakes ----

int handshakes(int port, int count) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_security_level(ctx, 0);
  SSL_CTX_set_cipher_list(ctx, "ADH-AES128-SHA");
  int ok = 0;
  for (int i = 0; i < count; ++i) {
    int fd = connectLoopback(port);
    if (fd < 0) continue;
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_connect(ssl) == 1) ++ok;
    SSL_free(ssl);
    ::close(fd);
  }
  SSL_CTX_free(ctx);
  return ok;
}

void measureHandshakes(benchmark::State& state, int port, const std::string& name) {
  const int count = 100;
  int ok = 0;
  auto begin = Clock::now();
  for (auto _ : state) ok = handshakes(port, count);
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  RunResult r;
  r.requestsPerSecond = ok / seconds;
  state.counters["handshakes_per_s"] = r.requestsPerSecond;
  state.counters["failed"] = count - ok;
  gResults[name] = r;
}

void BM_TlsHandshakeFramework(benchmark::State& state) {
  SP_Server* server = startFramework(true, 32);
  measureHandshakes(state, server->listenPort(), "tls/framework");
  server->shutdown();
  delete server;
}

int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

void BM_TlsHandshakeOpensslServer(benchmark::State& state) {
  char dir[] = "/tmp/fwbench-XXXXXX";
  if (::mkdtemp(dir) == nullptr) {
    state.SkipWithError("no temp dir");
    return;
  }
  std::string params = std::string(dir) + "/ffdhe2048.pem";
  std::string make = "openssl genpkey -genparam -algorithm DH -pkeyopt group:ffdhe2048 -out " + params + " 2>/dev/null";
  if (std::system(make.c_str()) != 0) {
    state.SkipWithError("cannot write the DH group file");
    return;
  }
  int port = freePort();
  std::string accept = std::to_string(port);
  pid_t pid = ::fork();
  if (pid == 0) {
    int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execlp("openssl", "openssl", "s_server", "-quiet", "-nocert", "-accept", accept.c_str(), "-cipher",
             "ADH-AES128-SHA:@SECLEVEL=0", "-dhparam", params.c_str(), "-tls1_2", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until it listens.
  for (int i = 0; i < 500; ++i) {
    int fd = connectLoopback(port);
    if (fd >= 0) {
      ::close(fd);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  measureHandshakes(state, port, "tls/s_server");
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  std::remove(params.c_str());
  ::rmdir(dir);
}

BENCHMARK(BM_Baseline)->Arg(1)->Arg(32)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Framework)
    ->Args({1, 4})
    ->Args({32, 4})
    ->Args({1, 32})
    ->Args({32, 32})
    ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TlsHandshakeFramework)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TlsHandshakeOpensslServer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void printRatios() {
  std::printf("\n%-22s %14s %12s\n", "run", "per second", "p99 (us)");
  for (const auto& entry : gResults) {
    std::printf("%-22s %14.0f %12.1f\n", entry.first.c_str(), entry.second.requestsPerSecond, entry.second.p99Micros);
  }
  for (const char* workers : {"w4", "w32"}) {
    for (const char* clients : {"1", "32"}) {
      auto f = gResults.find(std::string("framework/") + workers + "/" + clients);
      auto b = gResults.find(std::string("baseline/") + clients);
      if (f != gResults.end() && b != gResults.end() && b->second.requestsPerSecond > 0) {
        std::printf("ratio framework/baseline, %s work threads, %s client(s): %.2f%s\n", workers + 1, clients,
                    f->second.requestsPerSecond / b->second.requestsPerSecond,
                    std::string(clients) == "32" ? " (goal >= 0.5)" : "");
      }
    }
  }
  auto tf = gResults.find("tls/framework");
  auto ts = gResults.find("tls/s_server");
  if (tf != gResults.end() && ts != gResults.end() && ts->second.requestsPerSecond > 0) {
    std::printf("ratio TLS handshakes framework/s_server: %.2f\n",
                tf->second.requestsPerSecond / ts->second.requestsPerSecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  sp_setLogSink(&quietSink);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printRatios();
  return 0;
}
