#include "tools/client/TvnpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tavik::client {

uint32_t Reply::result() const {
  uint32_t v = 0xFFFFFFFF;
  u32(0, &v);
  return v;
}

bool Reply::u32(size_t i, uint32_t* out) const {
  if (i >= args.size() || args[i].size() < 4) return false;
  *out = tvnp::loadU32(args[i].data());
  return true;
}

bool Reply::text(size_t i, std::string* out) const {
  if (i >= args.size()) return false;
  return tvnp::decodeText(args[i].data(), args[i].size(), out);
}

TvnpConnection::TvnpConnection() = default;

TvnpConnection::~TvnpConnection() { close(); }

int TvnpConnection::fail(const std::string& what) {
  error_ = what;
  return -1;
}

void TvnpConnection::close() {
  if (ssl_ != nullptr) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (ctx_ != nullptr) {
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

int TvnpConnection::waitFd(short events, int timeoutMs) {
  pollfd p{fd_, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

int TvnpConnection::connect(const std::string& host, uint16_t port, bool tls, int timeoutMs) {
  close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || res == nullptr)
    return fail("cannot resolve " + host);
  sockaddr_in addr = *reinterpret_cast<sockaddr_in*>(res->ai_addr);
  ::freeaddrinfo(res);
  addr.sin_port = htons(port);

  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail(std::string("socket: ") + strerror(errno));
  int flags = ::fcntl(fd_, F_GETFL);
  ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    if (errno != EINPROGRESS) {
      int e = errno;
      close();
      return fail(std::string("connect: ") + strerror(e));
    }
    if (waitFd(POLLOUT, timeoutMs) <= 0) {
      close();
      return fail("connect: timed out");
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      close();
      return fail(std::string("connect: ") + strerror(err));
    }
  }
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (!tls) return 0;

  // The module offers only the anonymous suite, which needs security level 0
  // and a protocol version below TLS 1.3.
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (ctx_ == nullptr) {
    close();
    return fail("TLS context");
  }
  SSL_CTX_set_security_level(ctx_, 0);
  SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION);
  SSL_CTX_set_max_proto_version(ctx_, TLS1_2_VERSION);
  if (SSL_CTX_set_cipher_list(ctx_, "ADH-AES128-SHA:@SECLEVEL=0") != 1) {
    close();
    return fail("TLS cipher ADH-AES128-SHA unavailable");
  }
  ssl_ = SSL_new(ctx_);
  SSL_set_fd(ssl_, fd_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int r = SSL_connect(ssl_);
    if (r == 1) return 0;
    int e = SSL_get_error(ssl_, r);
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                       .count());
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && left > 0 &&
        waitFd(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, left) > 0)
      continue;
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    close();
    return fail(std::string("TLS handshake failed ") + text);
  }
}

int TvnpConnection::sendAll(const uint8_t* data, size_t size,
                            const std::function<void(size_t, size_t)>& progress) {
  if (fd_ < 0) return fail("not connected");
  size_t sent = 0;
  size_t lastReport = 0;
  while (sent < size) {
    size_t piece = std::min<size_t>(size - sent, 65536);
    ssize_t n;
    if (ssl_ != nullptr) {
      int r = SSL_write(ssl_, data + sent, int(piece));
      if (r <= 0) {
        int e = SSL_get_error(ssl_, r);
        if ((e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) &&
            waitFd(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, receiveTimeoutMs_) > 0)
          continue;
        return fail("TLS write failed");
      }
      n = r;
    } else {
      n = ::send(fd_, data + sent, piece, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN && waitFd(POLLOUT, receiveTimeoutMs_) > 0) continue;
        return fail(std::string("send: ") + strerror(errno));
      }
    }
    sent += size_t(n);
    if (progress && (sent - lastReport >= 262144 || sent == size)) {
      lastReport = sent;
      progress(sent, size);
    }
  }
  return 0;
}

// Returns bytes read, 0 at the end of the stream, -1 on error or time-out.
int TvnpConnection::readSome(uint8_t* data, size_t size, int timeoutMs) {
  if (fd_ < 0) return fail("not connected");
  for (;;) {
    if (ssl_ != nullptr) {
      int r = SSL_read(ssl_, data, int(size));
      if (r > 0) return r;
      int e = SSL_get_error(ssl_, r);
      if (e == SSL_ERROR_ZERO_RETURN) return 0;
      if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        int w = waitFd(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, timeoutMs);
        if (w <= 0) return fail("timed out waiting for the module");
        continue;
      }
      if (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return 0;  // closed without notify
      return fail("TLS read failed");
    }
    ssize_t n = ::recv(fd_, data, size, 0);
    if (n >= 0) return int(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      if (waitFd(POLLIN, timeoutMs) <= 0) return fail("timed out waiting for the module");
      continue;
    }
    if (errno == ECONNRESET) return 0;
    return fail(std::string("recv: ") + strerror(errno));
  }
}

