#include "render/PageDraw.h"

#include "render/PrintPage.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <string>
#include <vector>

namespace tavik {
namespace {

const std::string kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

int differing(const cv::Mat& a, const cv::Mat& b) {
  return cv::countNonZero(cv::Mat(a != b).reshape(1));
}

// Inked extent of a single-channel panel (samples other than 255).
cv::Rect inked(const cv::Mat& panel) { return cv::boundingRect(cv::Mat(panel != 255)); }

class Text : public ::testing::Test {
 protected:
  void SetUp() override {
    page_.reset(PageCreate());
    ASSERT_EQ(PageInit(page_.get(), kOrientationLandscape, 0, 1), 1);
  }
  int draw(int sx, int sy, int ex, int ey, const std::string& font, int align, int size,
           const std::string& encoding, const std::string& text) {
    return PageDrawText(page_.get(), kPanelResin, sx, sy, ex, ey, 0, 0, 0, font, align, size,
                        encoding, text);
  }
  cv::Mat& resin() { return page_->cvimg.pResin; }
  bool untouched() { return cv::countNonZero(resin() != 255) == 0; }

  PrintPagePtr page_;
};

// The text drawn glyph by glyph, as the printer's driver lays it out, from
// code points already in visual order and with the given load flags.
cv::Mat reference(const std::vector<uint32_t>& visual, FT_Int32 flags, int sx, int sy, int ey,
                  int size) {
  cv::Mat out(636, 1012, CV_8UC1, cv::Scalar(255));
  FT_Library lib;
  FT_Face face;
  EXPECT_EQ(FT_Init_FreeType(&lib), 0);
  EXPECT_EQ(FT_New_Face(lib, kFont.c_str(), 0, &face), 0);
  EXPECT_EQ(FT_Set_Char_Size(face, size * 64, size * 64, 300, 300), 0);
  auto load = [&](uint32_t cp) {
    return FT_Load_Glyph(face, FT_Get_Char_Index(face, cp), flags) == 0 &&
           FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0;
  };
  int top = INT_MIN;
  for (uint32_t cp : visual) {
    if (load(cp)) top = std::max(top, face->glyph->bitmap_top);
  }
  int x = sx;
  const int y = top / 2 + (sy + ey) / 2;
  for (uint32_t cp : visual) {
    if (!load(cp)) continue;
    const int adv = static_cast<int>(face->glyph->advance.x >> 6);
    const int before = (cp == 0xFE8D || cp == 0xFE8E) ? adv / 2 : cp == 0xFEA9 ? adv / 4 : 0;
    x += before;
    const FT_Bitmap& bm = face->glyph->bitmap;
    for (unsigned i = 0; i < bm.rows; ++i) {
      for (unsigned j = 0; j < bm.width; ++j) {
        if (bm.buffer[i * bm.pitch + j] == 0) continue;
        const int px = x + static_cast<int>(j);
        const int py = y - face->glyph->bitmap_top + static_cast<int>(i);
        if (px >= 0 && py >= 0 && px < out.cols && py < out.rows) out.at<uint8_t>(py, px) = 0;
      }
    }
    x += adv - before;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return out;
}

bool hasGlyph(uint32_t cp) {
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) != 0) return false;
  bool found = false;
  if (FT_New_Face(lib, kFont.c_str(), 0, &face) == 0) {
    found = FT_Get_Char_Index(face, cp) != 0;
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
  return found;
}

// --- vector font -------------------------------------------------------------

TEST_F(Text, DefaultFontIgnoresTheEncoding) {
  EXPECT_EQ(draw(100, 100, 500, 200, "DEFAULT", kAlignLeft, 12, "NO-SUCH-ENCODING", "ABC"), 1);
  EXPECT_FALSE(untouched());
  PrintPagePtr other(PageCreate());
  ASSERT_EQ(PageInit(other.get(), kOrientationLandscape, 0, 1), 1);
  EXPECT_EQ(PageDrawText(other.get(), kPanelResin, 100, 100, 500, 200, 0, 0, 0, "default",
                         kAlignLeft, 12, "EUC-KR", "ABC"),
            1);
  EXPECT_EQ(differing(resin(), other->cvimg.pResin), 0);
}

TEST_F(Text, VectorFontIsHersheyDuplexAtSizeOver7_4) {
  ASSERT_EQ(draw(100, 100, 500, 200, "default", kAlignLeft, 20, "EUC-KR", "Card 42"), 1);
  cv::Mat want(636, 1012, CV_8UC1, cv::Scalar(255));
  int baseline = 0;
  cv::getTextSize("Card 42", cv::FONT_HERSHEY_DUPLEX, 20 / 7.4, 5, &baseline);
  cv::putText(want, "Card 42", cv::Point(100, 150 + baseline), cv::FONT_HERSHEY_DUPLEX, 20 / 7.4,
              cv::Scalar(0), 5, cv::LINE_8, false);
  EXPECT_EQ(differing(resin(), want), 0);
}

struct AlignCase {
  int align;
  int expectedX;  // for a text w pixels wide in the box 100..500
};

TEST_F(Text, VectorFontAlignment) {
  int baseline = 0;
  const int w = cv::getTextSize("Card", cv::FONT_HERSHEY_DUPLEX, 16 / 7.4, 4, &baseline).width;
  const AlignCase cases[] = {{kAlignLeft, 100}, {kAlignRight, 500 - w},
                             {kAlignCenter, 100 + (400 - w) / 2}};
  for (const auto& c : cases) {
    Text::SetUp();
    ASSERT_EQ(draw(100, 100, 500, 200, "default", c.align, 16, "EUC-KR", "Card"), 1);
    const cv::Mat got = resin().clone();
    Text::SetUp();
    ASSERT_EQ(draw(c.expectedX, 100, c.expectedX + 10, 200, "default", kAlignLeft, 16, "", "Card"),
              1);
    EXPECT_EQ(differing(got, resin()), 0) << c.align;
  }
}

TEST_F(Text, VectorFontOnTheOverlayFails) {
  EXPECT_EQ(PageDrawText(page_.get(), kPanelOverlay, 0, 0, 100, 100, 0, 0, 0, "default",
                         kAlignLeft, 12, "EUC-KR", "A"),
            0);
}

// --- font files ----------------------------------------------------------------

TEST_F(Text, LeftPutsThePenAtTheStart) {
  ASSERT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 12, "EUC-KR", "H"), 1);
  EXPECT_EQ(inked(resin()).x, 100);
}

