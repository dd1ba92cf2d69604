#include "config/FlashFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavik::flash {

namespace {

// Owns one descriptor; closes it unless close() already did.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Returns close's result; a deferred write error shows up here.
  int close() {
    int r = ::close(fd_);
    fd_ = -1;
    return r;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const unsigned char* p, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string directoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes the rename itself durable. File systems that cannot sync a
// directory say EINVAL; the rename is then as durable as they make it.
bool syncDirectory(const std::string& dir) {
  Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!d.valid()) return false;
  if (::fsync(d.get()) != 0 && errno != EINVAL && errno != ENOTSUP) return false;
  return true;
}

}  // namespace

int replaceFile(const std::string& hostPath, const void* data, size_t size) {
  const std::string temp = hostPath + ".new";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid()) return -1;
  bool ok = writeAll(fd.get(), static_cast<const unsigned char*>(data), size) &&
            ::fsync(fd.get()) == 0;
  if (fd.close() != 0) ok = false;
  if (!ok || ::rename(temp.c_str(), hostPath.c_str()) != 0) {
    ::unlink(temp.c_str());
    return -1;
  }
  return syncDirectory(directoryOf(hostPath)) ? 0 : -1;
}

OpenResult readHead(const std::string& hostPath, void* data, size_t size, size_t* got) {
  *got = 0;
  Fd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    return (errno == ENOENT || errno == ENOTDIR) ? OpenResult::kMissing : OpenResult::kFailed;
  }
  auto* p = static_cast<unsigned char*>(data);
  while (*got < size) {
    ssize_t n = ::read(fd.get(), p + *got, size - *got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return OpenResult::kFailed;
    }
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return OpenResult::kOpened;
}

}  // namespace tavik::flash
