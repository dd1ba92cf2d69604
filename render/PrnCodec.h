// Internal to render/ (used by PrnImage.cc and by the tests): the pieces of
// the print-image pipeline that work on one print panel buffer, w x h
// samples, rows back to back, 0 meaning no ink and 255 full ink.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavik {

// Error-diffusion neighbours (dx, dy, weight) and the 3 x 3 halftone
// patterns (pattern k has k cells set to 255). Read-only, exported for the
// printer-driver tools that reproduce the dithers.
extern const int32_t _diffusion_dither[12][3];
extern const uint8_t _halftone_dither[10][9];

namespace prn {

// Little-endian fields of the print image's header and line records.
inline void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void putLe32(uint8_t* p, uint32_t v) {
  putLe16(p, v);
  putLe16(p + 2, v >> 16);
}

// --- colour ---------------------------------------------------------------

// The printer's colour curve for one separation sample.
uint8_t colourCurve(uint8_t c);

// Ink for each drawn value: yellow from blue, magenta from green, cyan
// from red (255 - value), each through the colour curve when asked.
struct SeparationTables {
  uint8_t yellow[256];
  uint8_t magenta[256];
  uint8_t cyan[256];
};
SeparationTables separationTables(bool curveCyan, bool curveYellowMagenta);

// Rewrites n blue-green-red pixels in place as three planes of n samples:
// yellow, magenta, cyan through the tables. `scratch` holds at least n
// bytes. Without tables: 255 - blue, 255 - green, 255 - red.
void separate(uint8_t* bgr, size_t n, uint8_t* scratch, const SeparationTables& t);
void separate(uint8_t* bgr, size_t n, uint8_t* scratch);

// --- dithers (every output sample 0 or 255) -------------------------------

void ditherThreshold(uint8_t* p, int w, int h, int threshold);
void ditherRandom(uint8_t* p, int w, int h, int threshold);
// `copy` holds at least w x h bytes.
void ditherDiffusion(uint8_t* p, int w, int h, uint8_t* copy);
void ditherHalftone(uint8_t* p, int w, int h);

// --- geometry and heat -----------------------------------------------------

// Turns the panel 90 degrees clockwise in place: afterwards it is h wide
// and w high. `scratch` holds at least w x h bytes.
void turnClockwise(uint8_t* p, int w, int h, uint8_t* scratch);

struct HeatCoefficients {
  int t1 = 0;
  int t2 = 0;
  int t3 = 0;
};
// Coefficients for print panel `index` (0 grey .. 6 overlay); `erase` is
// the erase percentage that ribbon code 9 uses for the overlay.
HeatCoefficients heatCoefficients(int index, int ribbon, uint32_t erase);
// Takes off the heat that the two lines printed just before leave in the
// printhead. Rows 0 and 1 and the outer columns keep their values.
void compensateHeat(uint8_t* p, int w, int h, const HeatCoefficients& c);

// --- encoding ----------------------------------------------------------------

inline constexpr size_t kLineHeaderSize = 28;
inline constexpr int kPlaneCount = 12;

// Bytes of the twelve bit-planes of one line.
inline size_t planeBytes(int width) { return kPlaneCount * ((static_cast<size_t>(width) + 7) / 8); }
// Longest run-length code of `len` bytes.
inline size_t maxRunBytes(size_t len) { return len + len / 127 + 2; }
// Longest line record (header and code) of a line `width` samples wide.
inline size_t maxLineBytes(int width) { return kLineHeaderSize + maxRunBytes(planeBytes(width)); }

// Run-length code of `len` bytes into `out`. Returns the bytes written,
// or 0 when `cap` is less than maxRunBytes(len) (nothing written then).
size_t encodeRuns(const uint8_t* in, size_t len, uint8_t* out, size_t cap);

// Splits one line of samples into its twelve bit-planes (`planes` holds
// planeBytes(width) bytes), filling the 28-byte line header in `header`.
void splitPlanes(const uint8_t* samples, int width, uint8_t* planes, uint8_t* header);

// Whole line record into `out`: header, then the code of the planes.
// `planes` is a scratch of planeBytes(width) bytes. Returns the bytes
// written, 0 when `cap` is less than maxLineBytes(width).
size_t encodeLine(const uint8_t* samples, int width, uint8_t* planes, uint8_t* out, size_t cap);

}  // namespace prn
}  // namespace tavik
