// Library for device simulators: serves a device node that is a Unix-domain
// socket over the device-socket protocol, and a line-based control socket
// for tests. Public face of sim/ for simulator writers.
//
// A simulator supplies a DeviceModel that opens files; each open file is an
// OpenDevice. The server keeps an open file alive while any connection is
// attached to it and destroys it when the last one closes. Each connection
// has its own thread, so one caller blocking in poll never delays another.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tavik::sim {

// Accepts connections on a Unix-domain socket and serves each on its own
// thread with the given function, which owns the descriptor until it
// returns (the acceptor closes it then). stop() cuts every connection and
// joins all threads. Shared by the device and control servers.
class SocketAcceptor {
 public:
  using Serve = std::function<void(int fd)>;
  SocketAcceptor(std::string hostSocketPath, Serve serve);
  ~SocketAcceptor();
  SocketAcceptor(const SocketAcceptor&) = delete;
  SocketAcceptor& operator=(const SocketAcceptor&) = delete;

  // Binds (replacing a stale node) and starts accepting; false with errno.
  bool start();
  // Stops accepting, cuts every connection, joins all threads, removes the node.
  void stop();
  const std::string& path() const { return path_; }

 private:
  void acceptLoop();

  std::string path_;
  Serve serve_;
  int listenFd_ = -1;
  std::atomic<bool> running_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::set<int> connections_;         // guarded by mutex_
  std::vector<std::thread> threads_;  // guarded by mutex_
};

// One open file of a simulated device. Every operation returns the system
// call's result; on -1 it sets *error to an errno value. The defaults fail
// the way a driver without the operation would.
class OpenDevice {
 public:
  virtual ~OpenDevice() = default;

  // `buffer` holds the caller's buffer before the call (its whole size) and
  // is sent back after it.
  virtual int64_t ioctl(uint32_t request, std::vector<uint8_t>* buffer, int* error);
  virtual int64_t read(uint32_t maxBytes, std::vector<uint8_t>* out, int* error);
  virtual int64_t write(const std::vector<uint8_t>& data, int* error);
  virtual int64_t seek(int64_t offset, int whence, int* error);
  // Answers as soon as one of `events` holds or the time-out has passed
  // (returning 0); a negative time-out waits without limit.
  virtual int64_t poll(uint32_t events, int32_t timeoutMs, int* error);
};

class DeviceModel {
 public:
  virtual ~DeviceModel() = default;
  // Opens the device with open(2) flags; nullptr with *error set refuses it
  // (ENODEV for an unplugged printer).
  virtual std::shared_ptr<OpenDevice> open(uint32_t flags, int* error) = 0;
};

// Serves one device node. Borrows the model, which must outlive the server.
class DeviceServer {
 public:
  DeviceServer(std::string hostSocketPath, DeviceModel& model);
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  // Binds the socket (replacing a stale one) and starts accepting.
  // Returns false with errno when the socket cannot be set up.
  bool start() { return acceptor_.start(); }
  // Stops accepting, cuts every connection, joins all threads, removes the node.
  void stop() { acceptor_.stop(); }

  const std::string& path() const { return acceptor_.path(); }

 private:
  void serve(int fd);
  std::shared_ptr<OpenDevice> lookup(uint32_t handle);

  DeviceModel& model_;
  std::mutex mutex_;
  std::map<uint32_t, std::weak_ptr<OpenDevice>> files_;  // guarded by mutex_
  uint32_t nextHandle_ = 1;                               // guarded by mutex_
  SocketAcceptor acceptor_;  // last: its threads use the members above
};

// Line-based control socket ($TAVIK_ROOT/sim/NAME.ctl). Each request line
// gets the handler's answer, which the server ends with a line feed.
class ControlServer {
 public:
  using Handler = std::function<std::string(const std::string& line)>;
  ControlServer(std::string hostSocketPath, Handler handler);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  bool start() { return acceptor_.start(); }
  void stop() { acceptor_.stop(); }

 private:
  void serve(int fd);

  Handler handler_;
  SocketAcceptor acceptor_;  // last: its threads use the handler
};

// Client side for tests and tools: sends one line, returns the answer line
// without its line feed ("" with errno set when the simulator is not there).
std::string controlRequest(const std::string& hostSocketPath, const std::string& line);

// Binds and listens on a Unix-domain stream socket, removing a stale node
// first. Returns the descriptor or -1.
int listenUnixSocket(const std::string& hostPath);

}  // namespace tavik::sim
