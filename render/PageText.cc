// One line of text on a panel: the built-in vector font, or an uploaded
// font file rasterised with FreeType after conversion to UTF-32 and
// right-to-left reordering.
#include "platform/Paths.h"
#include "render/PageDraw.h"
#include "render/PrintPage.h"
#include "render/RenderGuard.h"

#include <fribidi.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <iconv.h>
#include <opencv2/imgproc.hpp>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <vector>

namespace tavik {

namespace {

// Longest converted text, terminating zero included.
constexpr size_t kMaxCodePoints = 1024;
// Largest font size in points. At 300 dpi a 250-point em is taller than
// the card; anything bigger only costs the module memory for glyph bitmaps.
constexpr int kMaxFontPoints = 250;

// Arabic presentation forms that need extra room before them: alef
// (isolated and final) and dal (isolated).
constexpr uint32_t kAlefIsolated = 0xFE8D;
constexpr uint32_t kAlefFinal = 0xFE8E;
constexpr uint32_t kDalIsolated = 0xFEA9;
constexpr uint32_t kByteOrderMark = 0xFEFF;

class FreeTypeLibrary {
 public:
  FreeTypeLibrary() { ok_ = FT_Init_FreeType(&lib_) == 0; }
  ~FreeTypeLibrary() {
    if (ok_) FT_Done_FreeType(lib_);
  }
  FreeTypeLibrary(const FreeTypeLibrary&) = delete;
  FreeTypeLibrary& operator=(const FreeTypeLibrary&) = delete;
  bool ok() const { return ok_; }
  FT_Library get() const { return lib_; }

 private:
  FT_Library lib_ = nullptr;
  bool ok_ = false;
};

class FreeTypeFace {
 public:
  FreeTypeFace(FT_Library lib, const std::string& path) {
    ok_ = FT_New_Face(lib, path.c_str(), 0, &face_) == 0;
  }
  ~FreeTypeFace() {
    if (ok_) FT_Done_Face(face_);
  }
  FreeTypeFace(const FreeTypeFace&) = delete;
  FreeTypeFace& operator=(const FreeTypeFace&) = delete;
  bool ok() const { return ok_; }
  FT_Face get() const { return face_; }

