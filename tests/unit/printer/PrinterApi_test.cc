#include "printer/PrinterApi.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>

#include "tests/unit/printer/FakePrinter.h"

namespace tavik::test {
namespace {

constexpr uint32_t kIdle = 0;
constexpr uint32_t kMoving = 0x00000004;  // moving the card to the print position

class ApiTest : public ::testing::Test {
 protected:
  ApiTest() : port(clock), api(port) {}
  void SetUp() override {
    ASSERT_TRUE(rig.started());
    printer().clearLog();
  }
  FakePrinter& printer() { return rig.printer(); }
  // The frames sent besides the prepare step's clear.
  std::vector<Bytes> actions() { return printer().actionFrames(); }

  PrinterRig rig;
  ManualClock clock;
  PrinterPort port;
  PrinterApi api;
};

// ---- frames of operations ----

struct FrameCase {
  const char* name;
  std::function<ResultCode(PrinterApi&)> call;
  Bytes frame;  // the one action frame expected
  bool prepared;  // preceded by the clear of the prepare step
};
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class FrameTest : public ApiTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameTest, SendsTheFrame) {
  const FrameCase& c = GetParam();
  EXPECT_EQ(c.call(api), rc::kSuccess);
  std::vector<Bytes> all = printer().frames();
  std::vector<Bytes> acts = actions();
  ASSERT_EQ(acts.size(), 1u);
  EXPECT_EQ(acts[0], c.frame);
  bool cleared = !all.empty() && all[0] == Bytes{0x40, 0xF0, 0x00};
  EXPECT_EQ(cleared, c.prepared);
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes text(const std::string& s, size_t width, char pad = 0) {
  Bytes out(s.begin(), s.end());
  out.resize(std::max(width, s.size()), static_cast<uint8_t>(pad));
  if (s.size() > width) out.resize(width);
  return out;
}

const uint8_t kData[4] = {0xA1, 0xA2, 0xA3, 0xA4};
const uint32_t kRunValues[5] = {0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D, 0x14131211};
Bytes runValues(int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(kRunValues[i] >> (8 * k)));
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FrameTest,
    ::testing::Values(
        FrameCase{"Beep", [](PrinterApi& a) { return a.beep(); }, {0x40, 0x21, 0x00}, false},
        FrameCase{"Reboot", [](PrinterApi& a) { return a.reboot(); }, {0x40, 0xF1, 0x00}, false},
        FrameCase{"SbsStart", [](PrinterApi& a) { return a.sbsStart(); }, {0x40, 0x0C, 0x00}, false},
        FrameCase{"SbsEnd", [](PrinterApi& a) { return a.sbsEnd(); }, {0x40, 0x0D, 0x00}, false},
        FrameCase{"DoPrint2", [](PrinterApi& a) { return a.doPrint2(); }, {0x40, 0x0B, 0x00}, false},
        FrameCase{"ToggleTestMode", [](PrinterApi& a) { return a.toggleTestMode(); },
                  {0x40, 0x1D, 0x00}, false},
        FrameCase{"AutoRotatorSet", [](PrinterApi& a) { return a.autoRotatorSet(); },
                  {0x40, 0x0F, 0x00}, true},
        FrameCase{"SetSerial", [](PrinterApi& a) { return a.setSerial(u"SN-0123456789ABCDEF"); },
                  concat({{0x50, 0x02, 0x00}, text("SN-0123456789ABC", 16)}), false},
        FrameCase{"SetHeadSerial", [](PrinterApi& a) { return a.setHeadSerial(u"H1"); },
                  concat({{0x50, 0x04, 0x00}, text("H1", 16)}), false},
        FrameCase{"SetPassword", [](PrinterApi& a) { return a.setPassword(u"old", u"new"); },
                  concat({{0x50, 0x05, 0x00}, text("old", 8), text("new", 8)}), false},
        FrameCase{"SetUserPassword", [](PrinterApi& a) { return a.setUserPassword(u"a", u"b"); },
                  concat({{0x50, 0x17, 0x00}, text("a", 8), text("b", 8)}), false},
        FrameCase{"SetDeviceIdPutsTheSecondFirst",
                  [](PrinterApi& a) { return a.setDeviceId(u"AB", u"CD"); },
                  concat({{0x50, 0x06, 0x00}, text("CD", 8), text("AB", 8)}), false},
        FrameCase{"VerifyPassword", [](PrinterApi& a) { return a.verifyPassword(u"12345678X"); },
                  concat({{0x50, 0x0A, 0x00}, text("12345678", 8)}), false},
        FrameCase{"WideCharactersKeepTheirLowByte",
                  [](PrinterApi& a) { return a.verifyPassword(u"\u0141\u00e9"); },
                  concat({{0x50, 0x0A, 0x00}, {0x41, 0xE9, 0, 0, 0, 0, 0, 0}}), false},
        FrameCase{"SetDevParam", [](PrinterApi& a) { return a.setDevParam(kData, 4, u"P"); },
                  concat({{0x50, 0x03, 0x00}, {0xA1, 0xA2, 0xA3, 0xA4}, text("P", 8)}), false},
        FrameCase{"SetDevExParam", [](PrinterApi& a) { return a.setDevExParam(kData, 2, u"Q"); },
                  concat({{0x50, 0x0D, 0x00}, {0xA1, 0xA2}, text("Q", 8)}), false},
        FrameCase{"SetPcName", [](PrinterApi& a) { return a.setPcName(u"PC", kData, 3); },
                  concat({{0x50, 0x07, 0x00}, text("PC", 8), {0xA1, 0xA2, 0xA3}}), false},
        FrameCase{"SetUserIssueCount",
                  [](PrinterApi& a) { return a.setUserIssueCount(u"U", kData, 1); },
                  concat({{0x50, 0x11, 0x00}, text("U", 8), {0xA1}}), false},
        FrameCase{"SetFactIssueCount",
                  [](PrinterApi& a) { return a.setFactIssueCount(u"F", kData, 1); },
                  concat({{0x50, 0x12, 0x00}, text("F", 8), {0xA1}}), false},
        FrameCase{"SetMagCryptKeyPadsTheKey",
                  [](PrinterApi& a) { return a.setMagCryptKey(u"K", kData, 4); },
                  concat({{0x50, 0x09, 0x00}, text("K", 8), {0xA1, 0xA2, 0xA3, 0xA4}, Bytes(12, 0)}),
                  false},
        FrameCase{"UsbSetCommandUnchanged",
                  [](PrinterApi& a) { return a.usbSetCommand(kData, 4); },
                  {0xA1, 0xA2, 0xA3, 0xA4}, false},
        FrameCase{"LcdTextMode1PadsTo21",
                  [](PrinterApi& a) { return a.setLcdText(1, 0, u"HELLO"); },
                  concat({{0x40, 0x20, 0x00, 0x01, 0x00}, text("HELLO", 21, ' ')}), false},
        FrameCase{"LcdTextMode0PadsTo16",
                  [](PrinterApi& a) { return a.setLcdText(0, 1, u"HELLO"); },
                  concat({{0x40, 0x20, 0x00, 0x00, 0x01}, text("HELLO", 16, ' ')}), false},
        FrameCase{"LcdTextLongerIsSentWhole",
                  [](PrinterApi& a) { return a.setLcdText(0, 0, u"ABCDEFGHIJKLMNOPQRS"); },
                  concat({{0x40, 0x20, 0x00, 0x00, 0x00}, text("ABCDEFGHIJKLMNOPQRS", 19)}), false},
        FrameCase{"RunTestType2", [](PrinterApi& a) { return a.toggleRunTest(2, kRunValues); },
                  concat({{0x40, 0x70, 0x02}, runValues(1)}), false},
        FrameCase{"RunTestType3", [](PrinterApi& a) { return a.toggleRunTest(3, kRunValues); },
                  {0x40, 0x70, 0x03}, false},
        FrameCase{"RunTestType4", [](PrinterApi& a) { return a.toggleRunTest(4, kRunValues); },
                  concat({{0x40, 0x70, 0x04}, runValues(2)}), false},
        FrameCase{"RunTestType5", [](PrinterApi& a) { return a.toggleRunTest(5, kRunValues); },
                  concat({{0x40, 0x70, 0x05}, runValues(1)}), false},
        FrameCase{"RunTestType8", [](PrinterApi& a) { return a.toggleRunTest(8, kRunValues); },
                  concat({{0x40, 0x70, 0x08}, runValues(5)}), false},
        FrameCase{"CardOut", [](PrinterApi& a) { return a.cardOut(); }, {0x40, 0x02, 0x00}, true},
        FrameCase{"CardOutBack", [](PrinterApi& a) { return a.cardOutBack(); }, {0x40, 0x03, 0x00},
                  true},
        FrameCase{"MovePrint", [](PrinterApi& a) { return a.move(0); }, {0x40, 0x05, 0x00}, true},
        FrameCase{"MoveMagnetic", [](PrinterApi& a) { return a.move(1); }, {0x40, 0x06, 0x00}, true},
        FrameCase{"MoveContact", [](PrinterApi& a) { return a.move(2); }, {0x40, 0x07, 0x00}, true},
        FrameCase{"MoveContactless", [](PrinterApi& a) { return a.move(3); }, {0x40, 0x08, 0x00},
                  true},
        FrameCase{"MoveFlipper", [](PrinterApi& a) { return a.move(4); }, {0x40, 0x09, 0x00}, true},
        FrameCase{"MoveDevice", [](PrinterApi& a) { return a.move(5); }, {0x40, 0x0A, 0x00}, true},
        FrameCase{"Move6IsFromTheInSensorByMinus62", [](PrinterApi& a) { return a.move(6); },
                  {0x40, 0x14, 0xC2}, true},
        FrameCase{"MoveFromIn10", [](PrinterApi& a) { return a.moveFromIn(10); }, {0x40, 0x14, 0x0A},
                  true},
        FrameCase{"MoveFromOut300", [](PrinterApi& a) { return a.moveFromOut(300); },
                  {0x40, 0x15, 0x7F}, true},
        FrameCase{"MoveFromOutMinus300", [](PrinterApi& a) { return a.moveFromOut(-300); },
                  {0x40, 0x15, 0x81}, true},
        FrameCase{"Rotate", [](PrinterApi& a) { return a.rotate(); }, {0x40, 0x1C, 0x00}, true},
        FrameCase{"Rotate180One", [](PrinterApi& a) { return a.rotate180(1); }, {0x40, 0x1A, 0x00},
                  true},
        FrameCase{"Rotate180Other", [](PrinterApi& a) { return a.rotate180(2); },
                  {0x40, 0x1B, 0x00}, true},
        FrameCase{"IcContact", [](PrinterApi& a) { return a.icContact(); }, {0x40, 0x12, 0x00}, true},
        FrameCase{"IcDiscontact", [](PrinterApi& a) { return a.icDiscontact(); },
                  {0x40, 0x13, 0x00}, true},
        FrameCase{"DoCleaning", [](PrinterApi& a) { return a.doCleaning(); }, {0x40, 0x1E, 0x00},
                  true},
        FrameCase{"MagRead", [](PrinterApi& a) { return a.magReadAction(0x07); }, {0x40, 0x30, 0x07},
                  true},
        FrameCase{"MagRead2BitData", [](PrinterApi& a) { return a.magReadAction2(0x03, 0x80); },
                  {0x40, 0x30, 0x83}, true},
        FrameCase{"MagWriteHighCoercivity", [](PrinterApi& a) { return a.magWriteAction(0x01, 5); },
                  {0x40, 0x40, 0x11}, true},
        FrameCase{"MagWriteLowCoercivity", [](PrinterApi& a) { return a.magWriteAction(0x06, 0); },
                  {0x40, 0x40, 0x06}, true},
        FrameCase{"MagWrite2RoundsDensities",
                  [](PrinterApi& a) { return a.magWriteAction2(0x07, 0x80, 75, 210, 300); },
                  {0x40, 0x40, 0x87, 76, 210, 210}, true},
        FrameCase{"MagWrite2WithoutBitDataSendsZeros",
                  [](PrinterApi& a) { return a.magWriteAction2(0x07, 0x10, 75, 210, 300); },
                  {0x40, 0x40, 0x17, 0, 0, 0}, true},
        FrameCase{"MagSetBuffer",
                  [](PrinterApi& a) { return a.magSetBuffer(0x02, kData, 3); },
                  {0x40, 0x41, 0x02, 0xA1, 0xA2, 0xA3}, true},
        FrameCase{"MagSetCryptoBuffer",
                  [](PrinterApi& a) { return a.magSetCryptoBuffer(0x08, kData, 2); },
                  {0x40, 0x42, 0x08, 0xA1, 0xA2}, true}),
    [](const auto& info) { return info.param.name; });

TEST(Densities, RoundUpToThePrintersSteps) {
  struct Case {
    int in;
    int out;
  } cases[] = {{-5, 40}, {0, 40}, {40, 40}, {41, 42}, {47, 49}, {75, 76}, {76, 76},
               {100, 105}, {169, 210}, {210, 210}, {211, 210}, {300, 210}};
  for (const Case& c : cases) EXPECT_EQ(roundDensity(c.in), c.out) << c.in;
}

// ---- refusals before anything is sent ----

struct RefusalCase {
  const char* name;
  std::function<ResultCode(PrinterApi&)> call;
  ResultCode code;
  bool prepared;  // the prepare step ran first
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public ApiTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, RefusesWithoutAnActionFrame) {
  const RefusalCase& c = GetParam();
  EXPECT_EQ(c.call(api), c.code);
  EXPECT_TRUE(actions().empty());
  std::vector<Bytes> all = printer().frames();
  EXPECT_EQ(!all.empty(), c.prepared);
}

const uint8_t kLong[300] = {};

INSTANTIATE_TEST_SUITE_P(
    Commands, RefusalTest,
    ::testing::Values(
        RefusalCase{"SetDevParamWithoutData",
                    [](PrinterApi& a) { return a.setDevParam(kData, 0, u"x"); }, rc::kFail, false},
        RefusalCase{"SetPcNameWithoutData",
                    [](PrinterApi& a) { return a.setPcName(u"x", nullptr, 3); }, rc::kFail, false},
        RefusalCase{"SetMagCryptKeyWithoutKey",
                    [](PrinterApi& a) { return a.setMagCryptKey(u"x", kData, 0); }, rc::kFail, false},
        RefusalCase{"UsbSetCommandShort", [](PrinterApi& a) { return a.usbSetCommand(kData, 2); },
                    rc::kFail, false},
        RefusalCase{"LcdTextNegativeMode",
                    [](PrinterApi& a) { return a.setLcdText(-1, 0, u"x"); },
                    rc::kErrInvalidParameter, false},
        RefusalCase{"LcdTextNegativeLine",
                    [](PrinterApi& a) { return a.setLcdText(0, -1, u"x"); },
                    rc::kErrInvalidParameter, false},
        RefusalCase{"LcdTextMissing", [](PrinterApi& a) { return a.setLcdText(0, 0, nullptr); },
                    rc::kErrInvalidParameter, false},
        RefusalCase{"MovePositionOutOfRange", [](PrinterApi& a) { return a.move(7); },
                    rc::kErrInvalidParameter, true},
        RefusalCase{"MoveNegativePosition", [](PrinterApi& a) { return a.move(-1); },
                    rc::kErrInvalidParameter, true},
        RefusalCase{"MagGetBufferTwoTracks",
                    [](PrinterApi& a) { return a.magGetBuffer(0x03, nullptr); },
                    rc::kErrNoMagneticData, true},
        RefusalCase{"MagGetBufferNoTrack",
                    [](PrinterApi& a) { return a.magGetBuffer(0x00, nullptr); },
                    rc::kErrNoMagneticTrackData, true},
        RefusalCase{"MagGetBufferHighCoercivityOnly",
                    [](PrinterApi& a) { return a.magGetCryptoBuffer(0x10, nullptr); },
                    rc::kErrNoMagneticTrackData, true},
        RefusalCase{"MagSetBuffer251",
                    [](PrinterApi& a) { return a.magSetBuffer(0x01, kLong, 251); },
                    rc::kErrInvalidParameter, true},
        RefusalCase{"MagSetCryptoBufferTwoTracks",
                    [](PrinterApi& a) { return a.magSetCryptoBuffer(0x05, kLong, 2); },
                    rc::kErrNoMagneticData, true},
        RefusalCase{"MagSetAllNoTrack",
                    [](PrinterApi& a) { return a.magSetAllBuffer({}); },
                    rc::kErrNoMagneticTrackData, true},
        RefusalCase{"MagSetAllTrackOf256",
                    [](PrinterApi& a) {
                      std::array<MagTrackWrite, 3> t{};
                      t[0] = {true, kLong, 10};
                      t[1] = {true, kLong, 256};
                      return a.magSetAllBuffer(t);
                    },
                    rc::kErrInvalidParameter, true},
        RefusalCase{"MagSetAllWantedWithoutData",
                    [](PrinterApi& a) {
                      std::array<MagTrackWrite, 3> t{};
                      t[2] = {true, nullptr, 0};
                      return a.magSetAllCryptoBuffer(t);
                    },
                    rc::kErrInvalidParameter, true},
        RefusalCase{"MagSetAllNegativeLength",
                    [](PrinterApi& a) {
                      std::array<MagTrackWrite, 3> t{};
                      t[0] = {true, kLong, -1};
                      return a.magSetAllBuffer(t);
                    },
                    rc::kErrInvalidParameter, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(ApiTest, MagSetBufferOf250IsSent) {
  EXPECT_EQ(api.magSetBuffer(0x04, kLong, 250), rc::kSuccess);
  ASSERT_EQ(actions().size(), 1u);
  EXPECT_EQ(actions()[0].size(), 253u);
}

// ---- queries ----

TEST_F(ApiTest, StatusWords) {
  printer().setIdle(0x08100000, 0x10000020);
  PrinterStatus st;
  ASSERT_EQ(api.getStatus(&st), rc::kSuccess);
  EXPECT_EQ(st.a, 0x08100000u);
  EXPECT_EQ(st.b, 0x10000020u);
  uint8_t raw[8];
  ASSERT_EQ(api.getStatus(raw), rc::kSuccess);
  EXPECT_EQ(Bytes(raw, raw + 8), (Bytes{0x00, 0x00, 0x10, 0x08, 0x20, 0x00, 0x00, 0x10}));
  EXPECT_EQ(printer().readHeads().front(), (Bytes{0x00, 0x00, 0x00}));
  EXPECT_EQ(printer().exchanges().front().request, 0x8020500Fu) << "capacity 32";
}

TEST_F(ApiTest, StatusThatNeverArrivesIsACommunicationError) {
  printer().setHook([](const Exchange& ex, Bytes*, int* error) -> std::optional<int64_t> {
    if (!ex.isRead()) return std::nullopt;
    *error = EIO;
    return -1;
  });
  PrinterStatus st;
  EXPECT_EQ(api.getStatus(&st), rc::kErrCommunication);
}

TEST_F(ApiTest, ShortStatusIsNotPassedOffAsWords) {
  printer().setHook([](const Exchange& ex, Bytes*, int*) -> std::optional<int64_t> {
    if (!ex.isRead() || ex.data[0] != 0) return std::nullopt;
    return 5;
  });
  PrinterStatus st;
  EXPECT_EQ(api.getStatus(&st), rc::kErrCommunication);
}

TEST_F(ApiTest, ExtendedStatusValues) {
  Bytes ext(16, 0);
  ext[8] = 0x05;
  ext[10] = 0xE8;
  ext[11] = 0x03;
  printer().setExtended(ext);
  uint32_t type = 0;
  uint32_t remain = 0;
  ASSERT_EQ(api.getRibbonType(&type), rc::kSuccess);
  ASSERT_EQ(api.getRibbonRemain(&remain), rc::kSuccess);
  EXPECT_EQ(type, 5u);
  EXPECT_EQ(remain, 1000u);
  Bytes all;
  ASSERT_EQ(api.getStatus2(&all), rc::kSuccess);
  EXPECT_EQ(all, ext);
}

struct TemperatureCase {
  const char* name;
  Bytes reply;
  ResultCode code;
  uint32_t first;
  uint32_t second;
};
void PrintTo(const TemperatureCase& c, std::ostream* os) { *os << c.name; }

class TemperatureTest : public ApiTest, public ::testing::WithParamInterface<TemperatureCase> {};

TEST_P(TemperatureTest, NeedsFourBytes) {
  const TemperatureCase& c = GetParam();
  printer().setReply({0x50, 0x10, 0x00}, c.reply);
  uint32_t first = 0;
  uint32_t second = 0;
  EXPECT_EQ(api.getTemperature(&first, &second), c.code);
  EXPECT_EQ(first, c.first);
  EXPECT_EQ(second, c.second);
}

INSTANTIATE_TEST_SUITE_P(Replies, TemperatureTest,
                         ::testing::Values(TemperatureCase{"Three", {0x10, 0x00, 0x20}, rc::kErrCommunication, 0, 0},
                                           TemperatureCase{"Four", {0x2C, 0x01, 0x20, 0x00}, rc::kSuccess, 300, 32}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ApiTest, RawAndTextQueries) {
  printer().setReply({0x50, 0x03, 0x00}, {1, 2, 3});
  printer().setReply({0x50, 0x01, 0x00}, {'V', '1', '.', '2', 0, 'x', 'y'});
  Bytes reply;
  ASSERT_EQ(api.getDevParam(&reply), rc::kSuccess);
  EXPECT_EQ(reply, (Bytes{1, 2, 3}));
  std::u16string version;
  int length = 0;
  ASSERT_EQ(api.getVersion(&version, &length), rc::kSuccess);
  EXPECT_EQ(version, u"V1.2");
  EXPECT_EQ(length, 7);
  // Capacities: 1024 for raw replies, 256 for texts.
  auto ex = printer().exchanges();
  EXPECT_EQ(ex[ex.size() - 2].request, 0x8400500Fu);
  EXPECT_EQ(ex.back().request, 0x8100500Fu);
}

TEST_F(ApiTest, EmptyParameterReplyFailsButMonitoringsMayBeEmpty) {
  Bytes reply{9};
  EXPECT_EQ(api.getDevParam(&reply), rc::kErrCommunication);
  EXPECT_EQ(api.getMonitorings(&reply), rc::kSuccess);
  EXPECT_TRUE(reply.empty());
}

TEST_F(ApiTest, UsbGetCommandPassesTheRequestThrough) {
  const uint8_t req[3] = {0x50, 0x0B, 0x00};
  printer().setReply({0x50, 0x0B, 0x00}, {7, 7});
  Bytes reply;
  EXPECT_EQ(api.usbGetCommand(req, 2, 64, &reply), rc::kFail);
  EXPECT_EQ(api.usbGetCommand(req, 4, 64, &reply), rc::kFail);
  ASSERT_EQ(api.usbGetCommand(req, 3, 64, &reply), rc::kSuccess);
  EXPECT_EQ(reply, (Bytes{7, 7}));
  EXPECT_EQ(printer().exchanges().back().request, 0x8040500Fu);
}

// ---- waits ----

TEST_F(ApiTest, WaitNotBusyTimesOutAfterItsLimit) {
  printer().setIdle(0x04000000, 0);
  EXPECT_EQ(api.waitNotBusy(1000), rc::kErrTimeout);
  EXPECT_EQ(printer().statusReads(), 10);
  printer().clearLog();
  EXPECT_EQ(api.waitNotBusy(0), rc::kErrTimeout) << "0 means 1000 ms";
  EXPECT_EQ(printer().statusReads(), 10);
  printer().setIdle(0, 0);
  printer().scriptStatusRepeat(0x04000000, 0, 3);
  printer().clearLog();
  EXPECT_EQ(api.waitNotBusy(1000), rc::kSuccess);
  EXPECT_EQ(printer().statusReads(), 4);
}

TEST_F(ApiTest, PrepareFailureStopsTheAction) {
  printer().setIdle(0x04000000, 0);  // an SBS command never ends
  EXPECT_EQ(api.cardOut(), rc::kErrTimeout);
  EXPECT_TRUE(actions().empty());
}

struct MotionCase {
  const char* name;
  std::vector<std::pair<uint32_t, uint32_t>> polls;  // status answers after prepare
  ResultCode code;
  int statusPolls;  // status reads by the motion wait
};
void PrintTo(const MotionCase& c, std::ostream* os) { *os << c.name; }

class MotionWaitTest : public ApiTest, public ::testing::WithParamInterface<MotionCase> {};

TEST_P(MotionWaitTest, Outcome) {
  const MotionCase& c = GetParam();
  printer().scriptStatus({{kIdle, 0}});  // prepare's poll
  for (auto& p : c.polls) printer().scriptStatus({p});
  printer().setIdle(kMoving, 0);  // beyond the script the card keeps moving
  EXPECT_EQ(api.move(0), c.code);
  EXPECT_EQ(printer().statusReads() - 1, c.statusPolls);
}

const uint32_t kCover = 0x10000000;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, MotionWaitTest,
    ::testing::Values(
        MotionCase{"EndsWhenIdle", {{kMoving, 0}, {kMoving, 0}, {kIdle, 0}}, rc::kSuccess, 3},
        MotionCase{"FaultOfItsMask", {{kMoving, 0}, {kIdle, 0x02}}, rc::kErrMoveToPrint, 2},
        MotionCase{"FaultOfAnotherMaskIsIgnored", {{kIdle, 0x01 | 0x04 | 0x8000}}, rc::kSuccess, 1},
        MotionCase{"CoverOpenOnce", {{kMoving | kCover, 0}, {kMoving, 0}, {kIdle, 0}}, rc::kSuccess, 3},
        MotionCase{"CoverOpenOnceWhileIdleEnds", {{kIdle | kCover, 0}}, rc::kSuccess, 1},
        MotionCase{"CoverOpenTwice", {{kMoving, 0}, {kMoving | kCover, 0}, {kMoving | kCover, 0}},
                   rc::kErrCaseOpen, 3},
        MotionCase{"CoverOpenNotConsecutive",
                   {{kMoving | kCover, 0}, {kMoving, 0}, {kMoving | kCover, 0}, {kIdle, 0}},
                   rc::kSuccess, 4},
        MotionCase{"TimeoutAfter100Polls", {}, rc::kErrTimeout, 100},
        MotionCase{"ActivityBit29", {{0x20000000, 0}, {0x01000000, 0}, {kIdle, 0}}, rc::kSuccess, 3},
        MotionCase{"NonActivityBitsDoNotKeepItWaiting", {{0x08000000 | 0x00040000, 0}}, rc::kSuccess,
                   1}),
    [](const auto& info) { return info.param.name; });

struct FaultCase {
  const char* name;
  std::function<ResultCode(PrinterApi&)> call;
  uint32_t faultB;
  ResultCode code;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultMaskTest : public ApiTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMaskTest, WordBFaultGivesTheCode) {
  const FaultCase& c = GetParam();
  // The fault flag is up from the start: prepare and card-in's check look at
  // word A only.
  printer().setIdle(kIdle, c.faultB);
  EXPECT_EQ(c.call(api), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, FaultMaskTest,
    ::testing::Values(
        FaultCase{"CardIn", [](PrinterApi& a) { return a.cardIn(); }, 0x01, rc::kErrCardIn},
        FaultCase{"CardOut", [](PrinterApi& a) { return a.cardOut(); }, 0x04, rc::kErrCardOut},
        FaultCase{"CardOutBack", [](PrinterApi& a) { return a.cardOutBack(); }, 0x400000,
                  rc::kErrCardOutBack},
        FaultCase{"MoveMagnetic", [](PrinterApi& a) { return a.move(1); }, 0x08, rc::kErrMoveToMagnetic},
        FaultCase{"MoveContact", [](PrinterApi& a) { return a.move(2); }, 0x10, rc::kErrMoveToContact},
        FaultCase{"MoveContactless", [](PrinterApi& a) { return a.move(3); }, 0x20,
                  rc::kErrMoveToContactless},
        FaultCase{"MoveFlipper", [](PrinterApi& a) { return a.move(4); }, 0x40, rc::kErrMoveToFlipper},
        FaultCase{"MoveDevice", [](PrinterApi& a) { return a.move(5); }, 0x80, rc::kErrMoveToDevice},
        FaultCase{"Move6", [](PrinterApi& a) { return a.move(6); }, 0x20, rc::kErrMoveFromInSensor},
        FaultCase{"MoveFromIn", [](PrinterApi& a) { return a.moveFromIn(-3); }, 0x20,
                  rc::kErrMoveFromInSensor},
        FaultCase{"MoveFromOut", [](PrinterApi& a) { return a.moveFromOut(3); }, 0x10,
                  rc::kErrMoveFromOutSensor},
        FaultCase{"RotateFlipTop", [](PrinterApi& a) { return a.rotate(); }, 0x1000, 0x80000037},
        FaultCase{"Rotate180Flipper", [](PrinterApi& a) { return a.rotate180(1); }, 0x40, 0x80000037},
        FaultCase{"Rotate180Device", [](PrinterApi& a) { return a.rotate180(0); }, 0x2000, 0x80000037},
        FaultCase{"IcContact", [](PrinterApi& a) { return a.icContact(); }, 0x800, 0x8000001F},
        FaultCase{"IcDiscontact", [](PrinterApi& a) { return a.icDiscontact(); }, 0x400, 0x8000001E},
        FaultCase{"MagReadStripe", [](PrinterApi& a) { return a.magReadAction(1); }, 0x8000,
                  rc::kErrMagneticReadWrite},
        FaultCase{"MagWritePosition", [](PrinterApi& a) { return a.magWriteAction(1, 0); }, 0x08,
                  rc::kErrMagneticReadWrite},
        FaultCase{"MagWrite2", [](PrinterApi& a) { return a.magWriteAction2(1, 0x80, 1, 1, 1); },
                  0x8000, rc::kErrMagneticReadWrite}),
    [](const auto& info) { return info.param.name; });

TEST_F(ApiTest, CardInRefusesWhenACardIsInside) {
  for (uint32_t bits : {0x00100000u, 0x00200000u}) {
    printer().setIdle(bits, 0);
    printer().clearLog();
    clock.advanceMs(100);
    EXPECT_EQ(api.cardIn(), rc::kErrCardInside);
    EXPECT_TRUE(actions().empty());
  }
  printer().setIdle(0, 0);
  clock.advanceMs(100);
  EXPECT_EQ(api.cardIn(), rc::kSuccess);
  EXPECT_EQ(actions().back(), (Bytes{0x40, 0x01, 0x00}));
}

TEST_F(ApiTest, CleaningDoesNotWaitForTheMechanism) {
  printer().scriptStatus({{kIdle, 0}});
  printer().setIdle(kMoving, 0);
  int64_t before = clock.sleptMs();
  EXPECT_EQ(api.doCleaning(), rc::kSuccess);
  EXPECT_EQ(clock.sleptMs() - before, 200 + 500);  // prepare's two pauses, then 500 ms
}

// ---- magnetic buffers ----

TEST_F(ApiTest, MagGetBufferAsksForTheSelectedTrack) {
  printer().setReply({0x40, 0x31, 0x08}, {'J', 'I', 'S'});
  Bytes data;
  ASSERT_EQ(api.magGetBuffer(0x08, &data), rc::kSuccess);
  EXPECT_EQ(data, (Bytes{'J', 'I', 'S'}));
  EXPECT_EQ(printer().readHeads().back(), (Bytes{0x40, 0x31, 0x08}));
  EXPECT_EQ(printer().exchanges().back().request, 0x8100500Fu);
}

struct RecordCase {
  const char* name;
  Bytes reply;
  bool crypto;
  std::array<bool, 3> wanted;
  std::array<std::string, 3> tracks;
  ResultCode code;
};
void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class TrackRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(TrackRecordTest, Parse) {
  const RecordCase& c = GetParam();
  uint8_t buffers[3][256];
  std::memset(buffers, 0x77, sizeof buffers);
  std::array<MagTrackRead, 3> tracks{};
  for (int i = 0; i < 3; ++i) tracks[i] = {c.wanted[i], buffers[i], 256, 99};
  EXPECT_EQ(parseTrackRecords(c.reply.data(), c.reply.size(), c.crypto, &tracks), c.code);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(tracks[i].length, static_cast<int>(c.tracks[i].size())) << i;
    if (!c.tracks[i].empty()) {
      // Stored zero-terminated.
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffers[i])), c.tracks[i]) << i;
    }
  }
}

Bytes recordBytes(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<uint8_t>(x));
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TrackRecordTest,
    ::testing::Values(
        RecordCase{"PlainEmptyRecordTakesThreeBytes",
                   recordBytes({0x01, 0x00, 0x00, 0x02, 0x03, 'A', 'B', 'C'}), false,
                   {true, true, true}, {"", "ABC", ""}, rc::kSuccess},
        // As a crypto reply the empty record is two bytes, so the rest is
        // read from the wrong place and its record runs past the end.
        RecordCase{"CryptoEmptyRecordTakesTwoBytes",
                   recordBytes({0x01, 0x00, 0x00, 0x02, 0x03, 'A', 'B', 'C'}), true,
                   {true, true, true}, {"", "", ""}, rc::kSuccess},
        RecordCase{"CryptoRecords",
                   recordBytes({0x01, 0x00, 0x04, 0x02, 'x', 'y', 0x02, 0x01, 'Z'}), true,
                   {true, true, true}, {"", "Z", "xy"}, rc::kSuccess},
        RecordCase{"UnwantedTracksAreSkipped",
                   recordBytes({0x01, 0x02, 'a', 'b', 0x04, 0x01, 'c'}), false,
                   {false, true, true}, {"", "", "c"}, rc::kSuccess},
        RecordCase{"RecordCutShortIsIgnored", recordBytes({0x01, 0x05, 'a', 'b'}), false,
                   {true, false, false}, {"", "", ""}, rc::kSuccess},
        RecordCase{"LoneTagByte", recordBytes({0x02}), false, {true, true, true}, {"", "", ""},
                   rc::kSuccess}),
    [](const auto& info) { return info.param.name; });

