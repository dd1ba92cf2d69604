#include "tools/client/Discovery.h"

#include <gtest/gtest.h>

#include "net/TvnpPacket.h"

namespace tavik::client {
namespace {

TEST(DiscoveryClient, QueryIsUtf16WithItsZeroUnit) {
  auto q = buildDiscoveryQuery(1, "pc7");
  std::string text;
  ASSERT_TRUE(tvnp::decodeText(q.data(), q.size(), &text));
  EXPECT_EQ(text, "TVNP2.0 1 pc7 0");
  EXPECT_EQ(q.size(), 2 * text.size() + 2);
}

TEST(DiscoveryClient, AnswersParseFromBothEnds) {
  struct Case {
    const char* text;
    bool ok;
    const char* printer;
    int port;
  } cases[] = {
      {"TVNP2.0 257 TAVIK TC-D200 10.0.0.2 11111 1 1", true, "TAVIK TC-D200", 11111},
      {"TVNP2.0 0 OFFLINE 10.0.0.2 9100 0 1", true, "OFFLINE", 9100},
      {"TVNP2.0 0 OFFLINE 10.0.0.2 9100 0", false, "", 0},
      {"TVNX 0 OFFLINE 10.0.0.2 9100 0 1", false, "", 0},
      {"TVNP2.0 x OFFLINE 10.0.0.2 9100 0 1", false, "", 0},
  };
  for (const auto& c : cases) {
    auto wire = tvnp::encodeText(c.text);
    DiscoveryAnswer a;
    ASSERT_EQ(parseDiscoveryAnswer(wire.data(), wire.size(), &a), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(a.printerId, c.printer);
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(a.address, "10.0.0.2");
    EXPECT_EQ(a.available, 1);
  }
  // Without a 0 unit the datagram is not an answer.
  auto wire = tvnp::encodeText("TVNP2.0 0 OFFLINE 10.0.0.2 9100 0 1");
  wire.resize(wire.size() - 2);
  DiscoveryAnswer a;
  EXPECT_FALSE(parseDiscoveryAnswer(wire.data(), wire.size(), &a));
}

}  // namespace
}  // namespace tavik::client