TEST_F(Text, RightEndsTheAdvanceAtTheEndAndCenterSplitsTheRest) {
  ASSERT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 12, "EUC-KR", "HH"), 1);
  const cv::Rect two = inked(resin());
  Text::SetUp();
  ASSERT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 12, "EUC-KR", "H"), 1);
  const cv::Rect one = inked(resin());
  const int advance = two.width - one.width;  // the second H starts one advance later
  ASSERT_GT(advance, one.width);

  Text::SetUp();
  ASSERT_EQ(draw(100, 100, 500, 200, kFont, kAlignRight, 12, "EUC-KR", "H"), 1);
  EXPECT_EQ(inked(resin()).x, 500 - advance);
  Text::SetUp();
  ASSERT_EQ(draw(100, 100, 500, 200, kFont, kAlignCenter, 12, "EUC-KR", "H"), 1);
  EXPECT_EQ(inked(resin()).x, 100 + (400 - advance) / 2);
}

TEST_F(Text, BaselineSitsHalfTheGlyphHeightBelowTheBoxMiddle) {
  ASSERT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 12, "EUC-KR", "H"), 1);
  const cv::Rect r = inked(resin());
  const int baseline = r.y + r.height;  // H stands on the baseline
  EXPECT_EQ(baseline, r.height / 2 + 150);
}

TEST_F(Text, LatinIsLoadedWithHinting) {
  ASSERT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 9, "EUC-KR", "Hamburg"), 1);
  const std::vector<uint32_t> cps = {'H', 'a', 'm', 'b', 'u', 'r', 'g'};
  EXPECT_EQ(differing(resin(), reference(cps, FT_LOAD_DEFAULT, 100, 100, 200, 9)), 0);
}

TEST_F(Text, HebrewIsDrawnInVisualOrderWithoutHinting) {
  // "shalom" in logical order; the printer shows it right to left.
  const std::string shalom = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";
  ASSERT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 9, "UTF-8", shalom), 1);
  const std::vector<uint32_t> visual = {0x05DD, 0x05D5, 0x05DC, 0x05E9};
  const cv::Mat unhinted = reference(visual, FT_LOAD_NO_HINTING, 100, 100, 200, 9);
  EXPECT_EQ(differing(resin(), unhinted), 0);
  // Guard for the test itself: hinting must make a difference here.
  ASSERT_GT(differing(unhinted, reference(visual, FT_LOAD_DEFAULT, 100, 100, 200, 9)), 0);
  const std::vector<uint32_t> logical = {0x05E9, 0x05DC, 0x05D5, 0x05DD};
  EXPECT_GT(differing(resin(), reference(logical, FT_LOAD_NO_HINTING, 100, 100, 200, 9)), 0);
}

