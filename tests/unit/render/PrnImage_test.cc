#include "render/PrnImage.h"

#include "printer/ResultCodes.h"
#include "render/PageDraw.h"
#include "render/PrintPage.h"
#include "render/PrnCodec.h"
#include "tests/unit/render/PrnDecoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tavik {
namespace {

using test::PrnImageData;
using test::PrnSection;

constexpr uint8_t kIdGrey = 0x20, kIdY = 0x01, kIdM = 0x02, kIdC = 0x04, kIdK = 0x08,
                  kIdF = 0x40, kIdO = 0x10;

PrintPagePtr newPage(int orientation, int ribbon, int ribbonType = 1) {
  PrintPagePtr page(PageCreate());
  EXPECT_EQ(PageInit(page.get(), orientation, ribbon, ribbonType), 1);
  return page;
}

// Makes the print image and parses it back.
PrnImageData make(PrintPage* page) {
  PrnImageData image;
  EXPECT_EQ(PageMakePrn(page), 1);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(PagePrnBytes(page, &bytes), 1);
  EXPECT_EQ(test::parsePrn(bytes, &image), "");
  return image;
}

std::vector<uint8_t> ids(const PrnImageData& image) {
  std::vector<uint8_t> out;
  for (const auto& s : image.sections) out.push_back(s.id);
  return out;
}

const PrnSection* section(const PrnImageData& image, uint8_t id) {
  for (const auto& s : image.sections) {
    if (s.id == id) return &s;
  }
  return nullptr;
}

// Sample (x, y) of a section, 0 for lines outside its window.
int sample(const PrnSection& s, int x, int y) {
  const int i = y - s.firstLine;
  if (i < 0 || i >= static_cast<int>(s.lines.size())) return 0;
  return s.lines[i][x];
}

std::vector<uint8_t> whiteLineRecord() {
  std::vector<uint8_t> r(28, 0);
  for (int i = 0; i < 7; ++i) {
    r.push_back(0x7F);
    r.push_back(0x00);
  }
  r.push_back(0x47);
  r.push_back(0x00);
  return r;
}

TEST(PrnImage, WhitePageOnRibbonZero) {
  auto page = newPage(kOrientationPortrait, 0);
  page->oemdev.dwDocDither = kDitherThreshold;
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(PagePrnBytes(page.get(), &bytes), 1);
  PrnImageData image;
  ASSERT_EQ(test::parsePrn(bytes, &image), "");
  EXPECT_EQ(bytes[3], 0x80);
  EXPECT_EQ(image.options, 0);
  EXPECT_EQ(image.panelFlags, kIdY | kIdM | kIdC | kIdK | kIdO);
  EXPECT_EQ(image.width, 636);
  EXPECT_EQ(image.height, 1012);
  EXPECT_EQ(test::le16(&bytes[12]), 0u);
  EXPECT_EQ(test::le16(&bytes[14]), 0u);
  ASSERT_EQ(ids(image), (std::vector<uint8_t>{kIdY, kIdM, kIdC, kIdK, kIdO}));

  // Y, M, C and K: every line is the white record, byte for byte.
  const std::vector<uint8_t> white = whiteLineRecord();
  size_t pos = 20;
  for (int s = 0; s < 4; ++s) {
    ASSERT_EQ(bytes[pos], image.sections[s].id);
    EXPECT_EQ(bytes[pos + 1], 0);
    EXPECT_EQ(test::le16(&bytes[pos + 2]), 0u);
    ASSERT_EQ(test::le32(&bytes[pos + 4]), 1012 * white.size());
    pos += 8;
    for (int line = 0; line < 1012; ++line) {
      ASSERT_TRUE(std::equal(white.begin(), white.end(), bytes.begin() + pos)) << s << ":" << line;
      pos += white.size();
    }
  }
  // Overlay: 255 everywhere before heat compensation, which leaves the two
  // first rows and the outer columns at 255 and takes 103 off the rest.
  const PrnSection& o = image.sections[4];
  ASSERT_EQ(o.lines.size(), 1012u);
  for (int y = 0; y < 1012; ++y) {
    for (int x = 0; x < 636; ++x) {
      const bool kept = y < 2 || x == 0 || x == 635;
      ASSERT_EQ(o.lines[y][x], kept ? 255 : 152) << x << "," << y;
    }
  }
}

TEST(PrnImage, LineHeadersMatchTheirSamples) {
  auto page = newPage(kOrientationLandscape, 0);
  ASSERT_EQ(PageDrawCircle(page.get(), kPanelColor, 100, 100, 600, 500, 10, 120, 240, 1, 1), 1);
  ASSERT_EQ(PageDrawText(page.get(), kPanelResin, 50, 50, 900, 150, 0, 0, 0, "default",
                         kAlignLeft, 20, "", "TAVIK"),
            1);
  const PrnImageData image = make(page.get());
  for (const auto& s : image.sections) {
    for (size_t i = 0; i < s.lines.size(); ++i) {
      uint32_t sum = 0;
      std::vector<uint16_t> counts(12, 0);
      for (uint8_t v : s.lines[i]) {
        sum += v;
        for (int l = 0; l < 7; ++l) counts[l] += (v >> 5) >= 7 - l;
        for (int l = 7; l < 12; ++l) counts[l] += (v >> (11 - l)) & 1;
      }
      ASSERT_EQ(s.sums[i], sum) << int(s.id) << ":" << i;
      ASSERT_EQ(s.counts[i], counts) << int(s.id) << ":" << i;
    }
  }
}

TEST(PrnImage, OverlayNoGivesAnEmptyOverlayPanel) {
  auto page = newPage(kOrientationPortrait, 0);
  page->oemdev.dwDocLamiOverlay = 0;
  const PrnImageData image = make(page.get());
  const PrnSection* o = section(image, kIdO);
  ASSERT_NE(o, nullptr);
  ASSERT_EQ(o->lines.size(), 1012u);
  EXPECT_EQ(o->length, 1012 * whiteLineRecord().size());
  for (const auto& line : o->lines) ASSERT_EQ(std::count(line.begin(), line.end(), 0), 636);
}

TEST(PrnImage, RibbonFourPrintsColourInBlack) {
  auto page = newPage(kOrientationPortrait, 4);
  page->oemdev.dwDocDither = kDitherThreshold;
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelColor, 100, 200, 300, 400, 255, 0, 0, 1, 1), 1);
  const PrnImageData image = make(page.get());
  ASSERT_EQ(ids(image), (std::vector<uint8_t>{kIdK}));
  EXPECT_EQ(image.panelFlags, kIdK);
  const PrnSection& k = image.sections[0];
  EXPECT_EQ(sample(k, 200, 200), 255);  // first rectangle line: nothing printed above it
  EXPECT_EQ(sample(k, 200, 300), 152);  // inside, after heat compensation
  EXPECT_EQ(sample(k, 99, 300), 0);
  EXPECT_EQ(sample(k, 200, 401), 0);

  // Grey level 170 stays under a threshold of 70 %.
  auto light = newPage(kOrientationPortrait, 4);
  light->oemdev.dwDocDither = kDitherThreshold;
  light->oemdev.dwBPThreshold = 70;
  ASSERT_EQ(PageDrawRectangle(light.get(), kPanelColor, 100, 200, 300, 400, 255, 0, 0, 1, 1), 1);
  const PrnImageData none = make(light.get());
  EXPECT_EQ(sample(none.sections[0], 200, 300), 0);
}