TEST(TrackRecords, SmallBufferIsNeverOverrun) {
  Bytes reply = recordBytes({0x01, 0x04, 'a', 'b', 'c', 'd'});
  uint8_t small[4 + 4];
  std::memset(small, 0xEE, sizeof small);
  std::array<MagTrackRead, 3> tracks{};
  tracks[0] = {true, small, 4, 0};
  EXPECT_EQ(parseTrackRecords(reply.data(), reply.size(), false, &tracks), rc::kErrInsufficientBuffer);
  for (size_t i = 4; i < sizeof small; ++i) EXPECT_EQ(small[i], 0xEE);
  tracks[0].capacity = 5;
  EXPECT_EQ(parseTrackRecords(reply.data(), reply.size(), false, &tracks), rc::kSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small)), "abcd");
}

TEST_F(ApiTest, MagGetAllBufferAsksForTheWantedTracks) {
  printer().setReply({0x40, 0x31, 0x85}, recordBytes({0x01, 0x02, 'h', 'i', 0x04, 0x00, 0x00}));
  uint8_t b1[256];
  uint8_t b3[256];
  std::array<MagTrackRead, 3> tracks{};
  tracks[0] = {true, b1, 256, 0};
  tracks[2] = {true, b3, 256, 5};
  ASSERT_EQ(api.magGetAllBuffer(&tracks), rc::kSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b1)), "hi");
  EXPECT_EQ(tracks[0].length, 2);
  EXPECT_EQ(tracks[2].length, 0);
  EXPECT_EQ(printer().exchanges().back().request, 0x8400500Fu) << "capacity 1024";
  EXPECT_EQ(printer().readHeads().back(), (Bytes{0x40, 0x31, 0x85}));
}

