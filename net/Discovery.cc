#include "net/Discovery.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "net/TvnpPacket.h"
#include "printer/PrinterPort.h"
#include "server/Logger.h"

namespace tavik {
namespace {

constexpr size_t kMaxWord = 31;
constexpr int kIdlePollMs = 50;

bool parseType(const std::string& word, int* out) {
  if (word.empty() || word.size() > kMaxWord) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(word.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = int(v);
  return true;
}

// Owns the responder's socket.
class UdpSocket {
 public:
  UdpSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~UdpSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string lookupQueryText(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t off = 0; off + 2 <= size; off += 2) {
    uint16_t unit = tvnp::loadU16(data + off);
    if (unit == 0) break;
    text.push_back(char(uint8_t(unit)));
  }
  return text;
}

LookupOutcome lookupAnswer(const std::string& query, const LookupFacts& facts, std::string* answer,
                           std::string* requester) {
  if (query.size() < 4 || query.compare(0, 4, "TVNP") != 0) return LookupOutcome::kIgnored;
  std::istringstream in(query);
  std::string first, typeWord, who;
  in >> first >> typeWord >> who;
  int type = 0;
  if (!parseType(typeWord, &type)) return LookupOutcome::kIgnored;
  if (who.size() > kMaxWord) who.resize(kMaxWord);
  *requester = who;

  int port = 0, tls = 0;
  switch (type) {
    case 0:
      port = 11111;
      tls = 1;
      break;
    case 1:
      if (facts.config.net_sdk == 0) return LookupOutcome::kNoAnswer;
      port = facts.config.sdk_port;
      tls = facts.config.sdk_ssl;
      break;
    case 2:
      if (facts.config.net_spool == 0) return LookupOutcome::kNoAnswer;
      port = facts.config.spool_port;
      tls = 0;
      break;
    default:
      return LookupOutcome::kNoAnswer;
  }
  std::string printer = facts.printerId;
  if (facts.productId == 0 || printer.empty()) printer = "OFFLINE";
  char text[256];
  std::snprintf(text, sizeof text, "%s %d %s %s %d %d %d", "TVNP2.0", facts.productId,
                printer.c_str(), facts.address.c_str(), port, tls, 1);
  *answer = text;
  return LookupOutcome::kAnswer;
}

bool interfaceAddress(const char* name, std::string* address) {
  UdpSocket s;
  if (s.fd() < 0) return false;
  alignas(ifreq) char buffer[512];
  ifconf conf{};
  conf.ifc_len = sizeof buffer;
  conf.ifc_buf = buffer;
  if (::ioctl(s.fd(), SIOCGIFCONF, &conf) < 0) return false;
  address->clear();
  size_t entries = size_t(conf.ifc_len) / sizeof(ifreq);
  const ifreq* req = reinterpret_cast<const ifreq*>(buffer);
  for (size_t i = 0; i < entries; ++i) {
    char ifName[IFNAMSIZ + 1] = {};
    std::memcpy(ifName, req[i].ifr_name, IFNAMSIZ);
    if (std::strcmp(ifName, name) != 0 || req[i].ifr_addr.sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(&req[i].ifr_addr);
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    *address = text;
    break;
  }
  return true;
}

void runLookup(PrinterPort& port, Logger& logger, const ServiceConfig& config,
               const std::atomic<int>& run, uint16_t udpPort, std::atomic<int>* ready) {
  auto setReady = [&](int v) {
    if (ready != nullptr) ready->store(v);
  };
  UdpSocket sock;
  if (sock.fd() < 0) {
    logger.log(3, "NetAdmin Lookup sockfd error\n");
    return setReady(-1);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(udpPort);
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(sock.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    logger.log(3, "NetAdmin Lookup bind error\n");
    return setReady(-1);
  }
  LookupFacts facts;
  facts.config = config;
  // The address is read once: a changed address takes effect at the next
  // start, as every network setting does.
  if (!interfaceAddress("eth0", &facts.address)) {
    logger.log(3, "NetAdmin Lookup SIOCGIFCONF error\n");
    return setReady(-1);
  }
  setReady(1);

  while (run.load() != 0) {
    pollfd p{sock.fd(), POLLIN, 0};
    if (::poll(&p, 1, kIdlePollMs) <= 0) continue;
    uint8_t datagram[kLookupDatagram];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = ::recvfrom(sock.fd(), datagram, sizeof datagram, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n <= 0) continue;
    std::string query = lookupQueryText(datagram, size_t(n));
    if (query.size() < 4 || query.compare(0, 4, "TVNP") != 0) continue;  // before asking the port

    char printerId[PrinterPort::kPrinterIdSize] = {};
    port.productId(&facts.productId);
    port.printerId(printerId);
    printerId[sizeof printerId - 1] = '\0';
    facts.printerId = printerId;

    std::string answer, requester;
    LookupOutcome outcome = lookupAnswer(query, facts, &answer, &requester);
    if (outcome == LookupOutcome::kIgnored) continue;
    logger.log(0, "[00000000][%15s] NETWORK_LOOKUP(%s)", requester.c_str(), query.c_str());
    if (outcome != LookupOutcome::kAnswer) continue;
    std::vector<uint8_t> wire = tvnp::encodeText(answer);
    ::sendto(sock.fd(), wire.data(), wire.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  }
}

}  // namespace tavik