TEST(PrnImage, LandscapePageIsTurnedClockwise) {
  auto page = newPage(kOrientationLandscape, 4);
  page->oemdev.dwDocDither = kDitherThreshold;
  // A mark at the landscape page's top-left corner.
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelResin, 0, 0, 9, 19, 0, 0, 0, 1, 1), 1);
  const PrnImageData image = make(page.get());
  EXPECT_EQ(image.width, 636);
  EXPECT_EQ(image.height, 1012);
  EXPECT_EQ(page->prop.width, 636);
  EXPECT_EQ(page->prop.height, 1012);
  const PrnSection& k = image.sections[0];
  ASSERT_EQ(k.lines.size(), 1012u);
  // Old (x, y) lands at (635 - y, x): the top-right corner.
  EXPECT_EQ(sample(k, 630, 0), 255);
  EXPECT_EQ(sample(k, 616, 1), 255);
  EXPECT_EQ(sample(k, 615, 1), 0);
  EXPECT_GT(sample(k, 630, 9), 0);
  EXPECT_EQ(sample(k, 630, 10), 0);
  EXPECT_EQ(sample(k, 5, 0), 0);
}

TEST(PrnImage, PortraitPageSetToLandscapeIsTurnedToLandscapeShape) {
  auto page = newPage(kOrientationPortrait, 4);
  page->prop.orientation = kOrientationLandscape;
  const PrnImageData image = make(page.get());
  EXPECT_EQ(image.width, 1012);
  EXPECT_EQ(image.height, 636);
  EXPECT_EQ(image.sections[0].lines.size(), 636u);
}

