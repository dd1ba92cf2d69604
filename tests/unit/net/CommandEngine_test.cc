#include "net/CommandEngine.h"

#include <gtest/gtest.h>

#include <regex>

#include "net/TvnpCommands.h"
#include "tests/unit/net/EngineFixture.h"

namespace tavik::test {
namespace {

using E = CommandEngine;

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

std::vector<uint8_t> cpFrame(size_t payload, uint8_t fill = 0x5A) {
  std::vector<uint8_t> data(payload, fill);
  return tvnp::buildRawFrame('C', 'P', 2, 0x80, data.data(), data.size());
}

class CommandEngineTest : public EngineFixture {};

TEST_F(CommandEngineTest, HeaderAndTableSplitOverThreeReadsIsReassembled) {
  auto e = newEngine();
  auto p = request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, 0xFFFFFFFF);
  // 16 header bytes first, then the length table in two pieces.
  EXPECT_EQ(e->receive(p.data(), 16), E::kNeedTable);
  EXPECT_EQ(e->receive(p.data() + 16, 2), E::kNeedTable);
  EXPECT_EQ(e->receive(p.data() + 18, 2), E::kNeedBody);
  EXPECT_EQ(e->receive(p.data() + 20, 4), E::kReply);
  tvnp::PacketView v;
  ASSERT_TRUE(v.parse(e->reply(), size_t(e->replySize()), 4));
  EXPECT_EQ(v.header().sequence, 0xFFFFFFFFu);
  EXPECT_EQ(v.header().flags, 0x0002);
  EXPECT_EQ(e->replySize(), 28 + 8);
}

TEST_F(CommandEngineTest, FirstChunksThatCannotOpenAPacket) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int expected;
  } cases[] = {
      {"10 bytes of a TVNP header", {'T', 'V', 'N', 'P', 0, 0, 0, 0, 100, 0}, E::kClose},
      {"two bytes CP start a raw print", {'C', 'P'}, E::kNeedBody},
      {"two bytes CC start a raw command", {'C', 'C'}, E::kNeedBody},
      {"one byte C", {'C'}, E::kClose},
      {"anything else", {'G', 'E', 'T', ' ', '/'}, E::kClose},
  };
  for (const auto& c : cases) {
    auto e = newEngine();
    EXPECT_EQ(e->receive(c.bytes.data(), c.bytes.size()), c.expected) << c.what;
  }
  auto e = newEngine();
  EXPECT_EQ(e->receive(nullptr, 0), E::kClose) << "empty chunk";
}

TEST_F(CommandEngineTest, TwoRequestsInOneWriteCloseWithoutReply) {
  auto e = newEngine();
  auto a = request(tvcid::kGetStatus, {tvnp::encodeU32(0)});
  auto both = a;
  both.insert(both.end(), a.begin(), a.end());
  EXPECT_EQ(e->receive(both.data(), both.size()), E::kClose);
  EXPECT_EQ(e->replySize(), 0);
}

TEST_F(CommandEngineTest, PacketSizeLimit) {
  struct Case {
    uint32_t total;
    int expected;
  } cases[] = {{tvnp::kMaxPacketSize, E::kNeedBody}, {tvnp::kMaxPacketSize + 1, E::kClose}};
  for (const auto& c : cases) {
    auto e = newEngine();
    uint8_t head[20];
    tvnp::Header h;
    h.command = tvcid::kRawSetData;
    h.count = 1;
    tvnp::writeHeader(h, head);
    tvnp::storeU32(head + 16, c.total - 20);
    EXPECT_EQ(e->receive(head, sizeof head), c.expected) << c.total;
  }
}

TEST_F(CommandEngineTest, CountAboveTwelveClosesWithoutTouchingMemory) {
  auto e = newEngine();
  uint8_t head[16 + 4 * 13] = {};
  tvnp::Header h;
  h.command = tvcid::kGetStatus;
  h.count = 13;
  tvnp::writeHeader(h, head);
  EXPECT_EQ(e->receive(head, sizeof head), E::kClose);
}

