#include "sim/DeviceServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/DeviceProtocol.h"

namespace tavik::sim {

using platform::DeviceOp;
using platform::DeviceReply;
using platform::DeviceRequest;

int64_t OpenDevice::ioctl(uint32_t, std::vector<uint8_t>*, int* error) {
  *error = ENOTTY;
  return -1;
}
int64_t OpenDevice::read(uint32_t, std::vector<uint8_t>*, int* error) {
  *error = EINVAL;
  return -1;
}
int64_t OpenDevice::write(const std::vector<uint8_t>&, int* error) {
  *error = EINVAL;
  return -1;
}
int64_t OpenDevice::seek(int64_t, int, int* error) {
  *error = ESPIPE;
  return -1;
}
int64_t OpenDevice::poll(uint32_t events, int32_t, int*) {
  return events & (POLLIN | POLLOUT);
}

int listenUnixSocket(const std::string& hostPath) {
  sockaddr_un addr{};
  if (hostPath.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, hostPath.c_str(), hostPath.size() + 1);
  ::unlink(hostPath.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

namespace {

// Waits for a connection on a listening socket, waking every 100 ms to
// look at `running`. Returns the new descriptor or -1 when stopping.
int acceptWhileRunning(int listenFd, const std::atomic<bool>& running) {
  while (running.load()) {
    pollfd p{listenFd, POLLIN, 0};
    int r = ::poll(&p, 1, 100);
    if (r <= 0) continue;
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return fd;
  }
  return -1;
}

void putU32(std::vector<uint8_t>* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

uint64_t getLE(const std::vector<uint8_t>& v, size_t n) {
  uint64_t x = 0;
  for (size_t i = 0; i < n && i < v.size(); ++i) x |= static_cast<uint64_t>(v[i]) << (8 * i);
  return x;
}

}  // namespace

SocketAcceptor::SocketAcceptor(std::string hostSocketPath, Serve serve)
    : path_(std::move(hostSocketPath)), serve_(std::move(serve)) {}

SocketAcceptor::~SocketAcceptor() { stop(); }

bool SocketAcceptor::start() {
  if (running_.load()) return true;
  listenFd_ = listenUnixSocket(path_);
  if (listenFd_ < 0) return false;
  running_ = true;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

void SocketAcceptor::stop() {
  if (!running_.exchange(false)) return;
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
  listenFd_ = -1;
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
  ::unlink(path_.c_str());
}

void SocketAcceptor::acceptLoop() {
  for (;;) {
    int fd = acceptWhileRunning(listenFd_, running_);
    if (fd < 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.insert(fd);
    threads_.emplace_back([this, fd] {
      serve_(fd);
      std::lock_guard<std::mutex> done(mutex_);
      connections_.erase(fd);
      ::close(fd);
    });
  }
}

DeviceServer::DeviceServer(std::string hostSocketPath, DeviceModel& model)
    : model_(model), acceptor_(std::move(hostSocketPath), [this](int fd) { serve(fd); }) {}

DeviceServer::~DeviceServer() { stop(); }

std::shared_ptr<OpenDevice> DeviceServer::lookup(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(handle);
  return it == files_.end() ? nullptr : it->second.lock();
}

void DeviceServer::serve(int fd) {
  std::shared_ptr<OpenDevice> file;  // the open file this connection uses
  DeviceRequest request;
  while (platform::receiveDeviceRequest(fd, &request)) {
    DeviceReply reply;
    int error = 0;
    auto op = static_cast<DeviceOp>(request.op);
    if (!file && op != DeviceOp::kOpen && op != DeviceOp::kAttach) {
      reply.result = -1;
      error = EBADF;
    } else {
      switch (op) {
        case DeviceOp::kOpen: {
          file = model_.open(request.arg, &error);
          if (!file) {
            reply.result = -1;
            break;
          }
          std::lock_guard<std::mutex> lock(mutex_);
          uint32_t handle = nextHandle_++;
          files_[handle] = file;
          putU32(&reply.data, handle);
          break;
        }
        case DeviceOp::kAttach:
          file = lookup(request.arg);
          if (!file) {
            reply.result = -1;
            error = EBADF;
          }
          break;
        case DeviceOp::kIoctl:
          reply.data = request.data;
          reply.result = file->ioctl(request.arg, &reply.data, &error);
          reply.data.resize(request.data.size());
          break;
        case DeviceOp::kRead:
          reply.result = file->read(request.arg, &reply.data, &error);
          if (reply.data.size() > request.arg) reply.data.resize(request.arg);
          break;
        case DeviceOp::kWrite:
          reply.result = file->write(request.data, &error);
          break;
        case DeviceOp::kSeek:
          reply.result = file->seek(static_cast<int64_t>(getLE(request.data, 8)),
                                    static_cast<int>(request.arg), &error);
          break;
        case DeviceOp::kPoll:
          reply.result = file->poll(request.arg,
                                    static_cast<int32_t>(getLE(request.data, 4)), &error);
          break;
        default:
          reply.result = -1;
          error = EINVAL;
          break;
      }
    }
    reply.error = reply.result == -1 ? (error != 0 ? error : EIO) : 0;
    if (!platform::sendDeviceReply(fd, reply)) break;
  }
  file.reset();  // the last connection of an open file closes it
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = files_.begin(); it != files_.end();) {
    it = it->second.expired() ? files_.erase(it) : std::next(it);
  }
}

ControlServer::ControlServer(std::string hostSocketPath, Handler handler)
    : handler_(std::move(handler)),
      acceptor_(std::move(hostSocketPath), [this](int fd) { serve(fd); }) {}

ControlServer::~ControlServer() { stop(); }

void ControlServer::serve(int fd) {
  std::string pending;
  char chunk[512];
  for (;;) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    pending.append(chunk, static_cast<size_t>(n));
    if (pending.size() > 65536) break;  // no line is that long: a broken client
    size_t eol;
    bool ok = true;
    while (ok && (eol = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string answer = handler_(line) + "\n";
      ok = ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(answer.size());
    }
    if (!ok) break;
  }
}

std::string controlRequest(const std::string& hostSocketPath, const std::string& line) {
  int fd = platform::connectUnixSocket(hostSocketPath);
  if (fd < 0) return {};
  std::string out = line + "\n";
  std::string answer;
  if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size())) {
    char c;
    while (::recv(fd, &c, 1, 0) == 1 && c != '\n') answer += c;
  }
  ::close(fd);
  return answer;
}

}  // namespace tavik::sim