TEST(PrnImage, PartialModeWithAnEmptyPanel) {
  auto page = newPage(kOrientationPortrait, 0);
  page->oemdev.dwDocQuality = kQualityPartial;
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelResin, 10, 500, 100, 520, 0, 0, 0, 1, 1), 1);
  const PrnImageData image = make(page.get());
  ASSERT_EQ(ids(image), (std::vector<uint8_t>{kIdY, kIdM, kIdC, kIdK, kIdO}));
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(image.sections[s].encoding, 2);
    EXPECT_EQ(image.sections[s].length, 0u);
    EXPECT_EQ(image.sections[s].firstLine, 0);
  }
  const PrnSection& k = image.sections[3];
  EXPECT_EQ(k.encoding, 2);
  EXPECT_EQ(k.firstLine, 500);
  EXPECT_EQ(k.lines.size(), 21u);
  const PrnSection& o = image.sections[4];
  EXPECT_EQ(o.firstLine, 0);
  EXPECT_EQ(o.lines.size(), 1012u);
}

struct WindowCase {
  const char* name;
  uint32_t quality;
  int top, bottom;  // rows of black drawn on the colour panel
  int first, lines;
};

class RibbonTwoWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(RibbonTwoWindow, ColourPanelsSpan450Lines) {
  const auto& c = GetParam();
  auto page = newPage(kOrientationPortrait, 2);
  page->oemdev.dwDocQuality = c.quality;
  page->oemdev.dwDocDither = kDitherThreshold;
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelColor, 100, c.top, 300, c.bottom, 0, 0, 0, 1, 1),
            1);
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelResin, 10, 20, 30, 40, 0, 0, 0, 1, 1), 1);
  const PrnImageData image = make(page.get());
  ASSERT_EQ(ids(image), (std::vector<uint8_t>{kIdY, kIdM, kIdC, kIdK, kIdO}));
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(image.sections[s].encoding, 2);
    EXPECT_EQ(image.sections[s].firstLine, c.first) << s;
    EXPECT_EQ(static_cast<int>(image.sections[s].lines.size()), c.lines) << s;
  }
  // Black is not a colour panel: its window is its content.
  EXPECT_EQ(image.sections[3].firstLine, 20);
  EXPECT_EQ(image.sections[3].lines.size(), 21u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RibbonTwoWindow,
    ::testing::Values(
        WindowCase{"StandardNearTop", kQualityStandard, 100, 199, 0, 450},
        WindowCase{"StandardCentred", kQualityStandard, 600, 700, 426, 450},
        WindowCase{"StandardAtBottom", kQualityStandard, 900, 1000, 562, 450},
        // Centring would end one line past the page: the bottom window instead.
        WindowCase{"StandardOddCentring", kQualityStandard, 663, 911, 562, 450},
        WindowCase{"StandardTooTall", kQualityStandard, 100, 700, 100, 450},
        WindowCase{"PartialSpan", kQualityPartial, 600, 700, 600, 101},
        WindowCase{"PartialTooTall", kQualityPartial, 100, 700, 100, 450}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrnImage, RibbonEightOfTypeOneSendsFluorescentBeforeBlack) {
  auto first = newPage(kOrientationPortrait, 8, 1);
  const PrnImageData a = make(first.get());
  EXPECT_EQ(ids(a), (std::vector<uint8_t>{kIdY, kIdM, kIdC, kIdF, kIdK, kIdO}));
  EXPECT_EQ(a.panelFlags, kIdY | kIdM | kIdC | kIdK | kIdF | kIdO);
  auto second = newPage(kOrientationPortrait, 8, 0);
  const PrnImageData b = make(second.get());
  EXPECT_EQ(ids(b), (std::vector<uint8_t>{kIdY, kIdM, kIdC, kIdK, kIdF, kIdO}));
}

struct RibbonCase {
  int ribbon;
  int side;
  std::vector<uint8_t> sections;
  uint16_t flags;
};

class RibbonPanels : public ::testing::TestWithParam<RibbonCase> {};

TEST_P(RibbonPanels, SectionsFollowTheRibbon) {
  const auto& c = GetParam();
  auto page = newPage(kOrientationPortrait, c.ribbon);
  page->prop.side = c.side;
  const PrnImageData image = make(page.get());
  EXPECT_EQ(ids(image), c.sections);
  EXPECT_EQ(image.panelFlags, c.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RibbonPanels,
    ::testing::Values(RibbonCase{0, 0, {kIdY, kIdM, kIdC, kIdK, kIdO}, 0x1F},
                      RibbonCase{1, 0, {kIdY, kIdM, kIdC, kIdK, kIdO}, 0x1F},
                      RibbonCase{1, 1, {kIdK}, 0x08},
                      RibbonCase{2, 1, {kIdY, kIdM, kIdC, kIdK, kIdO}, 0x1F},
                      RibbonCase{3, 0, {kIdK, kIdO}, 0x18}, RibbonCase{4, 0, {kIdK}, 0x08},
                      RibbonCase{5, 0, {kIdGrey, kIdO}, 0x30}, RibbonCase{6, 0, {kIdGrey}, 0x20},
                      RibbonCase{7, 0, {kIdGrey, kIdY, kIdM, kIdC, kIdK, kIdO}, 0x3F},
                      RibbonCase{9, 0, {kIdK}, 0x100}, RibbonCase{10, 0, {}, 0},
                      RibbonCase{31, 1, {}, 0}),
    [](const auto& info) {
      return "Ribbon" + std::to_string(info.param.ribbon) +
             (info.param.side == 0 ? "Front" : "Back");
    });

TEST(PrnImage, RibbonNineMergesTheOverlayIntoBlack) {
  auto page = newPage(kOrientationPortrait, 9);
  page->oemdev.dwDocDither = kDitherThreshold;
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelResin, 100, 100, 200, 200, 0, 0, 0, 1, 1), 1);
  const PrnImageData image = make(page.get());
  const PrnSection& k = image.sections[0];
  // The overlay (heat-compensated with e = 1.5: 255 - (4444 + 1111 + 986) * 255 / 10000 = 89)
  // shows wherever black is lighter.
  EXPECT_EQ(sample(k, 50, 50), 89);
  EXPECT_EQ(sample(k, 150, 150), 152);
  EXPECT_EQ(sample(k, 0, 50), 255);
}

