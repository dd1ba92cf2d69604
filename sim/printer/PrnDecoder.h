// Decoder of the printer's PRN print image: header, panel sections, line
// records, run-length code and the twelve bit-planes, back to 8-bit samples.
// Public face of the virtual printer's decoder; the rendering tests use it
// as an oracle for the images the module makes.
//
// Image layout (little-endian): a 20-byte header ("CP", 2, side and
// lamination, total length, option flags, panel flags, two zero words,
// height, width), then per panel an 8-byte section header (id, encoding,
// first line, data length) and the panel's line records. A line record is a
// 28-byte header (sum of samples, set bits per plane) and the run-length code
// of the line's twelve bit-planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavik::sim {

// Panel id bytes of the print image.
constexpr uint8_t kPanelGrey = 0x20;
constexpr uint8_t kPanelY = 0x01;
constexpr uint8_t kPanelM = 0x02;
constexpr uint8_t kPanelC = 0x04;
constexpr uint8_t kPanelK = 0x08;
constexpr uint8_t kPanelF = 0x40;
constexpr uint8_t kPanelO = 0x10;

// Largest panel the decoder accepts, so that a hostile header cannot make
// it allocate without bound (the printer's own page is 636 x 1012).
constexpr uint32_t kMaxPrnWidth = 2048;
constexpr uint32_t kMaxPrnHeight = 2048;

struct PrnPanel {
  uint8_t id = 0;
  std::string name;        // "grey", "Y", "M", "C", "K", "F", "O"
  uint8_t encoding = 0;    // 0 whole panel, 2 line window
  uint16_t firstLine = 0;
  uint32_t lineCount = 0;  // encoded lines
  uint32_t dataLength = 0;
  // width x height samples, row by row; 0 = no ink, 255 = full ink. Lines
  // outside the encoded window are 0.
  std::vector<uint8_t> samples;
};

struct PrnImage {
  uint8_t format = 0;      // byte 2 (2)
  uint8_t sideFlags = 0;   // byte 3
  uint32_t totalLength = 0;
  uint16_t optionFlags = 0;
  uint16_t panelFlags = 0;
  uint16_t height = 0;
  uint16_t width = 0;
  std::vector<PrnPanel> panels;       // in the order they were sent
  std::vector<std::string> warnings;  // oddities that do not stop printing

  bool isBack() const { return (sideFlags & 0x80) == 0 && (sideFlags & 0x01) != 0; }
  // "front" or "back" as the header names the side.
  std::string sideName() const { return isBack() ? "back" : "front"; }
  // "none", "top", "bottom" or "both".
  std::string lamination() const;
  // The panel with this id, or nullptr.
  const PrnPanel* panel(uint8_t id) const;
  uint8_t sample(const PrnPanel& p, uint32_t x, uint32_t y) const {
    return p.samples[static_cast<size_t>(y) * width + x];
  }
};

// Name of a panel id ("" for an unknown id).
std::string prnPanelName(uint8_t id);

// Decodes one whole image. Returns false with a reason in *error for a
// malformed image (the printer sets its data fault then); never reads past
// `size`.
bool decodePrnImage(const uint8_t* data, size_t size, PrnImage* image, std::string* error);

// Decodes run-length code until exactly `want` bytes are produced. Returns
// false when the code ends early or a run passes `want`. *used gets the
// number of code bytes consumed.
bool decodeRunLength(const uint8_t* data, size_t size, size_t want, std::vector<uint8_t>* out,
                     size_t* used);

// Turns the twelve bit-planes of one line (12 * ceil(width / 8) bytes,
// plane by plane) back into `width` samples. Returns false when a plane
// pattern cannot come from any sample (the thermometer planes out of order).
bool planesToSamples(const uint8_t* planes, uint32_t width, uint8_t* samples);

}  // namespace tavik::sim
