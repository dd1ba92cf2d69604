#include "net/TvnpPacket.h"

#include <gtest/gtest.h>

#include "net/TvnpCommands.h"

namespace tavik::tvnp {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(uint8_t(b));
  return out;
}

TEST(TvnpPacket, StatusRequestWithOneIntegerIs24Bytes) {
  Header h;
  h.sequence = 0x01020304;
  h.command = tvcid::kGetStatus;
  h.flags = kFlagRequest;
  auto p = buildPacket(h, {encodeU32(7)});
  ASSERT_EQ(p.size(), 24u);
  EXPECT_EQ(p, bytes({'T', 'V', 'N', 'P', 4, 3, 2, 1, 100, 0, 1, 0, 1, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0}));
  PacketView v;
  ASSERT_TRUE(v.parse(p.data(), p.size()));
  EXPECT_EQ(v.header().sequence, 0x01020304u);
  EXPECT_EQ(v.header().command, 100);
  uint32_t x = 0;
  EXPECT_TRUE(v.argU32(0, &x));
  EXPECT_EQ(x, 7u);
  EXPECT_FALSE(v.argU32(1, &x));
}

TEST(TvnpPacket, TextIsWidenedWithTheZeroUnitInsideTheLength) {
  EXPECT_EQ(encodeText("abc"), bytes({0x61, 0, 0x62, 0, 0x63, 0, 0, 0}));
  std::string s;
  auto t = bytes({0x61, 0x01, 0x62, 0, 0, 0, 0x63, 0});
  ASSERT_TRUE(decodeText(t.data(), t.size(), &s));
  EXPECT_EQ(s, "ab");  // low byte only, stops at the first 0 unit
}

TEST(TvnpPacket, MalformedTextIsRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
  } cases[] = {
      {"no zero unit", bytes({0x61, 0, 0x62, 0})},
      {"odd length, zero byte but no whole unit", bytes({0x61, 0, 0})},
      {"empty", {}},
  };
  for (const auto& c : cases) {
    std::string s = "unchanged";
    EXPECT_FALSE(decodeText(c.data.data(), c.data.size(), &s)) << c.what;
    EXPECT_EQ(s, "unchanged") << c.what;
  }
}

TEST(TvnpPacket, ArgumentsAreFoundInOrder) {
  Header h;
  h.command = 3;
  auto p = buildPacket(h, {encodeText("A"), bytes({1, 2, 3}), encodeU32(0xFFFFFFFF)});
  PacketView v;
  ASSERT_TRUE(v.parse(p.data(), p.size()));
  ASSERT_EQ(v.count(), 3u);
  std::string s;
  EXPECT_TRUE(v.argText(0, &s));
  EXPECT_EQ(s, "A");
  const uint8_t* d;
  uint32_t n;
  ASSERT_TRUE(v.arg(1, &d, &n));
  EXPECT_EQ(std::vector<uint8_t>(d, d + n), bytes({1, 2, 3}));
  uint32_t x;
  EXPECT_TRUE(v.argU32(2, &x));
  EXPECT_EQ(x, 0xFFFFFFFFu);
  EXPECT_FALSE(v.argText(1, &s));  // bytes without a 0 unit are not text
}

TEST(TvnpPacket, ParseRefusesWhatIsNotExactlyOnePacket) {
  Header h;
  h.command = 100;
  auto good = buildPacket(h, {encodeU32(1)});
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    uint32_t maxArgs;
  } cases[] = {
      {"truncated data", std::vector<uint8_t>(good.begin(), good.end() - 1), kMaxRequestArgs},
      {"trailing byte", [&] { auto v = good; v.push_back(0); return v; }(), kMaxRequestArgs},
      {"wrong magic", [&] { auto v = good; v[3] = 'X'; return v; }(), kMaxRequestArgs},
      {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 10), kMaxRequestArgs},
      {"count over the limit", [&] { auto v = good; storeU32(v.data() + 12, 13); return v; }(),
       kMaxRequestArgs},
      {"lengths overflowing 32 bits",
       [&] {
         auto v = buildPacket(h, {bytes({1}), bytes({2})});
         storeU32(v.data() + 16, 0xFFFFFFFF);
         return v;
       }(),
       kMaxRequestArgs},
  };
  for (const auto& c : cases) {
    PacketView v;
    EXPECT_FALSE(v.parse(c.data.data(), c.data.size(), c.maxArgs)) << c.what;
  }
}

TEST(TvnpPacket, PacketSizeIsComputedWithoutOverflow) {
  uint8_t table[16 + 8] = {'T', 'V', 'N', 'P'};
  storeU32(table + 12, 2);
  storeU32(table + 16, 0xFFFFFFFF);
  storeU32(table + 20, 0xFFFFFFFF);
  uint64_t size = 0;
  ASSERT_TRUE(packetSize(table, sizeof table, &size));
  EXPECT_EQ(size, 24ull + 2ull * 0xFFFFFFFFull);
  EXPECT_FALSE(packetSize(table, 20, &size));  // table shorter than its count
}

TEST(TvnpPacket, BuildRefusesPacketsOverTheLimit) {
  Header h;
  std::vector<uint8_t> big(kMaxPacketSize - 16 - 4);
  EXPECT_EQ(buildPacket(h, {big}).size(), size_t(kMaxPacketSize));
  big.push_back(0);
  EXPECT_TRUE(buildPacket(h, {big}).empty());
}

TEST(TvnpPacket, RawFrameHeaders) {
  struct Case {
    uint32_t length;
    bool valid;
  } cases[] = {{7, false}, {8, true}, {kMaxPacketSize, true}, {kMaxPacketSize + 1, false}};
  for (const auto& c : cases) {
    uint8_t h[8] = {'C', 'P', 2, 0};
    storeU32(h + 4, c.length);
    uint32_t len = 0;
    EXPECT_EQ(rawHeaderValid(h, 'C', 'P', &len), c.valid) << c.length;
    EXPECT_EQ(len, c.length);
    EXPECT_FALSE(rawHeaderValid(h, 'C', 'C', &len));
  }
  std::vector<uint8_t> answer(16, 0xAB);
  auto f = buildRawFrame('C', 'C', 2, 0, answer.data(), answer.size());
  ASSERT_EQ(f.size(), 24u);
  EXPECT_EQ(loadU32(f.data() + 4), 24u);
  EXPECT_EQ(f[2], 2);
}

TEST(TvnpCommands, NamesAndAliases) {
  EXPECT_EQ(tvcid::commandName(1000), "TVCID_OPENDEVICE");
  EXPECT_EQ(tvcid::commandName(1002), "TVCID_PRINT");
  EXPECT_EQ(tvcid::commandName(5), "");
  uint16_t id = 0;
  EXPECT_TRUE(tvcid::commandByName("cardin", &id));
  EXPECT_EQ(id, 202);
  EXPECT_TRUE(tvcid::commandByName("TVCID_GETSTATUS2", &id));
  EXPECT_EQ(id, 109);
  EXPECT_FALSE(tvcid::commandByName("TVCID_NOPE", &id));
}

}  // namespace
}  // namespace tavik::tvnp
