// Small handlers for the server tests: they record every call and behave
// as each test configures (echo, fixed replies, slow or ending handlers).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/SP_Handler.h"
#include "framework/SP_HandlerOutput.h"
#include "framework/SP_Server.h"

namespace fwtest {

// Calls seen by the handlers of one server, in order.
class Recorder {
 public:
  void add(const std::string& event);
  std::vector<std::string> events();
  int count(const std::string& event);
  bool waitCount(const std::string& event, int n, std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  std::vector<std::string> events_;  // guarded by mutex_
};

// What a test handler does; the defaults echo each message and go on.
struct Behaviour {
  std::string greeting;  // appended to the reply in start
  int startResult = 0;
  // Called for each message; the default appends it to the reply, returns 0.
  std::function<int(const std::string& message, SP_HandlerOutput* output)> onHandle;
};

class TestFactory : public SP_HandlerFactory {
 public:
  TestFactory(std::shared_ptr<Recorder> recorder, Behaviour behaviour)
      : recorder_(std::move(recorder)), behaviour_(std::move(behaviour)) {}
  SP_Handler* newHandler() override;

 private:
  std::shared_ptr<Recorder> recorder_;
  Behaviour behaviour_;
};

// A server on 127.0.0.1 with a free port and the test handlers; stopped
// and deleted by the destructor.
class TestServer {
 public:
  TestServer(Behaviour behaviour, const std::function<void(SP_Server*)>& configure = {});
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  bool ready() const { return port_ != 0; }
  int port() const { return port_; }
  SP_Server* server() { return server_.get(); }
  Recorder& recorder() { return *recorder_; }

 private:
  std::shared_ptr<Recorder> recorder_;
  std::unique_ptr<SP_Server> server_;
  int port_ = 0;
};

}  // namespace fwtest
