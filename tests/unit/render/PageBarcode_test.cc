#include "render/PageDraw.h"

#include "render/PrintPage.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <zint.h>

#include <climits>
#include <string>

namespace tavik {
namespace {

int differing(const cv::Mat& a, const cv::Mat& b) {
  return cv::countNonZero(cv::Mat(a != b).reshape(1));
}

cv::Rect inked(const cv::Mat& panel) { return cv::boundingRect(cv::Mat(panel != 255)); }

// The module matrix as zint makes it, for building expected pictures.
struct Modules {
  int rows = 0;
  int width = 0;
  std::vector<std::vector<bool>> dark;
};

Modules encode(int symbology, const std::string& text, int opt1 = -1, int opt2 = 0) {
  Modules m;
  zint_symbol* s = ZBarcode_Create();
  s->symbology = symbology;
  s->option_1 = opt1;
  s->option_2 = opt2;
  ZBarcode_Encode(s, reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<int>(text.size()));
  m.rows = s->rows;
  m.width = s->width;
  for (int i = 0; i < s->rows; ++i) {
    std::vector<bool> row;
    for (int j = 0; j < s->width; ++j) row.push_back((s->encoded_data[i][j / 8] >> (j % 8)) & 1);
    m.dark.push_back(row);
  }
  ZBarcode_Delete(s);
  return m;
}

class Barcode : public ::testing::Test {
 protected:
  void SetUp() override {
    page_.reset(PageCreate());
    ASSERT_EQ(PageInit(page_.get(), kOrientationLandscape, 0, 1), 1);
  }
  int draw(int sx, int sy, int ex, int ey, const std::string& name, int align, int size,
           const std::string& text, int opt1 = -1, int opt2 = 0) {
    return PageDrawBarcode(page_.get(), kPanelResin, sx, sy, ex, ey, 0, 0, 0, name, align, size,
                           text, opt1, opt2);
  }
  cv::Mat& resin() { return page_->cvimg.pResin; }
  bool untouched() { return cv::countNonZero(resin() != 255) == 0; }

