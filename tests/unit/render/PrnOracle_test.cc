// The print images the renderer makes, read back by the virtual printer's
// decoder: an independent check of the encoder.
#include "render/PageDraw.h"
#include "render/PrintPage.h"
#include "render/PrnCodec.h"
#include "render/PrnImage.h"
#include "sim/printer/PrnDecoder.h"
#include "tests/unit/render/PrnDecoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tavik {
namespace {

std::vector<uint8_t> header(int width, int height) {
  std::vector<uint8_t> h(20, 0);
  h[0] = 'C';
  h[1] = 'P';
  h[2] = 2;
  h[3] = 0x80;
  h[10] = 0x08;
  h[16] = static_cast<uint8_t>(height);
  h[17] = static_cast<uint8_t>(height >> 8);
  h[18] = static_cast<uint8_t>(width);
  h[19] = static_cast<uint8_t>(width >> 8);
  return h;
}

TEST(PrnOracle, RandomPanelsComeBackFromTheVirtualPrinter) {
  std::mt19937 rng(31);
  for (int width : {636, 1012}) {
    const int height = 48;
    std::vector<uint8_t> panel(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < panel.size(); ++i) {
      panel[i] = (i / 89) % 3 == 0 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(i / 700);
    }
    std::vector<uint8_t> code;
    std::vector<uint8_t> planes(prn::planeBytes(width));
    for (int y = 0; y < height; ++y) {
      std::vector<uint8_t> line(prn::maxLineBytes(width));
      const size_t n = prn::encodeLine(&panel[static_cast<size_t>(y) * width], width,
                                       planes.data(), line.data(), line.size());
      ASSERT_GT(n, 0u);
      code.insert(code.end(), line.begin(), line.begin() + n);
    }
    std::vector<uint8_t> image = header(width, height);
    const uint32_t len = static_cast<uint32_t>(code.size());
    const uint8_t section[8] = {0x08, 0, 0, 0, static_cast<uint8_t>(len),
                                static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len >> 16),
                                static_cast<uint8_t>(len >> 24)};
    image.insert(image.end(), section, section + 8);
    image.insert(image.end(), code.begin(), code.end());
    const uint32_t total = static_cast<uint32_t>(image.size());
    for (int b = 0; b < 4; ++b) image[4 + b] = static_cast<uint8_t>(total >> (8 * b));

    sim::PrnImage decoded;
    std::string error;
    ASSERT_TRUE(sim::decodePrnImage(image.data(), image.size(), &decoded, &error)) << error;
    ASSERT_EQ(decoded.panels.size(), 1u);
    EXPECT_EQ(decoded.panels[0].samples, panel) << width;
  }
}

TEST(PrnOracle, WholeCardsDecodeAlike) {
  // A busy card on every ribbon that makes panels: the virtual printer
  // reads the same samples as the test's own reader.
  for (int ribbon : {0, 2, 5, 7, 8, 9}) {
    PrintPagePtr page(PageCreate());
    ASSERT_EQ(PageInit(page.get(), kOrientationLandscape, ribbon, 1), 1);
    page->oemdev.dwDocQuality = ribbon == 2 ? kQualityPartial : kQualityStandard;
    ASSERT_EQ(PageDrawCircle(page.get(), kPanelColor, 100, 100, 600, 500, 10, 120, 240, 1, 1), 1);
    ASSERT_EQ(PageDrawBarcode(page.get(), kPanelResin, 600, 300, 1000, 600, 0, 0, 0, "QRCODE",
                              kAlignRight, 8, "TAVIK", -1, 0),
              1);
    ASSERT_EQ(PageDrawRectangle(page.get(), kPanelFluorescent, 50, 50, 200, 200, 0, 0, 0, 1, 1),
              1);
    ASSERT_EQ(PageMakePrn(page.get()), 1);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(PagePrnBytes(page.get(), &bytes), 1);
    sim::PrnImage decoded;
    std::string error;
    ASSERT_TRUE(sim::decodePrnImage(bytes.data(), bytes.size(), &decoded, &error))
        << ribbon << ": " << error;
    test::PrnImageData mine;
    ASSERT_EQ(test::parsePrn(bytes, &mine), "");
    ASSERT_EQ(decoded.panels.size(), mine.sections.size()) << ribbon;
    for (size_t s = 0; s < mine.sections.size(); ++s) {
      const auto& a = mine.sections[s];
      const auto& b = decoded.panels[s];
      ASSERT_EQ(b.id, a.id);
      for (size_t i = 0; i < a.lines.size(); ++i) {
        const size_t y = a.firstLine + i;
        ASSERT_TRUE(std::equal(a.lines[i].begin(), a.lines[i].end(),
                               b.samples.begin() + y * decoded.width))
            << ribbon << " panel " << int(a.id) << " line " << y;
      }
    }
  }
}

}  // namespace
}  // namespace tavik
