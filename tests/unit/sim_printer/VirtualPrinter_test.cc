#include "sim/printer/VirtualPrinter.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "tests/unit/sim_printer/PrinterLink.h"

namespace tavik {
namespace {

using sim::word_a::kActivity;
using test::le32;
using test::PrinterLink;
using test::VirtualPrinterTest;
using test::waitFor;

// ------------------------------------------------------------ driver requests

TEST_F(VirtualPrinterTest, DeviceIdCarriesBigEndianLengthThatCountsItself) {
  std::vector<uint8_t> buffer(1024, 0xEE);
  int r = link_.file().ioctl(test::withSize(test::kDeviceIdRequest, 1024), buffer.data(), 1024);
  ASSERT_GT(r, 2);
  size_t length = static_cast<size_t>(buffer[0] << 8 | buffer[1]);
  EXPECT_EQ(length, static_cast<size_t>(r));
  std::string id(buffer.begin() + 2, buffer.begin() + r);
  EXPECT_EQ(id.rfind("MFG:TAVIK;MDL:TC-D200;CMD:", 0), 0u) << id;
  EXPECT_EQ(id.back(), ';');
}

TEST_F(VirtualPrinterTest, IdentificationAnswersTheIdText) {
  auto id = link_.ask({0x50, 0x06, 0x00});
  EXPECT_EQ(std::string(id.begin(), id.end()), "TAVIK TC-D200");
  // The identification can be rewritten: model field first, then vendor.
  std::vector<uint8_t> set(19, 0);
  set[0] = 0x50;
  set[1] = 0x06;
  std::memcpy(&set[3], "CD", 2);
  std::memcpy(&set[11], "AB", 2);
  EXPECT_EQ(link_.send(set), 19);
  id = link_.ask({0x50, 0x06, 0x00});
  EXPECT_EQ(std::string(id.begin(), id.end()), "AB CD");
}

TEST_F(VirtualPrinterTest, RequestNumberSizeMustMatchTheBuffer) {
  std::vector<uint8_t> buffer(32, 0);
  errno = 0;
  EXPECT_EQ(link_.file().ioctl(test::withSize(test::kCommandReadRequest, 16), buffer.data(), 32), -1);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(link_.file().ioctl(0x80205077, buffer.data(), 32), -1);
  EXPECT_EQ(errno, ENOTTY);
}

TEST_F(VirtualPrinterTest, UnknownReadAnswersNothingAndUnknownWriteIsIgnored) {
  int result = -2;
  auto reply = link_.ask({0x50, 0x7E, 0x00}, 32, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(link_.send({0x40, 0x99, 0x00}), 3);
  EXPECT_EQ(link_.send({0x77}), 1);  // short frame: no crash, no effect
  EXPECT_EQ(link_.wordB(), 0u);
}

// ------------------------------------------------------------ status

TEST_F(VirtualPrinterTest, StatusRoundTrip) {
  auto s = link_.ask({0x00, 0x00, 0x00});
  ASSERT_EQ(s.size(), 12u);
  uint32_t a = le32(s.data());
  EXPECT_EQ(a & kActivity, 0u);
  EXPECT_NE(a & sim::word_a::kDualSide, 0u);
  EXPECT_NE(a & sim::word_a::kHopperCard, 0u);
  EXPECT_NE(a & sim::word_a::kHeadLifted, 0u);
  EXPECT_EQ(a & (sim::word_a::kCardInside | sim::word_a::kCardAtStation), 0u);
  EXPECT_EQ(le32(s.data() + 4), 0u);
  EXPECT_EQ(s[8], 5);  // hopper count

  printer_.model().setRibbon(0x1234, 3);
  auto x = link_.ask({0x02, 0x00, 0x00});
  ASSERT_EQ(x.size(), 16u);
  EXPECT_EQ(x[8], 3);
  EXPECT_EQ(x[10], 0x34);
  EXPECT_EQ(x[11], 0x12);
}

TEST_F(VirtualPrinterTest, QueriesAnswerWithTheirLayouts) {
  auto t = link_.ask({0x50, 0x10, 0x00});
  EXPECT_EQ(t.size(), 4u);
  EXPECT_FALSE(link_.ask({0x50, 0x01, 0x00}).empty());
  EXPECT_EQ(link_.ask({0x50, 0x11, 0x00}).size(), 4u);
  EXPECT_FALSE(link_.ask({0x50, 0x03, 0x00}, 1024).empty());
  // Serial: long field of 16 bytes.
  std::vector<uint8_t> serial(19, 0);
  serial[0] = 0x50;
  serial[1] = 0x02;
  std::memcpy(&serial[3], "SN-0042", 7);
  link_.send(serial);
  auto sn = link_.ask({0x50, 0x02, 0x00}, 256);
  EXPECT_EQ(std::string(sn.begin(), sn.end()), "SN-0042");
  // Data banks: select, then write and read the value.
  link_.send({0x50, 0x21, 0x00, 0x07, 0x00, 0x00, 0x00});
  link_.send({0x50, 0x22, 0x00, 0xDE, 0xAD, 0xBE, 0xEF});
  link_.send({0x50, 0x21, 0x00, 0x08, 0x00, 0x00, 0x00});
  EXPECT_EQ(link_.ask({0x50, 0x22, 0x00}, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  link_.send({0x50, 0x21, 0x00, 0x07, 0x00, 0x00, 0x00});
  EXPECT_EQ(link_.ask({0x50, 0x22, 0x00}, 4), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST_F(VirtualPrinterTest, ModeFramesSetTheirWordABits) {
  link_.send({0x40, 0x0C, 0x00});
  EXPECT_NE(link_.wordA() & sim::word_a::kSbsMode, 0u);
  link_.send({0x40, 0x0D, 0x00});
  EXPECT_EQ(link_.wordA() & sim::word_a::kSbsMode, 0u);
  link_.send({0x40, 0x1D, 0x00});
  EXPECT_NE(link_.wordA() & sim::word_a::kTestMode, 0u);
  std::vector<uint8_t> lcd = {0x40, 0x20, 0x00, 0x00, 0x01};
  for (char c : std::string("HELLO           ")) lcd.push_back(static_cast<uint8_t>(c));
  link_.send(lcd);
  EXPECT_NE(printer_.model().stateJson().find("\"lcd\":[\"\",\"HELLO\"]"), std::string::npos);
}

// ------------------------------------------------------------ mechanism

TEST_F(VirtualPrinterTest, CardInMoveOutRaiseAndDropActivityBits) {
  printer_.model().setTimeScale(0.5);  // 600 ms feed: long enough to see
  link_.send({0x40, 0x01, 0x00});
  EXPECT_NE(link_.wordA() & sim::word_a::kTakingIn, 0u);
  ASSERT_TRUE(link_.waitIdle());
  uint32_t a = link_.wordA();
  EXPECT_NE(a & sim::word_a::kCardInside, 0u);
  EXPECT_EQ(link_.wordB(), 0u);

  link_.send({0x40, 0x07, 0x00});  // to the contact station
  EXPECT_NE(link_.wordA() & sim::word_a::kToContact, 0u);
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_NE(link_.wordA() & sim::word_a::kCardAtStation, 0u);
  link_.send({0x40, 0x12, 0x00});
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(link_.wordB(), 0u);

  link_.send({0x40, 0x02, 0x00});
  EXPECT_NE(link_.wordA() & sim::word_a::kEjecting, 0u);
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(link_.wordA() & sim::word_a::kCardInside, 0u);
  EXPECT_EQ(link_.wordB(), 0u);
  EXPECT_EQ(printer_.model().ejectedCards().size(), 1u);
  EXPECT_EQ(link_.ask({0x00, 0x00, 0x00})[8], 4);  // one card fewer in the hopper
}

struct FaultCase {
  const char* name;
  const char* setup;  // control line run first ("" for none)
  std::vector<uint8_t> frame;
  uint32_t fault;
};

class ActionFaults : public VirtualPrinterTest,
                     public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ActionFaults, ImpossibleActionSetsItsFaultBitAndClearStatusClearsIt) {
  const FaultCase& c = GetParam();
  if (*c.setup) {
    ASSERT_EQ(printer_.control(c.setup), "OK");
  }
  link_.send(c.frame);
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(link_.wordB() & c.fault, c.fault) << c.name;
  link_.send({0x40, 0xF0, 0x00});
  EXPECT_EQ(link_.wordB(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ActionFaults,
    ::testing::Values(
        FaultCase{"card in, empty hopper", "hopper 0", {0x40, 0x01, 0x00}, 0x01},
        FaultCase{"card in, card already inside", "place print", {0x40, 0x01, 0x00}, 0x01},
        FaultCase{"card in, cover open", "cover open", {0x40, 0x01, 0x00}, 0x01},
        FaultCase{"card out without card", "", {0x40, 0x02, 0x00}, 0x04},
        FaultCase{"card out back without card", "", {0x40, 0x03, 0x00}, 0x400000},
        FaultCase{"move to print without card", "", {0x40, 0x05, 0x00}, 0x02},
        FaultCase{"move to magnetic without card", "", {0x40, 0x06, 0x00}, 0x08},
        FaultCase{"move to device without card", "", {0x40, 0x0A, 0x00}, 0x80},
        FaultCase{"move from in without card", "", {0x40, 0x14, 0xC2}, 0x20},
        FaultCase{"move from out without card", "", {0x40, 0x15, 0x7F}, 0x10},
        FaultCase{"rotate without card", "", {0x40, 0x1C, 0x00}, 0x40},
        FaultCase{"contact away from the station", "place print", {0x40, 0x12, 0x00}, 0x800},
        FaultCase{"magnetic read without card", "", {0x40, 0x30, 0x01}, 0x08},
        FaultCase{"injected eject fault", "failnext 0x4", {0x40, 0x02, 0x00}, 0x04},
        FaultCase{"injected magnetic fault", "failnext 0x8000", {0x40, 0x30, 0x01}, 0x8000}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(VirtualPrinterTest, InjectedConditionsShowInTheWords) {
  EXPECT_EQ(ctl("cover open"), "OK");
  EXPECT_NE(link_.wordA() & sim::word_a::kCoverOpen, 0u);
  EXPECT_EQ(ctl("cover closed"), "OK");
  EXPECT_EQ(link_.wordA() & sim::word_a::kCoverOpen, 0u);
  EXPECT_EQ(ctl("busy on"), "OK");
  EXPECT_NE(link_.wordA() & sim::word_a::kSbsBusy, 0u);
  EXPECT_EQ(ctl("busy off"), "OK");
  EXPECT_EQ(link_.wordA() & sim::word_a::kSbsBusy, 0u);
  EXPECT_EQ(ctl("fault 0x4000"), "OK");
  EXPECT_EQ(link_.wordB(), 0x4000u);
  EXPECT_EQ(ctl("hopper 0"), "OK");
  EXPECT_EQ(link_.wordA() & sim::word_a::kHopperCard, 0u);
  EXPECT_EQ(ctl("bogus"), "ERR unknown command");
}

TEST_F(VirtualPrinterTest, StateIsSetAndReadAsJson) {
  EXPECT_EQ(ctl(R"(set {"hopper":2, "cover":"open", "ribbonRemaining":9, "sbs":true})"), "OK");
  std::string state = ctl("state");
  for (const char* part : {"\"hopper\":2", "\"cover\":\"open\"", "\"ribbonRemaining\":9",
                           "\"sbs\":true", "\"plugged\":true"}) {
    EXPECT_NE(state.find(part), std::string::npos) << part << " in " << state;
  }
  EXPECT_NE(link_.wordA() & sim::word_a::kSbsMode, 0u);
  // One wrong key: nothing changes.
  EXPECT_EQ(ctl("set hopper=4 colour=blue").rfind("ERR", 0), 0u);
  EXPECT_EQ(ctl("set {\"hopper\":-1}").rfind("ERR", 0), 0u);
  EXPECT_NE(ctl("state").find("\"hopper\":2"), std::string::npos);
  EXPECT_EQ(ctl("set hopper=4 cover=closed"), "OK");
  EXPECT_NE(ctl("state").find("\"hopper\":4,"), std::string::npos);
}

TEST_F(VirtualPrinterTest, CleaningNeedsCoverOpenAndEmptyHopper) {
  link_.send({0x40, 0x1E, 0x00});
  EXPECT_EQ(link_.wordA() & sim::word_a::kTestMode, 0u);
  ctl("cover open");
  ctl("hopper 0");
  printer_.model().setTimeScale(1.0);  // 5 s: stays visible
  link_.send({0x40, 0x1E, 0x00});
  EXPECT_NE(link_.wordA() & sim::word_a::kTestMode, 0u);
}

TEST_F(VirtualPrinterTest, DriverFaultInjection) {
  ctl("short 1");
  EXPECT_EQ(link_.ask({0x00, 0x00, 0x00}).size(), 11u);
  EXPECT_EQ(link_.ask({0x00, 0x00, 0x00}).size(), 12u);
  ctl("ioerror 1");
  int result = 0;
  errno = 0;
  link_.ask({0x00, 0x00, 0x00}, 32, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(link_.ask({0x00, 0x00, 0x00}).size(), 12u);
}

TEST_F(VirtualPrinterTest, ChaosFromASeedRepeatsItself) {
  auto run = [&] {
    std::string pattern;
    for (int i = 0; i < 40; ++i) {
      int result = 0;
      auto s = link_.ask({0x00, 0x00, 0x00}, 32, &result);
      pattern += result < 0 ? 'E' : s.size() == 11 ? 'S' : '.';
    }
    return pattern;
  };
  ASSERT_EQ(ctl("chaos 7 30"), "OK");
  std::string first = run();
  ASSERT_EQ(ctl("chaos 7 30"), "OK");
  EXPECT_EQ(run(), first);
  EXPECT_NE(first.find('E'), std::string::npos) << first;
  EXPECT_NE(first.find('.'), std::string::npos) << first;
  ASSERT_EQ(ctl("chaos 7 0"), "OK");
  EXPECT_EQ(run(), std::string(40, '.'));
}

// ------------------------------------------------------------ plug and unplug

TEST_F(VirtualPrinterTest, UnplugFailsOpenFilesAndNewOpensUntilPluggedAgain) {
  ASSERT_EQ(ctl("unplug"), "OK");
  int result = 0;
  errno = 0;
  link_.ask({0x00, 0x00, 0x00}, 32, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(errno, ENODEV);
  PrinterLink second;
  errno = 0;
  EXPECT_EQ(second.open(), -1);
  EXPECT_EQ(errno, ENODEV);

  ASSERT_EQ(ctl("plug"), "OK");
  link_.ask({0x00, 0x00, 0x00}, 32, &result);
  EXPECT_EQ(result, -1) << "a file opened before the unplug stays dead";
  PrinterLink third;
  ASSERT_EQ(third.open(), 0);
  EXPECT_EQ(third.ask({0x00, 0x00, 0x00}).size(), 12u);
  EXPECT_NE(test::readFile(root_.path("/sim/printer/transcript.log")).find("UNPLUG"),
            std::string::npos);
}

}  // namespace
}  // namespace tavik