  PrintPagePtr page_;
};

TEST_F(Barcode, QrCodeOf21RowsAtSize8Is84PixelsHighAndCentred) {
  const Modules qr = encode(BARCODE_QRCODE, "HELLO");
  ASSERT_EQ(qr.rows, 21);
  ASSERT_EQ(draw(100, 100, 500, 300, "QRCODE", kAlignLeft, 8, "HELLO"), 1);
  // m = 4, H = 84, y0 = 100 + 100 - 42; the last module reaches one pixel on.
  EXPECT_EQ(inked(resin()), cv::Rect(100, 158, 85, 85));
  cv::Mat want(resin().size(), CV_8UC1, cv::Scalar(255));
  for (int i = 0; i < 21; ++i) {
    for (int j = 0; j < 21; ++j) {
      if (qr.dark[i][j]) {
        cv::rectangle(want, cv::Point(100 + 4 * j, 158 + 4 * i),
                      cv::Point(104 + 4 * j, 162 + 4 * i), cv::Scalar(0), cv::FILLED);
      }
    }
  }
  EXPECT_EQ(differing(resin(), want), 0);
}

TEST_F(Barcode, ModuleOfOnePixelIsPaintedTwoByTwo) {
  const Modules qr = encode(BARCODE_QRCODE, "HELLO");
  ASSERT_EQ(draw(100, 100, 500, 300, "qrcode", kAlignLeft, 2, "HELLO"), 1);
  // m = 1: 21 modules, 22 pixels with the overlap; y0 = 200 - 10.
  EXPECT_EQ(inked(resin()), cv::Rect(100, 190, 22, 22));
  cv::Mat want(resin().size(), CV_8UC1, cv::Scalar(255));
  for (int i = 0; i < 21; ++i) {
    for (int j = 0; j < 21; ++j) {
      if (!qr.dark[i][j]) continue;
      want(cv::Rect(100 + j, 190 + i, 2, 2)).setTo(cv::Scalar(0));
    }
  }
  EXPECT_EQ(differing(resin(), want), 0);
}

TEST_F(Barcode, RightAlignmentPutsTheSymbolEdgeAtTheEnd) {
  ASSERT_EQ(draw(100, 100, 500, 300, "QRCODE", kAlignRight, 8, "HELLO"), 1);
  const cv::Rect r = inked(resin());
  EXPECT_EQ(r.x + r.width - 1, 500);
  EXPECT_EQ(r.x, 500 - 84);
  SetUp();
  ASSERT_EQ(draw(100, 100, 500, 300, "QRCODE", kAlignCenter, 8, "HELLO"), 1);
  EXPECT_EQ(inked(resin()).x, 100 + (400 - 84) / 2);
}

TEST_F(Barcode, LinearSymbolTakesTheFullBoxHeight) {
  const Modules code = encode(BARCODE_CODE128, "TAVIK-42");
  ASSERT_EQ(code.rows, 1);
  ASSERT_EQ(draw(50, 100, 900, 200, "CODE128", kAlignLeft, 6, "TAVIK-42"), 1);
  cv::Mat want(resin().size(), CV_8UC1, cv::Scalar(255));
  for (int j = 0; j < code.width; ++j) {
    if (code.dark[0][j]) {
      cv::rectangle(want, cv::Point(50 + 2 * j, 100), cv::Point(52 + 2 * j, 200), cv::Scalar(0),
                    cv::FILLED);
    }
  }
  EXPECT_EQ(differing(resin(), want), 0);
  EXPECT_EQ(inked(resin()).height, 101);
}

TEST_F(Barcode, StackedRowsAreThreeModulesHigh) {
  const Modules pdf = encode(BARCODE_PDF417, "Card 0042", 2, 3);
  ASSERT_GT(pdf.rows, 2);
  ASSERT_EQ(draw(0, 0, 1000, 600, "PDF417", kAlignLeft, 6, "Card 0042", 2, 3), 1);
  const int m = 2;
  const int h = pdf.rows * 3 * m;
  const int y0 = 300 - h / 2;
  cv::Mat want(resin().size(), CV_8UC1, cv::Scalar(255));
  for (int i = 0; i < pdf.rows; ++i) {
    for (int j = 0; j < pdf.width; ++j) {
      if (pdf.dark[i][j]) {
        cv::rectangle(want, cv::Point(m * j, y0 + i * 3 * m),
                      cv::Point(m * j + m, y0 + i * 3 * m + 3 * m), cv::Scalar(0), cv::FILLED);
      }
    }
  }
  EXPECT_EQ(differing(resin(), want), 0);
}

TEST_F(Barcode, LightModulesAreNotPainted) {
  resin().setTo(cv::Scalar(0));
  ASSERT_EQ(draw(100, 100, 500, 300, "QRCODE", kAlignLeft, 8, "HELLO"), 1);
  EXPECT_EQ(cv::countNonZero(resin()), 0);
}

TEST_F(Barcode, MaxiCodeBullseyeAndHexagons) {
  ASSERT_EQ(draw(100, 100, 500, 400, "MAXICODE", kAlignLeft, 12, "CARD", 4), 1);
  // m = 6, W = 30 m = 180, H = 33 m; centre (x0 + W/2 - m/2, y0 + W/2 - m/2).
  const int m = 6;
  const int w = 30 * m;
  const int y0 = 250 - 33 * m / 2;
  const cv::Point centre(100 + w / 2 - m / 2, y0 + w / 2 - m / 2);
  const int q = 4 * m + 2 * m / 3;  // 28
  EXPECT_EQ(resin().at<uint8_t>(centre), 255);  // innermost disc white
  EXPECT_EQ(resin().at<uint8_t>(centre + cv::Point(q / 6 + 2, 0)), 0);
  EXPECT_EQ(resin().at<uint8_t>(centre + cv::Point(2 * q / 6 + 2, 0)), 255);
  EXPECT_EQ(resin().at<uint8_t>(centre + cv::Point(3 * q / 6 + 2, 0)), 0);
  EXPECT_EQ(resin().at<uint8_t>(centre + cv::Point(4 * q / 6 + 2, 0)), 255);
  EXPECT_EQ(resin().at<uint8_t>(centre + cv::Point(5 * q / 6 + 2, 0)), 0);
}

TEST_F(Barcode, MaxiCodeModesTwoAndThreeFail) {
  EXPECT_EQ(draw(100, 100, 500, 400, "MAXICODE", kAlignLeft, 12, "CARD", 2), 0);
  EXPECT_EQ(draw(100, 100, 500, 400, "MAXICODE", kAlignLeft, 12, "CARD", 3), 0);
  EXPECT_TRUE(untouched());
}

struct SymbolCase {
  const char* name;
  const char* text;
  int opt1;
  int opt2;
};

class EverySymbology : public Barcode, public ::testing::WithParamInterface<SymbolCase> {};

TEST_P(EverySymbology, DrawsOnEveryDrawablePanel) {
  const auto& c = GetParam();
  for (int panel : {kPanelColor, kPanelResin, kPanelFluorescent}) {
    EXPECT_EQ(PageDrawBarcode(page_.get(), panel, 20, 20, 900, 600, 0, 0, 0, c.name, kAlignCenter,
                              6, c.text, c.opt1, c.opt2),
              1)
        << panel;
  }
  EXPECT_FALSE(untouched());
  EXPECT_EQ(PageDrawBarcode(page_.get(), kPanelOverlay, 20, 20, 900, 600, 0, 0, 0, c.name,
                            kAlignCenter, 6, c.text, c.opt1, c.opt2),
            0);
}

INSTANTIATE_TEST_SUITE_P(
    Names, EverySymbology,
    ::testing::Values(SymbolCase{"CODE39", "ABC123", -1, 0}, SymbolCase{"ECODE39", "abc", -1, 0},
                      SymbolCase{"EANX", "123456789012", -1, 0},
                      SymbolCase{"EAN14", "1234567890123", -1, 0},
                      SymbolCase{"ITF14", "1234567890123", -1, 0},
                      SymbolCase{"CODABAR", "A123B", -1, 0},
                      SymbolCase{"CODE128", "Hello", -1, 0},
                      SymbolCase{"Code128B", "Hello", -1, 0},
                      SymbolCase{"PDF417", "Hello", 2, 4},
                      SymbolCase{"MICROPDF417", "Hello", -1, 2},
                      SymbolCase{"DATAMATRIX", "Hello", -1, 0},
                      SymbolCase{"QRCODE", "Hello", 5, 0}, SymbolCase{"maxicode", "Hello", 4, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* label;
  const char* name;
  std::string text;
  int size;
  int sx;
};

class RefusedBarcode : public Barcode, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedBarcode, FailsAndPaintsNothing) {
  const auto& c = GetParam();
  EXPECT_EQ(draw(c.sx, 100, c.sx + 400, 300, c.name, kAlignLeft, c.size, c.text), 0);
  EXPECT_TRUE(untouched());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedBarcode,
    ::testing::Values(RefusedCase{"UnknownName", "UPC", "123456", 6, 100},
                      RefusedCase{"EmptyName", "", "123456", 6, 100},
                      RefusedCase{"LettersInEan", "EANX", "ABC", 6, 100},
                      RefusedCase{"EmptyText", "CODE128", "", 6, 100},
                      RefusedCase{"ModuleOfNoWidth", "QRCODE", "HELLO", 1, 100},
                      RefusedCase{"NegativeSize", "CODE39", "ABC", -9, 100},
                      RefusedCase{"HugeModules", "QRCODE", "HELLO", INT_MAX, 100},
                      RefusedCase{"FarAway", "QRCODE", "HELLO", 8, INT_MAX - 500}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tavik
