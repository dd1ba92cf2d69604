// The server over real loopback sockets: the order of handler calls, the
// three ways a session ends, busy refusal, session keys, large replies and
// the output writer.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <thread>

#include "framework/SP_Buffer.h"
#include "framework/SP_EventCallback.h"
#include "framework/SP_IOChannel.h"
#include "framework/SP_MsgBlock.h"
#include "framework/SP_OutMessage.h"
#include "framework/SP_Server.h"
#include "framework/SP_Session.h"
#include "tests/support/TestSupport.h"
#include "tests/unit/framework/FrameworkTestUtil.h"
#include "tests/unit/framework/TestHandlers.h"

namespace {

using fwtest::Behaviour;
using fwtest::LogCapture;
using fwtest::TestServer;
using tavik::test::waitFor;
using Events = std::vector<std::string>;

// The calls other than the id and peer records.
Events calls(fwtest::Recorder& recorder) {
  Events out;
  for (const auto& e : recorder.events()) {
    if (e.rfind("id:", 0) != 0 && e.rfind("peer:", 0) != 0 && e != "created") out.push_back(e);
  }
  return out;
}

Behaviour greeting(const std::string& text, int startResult = 0) {
  Behaviour behaviour;
  behaviour.greeting = text;
  behaviour.startResult = startResult;
  return behaviour;
}

struct ClientSocket {
  explicit ClientSocket(int port) : fd(fwtest::connectTo(port)) {}
  ~ClientSocket() { closeNow(); }
  void closeNow() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fd;
};

TEST(ServerTest, StartHandleAndPeerCloseOrder) {
  LogCapture logs;
  TestServer ts(greeting("hi\r\n"));
  ASSERT_TRUE(ts.ready());
  {
    ClientSocket client(ts.port());
    ASSERT_GE(client.fd, 0);
    EXPECT_EQ("hi\r\n", fwtest::readSome(client.fd, 4));
    ASSERT_TRUE(fwtest::sendAll(client.fd, "ping"));
    EXPECT_EQ("ping", fwtest::readSome(client.fd, 4));
    // A last request sent right before the close is still handled.
    ASSERT_TRUE(fwtest::sendAll(client.fd, "last"));
  }
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  EXPECT_EQ((Events{"start", "handle:ping", "handle:last", "error", "close"}), calls(ts.recorder()));
  Events all = ts.recorder().events();
  EXPECT_EQ("id:1024.0", all[2]);
  EXPECT_EQ("peer:127.0.0.1", all[3]);
  ASSERT_TRUE(logs.waitFor("session(1024.0) error, r 8("));
  EXPECT_EQ(LOG_WARNING, logs.priorityOf("session(1024.0) error, r"));
  EXPECT_TRUE(logs.contains("Listen on port ["));
}

TEST(ServerTest, HandlerThatRepliesAndEnds) {
  LogCapture logs;
  std::mutex mutex;
  std::condition_variable cond;
  bool release = false;
  const size_t replySize = 16u << 20;  // far above the socket buffers
  Behaviour behaviour;
  behaviour.onHandle = [&](const std::string&, SP_HandlerOutput* output) {
    std::string reply(replySize, 'r');
    output->replyMessage()->content()->append(reply.data(), static_cast<int>(reply.size()));
    std::unique_lock<std::mutex> lock(mutex);
    while (!release) cond.wait(lock);
    return 1;
  };
  TestServer ts(behaviour);
  ASSERT_TRUE(ts.ready());
  ClientSocket client(ts.port());
  ASSERT_TRUE(fwtest::sendAll(client.fd, "req"));
  ASSERT_TRUE(waitFor([&] { return ts.recorder().count("handle:req") == 1; }));
  // Bytes that arrive while the ending request runs are read and dropped.
  ASSERT_TRUE(fwtest::sendAll(client.fd, "late"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
    cond.notify_all();
  }
  bool closed = false;
  std::string got = fwtest::readToEnd(client.fd, &closed, std::chrono::seconds(60));
  EXPECT_TRUE(closed);
  EXPECT_EQ(replySize, got.size());
  EXPECT_EQ(std::string::npos, got.find_first_not_of('r'));
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  EXPECT_EQ((Events{"start", "handle:req", "close"}), calls(ts.recorder()));
  EXPECT_TRUE(logs.contains("session(1024.0) status is 2, ignore [")) << logs.dump();
  EXPECT_EQ(LOG_WARNING, logs.priorityOf("session(1024.0) status is 2, ignore ["));
  EXPECT_TRUE(logs.waitFor("session(1024.0) normal exit"));
  EXPECT_TRUE(logs.waitFor("session(1024.0) close, r 7(1), w " + std::to_string(replySize) + "(")) << logs.dump();
}

TEST(ServerTest, StartThatEndsWritesItsReplyFirst) {
  LogCapture logs;
  Behaviour behaviour = greeting("bye\r\n", 1);
  TestServer ts(behaviour);
  ASSERT_TRUE(ts.ready());
  ClientSocket client(ts.port());
  bool closed = false;
  EXPECT_EQ("bye\r\n", fwtest::readToEnd(client.fd, &closed));
  EXPECT_TRUE(closed);
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  EXPECT_EQ((Events{"start", "close"}), calls(ts.recorder()));
}

TEST(ServerTest, IdleSessionTimesOut) {
  LogCapture logs;
  TestServer ts(Behaviour{}, [](SP_Server* s) { s->setSessionTimeout(1); });
  ASSERT_TRUE(ts.ready());
  ClientSocket client(ts.port());
  bool closed = false;
  fwtest::readToEnd(client.fd, &closed, std::chrono::seconds(30));
  EXPECT_TRUE(closed);
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  EXPECT_EQ((Events{"start", "timeout", "close"}), calls(ts.recorder()));
  EXPECT_TRUE(logs.waitFor("session(1024.0) timeout, r 0(0), w 0(0)"));
}

TEST(ServerTest, HandlerSlowerThanTheTimeoutIsNotCutOff) {
  LogCapture logs;
  Behaviour behaviour;
  behaviour.onHandle = [](const std::string&, SP_HandlerOutput* output) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    output->replyMessage()->content()->append("done", 0);
    return 0;
  };
  TestServer ts(behaviour, [](SP_Server* s) { s->setSessionTimeout(1); });
  ASSERT_TRUE(ts.ready());
  ClientSocket client(ts.port());
  ASSERT_TRUE(fwtest::sendAll(client.fd, "slow"));
  EXPECT_EQ("done", fwtest::readSome(client.fd, 4, std::chrono::seconds(30)));
  EXPECT_TRUE(logs.contains("session(1024.0) busy, process session timeout later")) << logs.dump();
  EXPECT_EQ(LOG_NOTICE, logs.priorityOf("busy, process session timeout later"));
  EXPECT_EQ((Events{"start", "handle:slow"}), calls(ts.recorder()));
  // The session goes on after the slow reply.
  ASSERT_TRUE(fwtest::sendAll(client.fd, "more"));
  EXPECT_EQ("done", fwtest::readSome(client.fd, 4, std::chrono::seconds(30)));
}

TEST(ServerTest, ThirtyThirdConnectionIsRefusedWithCrLf) {
  LogCapture logs;
  TestServer ts(Behaviour{}, [](SP_Server* s) {
    s->setConnectionLimit(32);
    s->setWorkerCount(32);
    s->setQueueLimit(128, "");
  });
  ASSERT_TRUE(ts.ready());
  std::vector<std::unique_ptr<ClientSocket>> clients;
  for (int i = 0; i < 32; ++i) {
    clients.push_back(std::make_unique<ClientSocket>(ts.port()));
    ASSERT_GE(clients.back()->fd, 0);
  }
  ASSERT_TRUE(ts.recorder().waitCount("start", 32));
  ClientSocket extra(ts.port());
  bool closed = false;
  EXPECT_EQ("\r\n", fwtest::readToEnd(extra.fd, &closed));
  EXPECT_TRUE(closed);
  EXPECT_TRUE(logs.contains("System busy, session.count 33 [32], queue.length 0 [128]")) << logs.dump();
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  EXPECT_EQ(32, ts.recorder().count("start"));
  // The 32 others still work.
  ASSERT_TRUE(fwtest::sendAll(clients[31]->fd, "still"));
  EXPECT_EQ("still", fwtest::readSome(clients[31]->fd, 5));
}

TEST(ServerTest, RefusalCarriesTheConfiguredText) {
  LogCapture logs;
  TestServer ts(Behaviour{}, [](SP_Server* s) { s->setConnectionLimit(1); });
  ASSERT_TRUE(ts.ready());
  ClientSocket first(ts.port());
  ASSERT_TRUE(ts.recorder().waitCount("start", 1));
  ClientSocket second(ts.port());
  bool closed = false;
  EXPECT_EQ("System busy, try again later.\r\n", fwtest::readToEnd(second.fd, &closed));
  EXPECT_TRUE(closed);
}

TEST(ServerTest, SessionKeysAndSequencesAreReused) {
  LogCapture logs;
  TestServer ts(Behaviour{});
  ASSERT_TRUE(ts.ready());
  {
    ClientSocket first(ts.port());
    ASSERT_TRUE(ts.recorder().waitCount("id:1024.0", 1));
  }
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  ClientSocket second(ts.port());
  ASSERT_TRUE(ts.recorder().waitCount("id:1024.1", 1));
  ClientSocket third(ts.port());
  ASSERT_TRUE(ts.recorder().waitCount("id:1025.0", 1));
}

TEST(ServerTest, TwoRequestsInOneSegmentReachOneHandle) {
  LogCapture logs;
  TestServer ts(Behaviour{});
  ASSERT_TRUE(ts.ready());
  ClientSocket client(ts.port());
  ASSERT_TRUE(ts.recorder().waitCount("start", 1));
  ASSERT_TRUE(fwtest::sendAll(client.fd, "req1req2"));
  EXPECT_EQ("req1req2", fwtest::readSome(client.fd, 8));
  EXPECT_EQ(1, ts.recorder().count("handle:req1req2"));
}

TEST(ServerTest, ReplyWithNineBlocksArrivesWhole) {
  LogCapture logs;
  Behaviour behaviour;
  behaviour.onHandle = [](const std::string&, SP_HandlerOutput* output) {
    SP_OutMessage* reply = output->replyMessage();
    reply->content()->append("C:", 0);
    for (int i = 1; i <= 9; ++i) {
      SP_BufferMsgBlock* block = new SP_BufferMsgBlock();
      block->append(("B" + std::to_string(i)).c_str(), 0);
      reply->addBlock(block);
    }
    return 0;
  };
  TestServer ts(behaviour);
  ASSERT_TRUE(ts.ready());
  ClientSocket client(ts.port());
  ASSERT_TRUE(fwtest::sendAll(client.fd, "x"));
  EXPECT_EQ("C:B1B2B3B4B5B6B7B8B9", fwtest::readSome(client.fd, 20));
}

TEST(ServerTest, MessagesToOtherSessionsAndCloseList) {
  LogCapture logs;
  Behaviour behaviour;
  // "to:KEY.SEQ" sends "hello" to that session and closes it afterwards.
  behaviour.onHandle = [](const std::string& text, SP_HandlerOutput* output) {
    unsigned key = 0, seq = 0;
    if (std::sscanf(text.c_str(), "to:%u.%u", &key, &seq) == 2) {
      SP_OutMessage* message = new SP_OutMessage();
      message->recipients()->add({static_cast<uint16_t>(key), static_cast<uint16_t>(seq)});
      message->content()->append("hello", 0);
      output->addMessage(message);
      output->closeList()->add({static_cast<uint16_t>(key), static_cast<uint16_t>(seq)});
    }
    output->replyMessage()->content()->append("ok", 0);
    return 0;
  };
  TestServer ts(behaviour);
  ASSERT_TRUE(ts.ready());
  ClientSocket a(ts.port());
  ASSERT_TRUE(ts.recorder().waitCount("id:1024.0", 1));
  ClientSocket b(ts.port());
  ASSERT_TRUE(ts.recorder().waitCount("id:1025.0", 1));
  ASSERT_TRUE(fwtest::sendAll(a.fd, "to:1025.0"));
  EXPECT_EQ("ok", fwtest::readSome(a.fd, 2));
  bool closed = false;
  EXPECT_EQ("hello", fwtest::readToEnd(b.fd, &closed));
  EXPECT_TRUE(closed);
  // A stale id fails and is logged.
  ASSERT_TRUE(fwtest::sendAll(a.fd, "to:1025.0"));
  EXPECT_EQ("ok", fwtest::readSome(a.fd, 2));
  EXPECT_TRUE(logs.waitFor("session(1025.0) invalid, unknown TO"));
  EXPECT_TRUE(logs.waitFor("session(1025.0) invalid, unknown CLOSE"));
}

TEST(ServerTest, BadBindAddressFailsTheListener) {
  LogCapture logs;
  SP_Server server("not-an-address", 0, new fwtest::TestFactory(std::make_shared<fwtest::Recorder>(), Behaviour{}));
  ASSERT_EQ(0, server.run());
  EXPECT_TRUE(server.waitStopped(20000));
  EXPECT_TRUE(logs.contains("failed to convert not-an-address to inet_addr"));
}

TEST(ServerTest, SettersIgnoreValuesBelowOne) {
  SP_Server server("", 0, new fwtest::TestFactory(std::make_shared<fwtest::Recorder>(), Behaviour{}));
  EXPECT_EQ(600, server.sessionTimeout());
  EXPECT_EQ(4, server.workerCount());
  EXPECT_EQ(256, server.connectionLimit());
  EXPECT_EQ(128, server.queueLimit());
  EXPECT_STREQ("System busy, try again later.", server.refusalText());
  server.setSessionTimeout(0);
  server.setWorkerCount(-1);
  server.setConnectionLimit(0);
  server.setQueueLimit(0, "");
  EXPECT_EQ(600, server.sessionTimeout());
  EXPECT_EQ(4, server.workerCount());
  EXPECT_EQ(256, server.connectionLimit());
  EXPECT_EQ(128, server.queueLimit());
  EXPECT_STREQ("", server.refusalText());
}

// The output writer against a channel that records its calls.
class RecordingChannel : public SP_IOChannel {
 public:
  int attach(int) override { return 0; }
  int readInto(SP_Session*) override { return 0; }
  int writeVector(const struct iovec* ranges, int count) override {
    rangeCounts.push_back(count);
    int total = 0;
    for (int i = 0; i < count; ++i) {
      size_t len = ranges[i].iov_len;
      if (accept >= 0 && total + static_cast<int>(len) > accept) len = static_cast<size_t>(accept - total);
      written.append(static_cast<const char*>(ranges[i].iov_base), len);
      total += static_cast<int>(len);
      if (len < ranges[i].iov_len) break;
    }
    if (total == 0) {
      errno = EAGAIN;
      return -1;
    }
    return total;
  }
  std::vector<int> rangeCounts;
  std::string written;
  int accept = -1;  // bytes taken per call, -1 all
};

TEST(OutputWriterTest, NineBlocksTakeTwoVectorWrites) {
  SP_LoopContext* loop = SP_LoopContext::create(10);
  ASSERT_NE(nullptr, loop);
  SP_Session session({1024, 0}, -1);
  session.setLoopContext(loop);
  RecordingChannel* channel = new RecordingChannel();
  session.setIOChannel(channel);
  SP_OutMessage* message = new SP_OutMessage();
  message->recipients()->add({1024, 0});
  message->content()->append("C", 1);
  for (int i = 1; i <= 9; ++i) message->addBlock(new SP_SimpleMsgBlock(const_cast<char*>("b"), 1, 0));
  session.outputList()->append(message);
  EXPECT_EQ(10, channel->flushOutput(&session));
  EXPECT_EQ((std::vector<int>{8, 2}), channel->rangeCounts);
  EXPECT_EQ("Cbbbbbbbbb", channel->written);
  EXPECT_EQ(0, session.outputList()->count());
  ASSERT_EQ(message, loop->doneQueue->dequeue());
  EXPECT_EQ(1, message->delivered()->count());
  EXPECT_EQ(0, message->recipients()->count());
  delete message;
  delete loop;
}

TEST(OutputWriterTest, PartialWritesResumeAtTheOffset) {
  SP_LoopContext* loop = SP_LoopContext::create(10);
  SP_Session session({1024, 0}, -1);
  session.setLoopContext(loop);
  RecordingChannel* channel = new RecordingChannel();
  channel->accept = 3;
  session.setIOChannel(channel);
  SP_OutMessage* first = new SP_OutMessage();
  first->content()->append("abcde", 0);
  first->recipients()->add({1024, 0});
  first->recipients()->add({1025, 0});  // another recipient still waits
  SP_OutMessage* second = new SP_OutMessage();
  second->content()->append("XY", 0);
  second->recipients()->add({1024, 0});
  session.outputList()->append(first);
  session.outputList()->append(second);
  EXPECT_EQ(7, channel->flushOutput(&session));
  EXPECT_EQ("abcdeXY", channel->written);
  EXPECT_EQ(0, session.outputList()->count());
  // The first is still owed to 1025, only the second is finished.
  EXPECT_EQ(1, first->recipients()->count());
  EXPECT_EQ(second, loop->doneQueue->dequeue());
  EXPECT_EQ(0, loop->doneQueue->length());
  delete first;
  delete second;
  delete loop;
}

TEST(SessionManagerTest, KeysRowsAndSequences) {
  SP_SessionManager table;
  uint16_t seq = 99;
  EXPECT_EQ(nullptr, table.lookup(5000, &seq));
  EXPECT_EQ(0, seq);
  EXPECT_EQ(1024, table.allocateKey(&seq));
  EXPECT_EQ(0, seq);
  EXPECT_EQ(1023, table.freeCount());
  SP_Session* session = new SP_Session({1024, 0}, -1);
  table.put(1024, 0, session);
  EXPECT_EQ(1, table.count());
  EXPECT_EQ(session, table.lookup(1024, &seq));
  EXPECT_EQ(session, table.remove(1024, 0));
  delete session;
  EXPECT_EQ(0, table.count());
  EXPECT_EQ(1024, table.allocateKey(&seq));
  EXPECT_EQ(1, seq);
  EXPECT_EQ(1025, table.allocateKey(&seq));
  // Every row in use: no key instead of a crash.
  int keys = 2;
  while (table.allocateKey(&seq) != 0) ++keys;
  EXPECT_EQ(63 * 1024, keys);
  EXPECT_EQ(0, table.allocateKey(&seq));
}

}  // namespace