TEST(PrnImage, GreyPanelIsTheMeanOfTheSeparations) {
  auto page = newPage(kOrientationPortrait, 6);
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelColor, 0, 0, 635, 1011, 255, 0, 0, 1, 1), 1);
  const PrnImageData image = make(page.get());
  const PrnSection& g = image.sections[0];
  // Red: Y 255 and M 255 through the curve (255), C 0: grey 170.
  EXPECT_EQ(sample(g, 300, 0), 170);
  EXPECT_EQ(sample(g, 300, 1), 170);
}

struct SideCase {
  int side;
  uint32_t lamination;
  uint8_t byte;
};

class SideByte : public ::testing::TestWithParam<SideCase> {};

TEST_P(SideByte, SideAndLamination) {
  auto page = newPage(kOrientationPortrait, 4);
  page->prop.side = GetParam().side;
  page->oemdev.dwDocLamiSide = GetParam().lamination;
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  EXPECT_EQ(page->prn.header[3], GetParam().byte);
}

INSTANTIATE_TEST_SUITE_P(Table, SideByte,
                         ::testing::Values(SideCase{0, 0, 0x80}, SideCase{0, 1, 0xA0},
                                           SideCase{0, 2, 0x90}, SideCase{0, 3, 0xB0},
                                           SideCase{1, 0, 0x01}, SideCase{1, 1, 0x11},
                                           SideCase{1, 2, 0x21}, SideCase{1, 3, 0x31},
                                           SideCase{0, 9, 0x80}),
                         [](const auto& info) {
                           return std::string(info.param.side == 0 ? "Front" : "Back") +
                                  "Lamination" + std::to_string(info.param.lamination);
                         });

