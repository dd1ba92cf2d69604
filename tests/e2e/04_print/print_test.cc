// Print images on the spool port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "net/TvnpCommands.h"
#include "tests/support/FirmwareProcess.h"
#include "tests/support/TestSupport.h"
#include "tools/client/TvnpClient.h"

namespace tavik::test {
namespace {

using client::Reply;
using client::TvnpConnection;

// Cards the virtual printer has printed, from its own state.
int cardsPrinted(const FirmwareProcess& fw) {
  std::string state = fw.printer("state");
  size_t at = state.find("\"cardsPrinted\":");
  return at == std::string::npos ? -1 : std::atoi(state.c_str() + at + 15);
}

TEST(Print, ImageOnTheSpoolPortIsPrintedOnceAndThePrinterIsFreeAfterwards) {
  ServiceConfig s = FirmwareProcess::defaultService();
  s.sdk_ssl = 0;
  FirmwareProcess fw(withService(s));
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  auto image = makeTestPrintImage();
  {
    TvnpConnection spool;
    ASSERT_EQ(spool.connect(fw.address(), 9100, false), 0);
    // In small pieces, as a driver's socket may deliver them.
    for (size_t pos = 0; pos < image.size(); pos += 1000)
      ASSERT_EQ(spool.sendAll(image.data() + pos, std::min<size_t>(1000, image.size() - pos)), 0);
    spool.finishSending();
    size_t extra = 99;
    EXPECT_TRUE(spool.waitClosed(20000, &extra));
    EXPECT_EQ(extra, 0u);  // a print stream gets no reply
  }
  ASSERT_TRUE(waitFor([&] { return cardsPrinted(fw) >= 1; }, std::chrono::seconds(30)))
      << fw.printer("state");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(cardsPrinted(fw), 1);

  TvnpConnection sdk;
  ASSERT_EQ(sdk.connect(fw.address(), 11110, false), 0);
  Reply r;
  ASSERT_EQ(sdk.request(tvcid::kRawGetData, {{0x50, 0x06, 0x00}}, &r), 0);
  std::string id = std::string(r.args.at(1).begin(), r.args.at(1).end()).c_str();
  EXPECT_TRUE(waitFor([&] {
    Reply o;
    return sdk.request(tvcid::kIsOpenDevice, {tvnp::encodeText(id)}, &o) == 0 && o.ok();
  }));
}

TEST(Print, SecondRequestOnTheSpoolPortClosesTheConnection) {
  FirmwareProcess fw;
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  TvnpConnection spool;
  ASSERT_EQ(spool.connect(fw.address(), 9100, false), 0);
  Reply r;
  ASSERT_EQ(spool.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r), 0) << spool.error();
  EXPECT_TRUE(r.ok());
  EXPECT_NE(spool.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r), 0);
  EXPECT_TRUE(spool.waitClosed(5000));
}

TEST(Print, TavikctlPrintsAFile) {
  FirmwareProcess fw;
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  std::string file = fw.root() + "/card.prn";
  auto image = makeTestPrintImage(96, 48);
  writeFile(file, std::string(image.begin(), image.end()));
  std::string out;
  EXPECT_EQ(fw.tavikctl("print " + file, &out), 0) << out;
  EXPECT_NE(out.find("taken by the module"), std::string::npos) << out;
  EXPECT_TRUE(waitFor([&] { return cardsPrinted(fw) == 1; }, std::chrono::seconds(30)))
      << fw.printer("state");
}

}  // namespace
}  // namespace tavik::test
