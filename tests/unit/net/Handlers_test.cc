#include <gtest/gtest.h>

#include "config/UserAccounts.h"
#include "net/TvnpCommands.h"
#include "tests/unit/net/EngineFixture.h"

namespace tavik::test {
namespace {

using tvnp::encodeText;
using tvnp::encodeU32;
using Bytes = std::vector<uint8_t>;

class HandlersTest : public EngineFixture {};

TEST_F(HandlersTest, EachFailureKindHasItsFlagAndResult) {
  service.sdk_auth = 0;
  startModule();
  auto holder = newEngine();
  uint32_t held = openDevice(*holder);
  auto e = newEngine();
  std::string id = printerId();
  std::string oneOff = id;
  oneOff.back() = char(oneOff.back() ^ 1);
  struct Case {
    const char* what;
    Bytes packet;
    uint16_t flags;
  } cases[] = {
      {"argument count", request(tvcid::kGetStatus, {}), 0x0202},
      {"handle shorter than 4 bytes", request(tvcid::kCardIn, {Bytes{1, 0}}), 0x0202},
      {"text without a 0 unit", request(tvcid::kOpenDevice, {Bytes{'T', 0, 'A', 0}}), 0x0202},
      {"integer shorter than 4 bytes", request(tvcid::kMove, {encodeU32(e->session()), Bytes{1}}),
       0x0202},
      {"GETVERSION always", request(tvcid::kGetVersion, {encodeU32(0)}), 0x0202},
      {"GETPRINTERNAME always", request(tvcid::kGetPrinterName, {}), 0x0202},
      {"data bank of 7 bytes", request(tvcid::kRawSetDataBank, {Bytes(7, 0)}), 0x0202},
      {"device name one character off", request(tvcid::kOpenDevice, {encodeText(oneOff)}), 0x0402},
      {"vendor request not 3 bytes",
       request(tvcid::kExUsbGetCommand, {encodeU32(e->session()), Bytes{0, 0}}), 0x0402},
      {"encoder command not served", request(300, {encodeU32(e->session())}), 0x0802},
      {"another connection's handle", request(tvcid::kCardIn, {encodeU32(held)}), 0x2002},
      {"printer held elsewhere", request(tvcid::kOpenDevice, {encodeText(id)}), 0x8002},
      {"is-open while held", request(tvcid::kIsOpenDevice, {encodeText(id)}), 0x8002},
  };
  for (const auto& c : cases) {
    auto r = exchange(*e, c.packet);
    EXPECT_EQ(r.header.flags, c.flags) << c.what;
    EXPECT_EQ(r.result(), 0xFFFFFFFFu) << c.what;
    EXPECT_EQ(r.args.size(), 1u) << c.what;
  }
}

TEST_F(HandlersTest, OpenWithAccountsAndTheOwnershipThatAFailedLoginKeeps) {
  service.sdk_auth = 1;
  startModule();
  std::string id = printerId();
  auto a = newEngine();
  EXPECT_EQ(exchange(*a, request(tvcid::kOpenDevice, {encodeText(id)})).header.flags, 0x0202);
  auto wrong = exchange(*a, request(tvcid::kOpenDevice,
                                    {encodeText(id), encodeText("admin"), encodeText("nope")}));
  EXPECT_EQ(wrong.header.flags, 0x4002);
  auto b = newEngine();
  EXPECT_EQ(exchange(*b, request(tvcid::kIsOpenDevice, {encodeText(id)})).header.flags, 0x8002);
  a.reset();  // the first connection ends
  EXPECT_EQ(exchange(*b, request(tvcid::kIsOpenDevice, {encodeText(id)})).header.flags, 0x0002);
  auto ok = exchange(*b, request(tvcid::kOpenDevice,
                                 {encodeText(id), encodeText("admin"), encodeText("pelun")}));
  EXPECT_EQ(ok.header.flags, 0x0002);
  ASSERT_EQ(ok.args.size(), 2u);
  EXPECT_EQ(tvnp::loadU32(ok.args[1].data()), b->session());
  EXPECT_NE(logText().find(" 32[0x0002:0x00000000] admin"), std::string::npos)
      << logText();
  // Over-long user name (17 characters with the 0 unit: 36 bytes).
  auto c = newEngine();
  auto longName = exchange(*c, request(tvcid::kOpenDevice, {encodeText(id),
                                                            encodeText("abcdefghijklmnopq"),
                                                            encodeText("x")}));
  EXPECT_EQ(longName.header.flags, 0x0202);
}

TEST_F(HandlersTest, OpenAndCloseWithoutAccounts) {
  service.sdk_auth = 0;
  startModule();
  auto e = newEngine();
  uint32_t h = openDevice(*e);
  EXPECT_EQ(h, e->session());
  EXPECT_EQ(port_->owner(), int(h));
  EXPECT_EQ(exchange(*e, request(tvcid::kCloseDevice, {encodeU32(h)})).header.flags, 0x0002);
  EXPECT_EQ(port_->owner(), 0);
}

TEST_F(HandlersTest, CloseEjectsALeftCardOnlyWhenAsked) {
  for (int eject : {1, 0}) {
    SCOPED_TRACE(eject);
    service.eject_on_close = eject;
    startModule();
    ASSERT_EQ(printer_->control("place print").rfind("OK", 0), 0u);
    auto e = newEngine();
    uint32_t h = openDevice(*e);
    size_t before = transcript().size();
    EXPECT_EQ(exchange(*e, request(tvcid::kCloseDevice, {encodeU32(h)})).header.flags, 0x0002);
    bool ejected = transcript().substr(before).find("in=400200") != std::string::npos;
    EXPECT_EQ(ejected, eject == 1);
    printer_->control("place none");
  }
}

TEST_F(HandlersTest, AliasesBehaveLikeTheirCommands) {
  startModule();
  auto e = newEngine();
  auto open = exchange(*e, request(tvcid::kOpenDeviceAlias, {encodeText(printerId())}));
  ASSERT_EQ(open.header.flags, 0x0002);
  EXPECT_EQ(open.header.command, 1000);
  uint32_t h = tvnp::loadU32(open.args[1].data());
  EXPECT_EQ(exchange(*e, request(tvcid::kPrintAlias, {encodeU32(h + 1), Bytes{1}})).header.flags,
            0x2002);
  EXPECT_EQ(exchange(*e, request(tvcid::kCloseDeviceAlias, {encodeU32(h)})).header.flags, 0x0002);
  EXPECT_EQ(port_->owner(), 0);
  std::string log = logText();
  EXPECT_NE(log.find("] TVCID_OPENDEVICE "), std::string::npos);
  EXPECT_NE(log.find("] TVCID_PRINT "), std::string::npos);
  EXPECT_NE(log.find("] TVCID_CLOSEDEVICE "), std::string::npos);
}

TEST_F(HandlersTest, RawDataCommandsReachThePrinterWithoutAHandle) {
  startModule();
  auto e = newEngine();
  auto id = exchange(*e, request(tvcid::kRawGetData, {Bytes{0x50, 0x06, 0x00}}));
  ASSERT_EQ(id.header.flags, 0x0002);
  ASSERT_EQ(id.args.size(), 2u);
  EXPECT_EQ(std::string(id.args[1].begin(), id.args[1].end()).c_str(), printerId());
  auto st = exchange(*e, request(tvcid::kRawGetData, {Bytes{0x00, 0x00, 0x00}}));
  EXPECT_EQ(st.header.flags, 0x0002);
  EXPECT_EQ(st.args.at(1).size(), 12u);
  EXPECT_EQ(exchange(*e, request(tvcid::kRawSetData, {Bytes{0x40, 0x21, 0x00}})).header.flags,
            0x0002);
  EXPECT_NE(transcript().find("CMD_WRITE          arg=0x4003500E in=402100"), std::string::npos)
      << transcript();
  EXPECT_EQ(exchange(*e, request(tvcid::kRawSetData, {Bytes{}})).header.flags, 0x0402);
  Bytes bank = {1, 0, 0, 0, 0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(exchange(*e, request(tvcid::kRawSetDataBank, {bank})).header.flags, 0x0002);
  auto got = exchange(*e, request(tvcid::kRawGetDataBank, {Bytes{1, 0, 0, 0}}));
  EXPECT_EQ(got.header.flags, 0x0002);
  EXPECT_EQ(got.args.at(1).size(), 4u);
  EXPECT_EQ(exchange(*e, request(tvcid::kRawGetDataBank, {Bytes{1, 0, 0}})).header.flags, 0x0202);
}

TEST_F(HandlersTest, VendorRequests) {
  startModule();
  auto e = newEngine();
  uint32_t h = openDevice(*e);
  auto get = exchange(*e, request(tvcid::kExUsbGetCommand, {encodeU32(h), Bytes{0, 0, 0}}));
  EXPECT_EQ(get.header.flags, 0x0002);
  EXPECT_EQ(get.args.at(1).size(), 12u);
  auto set = exchange(*e, request(tvcid::kExUsbSetCommand, {encodeU32(h), Bytes{0x40, 0x21, 0x00}}));
  EXPECT_EQ(set.header.flags, 0x0002);
  auto shortSet = exchange(*e, request(tvcid::kExUsbSetCommand, {encodeU32(h), Bytes{0x40, 0x21}}));
  EXPECT_EQ(shortSet.header.flags, 0x0402);
  EXPECT_EQ(shortSet.result(), 0xFFFFFFFFu);
}

TEST_F(HandlersTest, TextAndStatusReplies) {
  startModule();
  auto e = newEngine();
  uint32_t h = openDevice(*e);
  auto v = exchange(*e, request(tvcid::kExGetVersion, {encodeU32(h)}));
  ASSERT_EQ(v.header.flags, 0x0002);
  std::string version = v.text(1);
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(v.args[1].size() % 2, 0u);
  EXPECT_GE(v.args[1].size(), 2 * version.size() + 2);
  EXPECT_LE(v.args[1].size(), 128u);
  auto s2 = exchange(*e, request(tvcid::kGetStatus2, {encodeU32(12345)}));
  ASSERT_EQ(s2.header.flags, 0x0002);
  ASSERT_EQ(s2.args.at(1).size(), 32u);
  for (size_t i = 16; i < 32; ++i) EXPECT_EQ(s2.args[1][i], 0) << i;
  auto t = exchange(*e, request(tvcid::kGetTemperature, {encodeU32(h)}));
  ASSERT_EQ(t.header.flags, 0x0002);
  EXPECT_EQ(t.args.size(), 3u);
  EXPECT_EQ(t.args[1].size(), 2u);
}

TEST_F(HandlersTest, CardTransportRunsThePrinter) {
  startModule();
  printer_->control("place none");
  auto e = newEngine();
  uint32_t h = openDevice(*e);
  EXPECT_EQ(exchange(*e, request(tvcid::kCardIn, {encodeU32(h)})).header.flags, 0x0002);
  EXPECT_EQ(exchange(*e, request(tvcid::kMove, {encodeU32(h), encodeU32(0)})).header.flags, 0x0002);
  // A second card-in with the card inside fails with the printer's code.
  auto again = exchange(*e, request(tvcid::kCardIn, {encodeU32(h)}));
  EXPECT_EQ(again.header.flags, 0x0402);
  EXPECT_EQ(again.result(), 0x80000009u);
  EXPECT_EQ(exchange(*e, request(tvcid::kCardOut, {encodeU32(h)})).header.flags, 0x0002);
  std::string t = transcript();
  size_t in = t.find("in=400100"), move = t.find("in=400500"), out = t.find("in=400200");
  ASSERT_NE(in, std::string::npos);
  ASSERT_NE(move, std::string::npos);
  ASSERT_NE(out, std::string::npos);
  EXPECT_LT(in, move);
  EXPECT_LT(move, out);
}

TEST_F(HandlersTest, APrinterThatIsGoneIsAnExecutionErrorWithItsCode) {
  startModule();
  auto e = newEngine();
  uint32_t h = openDevice(*e);
  ASSERT_EQ(printer_->control("unplug").rfind("OK", 0), 0u);
  auto st = exchange(*e, request(tvcid::kGetStatus, {encodeU32(0)}));
  EXPECT_EQ(st.header.flags, 0x0402);
  EXPECT_EQ(st.result(), 0x80000006u);
  auto in = exchange(*e, request(tvcid::kCardIn, {encodeU32(h)}));
  EXPECT_EQ(in.header.flags, 0x0402);
  EXPECT_EQ(in.args.size(), 1u);
  auto raw = exchange(*e, request(tvcid::kRawGetData, {Bytes{0x50, 0x06, 0x00}}));
  EXPECT_EQ(raw.header.flags, 0x0402);
  EXPECT_EQ(raw.result(), 0xFFFFFFFFu);  // raw data failures are bare
  // Plugged in again, the next request reopens the printer.
  printer_->control("plug");
  EXPECT_TRUE(waitFor([&] {
    return exchange(*e, request(tvcid::kGetStatus, {encodeU32(0)})).header.flags == 0x0002;
  }));
}

}  // namespace
}  // namespace tavik::test
