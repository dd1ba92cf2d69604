// Drawing on the panels of a ready card page: lines, rectangles, ellipses,
// stored images, text and barcodes. Public face of render/ for the OCP
// drawing commands.
//
// Coordinates are page pixels, origin top-left; (sx, sy) and (ex, ey) are
// the start and end corners as the user typed them. Colour (r, g, b) lands
// as typed on the colour panel; a single-channel panel (resin, fluorescent)
// receives the b argument, 255 meaning no ink. Every operation returns 1
// when it drew and 0 when it failed (no page, a panel other than 0, 1 or 2,
// or arguments the drawing library rejects); a failed operation draws
// nothing. File paths (`path`, `font`) are module paths such as
// "/flash/ocp/fonts/arial.ttf"; they are mapped under the sysroot here.
#pragma once

#include <string>
#include <string_view>

namespace tavik {

struct PrintPage;

// Image placement in PageDrawImage.
inline constexpr int kScaleBest = 0;
inline constexpr int kScaleWidth = 1;
inline constexpr int kScaleHeight = 2;
inline constexpr int kScaleFull = 3;

// Text and barcode alignment.
inline constexpr int kAlignLeft = 0;
inline constexpr int kAlignRight = 1;
inline constexpr int kAlignCenter = 2;

// Thickness in pixels, 1 to 255.
int PageDrawLine(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                 int thickness);
// Both corners included; `filled` 1 paints the inside too.
int PageDrawRectangle(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g,
                      int b, int thickness, int filled);
// The ellipse inscribed in the box; fails for a box whose end lies left of
// or above its start.
int PageDrawCircle(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                   int thickness, int filled);
// The image file (BMP, JPEG, PBM/PGM/PPM, Sun raster) placed in the box,
// the box first filled with (r, g, b). `scale` is kScaleBest .. kScaleFull.
int PageDrawImage(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                  int scale, const std::string& path);
// One line of text. `font` "default" (any case) draws with the built-in
// vector font and the bytes as they are; any other value is a font file,
// and the text is converted from `encoding` (an iconv name) and reordered
// for right-to-left scripts. `size` is in points at 300 dpi.
int PageDrawText(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                 const std::string& font, int align, int size, const std::string& encoding,
                 std::string_view text);
// A barcode by name (CODE39, ECODE39, EANX, EAN14, ITF14, CODABAR, CODE128,
// CODE128B, PDF417, MICROPDF417, DATAMATRIX, QRCODE, MAXICODE; any case).
// `opt1` is -1 and `opt2` 0 when the user gave none.
int PageDrawBarcode(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g,
                    int b, std::string_view name, int align, int size, std::string_view text,
                    int opt1, int opt2);

}  // namespace tavik
