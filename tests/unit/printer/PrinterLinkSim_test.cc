// The printer link against the virtual card printer: a PrinterPort on the
// simulator's /dev/usblp0 with the product's clock, and PrinterApi driving
// whole card jobs as the command engines and the OCP shell do.
#include <gtest/gtest.h>

#include <string>

#include "printer/PrinterApi.h"
#include "printer/PrinterPort.h"
#include "sim/printer/VirtualPrinter.h"
#include "tests/support/TestSupport.h"
#include "tests/unit/sim_printer/PrinterLink.h"

namespace tavik {
namespace {

using test::ScopedSysroot;

const char* kDeviceList =
    "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=12   MxCh= 0\n"
    "P:  Vendor=0016 ProdID=0D20 Rev= 1.04\n"
    "S:  Manufacturer=Tavik\n"
    "S:  Product=TC-D200\n"
    "S:  SerialNumber=TD2A0012345\n";

class LinkTest : public ::testing::Test {
 protected:
  static sim::PrinterConfig config() {
    sim::PrinterConfig c;
    c.timeScale = 0.05;  // a 1.2 s card feed takes 60 ms
    c.hopperCount = 3;
    return c;
  }

  LinkTest() : sim_(config()) {
    test::writeFile(root_.path("/proc/bus/usb/devices"), kDeviceList);
    started_ = sim_.start(root_.root());
    port_ = std::make_unique<PrinterPort>();
    api_ = std::make_unique<PrinterApi>(*port_);
  }
  void SetUp() override { ASSERT_TRUE(started_); }

  std::string ctl(const std::string& line) { return sim_.control(line); }
  PrinterApi& api() { return *api_; }

