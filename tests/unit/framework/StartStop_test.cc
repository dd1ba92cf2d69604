// Starting and stopping servers repeatedly in one process: each stop from
// another thread ends the loop promptly and leaves no descriptor, thread or
// session behind, also when clients are still connected.
#include <gtest/gtest.h>
#include <unistd.h>

#include "framework/SP_OpensslChannel.h"
#include "framework/SP_Server.h"
#include "tests/support/TestSupport.h"
#include "tests/unit/framework/FrameworkTestUtil.h"
#include "tests/unit/framework/TestHandlers.h"

namespace {

using tavik::test::waitFor;

TEST(StartStopTest, HundredCyclesLeaveNothingBehind) {
  fwtest::LogCapture logs;
  // Warm-up cycle: libraries set up their one-time state.
  int threads = fwtest::quietThreadCount();
  { fwtest::TestServer warm(fwtest::Behaviour{}); }
  ASSERT_TRUE(waitFor([&] { return fwtest::threadCount() <= threads; }));
  int fds = fwtest::openDescriptorCount();
  for (int cycle = 0; cycle < 100; ++cycle) {
    auto recorder = std::make_shared<fwtest::Recorder>();
    SP_Server* server = new SP_Server("127.0.0.1", 0, new fwtest::TestFactory(recorder, fwtest::Behaviour{}));
    server->setWorkerCount(4);
    ASSERT_EQ(0, server->run());
    ASSERT_TRUE(waitFor([&] { return server->listenPort() != 0; })) << "cycle " << cycle;
    int client = fwtest::connectTo(server->listenPort());
    ASSERT_GE(client, 0);
    ASSERT_TRUE(fwtest::sendAll(client, "ping"));
    ASSERT_EQ("ping", fwtest::readSome(client, 4));
    int idle = -1;
    if (cycle % 2 == 0) idle = fwtest::connectTo(server->listenPort());  // still open at the stop
    // Stop from this thread while the loop waits for events.
    std::thread stopper([server] { server->requestStop(); });
    stopper.join();
    ASSERT_TRUE(server->waitStopped(20000)) << "cycle " << cycle;
    delete server;
    // Every handler got its close, also those of sessions still open (or
    // not yet started) at the stop.
    EXPECT_EQ(recorder->count("created"), recorder->count("close")) << "cycle " << cycle;
    ::close(client);
    if (idle >= 0) ::close(idle);
  }
  EXPECT_TRUE(waitFor([&] { return fwtest::threadCount() <= threads; })) << fwtest::threadCount();
  EXPECT_EQ(fds, fwtest::openDescriptorCount());
  EXPECT_EQ(101, logs.count("Server is shutdown."));  // with the warm-up
}

TEST(StartStopTest, TlsServerStopsWithAHandshakeInProgress) {
  fwtest::LogCapture logs;
  int threads = fwtest::quietThreadCount();
  int fds = fwtest::openDescriptorCount();
  for (int cycle = 0; cycle < 5; ++cycle) {
    auto recorder = std::make_shared<fwtest::Recorder>();
    SP_Server* server = new SP_Server("127.0.0.1", 0, new fwtest::TestFactory(recorder, fwtest::Behaviour{}));
    SP_OpensslChannelFactory* tls = new SP_OpensslChannelFactory();
    ASSERT_EQ(0, tls->setUp());
    server->setChannelFactory(tls);
    ASSERT_EQ(0, server->run());
    ASSERT_TRUE(waitFor([&] { return server->listenPort() != 0; }));
    // A client that connects and never speaks keeps a worker in the
    // handshake; the stop must not wait for the session time-out.
    int silent = fwtest::connectTo(server->listenPort());
    ASSERT_GE(silent, 0);
    ASSERT_TRUE(logs.waitFor("Listen on port"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server->requestStop();
    ASSERT_TRUE(server->waitStopped(20000));
    delete server;
    ::close(silent);
  }
  EXPECT_TRUE(waitFor([&] { return fwtest::threadCount() <= threads; }));
  EXPECT_EQ(fds, fwtest::openDescriptorCount());
}

TEST(StartStopTest, StopBeforeAnyEventAndDeleteWhileRunning) {
  fwtest::LogCapture logs;
  auto recorder = std::make_shared<fwtest::Recorder>();
  SP_Server* server = new SP_Server("127.0.0.1", 0, new fwtest::TestFactory(recorder, fwtest::Behaviour{}));
  ASSERT_EQ(0, server->run());
  EXPECT_TRUE(server->isLoopRunning());
  ASSERT_TRUE(waitFor([&] { return server->listenPort() != 0; }));
  delete server;  // stops and waits instead of pulling the object from under the loop
  EXPECT_TRUE(logs.contains("Server is shutdown."));
}

}  // namespace
