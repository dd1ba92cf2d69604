#include "tests/unit/framework/FrameworkTestUtil.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "framework/SP_Log.h"
#include "tests/support/TestSupport.h"

namespace fwtest {
namespace {

std::mutex gMutex;
std::vector<std::pair<int, std::string>> gLines;  // guarded by gMutex

void captureSink(int priority, const char* line) {
  std::lock_guard<std::mutex> lock(gMutex);
  gLines.emplace_back(priority, line);
}

int countEntries(const char* dir) {
  DIR* d = ::opendir(dir);
  if (d == nullptr) return -1;
  int n = 0;
  while (struct dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  ::closedir(d);
  return n;
}

}  // namespace

LogCapture::LogCapture() {
  clear();
  sp_setLogSink(&captureSink);
}

LogCapture::~LogCapture() { sp_setLogSink(nullptr); }

std::vector<std::pair<int, std::string>> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(gMutex);
  return gLines;
}

int LogCapture::count(const std::string& part) const {
  std::lock_guard<std::mutex> lock(gMutex);
  int n = 0;
  for (const auto& line : gLines) {
    if (line.second.find(part) != std::string::npos) ++n;
  }
  return n;
}

int LogCapture::priorityOf(const std::string& part) const {
  std::lock_guard<std::mutex> lock(gMutex);
  for (const auto& line : gLines) {
    if (line.second.find(part) != std::string::npos) return line.first;
  }
  return -1;
}

bool LogCapture::waitFor(const std::string& part, std::chrono::milliseconds limit) const {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (contains(part)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return contains(part);
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(gMutex);
  gLines.clear();
}

std::string LogCapture::dump() const {
  std::string text;
  for (const auto& line : lines()) text += std::to_string(line.first) + ": " + line.second + "\n";
  return text;
}

int connectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_in addr;
  std::memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

static std::string readUntil(int fd, size_t want, bool* closed, std::chrono::milliseconds limit) {
  std::string got;
  if (closed != nullptr) *closed = false;
  auto end = std::chrono::steady_clock::now() + limit;
  while (got.size() < want) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    struct pollfd p = {fd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r <= 0) continue;
    char data[65536];
    ssize_t n = ::recv(fd, data, sizeof(data), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (closed != nullptr) *closed = true;
      break;
    }
    got.append(data, static_cast<size_t>(n));
  }
  return got;
}

std::string readSome(int fd, size_t want, std::chrono::milliseconds limit) { return readUntil(fd, want, nullptr, limit); }

std::string readToEnd(int fd, bool* closed, std::chrono::milliseconds limit) {
  return readUntil(fd, static_cast<size_t>(-1), closed, limit);
}

int openDescriptorCount() { return countEntries("/proc/self/fd"); }

int threadCount() { return countEntries("/proc/self/task"); }

namespace {
// Threads before any test ran (a sanitizer runtime may add its own).
const int gInitialThreads = threadCount();
}  // namespace

int quietThreadCount() {
  tavik::test::waitFor([] { return threadCount() <= gInitialThreads; }, std::chrono::seconds(10));
  return threadCount();
}

}  // namespace fwtest

namespace {

// Pool and server threads are detached: let the last ones finish before the
// process exits, so leak checkers see their per-thread state released.
class ThreadDrain : public ::testing::Environment {
 public:
  void TearDown() override {
    fwtest::quietThreadCount();
  }
};

const ::testing::Environment* const gThreadDrain = ::testing::AddGlobalTestEnvironment(new ThreadDrain());

}  // namespace
