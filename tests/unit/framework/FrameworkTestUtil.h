// Helpers for the framework tests: a log sink that records the framework's
// lines, loopback client sockets, and small test handlers.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace fwtest {

// Records every framework log line while alive (one at a time).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::pair<int, std::string>> lines() const;
  int count(const std::string& part) const;
  bool contains(const std::string& part) const { return count(part) > 0; }
  // Priority of the first line containing `part`, -1 when none.
  int priorityOf(const std::string& part) const;
  bool waitFor(const std::string& part, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
  void clear();
  std::string dump() const;
};

// A blocking client socket connected to 127.0.0.1:port, or -1.
int connectTo(int port);
// Sends all bytes; false on failure.
bool sendAll(int fd, const std::string& data);
// Reads until `want` bytes arrived, the peer closed, or `limit` passed.
std::string readSome(int fd, size_t want, std::chrono::milliseconds limit = std::chrono::seconds(20));
// Reads until the peer closes (or `limit` passes); sets *closed.
std::string readToEnd(int fd, bool* closed, std::chrono::milliseconds limit = std::chrono::seconds(20));
// Open descriptors and threads of this process.
int openDescriptorCount();
int threadCount();
// The thread count once the framework threads of earlier tests have ended.
int quietThreadCount();

}  // namespace fwtest