TEST_F(ApiTest, MagGetAllBufferEmptyReplyFailsButCryptoMayBeEmpty) {
  uint8_t b[256];
  std::array<MagTrackRead, 3> tracks{};
  tracks[1] = {true, b, 256, 0};
  EXPECT_EQ(api.magGetAllBuffer(&tracks), rc::kErrCommunication);
  EXPECT_EQ(api.magGetAllCryptoBuffer(&tracks), rc::kSuccess);
  EXPECT_EQ(printer().readHeads().back(), (Bytes{0x40, 0x32, 0x82}));
  tracks[1].capacity = 0;
  EXPECT_EQ(api.magGetAllBuffer(&tracks), rc::kErrInvalidParameter);
  tracks[1] = {true, nullptr, 256, 0};
  EXPECT_EQ(api.magGetAllBuffer(&tracks), rc::kErrInvalidParameter);
  std::array<MagTrackRead, 3> none{};
  EXPECT_EQ(api.magGetAllBuffer(&none), rc::kErrNoMagneticTrackData);
}

TEST_F(ApiTest, MagSetAllBufferSendsTaggedRecordsInTrackOrder) {
  const uint8_t t1[] = {'1', '1'};
  const uint8_t t3[255] = {};
  std::array<MagTrackWrite, 3> tracks{};
  tracks[2] = {true, t3, 255};
  tracks[0] = {true, t1, 2};
  tracks[1] = {false, t1, 2};
  ASSERT_EQ(api.magSetAllBuffer(tracks), rc::kSuccess);
  Bytes expect = {0x40, 0x41, 0x80, 0x01, 0x02, '1', '1', 0x04, 0xFF};
  expect.insert(expect.end(), 255, 0);
  EXPECT_EQ(actions().back(), expect);

  tracks[2] = {true, t3, 0};
  ASSERT_EQ(api.magSetAllCryptoBuffer(tracks), rc::kSuccess);
  EXPECT_EQ(actions().back(), (Bytes{0x40, 0x42, 0x80, 0x01, 0x02, '1', '1', 0x04, 0x00}));
}