TEST(PrnImage, BusyCardOutgrowsTheOverflowBufferWithoutOverrunningIt) {
  // Noise on every panel of a six-panel ribbon: each continuous-tone panel
  // codes to more than its own buffer holds.
  auto page = newPage(kOrientationLandscape, 7);
  page->oemdev.dwDocDither = kDitherRandom;
  std::mt19937 rng(9);
  for (cv::Mat* m : {&page->cvimg.pColor, &page->cvimg.pResin}) {
    for (size_t i = 0; i < m->total() * m->channels(); ++i) m->data[i] = static_cast<uint8_t>(rng());
  }
  const PrnImageData image = make(page.get());
  EXPECT_GT(page->prn.overflowUsed, kPrnOverflowSize);
  EXPECT_LE(page->prn.overflowUsed, page->prn.overflow.size());
  ASSERT_EQ(image.sections.size(), 6u);
  for (const auto& s : image.sections) EXPECT_EQ(s.lines.size(), 1012u);
}

// --- sending ---------------------------------------------------------------------

class RecordingSink : public PrintDataSink {
 public:
  uint32_t sendPrintData(const uint8_t* data, size_t length) override {
    pieces.emplace_back(data, data + length);
    return pieces.size() == failAt ? failure : rc::kSuccess;
  }
  uint32_t waitPrintEnd() override {
    ++waits;
    return waitResult;
  }
  std::vector<std::vector<uint8_t>> pieces;
  size_t failAt = 0;
  uint32_t failure = rc::kErrCommunication;
  int waits = 0;
  uint32_t waitResult = rc::kSuccess;
};

TEST(PrnSend, HeaderThenEachSectionInOrder) {
  auto page = newPage(kOrientationPortrait, 3);
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  RecordingSink sink;
  EXPECT_EQ(PageSendPrn(page.get(), sink, 0), rc::kSuccess);
  EXPECT_EQ(sink.waits, 0);
  // Header, K header, K data, O header, O data (each under 643 KB).
  ASSERT_EQ(sink.pieces.size(), 5u);
  EXPECT_EQ(sink.pieces[0].size(), 20u);
  EXPECT_EQ(sink.pieces[1].size(), 8u);
  EXPECT_EQ(sink.pieces[1][0], kIdK);
  EXPECT_EQ(sink.pieces[3][0], kIdO);
  std::vector<uint8_t> joined;
  for (const auto& p : sink.pieces) joined.insert(joined.end(), p.begin(), p.end());
  std::vector<uint8_t> whole;
  ASSERT_EQ(PagePrnBytes(page.get(), &whole), 1);
  EXPECT_EQ(joined, whole);
}

