// Print data on the virtual printer's data channel: images decoded to
// panels and PNG files, SBS mode, data faults, and command frames on the
// raw data path.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <opencv2/imgcodecs.hpp>
#include <thread>

#include "tests/unit/sim_printer/PrinterLink.h"

namespace tavik {
namespace {

using namespace std::chrono_literals;
using test::le32;
using test::VirtualPrinterTest;
using test::waitFor;

// A 10 x 3 card: yellow rises along the line, K marks the last column.
std::vector<test::TestPanel> smallPanels() {
  std::vector<uint8_t> y(30), k(30, 0);
  for (int row = 0; row < 3; ++row) {
    for (int x = 0; x < 10; ++x) y[row * 10 + x] = static_cast<uint8_t>(x * 28 + row);
    k[row * 10 + 9] = 255;
  }
  return {{sim::kPanelY, y}, {sim::kPanelK, k}};
}

uint16_t ribbonRemaining(test::PrinterLink& link) {
  auto x = link.ask({0x02, 0x00, 0x00});
  return static_cast<uint16_t>(x[10] | x[11] << 8);
}

TEST_F(VirtualPrinterTest, PrintImageIsDecodedToItsPanelsAndPng) {
  const auto panels = smallPanels();
  const auto image = test::encodePrn(0x80, 10, 3, panels);
  const uint16_t ribbonBefore = ribbonRemaining(link_);
  ASSERT_EQ(link_.file().write(image.data(), image.size()), static_cast<ssize_t>(image.size()));
  EXPECT_NE(link_.wordA() & sim::word_a::kSpoolData, 0u);
  EXPECT_TRUE(waitFor([&] { return (link_.wordA() & sim::word_a::kPrinting) != 0; }));
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(link_.wordB(), 0u);
  EXPECT_EQ(ribbonRemaining(link_), ribbonBefore - 1);

  auto printed = printer_.model().lastPrinted();
  ASSERT_TRUE(printed.has_value());
  EXPECT_EQ(printed->card, 1);
  EXPECT_EQ(printed->side, "front");
  ASSERT_EQ(printed->image->panels.size(), 2u);
  EXPECT_EQ(printed->image->panel(sim::kPanelY)->samples, panels[0].samples);
  EXPECT_EQ(printed->image->panel(sim::kPanelK)->samples, panels[1].samples);
  // Without SBS the card is fed, printed and ejected.
  ASSERT_EQ(printer_.model().ejectedCards().size(), 1u);
  EXPECT_TRUE(printer_.model().ejectedCards()[0].frontPrinted);

  ASSERT_TRUE(printer_.model().waitForCardFiles(1, 10s));
  const std::string base = root_.path("/sim/printer/cards/card-0001-front");
  cv::Mat preview = cv::imread(base + ".png", cv::IMREAD_COLOR);
  ASSERT_FALSE(preview.empty());
  EXPECT_EQ(preview.cols, 10);
  EXPECT_EQ(preview.rows, 3);
  // Full yellow ink removes blue only; K prints black.
  cv::Vec3b yellow = preview.at<cv::Vec3b>(0, 8);  // Y = 224
  EXPECT_LT(yellow[0], 40);
  EXPECT_EQ(yellow[1], 255);
  EXPECT_EQ(yellow[2], 255);
  EXPECT_EQ(preview.at<cv::Vec3b>(1, 9), cv::Vec3b(0, 0, 0));
  cv::Mat y = cv::imread(base + "-Y.png", cv::IMREAD_GRAYSCALE);
  ASSERT_FALSE(y.empty());
  EXPECT_EQ(y.at<uint8_t>(2, 3), 255 - (3 * 28 + 2));
  std::string summary = test::readFile(base + ".txt");
  EXPECT_NE(summary.find("panels: Y K"), std::string::npos) << summary;
  EXPECT_NE(summary.find("size: 10 x 3"), std::string::npos) << summary;
}

TEST_F(VirtualPrinterTest, FullSizeCardWithFivePanels) {
  const uint16_t w = 636, h = 1012;
  std::vector<test::TestPanel> panels;
  for (uint8_t id : {sim::kPanelY, sim::kPanelM, sim::kPanelC, sim::kPanelK, sim::kPanelO}) {
    std::vector<uint8_t> s(size_t{w} * h, 0);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>((i * id) % 251);
    panels.push_back({id, s});
  }
  const auto image = test::encodePrn(0x80, w, h, panels);
  for (size_t pos = 0; pos < image.size(); pos += 4096) {
    size_t n = std::min<size_t>(4096, image.size() - pos);
    ASSERT_EQ(link_.file().write(image.data() + pos, n), static_cast<ssize_t>(n));
  }
  ASSERT_TRUE(link_.waitIdle());
  auto printed = printer_.model().lastPrinted();
  ASSERT_TRUE(printed.has_value());
  ASSERT_EQ(printed->image->panels.size(), 5u);
  for (size_t i = 0; i < panels.size(); ++i) {
    EXPECT_EQ(printed->image->panels[i].samples, panels[i].samples) << i;
  }
  ASSERT_TRUE(printer_.model().waitForCardFiles(1, 30s));
  for (const char* suffix : {"", "-Y", "-M", "-C", "-K", "-O"}) {
    cv::Mat png = cv::imread(root_.path("/sim/printer/cards/card-0001-front") + suffix + ".png");
    EXPECT_EQ(png.cols, w) << suffix;
    EXPECT_EQ(png.rows, h) << suffix;
  }
}

TEST_F(VirtualPrinterTest, SbsPageWaitsForThePrintCommandAndKeepsTheCard) {
  link_.send({0x40, 0x0C, 0x00});
  link_.send({0x40, 0x01, 0x00});
  ASSERT_TRUE(link_.waitIdle());
  const auto front = test::encodePrn(0x80, 10, 3, smallPanels());
  link_.file().write(front.data(), front.size());
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_NE(link_.wordA() & sim::word_a::kSpoolData, 0u);
  EXPECT_FALSE(printer_.model().lastPrinted().has_value());

  link_.send({0x40, 0x0B, 0x00});
  EXPECT_NE(link_.wordA() & sim::word_a::kSbsBusy, 0u);
  ASSERT_TRUE(link_.waitIdle());
  ASSERT_TRUE(printer_.model().lastPrinted().has_value());
  EXPECT_EQ(printer_.model().lastPrinted()->side, "front");
  EXPECT_NE(link_.wordA() & sim::word_a::kCardInside, 0u);

  // Turn the card and print its back.
  link_.send({0x40, 0x1C, 0x00});
  ASSERT_TRUE(link_.waitIdle());
  const auto back = test::encodePrn(0x01, 10, 3, smallPanels());
  link_.file().write(back.data(), back.size());
  link_.send({0x40, 0x0B, 0x00});
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(printer_.model().lastPrinted()->side, "back");
  EXPECT_EQ(printer_.model().lastPrinted()->card, 1);
  ASSERT_TRUE(printer_.model().waitForCardFiles(2, 10s));
  EXPECT_TRUE(test::fileExists(root_.path("/sim/printer/cards/card-0001-back.png")));

  // A second print command with no new page is a data fault.
  link_.send({0x40, 0x0B, 0x00});
  EXPECT_NE(link_.wordB() & sim::word_b::kDataFault, 0u);
}

TEST_F(VirtualPrinterTest, GarbageAndBrokenImagesSetTheDataFaultAndAreKept) {
  const std::string junk = "this is not a print image";
  link_.file().write(junk.data(), junk.size());
  EXPECT_NE(link_.wordB() & sim::word_b::kDataFault, 0u);

  auto broken = test::encodePrn(0x80, 10, 3, smallPanels());
  broken[28] ^= 0x55;  // first line's sample sum
  link_.file().write(broken.data(), broken.size());
  EXPECT_NE(link_.wordB() & sim::word_b::kDataFault, 0u);
  EXPECT_EQ(link_.wordA() & sim::word_a::kSpoolData, 0u);
  EXPECT_TRUE(waitFor([&] {
    return test::fileExists(root_.path("/sim/printer/cards/bad-0002.prn"));
  }));
  EXPECT_EQ(test::readFile(root_.path("/sim/printer/cards/bad-0002.prn")).size(), broken.size());

  // A good image afterwards starts clean.
  const auto good = test::encodePrn(0x80, 10, 3, smallPanels());
  link_.file().write(good.data(), good.size());
  EXPECT_EQ(link_.wordB() & sim::word_b::kDataFault, 0u);
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_TRUE(printer_.model().lastPrinted().has_value());
}

TEST_F(VirtualPrinterTest, ImageInPiecesShowsReceivingUntilWhole) {
  const auto image = test::encodePrn(0x80, 10, 3, smallPanels());
  link_.file().write(image.data(), 20);
  EXPECT_NE(link_.wordA() & sim::word_a::kReceiving, 0u);
  EXPECT_EQ(link_.wordA() & sim::word_a::kSpoolData, 0u);
  link_.file().write(image.data() + 20, image.size() - 20);
  uint32_t a = link_.wordA();
  EXPECT_EQ(a & sim::word_a::kReceiving, 0u);
  EXPECT_NE(a & sim::word_a::kSpoolData, 0u);
}

TEST(VirtualPrinterReceive, ImageThatStopsArrivingIsDroppedWithDataFault) {
  test::ScopedSysroot root;
  sim::PrinterConfig config;
  config.timings.receiveTimeout = 150;
  sim::VirtualPrinter printer(config);
  ASSERT_TRUE(printer.start(root.root()));
  test::PrinterLink link;
  ASSERT_EQ(link.open(), 0);
  const auto image = test::encodePrn(0x80, 10, 3, smallPanels());
  link.file().write(image.data(), image.size() / 2);
  EXPECT_NE(link.wordA() & sim::word_a::kReceiving, 0u);
  EXPECT_TRUE(waitFor([&] { return (link.wordB() & sim::word_b::kDataFault) != 0; }));
  EXPECT_EQ(link.wordA() & sim::word_a::kReceiving, 0u);
  EXPECT_TRUE(waitFor([&] { return test::fileExists(root.path("/sim/printer/cards/bad-0001.txt")); }));
  EXPECT_NE(test::readFile(root.path("/sim/printer/cards/bad-0001.txt")).find("stopped arriving"),
            std::string::npos);
}

struct PrintFaultCase {
  const char* setup;
  uint32_t fault;
};

class PrintFaults : public VirtualPrinterTest,
                    public ::testing::WithParamInterface<PrintFaultCase> {};

TEST_P(PrintFaults, PrintThatCannotHappenReportsItsFaultAndPrintsNothing) {
  ASSERT_EQ(ctl(GetParam().setup), "OK");
  const uint16_t ribbonBefore = ribbonRemaining(link_);
  const auto image = test::encodePrn(0x80, 10, 3, smallPanels());
  link_.file().write(image.data(), image.size());
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(link_.wordB() & GetParam().fault, GetParam().fault);
  EXPECT_FALSE(printer_.model().lastPrinted().has_value());
  EXPECT_EQ(ribbonRemaining(link_), ribbonBefore);
}

INSTANTIATE_TEST_SUITE_P(Table, PrintFaults,
                         ::testing::Values(PrintFaultCase{"hopper 0", 0x4001},
                                           PrintFaultCase{"ribbon empty", 0x100000},
                                           PrintFaultCase{"ribbon 0", 0x100000},
                                           PrintFaultCase{"lock", 0x4001},
                                           PrintFaultCase{"failnext 0x10000", 0x10000}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(VirtualPrinterTest, CommandFramesOnTheDataPathAnswerOnRead) {
  const uint8_t status[] = {'C', 'C', 0, 0, 11, 0, 0, 0, 0x00, 0x00, 0x00};
  link_.file().write(status, sizeof status);
  const uint8_t beep[] = {'C', 'C', 0, 0, 11, 0, 0, 0, 0x40, 0x21, 0x00};
  link_.file().write(beep, sizeof beep);
  uint8_t reply[64] = {};
  ssize_t n = link_.file().read(reply, sizeof reply);
  ASSERT_EQ(n, 20);
  EXPECT_EQ(reply[0], 'C');
  EXPECT_EQ(reply[1], 'C');
  EXPECT_EQ(reply[2], 0x02);
  EXPECT_EQ(le32(reply + 4), 20u);
  EXPECT_NE(le32(reply + 8) & sim::word_a::kDualSide, 0u);
  // Nothing more to say: the read returns at once with 0 bytes.
  EXPECT_EQ(link_.file().read(reply, sizeof reply), 0);
  EXPECT_NE(printer_.model().stateJson().find("\"beeps\":1"), std::string::npos);
}

TEST_F(VirtualPrinterTest, PollWaitsForPrinterRepliesAndEndsWhenTheSimulatorStops) {
  EXPECT_EQ(link_.file().poll(POLLIN, 20), 0);
  const uint8_t status[] = {'C', 'C', 0, 0, 11, 0, 0, 0, 0x02, 0x00, 0x00};
  link_.file().write(status, sizeof status);
  EXPECT_EQ(link_.file().poll(POLLIN, 1000), POLLIN);
  uint8_t reply[64];
  EXPECT_EQ(link_.file().read(reply, sizeof reply), 24);

  test::PrinterLink waiter;
  ASSERT_EQ(waiter.open(), 0);
  std::atomic<int> result{99};
  std::thread t([&] { result = waiter.file().poll(POLLIN, -1); });
  std::this_thread::sleep_for(50ms);
  printer_.stop();  // must not hang on the waiting poll
  t.join();
  EXPECT_EQ(result.load(), -1);
}

}  // namespace
}  // namespace tavik