int TvnpConnection::readExact(uint8_t* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    int n = readSome(data + got, size - got, receiveTimeoutMs_);
    if (n < 0) return -1;
    if (n == 0) return fail("connection closed by the module");
    got += size_t(n);
  }
  return 0;
}

int TvnpConnection::readReply(Reply* reply) {
  uint8_t head[tvnp::kHeaderSize];
  if (readExact(head, sizeof head) < 0) return -1;
  tvnp::Header h;
  if (!tvnp::parseHeader(head, sizeof head, &h)) return fail("reply is not a TVNP packet");
  // Replies carry 1 to 4 arguments; allow some room but never trust a
  // count that would make us allocate without bound.
  if (h.count > tvnp::kMaxRequestArgs) return fail("reply with too many arguments");
  std::vector<uint8_t> lengths(4 * h.count);
  if (!lengths.empty() && readExact(lengths.data(), lengths.size()) < 0) return -1;
  uint64_t total = tvnp::kHeaderSize + lengths.size();
  std::vector<uint32_t> lens(h.count);
  for (uint32_t i = 0; i < h.count; ++i) {
    lens[i] = tvnp::loadU32(lengths.data() + 4 * i);
    total += lens[i];
  }
  if (total > tvnp::kMaxPacketSize) return fail("reply larger than a packet may be");
  Reply r;
  r.header = h;
  for (uint32_t len : lens) {
    std::vector<uint8_t> a(len);
    if (len > 0 && readExact(a.data(), len) < 0) return -1;
    r.args.push_back(std::move(a));
  }
  *reply = std::move(r);
  return 0;
}

int TvnpConnection::request(uint16_t command, const std::vector<std::vector<uint8_t>>& args,
                            Reply* reply) {
  return request(command, args, reply, nextSequence_++);
}

int TvnpConnection::request(uint16_t command, const std::vector<std::vector<uint8_t>>& args,
                            Reply* reply, uint32_t sequence) {
  tvnp::Header h;
  h.sequence = sequence;
  h.command = command;
  h.flags = tvnp::kFlagRequest;
  std::vector<uint8_t> packet = tvnp::buildPacket(h, args);
  if (packet.empty()) return fail("request larger than a packet may be");
  if (sendAll(packet) < 0) return -1;
  if (readReply(reply) < 0) return -1;
  if (reply->header.sequence != sequence || reply->header.command != command)
    return fail("reply does not match the request");
  return 0;
}

int TvnpConnection::rawCommand(const std::vector<uint8_t>& command, std::vector<uint8_t>* answer) {
  std::vector<uint8_t> frame = tvnp::buildRawFrame('C', 'C', 0, 0, command.data(), command.size());
  if (frame.empty()) return fail("command too long");
  if (sendAll(frame) < 0) return -1;
  uint8_t head[tvnp::kRawHeaderSize];
  if (readExact(head, sizeof head) < 0) return -1;
  uint32_t len = 0;
  if (!tvnp::rawHeaderValid(head, 'C', 'C', &len) || len > tvnp::kRawHeaderSize + tvnp::kMaxRawAnswer)
    return fail("malformed raw command answer");
  answer->assign(len - tvnp::kRawHeaderSize, 0);
  if (!answer->empty() && readExact(answer->data(), answer->size()) < 0) return -1;
  return 0;
}

void TvnpConnection::finishSending() {
  if (fd_ < 0) return;
  if (ssl_ != nullptr) SSL_shutdown(ssl_);
  ::shutdown(fd_, SHUT_WR);
}

bool TvnpConnection::waitClosed(int timeoutMs, size_t* extra) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t buf[4096];
  size_t count = 0;
  for (;;) {
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                       .count());
    if (left <= 0) break;
    int n = readSome(buf, sizeof buf, left);
    if (n == 0) {
      if (extra) *extra = count;
      return true;
    }
    if (n < 0) {
      // A reset or failed read also means the module dropped us, unless
      // it was our own time-out.
      if (error_.find("timed out") == std::string::npos) {
        if (extra) *extra = count;
        return true;
      }
      break;
    }
    count += size_t(n);
  }
  if (extra) *extra = count;
  return false;
}

}  // namespace tavik::client