TEST(PrnSend, StopsAtTheFirstErrorAndReturnsIt) {
  auto page = newPage(kOrientationPortrait, 0);
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  RecordingSink sink;
  sink.failAt = 3;
  sink.failure = rc::kErrCaseOpen;
  EXPECT_EQ(PageSendPrn(page.get(), sink, 1), rc::kErrCaseOpen);
  EXPECT_EQ(sink.pieces.size(), 3u);
  EXPECT_EQ(sink.waits, 0);
}

TEST(PrnSend, WaitsForTheEndOfPrintingWhenAsked) {
  auto page = newPage(kOrientationPortrait, 4);
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  RecordingSink sink;
  sink.waitResult = rc::kErrRibbonEmpty;
  EXPECT_EQ(PageSendPrn(page.get(), sink, 1), rc::kErrRibbonEmpty);
  EXPECT_EQ(sink.waits, 1);
}

TEST(PrnSend, BusyCardSectionsComeFromPanelAndOverflow) {
  auto page = newPage(kOrientationPortrait, 6);
  std::mt19937 rng(4);
  cv::Mat& c = page->cvimg.pColor;
  for (size_t i = 0; i < c.total() * 3; ++i) c.data[i] = static_cast<uint8_t>(rng());
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  RecordingSink sink;
  ASSERT_EQ(PageSendPrn(page.get(), sink, 0), rc::kSuccess);
  ASSERT_EQ(sink.pieces.size(), 4u);  // header, grey header, own part, overflow part
  EXPECT_EQ(sink.pieces[2].size(), 636u * 1012u);
  EXPECT_GT(sink.pieces[3].size(), 0u);
}

TEST(PrnSend, RefusesAPageWithoutAPrintImage) {
  auto page = newPage(kOrientationPortrait, 0);
  RecordingSink sink;
  EXPECT_EQ(PageSendPrn(page.get(), sink, 0), rc::kFail);
  EXPECT_TRUE(sink.pieces.empty());
  std::vector<uint8_t> bytes = {1, 2};
  EXPECT_EQ(PagePrnBytes(page.get(), &bytes), 0);
  EXPECT_TRUE(bytes.empty());
  PrintPagePtr empty(PageCreate());
  EXPECT_EQ(PageMakePrn(empty.get()), 0);
  EXPECT_EQ(PageMakePrn(nullptr), 0);
  EXPECT_EQ(PageSendPrn(nullptr, sink, 0), rc::kFail);
}

// --- round trip ----------------------------------------------------------------------