TEST_F(ApiTest, MagSetAllBufferNeedsAPositiveSendResult) {
  printer().setHook([](const Exchange& ex, Bytes*, int*) -> std::optional<int64_t> {
    if (ex.isWrite() && ex.data[1] == 0x41) return 0;
    return std::nullopt;
  });
  const uint8_t t1[] = {'1'};
  std::array<MagTrackWrite, 3> tracks{};
  tracks[0] = {true, t1, 1};
  EXPECT_EQ(api.magSetAllBuffer(tracks), rc::kErrCommunication);
}

// ---- print data ----

TEST_F(ApiTest, PrintWithoutWaitingOnlySendsThePieces) {
  Bytes data(10000, 0x5A);
  EXPECT_EQ(api.printData(data.data(), data.size(), false), rc::kSuccess);
  EXPECT_EQ(printer().writeSizes(), (std::vector<size_t>{4096, 4096, 1808}));
  EXPECT_EQ(printer().statusReads(), 1);
}

TEST_F(ApiTest, PrintInSbsModeReturnsOnceTheDataIsTaken) {
  const uint32_t sbs = 0x08000000;
  printer().scriptStatus({{sbs, 0}, {sbs | 0x01000000, 0}, {sbs | 0x02000000, 0}});
  printer().setIdle(sbs | 0x00001000, 0);  // would keep the print-end wait going
  Bytes data(5000, 1);
  EXPECT_EQ(api.print(data.data(), data.size()), rc::kSuccess);
  EXPECT_EQ(printer().statusReads(), 3);
}

