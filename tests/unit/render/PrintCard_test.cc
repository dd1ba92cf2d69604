// A card from the page to the virtual printer, as the OCP Print command
// sends it: the print image section by section through PrinterApi's
// print-data transfer, then the wait for the end of printing.
#include "printer/PrinterApi.h"
#include "printer/PrinterPort.h"
#include "printer/ResultCodes.h"
#include "render/PageDraw.h"
#include "render/PrintDataTransfer.h"
#include "render/PrintPage.h"
#include "render/PrnImage.h"
#include "sim/printer/PrinterModel.h"
#include "sim/printer/VirtualPrinter.h"
#include "tests/support/TestSupport.h"
#include "tests/unit/render/PrnDecoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tavik {
namespace {

const char* kDeviceList =
    "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=12   MxCh= 0\n"
    "P:  Vendor=0016 ProdID=0D20 Rev= 1.04\n"
    "S:  Manufacturer=Tavik\n"
    "S:  Product=TC-D200\n"
    "S:  SerialNumber=TD2A0012345\n";

class PrintCard : public ::testing::Test {
 protected:
  static sim::PrinterConfig config() {
    sim::PrinterConfig c;
    c.timeScale = 0.05;
    c.hopperCount = 2;
    return c;
  }
  PrintCard() : sim_(config()) {
    test::writeFile(root_.path("/proc/bus/usb/devices"), kDeviceList);
    started_ = sim_.start(root_.root());
    port_ = std::make_unique<PrinterPort>();
    api_ = std::make_unique<PrinterApi>(*port_);
  }
  void SetUp() override { ASSERT_TRUE(started_); }

  test::ScopedSysroot root_;
  sim::VirtualPrinter sim_;
  bool started_ = false;
  std::unique_ptr<PrinterPort> port_;
  std::unique_ptr<PrinterApi> api_;
};

TEST_F(PrintCard, SentSectionBySectionAndPrintedAsMade) {
  PrintPagePtr page(PageCreate());
  ASSERT_EQ(PageInit(page.get(), kOrientationLandscape, 0, 1), 1);
  ASSERT_EQ(PageDrawCircle(page.get(), kPanelColor, 100, 100, 400, 400, 200, 40, 40, 1, 1), 1);
  ASSERT_EQ(PageDrawBarcode(page.get(), kPanelResin, 500, 200, 950, 500, 0, 0, 0, "QRCODE",
                            kAlignRight, 8, "TAVIK", -1, 0),
            1);
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(PagePrnBytes(page.get(), &bytes), 1);
  test::PrnImageData made;
  ASSERT_EQ(test::parsePrn(bytes, &made), "");

  ASSERT_EQ(api_->cardIn(), rc::kSuccess);
  PrintDataTransfer<PrinterApi> transfer(*api_);
  ASSERT_EQ(PageSendPrn(page.get(), transfer, 1), rc::kSuccess);
  ASSERT_TRUE(sim_.model().waitForCardFiles(1, std::chrono::seconds(20)));
  const auto sides = sim_.model().printedSides();
  ASSERT_EQ(sides.size(), 1u);
  EXPECT_EQ(sides[0].side, "front");
  const sim::PrnImage& printed = *sides[0].image;
  EXPECT_EQ(printed.width, 636);
  EXPECT_EQ(printed.height, 1012);
  ASSERT_EQ(printed.panels.size(), made.sections.size());
  for (size_t s = 0; s < made.sections.size(); ++s) {
    ASSERT_EQ(printed.panels[s].id, made.sections[s].id);
    for (size_t y = 0; y < made.sections[s].lines.size(); ++y) {
      ASSERT_TRUE(std::equal(made.sections[s].lines[y].begin(), made.sections[s].lines[y].end(),
                             printed.panels[s].samples.begin() + y * printed.width))
          << "panel " << int(made.sections[s].id) << " line " << y;
    }
  }
}

}  // namespace
}  // namespace tavik