TEST(PrnRoundTrip, RandomPanelsComeBackFromTheDecoder) {
  // Panels straight through the line encoder (no dithering or compensation
  // in the way), decoded as the printer reads them.
  std::mt19937 rng(21);
  for (int width : {636, 1012}) {
    const int height = 40;
    std::vector<uint8_t> panel(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < panel.size(); ++i) {
      // Mix of smooth runs and noise, as photos and text give.
      panel[i] = (i / 97) % 3 == 0 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(i / 500);
    }
    std::vector<uint8_t> data(20, 0);
    data[0] = 'C';
    data[1] = 'P';
    data[2] = 2;
    std::vector<uint8_t> planes(prn::planeBytes(width));
    std::vector<uint8_t> code;
    for (int y = 0; y < height; ++y) {
      std::vector<uint8_t> line(prn::maxLineBytes(width));
      const size_t n = prn::encodeLine(&panel[static_cast<size_t>(y) * width], width,
                                       planes.data(), line.data(), line.size());
      ASSERT_GT(n, 0u);
      code.insert(code.end(), line.begin(), line.begin() + n);
    }
    const uint8_t head[8] = {kIdK, 0, 0, 0, static_cast<uint8_t>(code.size()),
                             static_cast<uint8_t>(code.size() >> 8),
                             static_cast<uint8_t>(code.size() >> 16), 0};
    data.insert(data.end(), head, head + 8);
    data.insert(data.end(), code.begin(), code.end());
    const uint32_t total = static_cast<uint32_t>(data.size());
    for (int b = 0; b < 4; ++b) data[4 + b] = static_cast<uint8_t>(total >> (8 * b));
    data[16] = static_cast<uint8_t>(height);
    data[18] = static_cast<uint8_t>(width);
    data[19] = static_cast<uint8_t>(width >> 8);
    PrnImageData image;
    ASSERT_EQ(test::parsePrn(data, &image), "");
    ASSERT_EQ(image.sections.size(), 1u);
    ASSERT_EQ(image.sections[0].lines.size(), static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
      ASSERT_TRUE(std::equal(image.sections[0].lines[y].begin(), image.sections[0].lines[y].end(),
                             panel.begin() + static_cast<size_t>(y) * width))
          << width << ":" << y;
    }
  }
}

}  // namespace
}  // namespace tavik

#include "render/PrintDataTransfer.h"

namespace tavik {
namespace {

// Stands in for the printer's command set (which the OCP passes in).
struct FakePrinterApi {
  uint32_t printData(const uint8_t* data, size_t length, bool wait) {
    waits.push_back(wait);
    bytes.insert(bytes.end(), data, data + length);
    return 0;
  }
  uint32_t waitPrintEnd() {
    ++endWaits;
    return rc::kErrPrinting;
  }
  std::vector<uint8_t> bytes;
  std::vector<bool> waits;
  int endWaits = 0;
};

TEST(PrnSend, ThroughThePrintDataTransferWithoutWaitingPerPiece) {
  auto page = newPage(kOrientationPortrait, 4);
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  FakePrinterApi api;
  PrintDataTransfer<FakePrinterApi> transfer(api);
  EXPECT_EQ(PageSendPrn(page.get(), transfer, 1), rc::kErrPrinting);
  EXPECT_EQ(api.endWaits, 1);
  EXPECT_EQ(api.waits, std::vector<bool>(3, false));  // header, K header, K data
  std::vector<uint8_t> whole;
  ASSERT_EQ(PagePrnBytes(page.get(), &whole), 1);
  EXPECT_EQ(api.bytes, whole);
}

}  // namespace
}  // namespace tavik

namespace tavik {
namespace {

TEST(PrnImage, APageIsMadeOnceUntilClearedOrInitialised) {
  auto page = newPage(kOrientationPortrait, 4);
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelResin, 10, 10, 100, 100, 0, 0, 0, 1, 1), 1);
  ASSERT_EQ(PageMakePrn(page.get()), 1);
  std::vector<uint8_t> first;
  ASSERT_EQ(PagePrnBytes(page.get(), &first), 1);
  // Its panels now hold the encoded data: making it again would print that.
  EXPECT_EQ(PageMakePrn(page.get()), 0);
  std::vector<uint8_t> still;
  ASSERT_EQ(PagePrnBytes(page.get(), &still), 1);
  EXPECT_EQ(still, first);
  ASSERT_EQ(PageClear(page.get()), 1);
  ASSERT_EQ(PageDrawRectangle(page.get(), kPanelResin, 10, 10, 100, 100, 0, 0, 0, 1, 1), 1);
  EXPECT_EQ(PageMakePrn(page.get()), 1);
  std::vector<uint8_t> again;
  ASSERT_EQ(PagePrnBytes(page.get(), &again), 1);
  EXPECT_EQ(again, first);
}

}  // namespace
}  // namespace tavik
