#include "platform/DeviceFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/DeviceProtocol.h"
#include "platform/Paths.h"

namespace tavik::platform {

DeviceFile::~DeviceFile() { close(); }

int DeviceFile::open(const std::string& modulePath, int flags) {
  close();
  std::string path = hostPath(modulePath);
  struct stat st{};
  bool isSocket = ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);

  std::lock_guard<std::mutex> lock(mutex_);
  flags_ = flags;
  if (!isSocket) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return -1;
    fd_ = fd;
    transport_ = Transport::kDescriptor;
    return 0;
  }
  int fd = connectUnixSocket(path);
  if (fd < 0) return -1;
  fd_ = fd;
  transport_ = Transport::kSocket;
  uint8_t handle[4] = {};
  size_t got = 0;
  int64_t r = exchange(static_cast<uint32_t>(DeviceOp::kOpen), static_cast<uint32_t>(flags),
                       nullptr, 0, handle, sizeof handle, &got);
  if (r < 0 || got != sizeof handle) {
    int saved = r < 0 ? errno : EIO;
    ::close(fd_);
    fd_ = -1;
    transport_ = Transport::kNone;
    errno = saved;
    return -1;
  }
  handle_ = static_cast<uint32_t>(handle[0]) | static_cast<uint32_t>(handle[1]) << 8 |
            static_cast<uint32_t>(handle[2]) << 16 | static_cast<uint32_t>(handle[3]) << 24;
  return 0;
}

int DeviceFile::attach(const DeviceFile& other) {
  close();
  Transport transport;
  int otherFd;
  uint32_t handle;
  int flags;
  {
    std::lock_guard<std::mutex> lock(other.mutex_);
    transport = other.transport_;
    otherFd = other.fd_;
    handle = other.handle_;
    flags = other.flags_;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport == Transport::kNone) {
    errno = EBADF;
    return -1;
  }
  if (transport == Transport::kDescriptor) {
    int fd = ::fcntl(otherFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return -1;
    fd_ = fd;
    transport_ = transport;
    flags_ = flags;
    return 0;
  }
  // A second connection to the simulator, joined to the same open file.
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  if (::getpeername(otherFd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), len) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  fd_ = fd;
  transport_ = Transport::kSocket;
  handle_ = handle;
  flags_ = flags;
  if (exchange(static_cast<uint32_t>(DeviceOp::kAttach), handle, nullptr, 0, nullptr, 0,
               nullptr) < 0) {
    int saved = errno;
    ::close(fd_);
    fd_ = -1;
    transport_ = Transport::kNone;
    errno = saved;
    return -1;
  }
  return 0;
}

bool DeviceFile::isOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transport_ != Transport::kNone;
}

int64_t DeviceFile::exchange(uint32_t op, uint32_t arg, const void* data, size_t size,
                             void* out, size_t outSize, size_t* outLen) {
  DeviceRequest request;
  request.op = op;
  request.arg = arg;
  if (size > 0) {
    const auto* p = static_cast<const uint8_t*>(data);
    request.data.assign(p, p + size);
  }
  DeviceReply reply;
  if (!sendDeviceRequest(fd_, request) || !receiveDeviceReply(fd_, &reply)) {
    errno = EIO;
    return -1;
  }
  size_t n = std::min(reply.data.size(), outSize);
  if (n > 0) std::memcpy(out, reply.data.data(), n);
  if (outLen != nullptr) *outLen = n;
  if (reply.result < 0) errno = reply.error != 0 ? reply.error : EIO;
  return reply.result;
}

int DeviceFile::ioctl(unsigned long request, void* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport_ == Transport::kNone) {
    errno = EBADF;
    return -1;
  }
  if (transport_ == Transport::kDescriptor) {
    return size > 0 ? ::ioctl(fd_, request, buffer) : ::ioctl(fd_, request, 0);
  }
  return static_cast<int>(exchange(static_cast<uint32_t>(DeviceOp::kIoctl),
                                   static_cast<uint32_t>(request), buffer, size, buffer,
                                   size, nullptr));
}

ssize_t DeviceFile::read(void* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport_ == Transport::kNone) {
    errno = EBADF;
    return -1;
  }
  if (transport_ == Transport::kDescriptor) return ::read(fd_, buffer, size);
  uint32_t want = static_cast<uint32_t>(std::min<size_t>(size, kMaxDeviceMessage));
  return static_cast<ssize_t>(
      exchange(static_cast<uint32_t>(DeviceOp::kRead), want, nullptr, 0, buffer, size, nullptr));
}

ssize_t DeviceFile::write(const void* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport_ == Transport::kNone) {
    errno = EBADF;
    return -1;
  }
  if (transport_ == Transport::kDescriptor) return ::write(fd_, data, size);
  size = std::min<size_t>(size, kMaxDeviceMessage);
  return static_cast<ssize_t>(
      exchange(static_cast<uint32_t>(DeviceOp::kWrite), 0, data, size, nullptr, 0, nullptr));
}

off_t DeviceFile::seek(off_t offset, int whence) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport_ == Transport::kNone) {
    errno = EBADF;
    return -1;
  }
  if (transport_ == Transport::kDescriptor) return ::lseek(fd_, offset, whence);
  uint8_t raw[8];
  auto v = static_cast<uint64_t>(static_cast<int64_t>(offset));
  for (int i = 0; i < 8; ++i) raw[i] = static_cast<uint8_t>(v >> (8 * i));
  return static_cast<off_t>(exchange(static_cast<uint32_t>(DeviceOp::kSeek),
                                     static_cast<uint32_t>(whence), raw, sizeof raw, nullptr,
                                     0, nullptr));
}

int DeviceFile::poll(short events, int timeoutMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport_ == Transport::kNone) {
    errno = EBADF;
    return -1;
  }
  if (transport_ == Transport::kDescriptor) {
    pollfd p{fd_, events, 0};
    int r = ::poll(&p, 1, timeoutMs);
    return r <= 0 ? r : p.revents;
  }
  uint8_t raw[4];
  auto v = static_cast<uint32_t>(timeoutMs);
  for (int i = 0; i < 4; ++i) raw[i] = static_cast<uint8_t>(v >> (8 * i));
  return static_cast<int>(exchange(static_cast<uint32_t>(DeviceOp::kPoll),
                                   static_cast<uint16_t>(events), raw, sizeof raw, nullptr, 0,
                                   nullptr));
}

int DeviceFile::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (transport_ == Transport::kNone) return 0;
  int r = ::close(fd_);
  fd_ = -1;
  handle_ = 0;
  transport_ = Transport::kNone;
  return r;
}

}  // namespace tavik::platform
