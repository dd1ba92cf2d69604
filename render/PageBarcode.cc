// Barcodes: the text is encoded with zint and its dark modules are painted
// one by one as filled rectangles (or discs for MaxiCode's hexagons).
#include "render/PageDraw.h"
#include "render/PrintPage.h"
#include "render/RenderGuard.h"
#include "render/Shapes.h"

#include <opencv2/imgproc.hpp>
#include <strings.h>
#include <zint.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace tavik {

namespace {

enum class Kind { kLinear, kStacked, kMatrix, kMaxiCode };

struct Symbology {
  const char* name;
  int zintSymbology;
  int sizeDivisor;  // module size m = size / divisor
  Kind kind;
  int rowHeightModules;  // stacked and matrix rows: rh = this x m
};

constexpr Symbology kSymbologies[] = {
    {"CODE39", BARCODE_CODE39, 3, Kind::kLinear, 0},
    {"ECODE39", BARCODE_EXCODE39, 3, Kind::kLinear, 0},
    {"EANX", BARCODE_EANX, 3, Kind::kLinear, 0},
    {"EAN14", BARCODE_EAN14, 3, Kind::kLinear, 0},
    {"ITF14", BARCODE_ITF14, 3, Kind::kLinear, 0},
    {"CODABAR", BARCODE_CODABAR, 3, Kind::kLinear, 0},
    {"CODE128", BARCODE_CODE128, 3, Kind::kLinear, 0},
    {"CODE128B", BARCODE_CODE128B, 3, Kind::kLinear, 0},
    {"PDF417", BARCODE_PDF417, 3, Kind::kStacked, 3},
    {"MICROPDF417", BARCODE_MICROPDF417, 3, Kind::kStacked, 2},
    {"DATAMATRIX", BARCODE_DATAMATRIX, 2, Kind::kMatrix, 1},
    {"QRCODE", BARCODE_QRCODE, 2, Kind::kMatrix, 1},
    {"MAXICODE", BARCODE_MAXICODE, 2, Kind::kMaxiCode, 1},
};

// The symbol table holds at most this many rows and modules a row.
constexpr int kMaxRows = sizeof(zint_symbol::encoded_data) / sizeof(zint_symbol::encoded_data[0]);
constexpr int kMaxColumns = sizeof(zint_symbol::encoded_data[0]) * 8;

const Symbology* findSymbology(std::string_view name) {
  for (const Symbology& s : kSymbologies) {
    if (name.size() == std::char_traits<char>::length(s.name) &&
        strncasecmp(name.data(), s.name, name.size()) == 0) {
      return &s;
    }
  }
  return nullptr;
}

class ZintSymbol {
 public:
  ZintSymbol() : symbol_(ZBarcode_Create()) {}
  ~ZintSymbol() {
    if (symbol_ != nullptr) ZBarcode_Delete(symbol_);
  }
  ZintSymbol(const ZintSymbol&) = delete;
  ZintSymbol& operator=(const ZintSymbol&) = delete;
  zint_symbol* get() const { return symbol_; }

 private:
  zint_symbol* symbol_;
};

// zint keeps one bit per module, eight modules a byte, lowest bit first.
bool dark(const zint_symbol* symbol, int row, int column) {
  return (symbol->encoded_data[row][column >> 3] >> (column & 7)) & 1;
}

cv::Point at(int64_t x, int64_t y) { return cv::Point(static_cast<int>(x), static_cast<int>(y)); }

int drawBarcode(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                std::string_view name, int align, int size, std::string_view text, int opt1,
                int opt2) {
  cv::Mat* target = PageGetPanel(page, panel);
  if (target == nullptr) return 0;
  const Symbology* sym = findSymbology(name);
  if (sym == nullptr) return 0;
  const int64_t m = size / sym->sizeDivisor;
  // Modules of no width cannot be scanned (and negative ones are not shapes).
  if (m < 1) return 0;
  if (text.size() > INT32_MAX) return 0;

  ZintSymbol zs;
  zint_symbol* symbol = zs.get();
  if (symbol == nullptr) return 0;
  symbol->symbology = sym->zintSymbology;
  symbol->option_1 = opt1;
  symbol->option_2 = opt2;
  // option_3 keeps the library's own default. Older zint releases took 928
  // there; this one reads option_3 as the PDF417 row count and refuses 928,
  // which would make PDF417 and MicroPDF417 impossible to draw.
  symbol->input_mode = DATA_MODE;
  const int rc = ZBarcode_Encode(symbol, reinterpret_cast<const unsigned char*>(text.data()),
                                 static_cast<int>(text.size()));
  // A symbol that zint reports as an error is not drawn even if it left rows.
  if (symbol->rows <= 0 || symbol->width <= 0 || rc >= ZINT_ERROR) return 0;
  const int rows = std::min(symbol->rows, kMaxRows);
  const int columns = std::min(symbol->width, kMaxColumns);

  const int64_t rh = sym->kind == Kind::kLinear ? 0 : sym->rowHeightModules * m;
  const int64_t W = columns * m;
  const int64_t H = sym->kind == Kind::kLinear ? int64_t{ey} - sy : rows * rh;
  int64_t x0 = sx;
  if (align == kAlignRight) x0 = ex - W;
  if (align == kAlignCenter) x0 = sx + (int64_t{ex} - sx - W) / 2;
  const int64_t y0 = sy + (int64_t{ey} - sy) / 2 - H / 2;
  const int64_t reach = std::max<int64_t>(W, std::abs(H)) + 8 * m;
  if (!withinFillReach({x0 - reach, x0 + reach, y0 - reach, y0 + reach})) return 0;

  const cv::Scalar ink(b, g, r);
  switch (sym->kind) {
    case Kind::kLinear:
      for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
          if (!dark(symbol, i, j)) continue;
          drawBox(*target, x0 + j * m, y0, x0 + j * m + m, y0 + H, ink, cv::FILLED);
        }
      }
      break;
    case Kind::kStacked:
    case Kind::kMatrix:
      for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
          if (!dark(symbol, i, j)) continue;
          drawBox(*target, x0 + j * m, y0 + i * rh, x0 + j * m + m, y0 + i * rh + rh, ink,
                  cv::FILLED);
        }
      }
      break;
    case Kind::kMaxiCode: {
      const int64_t q = 4 * m + (2 * m) / 3;
      const cv::Point centre = at(x0 + W / 2 - m / 2, y0 + W / 2 - m / 2);
      const cv::Scalar white(255, 255, 255);
      for (int ring = 0; ring < 6; ++ring) {
        const int64_t radius = (6 - ring) * q / 6;
        cv::circle(*target, centre, static_cast<int>(radius), ring % 2 == 0 ? ink : white,
                   cv::FILLED, cv::LINE_8, 0);
      }
      for (int i = 0; i < rows; ++i) {
        const int64_t xShift = i % 2 == 0 ? m / 2 : 2 * (m / 2);
        const int64_t y = y0 + (i * W) / 33;
        for (int j = 0; j < columns; ++j) {
          if (!dark(symbol, i, j)) continue;
          cv::circle(*target, at(x0 + xShift + j * m, y), static_cast<int>(m / 2), ink,
                     cv::FILLED, cv::LINE_8, 0);
        }
      }
      break;
    }
  }
  return 1;
}

}  // namespace

int PageDrawBarcode(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g,
                    int b, std::string_view name, int align, int size, std::string_view text,
                    int opt1, int opt2) {
  return renderGuard([&] {
    return drawBarcode(page, panel, sx, sy, ex, ey, r, g, b, name, align, size, text, opt1, opt2);
  });
}

}  // namespace tavik
