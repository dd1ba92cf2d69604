#include "platform/DeviceProtocol.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavik::platform {
namespace {

bool writeAll(int fd, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool readAll(int fd, void* data, size_t n) {
  auto* p = static_cast<uint8_t*>(data);
  while (n > 0) {
    ssize_t r = ::recv(fd, p, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t getU32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}
void putU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t getU64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

bool readData(int fd, uint32_t len, std::vector<uint8_t>* data) {
  if (len > kMaxDeviceMessage) return false;
  data->resize(len);
  return len == 0 || readAll(fd, data->data(), len);
}

}  // namespace

bool sendDeviceRequest(int fd, const DeviceRequest& request) {
  if (request.data.size() > kMaxDeviceMessage) return false;
  uint8_t head[12];
  putU32(head, request.op);
  putU32(head + 4, request.arg);
  putU32(head + 8, static_cast<uint32_t>(request.data.size()));
  return writeAll(fd, head, sizeof head) &&
         (request.data.empty() || writeAll(fd, request.data.data(), request.data.size()));
}

bool receiveDeviceRequest(int fd, DeviceRequest* request) {
  uint8_t head[12];
  if (!readAll(fd, head, sizeof head)) return false;
  request->op = getU32(head);
  request->arg = getU32(head + 4);
  return readData(fd, getU32(head + 8), &request->data);
}

bool sendDeviceReply(int fd, const DeviceReply& reply) {
  if (reply.data.size() > kMaxDeviceMessage) return false;
  uint8_t head[16];
  putU64(head, static_cast<uint64_t>(reply.result));
  putU32(head + 8, static_cast<uint32_t>(reply.error));
  putU32(head + 12, static_cast<uint32_t>(reply.data.size()));
  return writeAll(fd, head, sizeof head) &&
         (reply.data.empty() || writeAll(fd, reply.data.data(), reply.data.size()));
}

bool receiveDeviceReply(int fd, DeviceReply* reply) {
  uint8_t head[16];
  if (!readAll(fd, head, sizeof head)) return false;
  reply->result = static_cast<int64_t>(getU64(head));
  reply->error = static_cast<int32_t>(getU32(head + 8));
  return readData(fd, getU32(head + 12), &reply->data);
}

int connectUnixSocket(const std::string& hostPath) {
  sockaddr_un addr{};
  if (hostPath.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, hostPath.c_str(), hostPath.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace tavik::platform
