#include "tools/client/Discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "net/TvnpPacket.h"

namespace tavik::client {

std::vector<uint8_t> buildDiscoveryQuery(int type, const std::string& requester) {
  return tvnp::encodeText("TVNP2.0 " + std::to_string(type) + " " + requester + " 0");
}

namespace {

bool toInt(const std::string& s, int* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = int(v);
  return true;
}

}  // namespace

bool parseDiscoveryAnswer(const uint8_t* data, size_t size, DiscoveryAnswer* out) {
  std::string text;
  if (!tvnp::decodeText(data, size, &text)) return false;
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.size() < 7 || words[0].rfind("TVNP", 0) != 0) return false;
  DiscoveryAnswer a;
  a.protocol = words[0];
  size_t n = words.size();
  if (!toInt(words[1], &a.productId) || !toInt(words[n - 3], &a.port) ||
      !toInt(words[n - 2], &a.tls) || !toInt(words[n - 1], &a.available))
    return false;
  a.address = words[n - 4];
  for (size_t i = 2; i < n - 4; ++i) {
    if (i > 2) a.printerId += ' ';
    a.printerId += words[i];
  }
  *out = a;
  return true;
}

int discover(const std::string& target, int type, int timeoutMs, std::vector<DiscoveryAnswer>* out,
             std::string* error, const std::string& requester, int maxAnswers) {
  auto failWith = [&](const std::string& e) {
    if (error) *error = e + ": " + strerror(errno);
    return -1;
  };
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return failWith("socket");
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDiscoveryPort);
  if (::inet_aton(target.c_str(), &to.sin_addr) == 0) {
    ::close(fd);
    errno = EINVAL;
    return failWith("bad address " + target);
  }
  std::vector<uint8_t> query = buildDiscoveryQuery(type, requester);
  if (::sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return failWith("sendto " + target);
  }
  int found = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                       .count());
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, left) <= 0) continue;
    uint8_t buf[1024];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n <= 0) continue;
    DiscoveryAnswer a;
    if (!parseDiscoveryAnswer(buf, size_t(n), &a)) continue;
    char addr[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
    a.from = addr;
    out->push_back(a);
    ++found;
    if (maxAnswers > 0 && found >= maxAnswers) break;
  }
  ::close(fd);
  return found;
}

}  // namespace tavik::client
