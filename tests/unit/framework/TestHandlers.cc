#include "tests/unit/framework/TestHandlers.h"

#include "framework/SP_Buffer.h"
#include "framework/SP_MsgDecoder.h"
#include "framework/SP_OutMessage.h"
#include "framework/SP_RequestContext.h"
#include "tests/support/TestSupport.h"

namespace fwtest {

void Recorder::add(const std::string& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(event);
  cond_.notify_all();
}

std::vector<std::string> Recorder::events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

int Recorder::count(const std::string& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const auto& e : events_) {
    if (e == event) ++n;
  }
  return n;
}

bool Recorder::waitCount(const std::string& event, int n, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    int have = 0;
    for (const auto& e : events_) {
      if (e == event) ++have;
    }
    if (have >= n) return true;
    if (cond_.wait_until(lock, end) == std::cv_status::timeout) return false;
  }
}

namespace {

class TestHandler : public SP_Handler {
 public:
  TestHandler(std::shared_ptr<Recorder> recorder, const Behaviour& behaviour)
      : recorder_(std::move(recorder)), behaviour_(behaviour) {}

  int start(SP_RequestContext* request, SP_HandlerOutput* output) override {
    SP_SessionId id = output->senderId();
    recorder_->add("start");
    recorder_->add("id:" + std::to_string(id.mKey) + "." + std::to_string(id.mSeq));
    recorder_->add(std::string("peer:") + request->clientAddress());
    if (!behaviour_.greeting.empty()) output->replyMessage()->content()->append(behaviour_.greeting.c_str(), 0);
    return behaviour_.startResult;
  }

  int handle(SP_RequestContext* request, SP_HandlerOutput* output) override {
    SP_Buffer* message = static_cast<SP_DefaultMsgDecoder*>(request->decoder())->getMsg();
    std::string text(message->bytes(), static_cast<size_t>(message->size()));
    recorder_->add("handle:" + text);
    if (behaviour_.onHandle) return behaviour_.onHandle(text, output);
    output->replyMessage()->content()->append(text.data(), static_cast<int>(text.size()));
    return 0;
  }

  void error(SP_HandlerOutput*) override { recorder_->add("error"); }
  void timeout(SP_HandlerOutput*) override { recorder_->add("timeout"); }
  void close() override { recorder_->add("close"); }

 private:
  std::shared_ptr<Recorder> recorder_;
  const Behaviour& behaviour_;
};

}  // namespace

SP_Handler* TestFactory::newHandler() {
  recorder_->add("created");
  return new TestHandler(recorder_, behaviour_);
}

TestServer::TestServer(Behaviour behaviour, const std::function<void(SP_Server*)>& configure)
    : recorder_(std::make_shared<Recorder>()),
      server_(std::make_unique<SP_Server>("127.0.0.1", 0, new TestFactory(recorder_, std::move(behaviour)))) {
  if (configure) configure(server_.get());
  if (server_->run() != 0) return;
  tavik::test::waitFor([this] { return server_->listenPort() != 0 || !server_->isLoopRunning(); },
                       std::chrono::seconds(20));
  port_ = server_->listenPort();
}

TestServer::~TestServer() {
  server_->requestStop();
  server_->waitStopped(-1);
  server_.reset();
}

}  // namespace fwtest