TEST_F(ApiTest, PrintWaitsForTheEndOfPrinting) {
  printer().scriptStatus({{0, 0}, {0x02000000, 0}, {0x00001000, 0}, {0x04000000, 0}, {0, 0}});
  printer().setIdle(0x00001000, 0);
  Bytes data(100, 1);
  EXPECT_EQ(api.print(data.data(), data.size()), rc::kSuccess);
  EXPECT_EQ(printer().statusReads(), 5);
}

struct PrintWaitCase {
  const char* name;
  std::vector<std::pair<uint32_t, uint32_t>> polls;  // after the first status and spool data
  uint32_t idleA;
  uint32_t idleB;
  ResultCode code;
};
void PrintTo(const PrintWaitCase& c, std::ostream* os) { *os << c.name; }

class PrintEndTest : public ApiTest, public ::testing::WithParamInterface<PrintWaitCase> {};

TEST_P(PrintEndTest, Outcome) {
  const PrintWaitCase& c = GetParam();
  printer().scriptStatus({{0, 0}, {0x02000000, 0}});
  for (auto& p : c.polls) printer().scriptStatus({p});
  printer().setIdle(c.idleA, c.idleB);
  Bytes data(10, 1);
  EXPECT_EQ(api.print(data.data(), data.size()), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PrintEndTest,
    ::testing::Values(
        PrintWaitCase{"PrintFaultFirst", {}, 0x1000, 0x4000 | 0x10000 | 0x20000 | 0x100000,
                      rc::kErrPrinting},
        PrintWaitCase{"SeekRibbonBeforeWind", {}, 0x1000, 0x10000 | 0x20000 | 0x100000,
                      rc::kErrSeekRibbon},
        PrintWaitCase{"WindRibbonBeforeEmpty", {}, 0, 0x20000 | 0x100000, rc::kErrWindRibbon},
        PrintWaitCase{"RibbonEmpty", {}, 0, 0x100000, rc::kErrRibbonEmpty},
        PrintWaitCase{"CoverBeforeFaults", {{0x10001000, 0}}, 0x10001000, 0x4000, rc::kErrCaseOpen},
        PrintWaitCase{"FaultWhilePrinting", {{0x1000, 0}, {0x1000, 0}}, 0x1000, 0x4000,
                      rc::kErrPrinting},
        PrintWaitCase{"OtherFaultsDoNotStopIt", {}, 0, 0x01 | 0x200000, rc::kSuccess},
        PrintWaitCase{"TimeoutAfter300Polls", {}, 0x1000, 0, rc::kErrTimeout}),
    [](const auto& info) { return info.param.name; });

TEST_F(ApiTest, PrintEndTimeoutTakesThreeHundredPolls) {
  printer().setIdle(0x1000, 0);
  EXPECT_EQ(api.waitPrintEnd(), rc::kErrTimeout);
  EXPECT_EQ(printer().statusReads(), 300);
}

class SpoolWaitTest : public ApiTest, public ::testing::WithParamInterface<PrintWaitCase> {};

TEST_P(SpoolWaitTest, Outcome) {
  const PrintWaitCase& c = GetParam();
  printer().scriptStatus({{0, 0}});
  for (auto& p : c.polls) printer().scriptStatus({p});
  printer().setIdle(c.idleA, c.idleB);
  Bytes data(10, 1);
  EXPECT_EQ(api.print(data.data(), data.size()), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SpoolWaitTest,
    ::testing::Values(PrintWaitCase{"DataFault", {{0x01000000, 0}}, 0, 0x200000, rc::kErrNoPrintData},
                      PrintWaitCase{"CoverOpenTwice", {{0x10000000, 0}}, 0x10000000, 0,
                                    rc::kErrCaseOpen},
                      PrintWaitCase{"CoverOpenOnce", {{0x10000000, 0}}, 0x02000000, 0,
                                    rc::kSuccess},
                      PrintWaitCase{"TimeoutAfter150Polls", {}, 0x01000000, 0, rc::kErrTimeout}),
    [](const auto& info) { return info.param.name; });

TEST_F(ApiTest, SpoolTimeoutTakesOneHundredFiftyPolls) {
  printer().setIdle(0x01000000, 0);
  EXPECT_EQ(api.waitSpoolData(), rc::kErrTimeout);
  EXPECT_EQ(printer().statusReads(), 150);
}

TEST_F(ApiTest, FailedPrintWriteIsAFailure) {
  printer().setWriteHook([](size_t, int* error) -> std::optional<int64_t> {
    *error = EIO;
    return -1;
  });
  Bytes data(10, 1);
  EXPECT_EQ(api.print(data.data(), data.size()), rc::kFail);
}

TEST_F(ApiTest, DoPrintSendsThePrintCommandAndWaits) {
  printer().scriptStatus({{0x1000, 0}, {0x1000, 0}});
  printer().setIdle(0, 0);
  EXPECT_EQ(api.doPrint(), rc::kSuccess);
  EXPECT_EQ(actions(), (std::vector<Bytes>{{0x40, 0x0B, 0x00}}));
  EXPECT_EQ(printer().statusReads(), 3);
}

// ---- printer lock ----

TEST_F(ApiTest, LockAndUnlockWithTheRightPassword) {
  printer().setLockPassword("secret");
  EXPECT_EQ(api.lockPrinter2(u"secret"), rc::kSuccess);
  EXPECT_TRUE(printer().locked());
  Bytes frame = actions().back();
  ASSERT_EQ(frame.size(), 19u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 3), (Bytes{0x50, 0x19, 0x00}));
  EXPECT_EQ(Bytes(frame.begin() + 3, frame.end()), lockDigest("secret", 0x34, 0x12));

  clock.advanceMs(100);
  EXPECT_EQ(api.unlockPrinter2(u"wrong"), rc::kFail);
  EXPECT_TRUE(printer().locked());
  clock.advanceMs(100);
  EXPECT_EQ(api.unlockPrinter2(u"secret"), rc::kSuccess);
  EXPECT_FALSE(printer().locked());
  EXPECT_EQ(actions().back()[1], 0x18);
}

TEST_F(ApiTest, WrongPasswordDoesNotLock) {
  printer().setLockPassword("secret");
  EXPECT_EQ(api.lockPrinter2(u"Secret"), rc::kFail);
  EXPECT_FALSE(printer().locked());
}

TEST_F(ApiTest, OnlyTheFirstEightCharactersOfThePasswordCount) {
  printer().setLockPassword("ABCDEFGH");
  EXPECT_EQ(api.lockPrinter2(u"ABCDEFGHIJKL"), rc::kSuccess);
  Bytes twelve = actions().back();
  clock.advanceMs(100);
  EXPECT_EQ(api.lockPrinter2(u"ABCDEFGH"), rc::kSuccess);
  EXPECT_EQ(actions().back(), twelve);
}

TEST_F(ApiTest, DigestFollowsTheRibbonCount) {
  Bytes ext(16, 0);
  ext[10] = 0x01;
  ext[11] = 0x02;
  printer().setExtended(ext);
  printer().setLockPassword("pw");
  EXPECT_EQ(api.lockPrinter2(u"pw"), rc::kSuccess);
  Bytes frame = actions().back();
  EXPECT_EQ(Bytes(frame.begin() + 3, frame.end()), lockDigest("pw", 0x01, 0x02));
}

struct UnlockTimeCase {
  const char* name;
  int seconds;
  uint32_t sent;
};
void PrintTo(const UnlockTimeCase& c, std::ostream* os) { *os << c.name; }

class TimedUnlockTest : public ApiTest, public ::testing::WithParamInterface<UnlockTimeCase> {};

TEST_P(TimedUnlockTest, SecondsAreClamped) {
  printer().setLockPassword("pw");
  EXPECT_EQ(api.unlockPrinter3(u"pw", GetParam().seconds), rc::kSuccess);
  Bytes frame = actions().back();
  ASSERT_EQ(frame.size(), 23u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 3), (Bytes{0x50, 0x1A, 0x00}));
  EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 19), lockDigest("pw", 0x34, 0x12));
  uint32_t sent = frame[19] | frame[20] << 8 | frame[21] << 16 | static_cast<uint32_t>(frame[22]) << 24;
  EXPECT_EQ(sent, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Times, TimedUnlockTest,
                         ::testing::Values(UnlockTimeCase{"Within", 90, 90},
                                           UnlockTimeCase{"Above", 7200, 3600},
                                           UnlockTimeCase{"Negative", -5, 0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ApiTest, LockWithoutExtendedStatusSendsNothing) {
  printer().setHook([](const Exchange& ex, Bytes*, int* error) -> std::optional<int64_t> {
    if (ex.isRead() && ex.data[0] == 0x02) {
      *error = EIO;
      return -1;
    }
    return std::nullopt;
  });
  EXPECT_EQ(api.lockPrinter2(u"pw"), rc::kErrCommunication);
  EXPECT_TRUE(actions().empty());
}

}  // namespace
}  // namespace tavik::test