 private:
  FT_Face face_ = nullptr;
  bool ok_ = false;
};

class Converter {
 public:
  explicit Converter(const std::string& from) : cd_(iconv_open("UTF-32LE", from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Converts the text to code points; false on any conversion error, on more
// than the buffer holds, or when no terminating zero fits.
bool toCodePoints(const std::string& encoding, std::string_view text,
                  std::vector<uint32_t>* out) {
  Converter conv(encoding);
  if (!conv.ok()) return false;
  std::vector<char> wide(kMaxCodePoints * 4, 0);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outPtr = wide.data();
  size_t outLeft = wide.size();
  if (iconv(conv.get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  // Return a stateful encoding to its initial shift state.
  if (iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
    return false;
  }
  out->clear();
  for (size_t i = 0; i < kMaxCodePoints; ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(wide.data() + i * 4);
    const uint32_t cp = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
    if (cp == 0) return !out->empty();
    out->push_back(cp);
  }
  return false;  // 1024 code points and no room for the terminating zero
}

struct Glyph {
  int advance = 0;  // whole pixels
  int top = 0;
};

// Loads and renders one glyph into face->glyph; false when it does not.
bool renderGlyph(FT_Face face, uint32_t cp, FT_Int32 flags) {
  const FT_UInt index = FT_Get_Char_Index(face, cp);
  if (FT_Load_Glyph(face, index, flags) != 0) return false;
  return FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0;
}

bool covered(const FT_Bitmap& bm, unsigned row, unsigned col) {
  const int pitch = bm.pitch;
  const unsigned char* line = pitch >= 0 ? bm.buffer + static_cast<size_t>(row) * pitch
                                         : bm.buffer + static_cast<size_t>(bm.rows - 1 - row) * -pitch;
  if (bm.pixel_mode == FT_PIXEL_MODE_MONO) return (line[col >> 3] >> (7 - (col & 7))) & 1;
  return line[col] != 0;
}

void setPixel(cv::Mat* panel, int64_t x, int64_t y, const cv::Vec3b& bgr) {
  if (x < 0 || y < 0 || x >= panel->cols || y >= panel->rows) return;
  if (panel->channels() == 3) {
    panel->at<cv::Vec3b>(static_cast<int>(y), static_cast<int>(x)) = bgr;
  } else {
    panel->at<uint8_t>(static_cast<int>(y), static_cast<int>(x)) = bgr[0];
  }
}

int64_t startX(int align, int sx, int ex, int64_t width) {
  switch (align) {
    case kAlignRight: return ex - width;
    case kAlignCenter: return sx + (int64_t{ex} - sx - width) / 2;
    default: return sx;
  }
}

int drawWithFontFile(cv::Mat* panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                     const std::string& font, int align, int size, const std::string& encoding,
                     std::string_view text) {
  if (size < 1 || size > kMaxFontPoints) return 0;
  FreeTypeLibrary lib;
  if (!lib.ok()) return 0;
  FreeTypeFace face(lib.get(), platform::hostPath(font));
  if (!face.ok()) return 0;
  const FT_F26Dot6 charSize = static_cast<FT_F26Dot6>(size) * 64;
  if (FT_Set_Char_Size(face.get(), charSize, charSize, 300, 300) != 0) return 0;

  std::vector<uint32_t> logical;
  if (!toCodePoints(encoding, text, &logical)) return 0;
  std::vector<uint32_t> visual(logical.size() + 1, 0);
  FriBidiParType direction = FRIBIDI_PAR_ON;
  const FriBidiLevel levels =
      fribidi_log2vis(logical.data(), static_cast<FriBidiStrIndex>(logical.size()), &direction,
                      visual.data(), nullptr, nullptr, nullptr);
  if (levels <= 0) return 0;
  const bool leftToRight = levels == 1;  // highest embedding level 0
  visual.resize(logical.size());
  std::erase(visual, kByteOrderMark);

  const FT_Int32 flags = leftToRight ? FT_LOAD_DEFAULT : FT_LOAD_NO_HINTING;
  int64_t width = 0;
  int top = INT_MIN;
  for (uint32_t cp : visual) {
    if (!renderGlyph(face.get(), cp, flags)) continue;
    width += face.get()->glyph->advance.x >> 6;
    top = std::max(top, face.get()->glyph->bitmap_top);
  }
  if (top == INT_MIN) top = 0;

  int64_t x = startX(align, sx, ex, width);
  const int64_t y = top / 2 + (int64_t{sy} + ey) / 2;
  const cv::Vec3b ink(cv::saturate_cast<uint8_t>(b), cv::saturate_cast<uint8_t>(g),
                      cv::saturate_cast<uint8_t>(r));
  for (uint32_t cp : visual) {
    if (!renderGlyph(face.get(), cp, flags)) continue;
    const FT_GlyphSlot slot = face.get()->glyph;
    const int64_t adv = slot->advance.x >> 6;
    int64_t before = 0;
    if (cp == kAlefIsolated || cp == kAlefFinal) before = adv / 2;
    if (cp == kDalIsolated) before = adv / 4;
    x += before;
    const FT_Bitmap& bm = slot->bitmap;
    for (unsigned i = 0; i < bm.rows; ++i) {
      for (unsigned j = 0; j < bm.width; ++j) {
        if (covered(bm, i, j)) setPixel(panel, x + j, y - slot->bitmap_top + i, ink);
      }
    }
    x += adv - before;
  }
  return 1;
}

int drawWithVectorFont(cv::Mat* panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                       int align, int size, std::string_view text) {
  const double scale = size / 7.4;
  const int thickness = size / 4;
  const std::string bytes(text);
  int baseline = 0;
  const cv::Size extent =
      cv::getTextSize(bytes, cv::FONT_HERSHEY_DUPLEX, scale, thickness, &baseline);
  const int64_t x = startX(align, sx, ex, extent.width);
  const int64_t y = (int64_t{sy} + ey) / 2 + baseline;
  if (x < INT_MIN || x > INT_MAX || y < INT_MIN || y > INT_MAX) return 0;
  cv::putText(*panel, bytes, cv::Point(static_cast<int>(x), static_cast<int>(y)),
              cv::FONT_HERSHEY_DUPLEX, scale, cv::Scalar(b, g, r), thickness, cv::LINE_8, false);
  return 1;
}

}  // namespace

int PageDrawText(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                 const std::string& font, int align, int size, const std::string& encoding,
                 std::string_view text) {
  return renderGuard([&] {
    cv::Mat* target = PageGetPanel(page, panel);
    if (target == nullptr) return 0;
    if (strcasecmp(font.c_str(), "default") == 0) {
      return drawWithVectorFont(target, sx, sy, ex, ey, r, g, b, align, size, text);
    }
    return drawWithFontFile(target, sx, sy, ex, ey, r, g, b, font, align, size, encoding, text);
  });
}

}  // namespace tavik