TEST_F(CommandEngineTest, UnknownIdentifiersAreBadCommands) {
  // Encoder and administration commands are not served yet: bad command,
  // never a pretended success.
  for (uint16_t id : {uint16_t(5), uint16_t(300), uint16_t(500), uint16_t(600), uint16_t(2500),
                      uint16_t(2550), uint16_t(65535)}) {
    auto e = newEngine();
    auto r = exchange(*e, request(id, {}, 42));
    EXPECT_EQ(r.header.flags, 0x0802) << id;
    EXPECT_EQ(r.result(), 0xFFFFFFFFu) << id;
    EXPECT_EQ(r.header.sequence, 42u);
    EXPECT_EQ(r.args.size(), 1u);
  }
  EXPECT_NE(logText().find("TVCID_DEFAULT"), std::string::npos);
}

TEST_F(CommandEngineTest, WrongRawHeadersAreLoggedAndSkipped) {
  auto e = newEngine();
  std::vector<uint8_t> stream = {'C', 'P', 0, 0, 7, 0, 0, 0};  // length 7: not valid
  std::vector<uint8_t> badKind = {'C', 'X', 0, 0, 16, 0, 0, 0};
  auto good = cpFrame(40);
  stream.insert(stream.end(), badKind.begin(), badKind.end());
  stream.insert(stream.end(), good.begin(), good.end());
  EXPECT_EQ(e->receive(stream.data(), stream.size()), E::kNeedBody);
  EXPECT_EQ(count(logText(), "TVCID_RAW_PRINT WRONG HEADER"), 2u);
  EXPECT_EQ(count(transcript(), " WRITE "), 1u);
  EXPECT_NE(transcript().find("in=4350"), std::string::npos);
}

TEST_F(CommandEngineTest, RawFrameSplitOverManyReadsIsWrittenOnceWhole) {
  auto e = newEngine();
  auto frame = cpFrame(300);
  for (size_t pos = 0; pos < frame.size(); pos += 7) {
    size_t n = std::min<size_t>(7, frame.size() - pos);
    ASSERT_EQ(e->receive(frame.data() + pos, n), E::kNeedBody);
    if (pos + n < frame.size()) {
      EXPECT_EQ(count(transcript(), " WRITE "), 0u);
    }
  }
  std::string t = transcript();
  EXPECT_EQ(count(t, " WRITE "), 1u);
  EXPECT_NE(t.find("arg=0x00000134"), std::string::npos) << t;  // 308 bytes, one write
}

TEST_F(CommandEngineTest, RawPrintHoldsOnlyTheFrameBeingAssembled) {
  auto e = newEngine();
  const uint8_t start[] = {'C', 'P'};
  ASSERT_EQ(e->receive(start, 2), E::kNeedBody);
  EXPECT_EQ(e->rawBufferSize(), 0u);  // a session that only began holds nothing
  auto frame = cpFrame(65536 - 8);
  ASSERT_EQ(e->receive(frame.data() + 2, 1000), E::kNeedBody);
  EXPECT_EQ(e->rawBufferSize(), 65536u);
  ASSERT_EQ(e->receive(frame.data() + 1002, frame.size() - 1002), E::kNeedBody);
  EXPECT_EQ(e->rawBufferSize(), 0u);  // given back once written
  EXPECT_EQ(count(transcript(), " WRITE "), 16u);  // 64 KiB in 4096-byte pieces
}

TEST_F(CommandEngineTest, RawPrintIdentifierInARealHeader) {
  auto e = newEngine();
  auto header = request(tvcid::kRawPrint, {});
  auto frame = cpFrame(24);
  auto all = header;
  all.insert(all.end(), frame.begin(), frame.end());
  EXPECT_EQ(e->receive(all.data(), all.size()), E::kNeedBody);
  EXPECT_EQ(count(transcript(), " WRITE "), 1u);
  EXPECT_EQ(e->replySize(), 0);  // no reply on a raw print session
  EXPECT_EQ(port_->owner(), int(e->session()));
  e.reset();
  EXPECT_EQ(port_->owner(), 0);  // released when the connection ends
}