  ScopedSysroot root_;
  sim::VirtualPrinter sim_;
  bool started_ = false;
  std::unique_ptr<PrinterPort> port_;
  std::unique_ptr<PrinterApi> api_;
};

TEST_F(LinkTest, PortIdentifiesTheVirtualPrinter) {
  EXPECT_TRUE(port_->isOpen());
  char id[PrinterPort::kPrinterIdSize];
  port_->printerId(id);
  EXPECT_STREQ(id, "TAVIK TC-D200");
  int product = 0;
  port_->productId(&product);
  EXPECT_EQ(product, 0x0D20);
  char block[PrinterPort::kDescribeSize];
  ASSERT_EQ(port_->describe(block), 1);
  EXPECT_STREQ(block + 6 * 64, sim::PrinterConfig{}.deviceId.c_str());
}

TEST_F(LinkTest, CardGoesInVisitsEveryPositionIsFlippedAndEjected) {
  ASSERT_EQ(api().cardIn(), rc::kSuccess);
  EXPECT_EQ(api().cardIn(), rc::kErrCardInside) << "one card at a time";
  for (int position = 0; position <= 6; ++position) {
    EXPECT_EQ(api().move(position), rc::kSuccess) << "position " << position;
  }
  EXPECT_EQ(api().moveFromOut(20), rc::kSuccess);
  EXPECT_EQ(api().moveFromIn(-20), rc::kSuccess);
  bool frontUp = !sim_.model().cardInside()->backUp;
  EXPECT_EQ(api().rotate180(1), rc::kSuccess);
  EXPECT_NE(!sim_.model().cardInside()->backUp, frontUp) << "the card was turned over";
  EXPECT_EQ(api().rotate(), rc::kSuccess);
  EXPECT_EQ(api().icContact(), 0x8000001Fu) << "the reader contacts only at its station";
  ASSERT_EQ(api().move(2), rc::kSuccess);
  EXPECT_EQ(api().icContact(), rc::kSuccess);
  EXPECT_EQ(api().icDiscontact(), rc::kSuccess);
  EXPECT_EQ(api().cardOut(), rc::kSuccess);
  EXPECT_FALSE(sim_.model().cardInside().has_value());
  ASSERT_EQ(sim_.model().ejectedCards().size(), 1u);
  EXPECT_EQ(sim_.model().ejectedCards()[0].where, "stacker");
}

TEST_F(LinkTest, TransportFaultsAreReported) {
  ctl("hopper 0");
  EXPECT_NE(api().cardIn(), rc::kSuccess) << "no card to take in";
  ctl("hopper 1");
  ASSERT_EQ(api().cardIn(), rc::kSuccess);
  ctl("failnext 0x08");
  EXPECT_EQ(api().move(1), rc::kErrMoveToMagnetic);
  // The fault flag goes with the next prepare.
  EXPECT_EQ(api().move(1), rc::kSuccess);
  // An open cover stops the mechanism at once: the eject fault is reported
  // (the cover alone ends a wait only when seen in two polls running).
  ctl("cover open");
  EXPECT_EQ(api().cardOut(), rc::kErrCardOut);
  ctl("cover closed");
  EXPECT_EQ(api().cardOutBack(), rc::kSuccess);
}

TEST_F(LinkTest, MagneticTracksAreWrittenAndReadBack) {
  ASSERT_EQ(api().cardIn(), rc::kSuccess);
  ASSERT_EQ(api().move(1), rc::kSuccess);

  const std::string t1 = "%B4111111111111111^DOE/JOHN^2912?";
  const std::string t2 = ";4111111111111111=2912?";
  const std::string t3 = ";0123456789?";
  std::array<MagTrackWrite, 3> out{};
  out[0] = {true, reinterpret_cast<const uint8_t*>(t1.data()), static_cast<int>(t1.size())};
  out[1] = {true, reinterpret_cast<const uint8_t*>(t2.data()), static_cast<int>(t2.size())};
  out[2] = {true, reinterpret_cast<const uint8_t*>(t3.data()), static_cast<int>(t3.size())};
  ASSERT_EQ(api().magSetAllBuffer(out), rc::kSuccess);
  ASSERT_EQ(api().magWriteAction(mag::kTrack1 | mag::kTrack2 | mag::kTrack3, 1), rc::kSuccess);
  ASSERT_TRUE(sim_.model().cardInside().has_value());
  EXPECT_EQ(sim_.model().cardInside()->tracks[0], t1);
  EXPECT_TRUE(sim_.model().cardInside()->highCoercivity);

  // Overwrite the printer's buffer, then read the card back into it.
  const uint8_t junk[] = {'0'};
  ASSERT_EQ(api().magSetBuffer(mag::kTrack2, junk, 1), rc::kSuccess);
  ASSERT_EQ(api().magReadAction(mag::kTrack1 | mag::kTrack2 | mag::kTrack3), rc::kSuccess);
  uint8_t b[3][256];
  std::array<MagTrackRead, 3> in{};
  for (int i = 0; i < 3; ++i) in[i] = {true, b[i], 256, 0};
  ASSERT_EQ(api().magGetAllBuffer(&in), rc::kSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b[0])), t1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b[1])), t2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b[2])), t3);
  std::vector<uint8_t> one;
  ASSERT_EQ(api().magGetBuffer(mag::kTrack2, &one), rc::kSuccess);
  EXPECT_EQ(std::string(one.begin(), one.end()), t2);

  // Bit data with densities goes through the same way.
  ASSERT_EQ(api().magWriteAction2(mag::kTrack3, mag::kBitData, 75, 210, 300), rc::kSuccess);
  ASSERT_EQ(api().cardOut(), rc::kSuccess);
  ASSERT_EQ(sim_.model().ejectedCards().size(), 1u);
  EXPECT_EQ(sim_.model().ejectedCards()[0].tracks[1], t2);
}