struct ArabicCase {
  const char* name;
  const char* utf8;
  std::vector<uint32_t> visual;  // after shaping and reordering
};

class ArabicAdvances : public Text, public ::testing::WithParamInterface<ArabicCase> {};

TEST_P(ArabicAdvances, PresentationFormsGetTheirExtraRoom) {
  for (uint32_t cp : GetParam().visual) ASSERT_TRUE(hasGlyph(cp)) << std::hex << cp;
  ASSERT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 12, "UTF-8", GetParam().utf8), 1);
  EXPECT_EQ(differing(resin(), reference(GetParam().visual, FT_LOAD_NO_HINTING, 100, 100, 200, 12)),
            0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ArabicAdvances,
    ::testing::Values(ArabicCase{"AlefIsolated", "\xD8\xA7", {0xFE8D}},
                      ArabicCase{"DalIsolated", "\xD8\xAF", {0xFEA9}},
                      ArabicCase{"BehAlef", "\xD8\xA8\xD8\xA7", {0xFE8E, 0xFE91}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Text, ByteOrderMarksAreDropped) {
  // The serif face has no glyph for U+FEFF: kept, it would print a box.
  const std::string serif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
  ASSERT_EQ(draw(100, 100, 900, 200, serif, kAlignLeft, 12, "UTF-8", "H\xEF\xBB\xBFH"), 1);
  const cv::Mat withMark = resin().clone();
  Text::SetUp();
  ASSERT_EQ(draw(100, 100, 900, 200, serif, kAlignLeft, 12, "UTF-8", "HH"), 1);
  EXPECT_EQ(differing(withMark, resin()), 0);
  Text::SetUp();
  ASSERT_EQ(draw(100, 100, 900, 200, serif, kAlignLeft, 12, "UTF-8", "H\xE4\xB8\x80H"), 1);
  EXPECT_GT(differing(withMark, resin()), 0);  // another glyphless code point does show
}

struct RefusedCase {
  const char* name;
  std::string font;
  std::string encoding;
  std::string text;
  int size;
};

class RefusedText : public Text, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedText, FailsAndDrawsNothing) {
  const auto& c = GetParam();
  EXPECT_EQ(draw(100, 100, 900, 200, c.font, kAlignLeft, c.size, c.encoding, c.text), 0);
  EXPECT_TRUE(untouched());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedText,
    ::testing::Values(RefusedCase{"LoneEucKrLeadByte", kFont, "EUC-KR", "AB\xB0", 12},
                      RefusedCase{"UnknownEncoding", kFont, "NO-SUCH-ENCODING", "AB", 12},
                      RefusedCase{"Empty", kFont, "EUC-KR", "", 12},
                      RefusedCase{"LeadingZero", kFont, "EUC-KR", std::string("\0AB", 3), 12},
                      RefusedCase{"Chars1024", kFont, "EUC-KR", std::string(1024, 'a'), 6},
                      RefusedCase{"Chars5000", kFont, "EUC-KR", std::string(5000, 'a'), 6},
                      RefusedCase{"MissingFont", "/flash/ocp/fonts/none.ttf", "EUC-KR", "AB", 12},
                      RefusedCase{"NotAFont", "/etc/hostname", "EUC-KR", "AB", 12},
                      RefusedCase{"SizeZero", kFont, "EUC-KR", "AB", 0},
                      RefusedCase{"SizeNegative", kFont, "EUC-KR", "AB", -12},
                      RefusedCase{"SizeHuge", kFont, "EUC-KR", "AB", 100000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Text, Chars1023AreDrawn) {
  EXPECT_EQ(draw(0, 100, 900, 200, kFont, kAlignLeft, 6, "EUC-KR", std::string(1023, 'a')), 1);
  EXPECT_FALSE(untouched());
}

TEST_F(Text, ValidEucKrIsDrawn) {
  EXPECT_EQ(draw(100, 100, 900, 200, kFont, kAlignLeft, 12, "EUC-KR", "A\xB0\xA1"), 1);
  EXPECT_FALSE(untouched());
}

TEST_F(Text, ColourPanelGetsTheColourAsTyped) {
  ASSERT_EQ(PageDrawText(page_.get(), kPanelColor, 100, 100, 900, 200, 200, 100, 50, kFont,
                         kAlignLeft, 12, "EUC-KR", "H"),
            1);
  cv::Mat ink;
  cv::inRange(page_->cvimg.pColor, cv::Scalar(50, 100, 200), cv::Scalar(50, 100, 200), ink);
  EXPECT_GT(cv::countNonZero(ink), 20);
}

}  // namespace
}  // namespace tavik
