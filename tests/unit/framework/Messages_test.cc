// Session ids, outgoing messages, handler output, the request context and
// the five decoders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/SP_Buffer.h"
#include "framework/SP_HandlerOutput.h"
#include "framework/SP_MsgBlock.h"
#include "framework/SP_MsgDecoder.h"
#include "framework/SP_OutMessage.h"
#include "framework/SP_RequestContext.h"
#include "framework/SP_SessionId.h"

namespace {

std::string text(const SP_Buffer* buffer) { return std::string(buffer->bytes(), static_cast<size_t>(buffer->size())); }

void feed(SP_Buffer* input, const std::string& bytes) { input->append(bytes.data(), static_cast<int>(bytes.size())); }

TEST(SessionIdTest, ListOperationsAndReservedIds) {
  SP_SessionIdList list;
  list.add({1024, 0});
  list.add({1025, 3});
  list.add({1024, 1});
  EXPECT_EQ(3, list.count());
  EXPECT_EQ(1, list.find({1025, 3}));
  EXPECT_EQ(-1, list.find({1025, 4}));
  EXPECT_EQ((SP_SessionId{1024, 1}), list.get(-1));
  EXPECT_EQ((SP_SessionId{0, 0}), list.get(7));
  EXPECT_EQ((SP_SessionId{1025, 3}), list.take(1));
  EXPECT_EQ(2, list.count());
  EXPECT_EQ((SP_SessionId{0, 0}), list.take(9));

  EXPECT_TRUE((SP_SessionId{0, 0xFFFF}).isReserved());
  EXPECT_TRUE((SP_SessionId{1, 0xFFFF}).isReserved());
  EXPECT_FALSE((SP_SessionId{1024, 0xFFFF}).isReserved());
  EXPECT_FALSE((SP_SessionId{0, 0}).isReserved());
}

TEST(OutMessageTest, TotalSizeCountsContentAndBlocks) {
  SP_OutMessage message(7);
  EXPECT_EQ(0, message.totalSize());
  EXPECT_EQ(7, message.completionKey());
  message.content()->append("hello", 0);
  SP_BufferMsgBlock* block = new SP_BufferMsgBlock();
  block->append("12345678", 0);
  message.addBlock(block);
  message.addBlock(new SP_SimpleMsgBlock(const_cast<char*>("ab"), 2, 0));
  EXPECT_EQ(15, message.totalSize());
}

TEST(HandlerOutputTest, ReplyIsCreatedOnceAndAddressedToSender) {
  SP_HandlerOutput output({1030, 9});
  EXPECT_EQ(0, output.messageCount());
  SP_OutMessage* reply = output.replyMessage();
  EXPECT_EQ(reply, output.replyMessage());
  EXPECT_EQ(1, output.messageCount());
  ASSERT_EQ(1, reply->recipients()->count());
  EXPECT_EQ((SP_SessionId{1030, 9}), reply->recipients()->get(0));
  SP_OutMessage* other = new SP_OutMessage();
  output.addMessage(other);
  output.closeList()->add({1031, 0});
  EXPECT_EQ(reply, output.takeMessage());
  delete reply;
  // `other` and the close list are released by the output.
}

TEST(RequestContextTest, AddressesAreCutAt31Bytes) {
  SP_RequestContext request;
  ASSERT_NE(nullptr, dynamic_cast<SP_DefaultMsgDecoder*>(request.decoder()));
  std::string longText(40, 'x');
  request.setClientAddress(longText.c_str());
  EXPECT_EQ(31u, std::strlen(request.clientAddress()));
  request.setLocalAddress("127.0.0.1");
  EXPECT_STREQ("127.0.0.1", request.localAddress());
  request.setDecoder(new SP_LineMsgDecoder());
  EXPECT_NE(nullptr, dynamic_cast<SP_LineMsgDecoder*>(request.decoder()));
  request.setDecoder(nullptr);
  EXPECT_NE(nullptr, request.decoder());
}

TEST(DefaultDecoderTest, MessageIsWhateverArrived) {
  SP_DefaultMsgDecoder decoder;
  SP_Buffer input;
  EXPECT_EQ(SP_MsgDecoder::NeedMoreData, decoder.decode(&input));
  feed(&input, "0123456789");
  EXPECT_EQ(SP_MsgDecoder::MessageReady, decoder.decode(&input));
  EXPECT_EQ("0123456789", text(decoder.getMsg()));
  EXPECT_EQ(0, input.size());
  feed(&input, "abcde");
  EXPECT_EQ(SP_MsgDecoder::MessageReady, decoder.decode(&input));
  EXPECT_EQ("abcde", text(decoder.getMsg()));
}

TEST(LineDecoderTest, PartialLineWaits) {
  SP_LineMsgDecoder decoder;
  SP_Buffer input;
  feed(&input, "par");
  EXPECT_EQ(SP_MsgDecoder::NeedMoreData, decoder.decode(&input));
  EXPECT_EQ(3, input.size());
  feed(&input, "tial\r\nnext");
  EXPECT_EQ(SP_MsgDecoder::MessageReady, decoder.decode(&input));
  EXPECT_STREQ("partial", decoder.getMsg());
  EXPECT_EQ(SP_MsgDecoder::NeedMoreData, decoder.decode(&input));
  EXPECT_EQ("next", text(&input));
}

TEST(MultiLineDecoderTest, TakesEveryCompleteLine) {
  SP_MultiLineMsgDecoder decoder;
  SP_Buffer input;
  feed(&input, "one\ntwo\r\nthree\n\rfour");
  EXPECT_EQ(SP_MsgDecoder::MessageReady, decoder.decode(&input));
  SP_CircleQueue* lines = decoder.getQueue();
  ASSERT_EQ(3, lines->length());
  const char* expected[] = {"one", "two", "three"};
  for (const char* e : expected) {
    char* line = static_cast<char*>(lines->dequeue());
    EXPECT_STREQ(e, line);
    std::free(line);
  }
  EXPECT_EQ(SP_MsgDecoder::NeedMoreData, decoder.decode(&input));
  feed(&input, "\n");
  EXPECT_EQ(SP_MsgDecoder::MessageReady, decoder.decode(&input));
  // "four" stays queued; the decoder frees it.
}

TEST(DotTermDecoderTest, TerminatorsAndDotStuffing) {
  struct Case {
    std::string input;
    int result;
    std::string message;
    std::string left;
  } cases[] = {
      {"a\r\n..b\r\n.\r\n", SP_MsgDecoder::MessageReady, "a\r\n.b", ""},
      {"x\n.\nrest", SP_MsgDecoder::MessageReady, "x", "rest"},
      {"\r\n.\r\n", SP_MsgDecoder::MessageReady, "", ""},
      {".first\r\n.\r\n", SP_MsgDecoder::MessageReady, ".first", ""},
      {"no end\r\n.", SP_MsgDecoder::NeedMoreData, "", "no end\r\n."},
      {"a\r\n.\r\nb\r\n.\r\n", SP_MsgDecoder::MessageReady, "a", "b\r\n.\r\n"},
  };
  for (const Case& c : cases) {
    SP_DotTermMsgDecoder decoder;
    SP_Buffer input;
    feed(&input, c.input);
    EXPECT_EQ(c.result, decoder.decode(&input)) << c.input;
    if (c.result == SP_MsgDecoder::MessageReady) {
      EXPECT_STREQ(c.message.c_str(), decoder.getMsg()) << c.input;
    }
    EXPECT_EQ(c.left, std::string(input.bytes(), static_cast<size_t>(input.size()))) << c.input;
  }
}

TEST(DotTermChunkDecoderTest, LongMessageKeptInChunks) {
  SP_DotTermChunkMsgDecoder decoder;
  SP_Buffer input;
  std::string body(70000, 'q');
  feed(&input, body);
  EXPECT_EQ(SP_MsgDecoder::NeedMoreData, decoder.decode(&input));
  EXPECT_EQ(1, decoder.chunkCount());
  EXPECT_EQ(0, input.size());
  feed(&input, "tail\r\n.\r\nafter");
  EXPECT_EQ(SP_MsgDecoder::MessageReady, decoder.decode(&input));
  char* message = decoder.joinMessage();
  ASSERT_NE(nullptr, message);
  EXPECT_EQ(body + "tail", std::string(message));
  std::free(message);
  EXPECT_EQ("after", text(&input));
}

TEST(DotTermChunkDecoderTest, TerminatorSplitAcrossReads) {
  SP_DotTermChunkMsgDecoder decoder;
  SP_Buffer input;
  std::string body(0xF000 - 3, 'z');
  feed(&input, body + "\r\n.");  // exactly 0xF000 bytes: becomes a chunk
  EXPECT_EQ(SP_MsgDecoder::NeedMoreData, decoder.decode(&input));
  EXPECT_EQ(1, decoder.chunkCount());
  feed(&input, "\r\nnext");
  EXPECT_EQ(SP_MsgDecoder::MessageReady, decoder.decode(&input));
  char* message = decoder.joinMessage();
  ASSERT_NE(nullptr, message);
  EXPECT_EQ(body, std::string(message));
  std::free(message);
  EXPECT_EQ("next", text(&input));
}

TEST(DotStuffingTest, Table) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {{"..a", "..a"}, {"a\n..b", "a\n.b"}, {"a\n.", "a\n"}, {"a\n.\n.x", "a\n\nx"}, {"", ""}};
  for (const Case& c : cases) {
    std::string buf = c.in + '\0';
    int n = sp_removeDotStuffing(buf.data(), static_cast<int>(c.in.size()));
    EXPECT_EQ(c.out, std::string(buf.data(), static_cast<size_t>(n))) << c.in;
  }
}

}  // namespace