TEST_F(LinkTest, PrintImageIsSentAndPrinted) {
  std::vector<uint8_t> samples(64 * 32, 0);
  for (size_t i = 0; i < samples.size(); i += 3) samples[i] = 255;
  // Side flags 0: one front side, the black resin panel.
  std::vector<uint8_t> image = test::encodePrn(0x00, 64, 32, {{0x08, samples}});
  ASSERT_EQ(api().cardIn(), rc::kSuccess);
  ASSERT_EQ(api().print(image.data(), image.size()), rc::kSuccess);
  ASSERT_TRUE(sim_.model().waitForCardFiles(1, std::chrono::seconds(20)));
  ASSERT_EQ(sim_.model().printedSides().size(), 1u);
  EXPECT_EQ(sim_.model().printedSides()[0].side, "front");
}

TEST_F(LinkTest, SbsModeHoldsThePageUntilDoPrint) {
  std::vector<uint8_t> samples(64 * 16, 128);
  std::vector<uint8_t> image = test::encodePrn(0x00, 64, 16, {{0x08, samples}});
  ASSERT_EQ(api().sbsStart(), rc::kSuccess);
  ASSERT_EQ(api().cardIn(), rc::kSuccess);
  ASSERT_EQ(api().print(image.data(), image.size()), rc::kSuccess);
  EXPECT_TRUE(sim_.model().printedSides().empty()) << "held for the print command";
  ASSERT_EQ(api().doPrint(), rc::kSuccess);
  EXPECT_EQ(sim_.model().printedSides().size(), 1u);
  EXPECT_EQ(api().sbsEnd(), rc::kSuccess);
}

TEST_F(LinkTest, LockThenUnlockWithTheRightPasswordAndAWrongOne) {
  ASSERT_EQ(ctl("password secret"), "OK");
  ASSERT_EQ(api().lockPrinter2(u"secret"), rc::kSuccess);
  EXPECT_NE(sim_.model().wordB() & status_b::kLocked, 0u);
  EXPECT_EQ(api().unlockPrinter2(u"wrong"), rc::kFail);
  EXPECT_NE(sim_.model().wordB() & status_b::kLocked, 0u);
  EXPECT_EQ(api().unlockPrinter2(u"secret"), rc::kSuccess);
  EXPECT_EQ(sim_.model().wordB() & status_b::kLocked, 0u);
  ASSERT_EQ(ctl("password secret12"), "OK");
  EXPECT_EQ(api().lockPrinter2(u"secret12XYZW"), rc::kSuccess) << "eight characters count";
  EXPECT_EQ(api().unlockPrinter3(u"secret12", 7200), rc::kSuccess);
}

TEST_F(LinkTest, QueriesAndSettings) {
  PrinterStatus st;
  ASSERT_EQ(api().getStatus(&st), rc::kSuccess);
  EXPECT_NE(st.a & status_a::kDualSide, 0u);
  std::u16string version;
  int length = 0;
  ASSERT_EQ(api().getVersion(&version, &length), rc::kSuccess);
  EXPECT_EQ(version, u"TC-D200 V1.04.12");
  uint32_t remain = 0;
  ASSERT_EQ(api().getRibbonRemain(&remain), rc::kSuccess);
  EXPECT_EQ(remain, 250u);
  ASSERT_EQ(api().setSerial(u"NEWSERIAL"), rc::kSuccess);
  std::u16string serial;
  ASSERT_EQ(api().getSerial(&serial, &length), rc::kSuccess);
  EXPECT_EQ(serial, u"NEWSERIAL");
  EXPECT_EQ(api().setLcdText(0, 1, u"HELLO"), rc::kSuccess);
  EXPECT_EQ(api().beep(), rc::kSuccess);
}

TEST_F(LinkTest, UnpluggedPrinterComesBackOnTheNextCall) {
  PrinterStatus st;
  ASSERT_EQ(api().getStatus(&st), rc::kSuccess);
  sim_.unplug();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(api().getStatus(&st), rc::kErrCommunication);
  EXPECT_FALSE(port_->isOpen());
  sim_.plug();
  EXPECT_EQ(api().getStatus(&st), rc::kSuccess);
  EXPECT_TRUE(port_->isOpen());
}

}  // namespace
}  // namespace tavik