TEST_F(CommandEngineTest, RawCommandAnswersAndKeepsWhatFollows) {
  auto e = newEngine();
  uint8_t status[] = {0x00, 0x00, 0x00};
  auto frame = tvnp::buildRawFrame('C', 'C', 0, 0, status, sizeof status);
  auto two = frame;
  two.insert(two.end(), frame.begin(), frame.end());
  ASSERT_EQ(e->receive(two.data(), two.size()), E::kReply);
  ASSERT_EQ(e->replySize(), 8 + 12);
  EXPECT_EQ(e->reply()[0], 'C');
  EXPECT_EQ(e->reply()[1], 'C');
  EXPECT_EQ(e->reply()[2], 0x02);
  EXPECT_EQ(tvnp::loadU32(e->reply() + 4), 20u);
  ASSERT_TRUE(e->hasPending());
  e->reset();
  ASSERT_EQ(e->receivePending(), E::kReply);  // the second frame was not lost
  EXPECT_EQ(e->replySize(), 20);
  EXPECT_FALSE(e->hasPending());
}

TEST_F(CommandEngineTest, SecondRawCommandWithoutResetClosesInsteadOfResendingTheOldAnswer) {
  auto e = newEngine();
  uint8_t status[] = {0x00, 0x00, 0x00};
  auto frame = tvnp::buildRawFrame('C', 'C', 0, 0, status, sizeof status);
  ASSERT_EQ(e->receive(frame.data(), frame.size()), E::kReply);
  EXPECT_EQ(e->receive(frame.data(), frame.size()), E::kClose);
}

TEST_F(CommandEngineTest, SpoolStyleConnectionClosesOnBytesAfterAReply) {
  auto e = newEngine();
  auto p = request(tvcid::kGetStatus, {tvnp::encodeU32(0)});
  ASSERT_EQ(e->receive(p.data(), p.size()), E::kReply);
  EXPECT_EQ(e->receive(p.data(), p.size()), E::kClose);
}

TEST_F(CommandEngineTest, LogLinesInBothForms) {
  auto e = newEngine("192.168.1.20");
  uint32_t session = e->session();
  auto p = request(tvcid::kGetStatus, {tvnp::encodeU32(0)});
  ASSERT_EQ(e->receive(p.data(), p.size()), E::kReply);
  e.reset();  // closes while the reply is held, as a spool connection does
  std::string log = logText();
  char shortForm[64], longForm[96];
  std::snprintf(shortForm, sizeof shortForm, "[%08u][%15s] CONNECTED", session, "192.168.1.20");
  std::snprintf(longForm, sizeof longForm, "[%08u][%15s] CLOSED 24 36[0x0002:0x00000000]", session,
                "192.168.1.20");
  EXPECT_NE(log.find(shortForm), std::string::npos) << log;
  EXPECT_NE(log.find(longForm), std::string::npos) << log;
  std::snprintf(longForm, sizeof longForm, "[%08u][%15s] TVCID_GETSTATUS 24 36[0x0002:0x00000000]",
                session, "192.168.1.20");
  EXPECT_NE(log.find(longForm), std::string::npos) << log;
}

TEST_F(CommandEngineTest, SessionNumbersCountUpFromTen) {
  auto a = newEngine();
  auto b = newEngine();
  EXPECT_EQ(a->session(), 10u);
  EXPECT_EQ(b->session(), 11u);
  CommandEngine twice;
  EXPECT_EQ(twice.init(nullptr, logger_.get(), config_.get(), "x"), -1);
  EXPECT_EQ(a->init(port_.get(), logger_.get(), config_.get(), "x"), -1);
}

}  // namespace
}  // namespace tavik::test
