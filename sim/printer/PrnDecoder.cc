#include "sim/printer/PrnDecoder.h"

#include <bit>
#include <cstdio>

namespace tavik::sim {

namespace {

constexpr size_t kHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 8;
constexpr size_t kLineHeaderSize = 28;
constexpr int kPlanes = 12;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string format(const char* fmt, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, fmt, a, b, c);
  return text;
}

// Decodes one section's line records into its panel.
bool decodeSection(const uint8_t* data, size_t size, const PrnImage& image, PrnPanel* panel,
                   std::string* error) {
  const uint32_t width = image.width;
  const size_t groups = (width + 7) / 8;
  const size_t lineBytes = groups * kPlanes;
  std::vector<uint8_t> planes;
  size_t offset = 0;
  uint32_t line = panel->firstLine;
  while (offset < size) {
    if (line >= image.height) {
      *error = format("panel 0x%02X: line %u is below the page", panel->id, line);
      return false;
    }
    if (size - offset < kLineHeaderSize) {
      *error = format("panel 0x%02X: line %u header cut short", panel->id, line);
      return false;
    }
    const uint8_t* header = data + offset;
    offset += kLineHeaderSize;
    size_t used = 0;
    if (!decodeRunLength(data + offset, size - offset, lineBytes, &planes, &used)) {
      *error = format("panel 0x%02X: line %u run-length code broken", panel->id, line);
      return false;
    }
    offset += used;
    uint8_t* row = panel->samples.data() + static_cast<size_t>(line) * width;
    if (!planesToSamples(planes.data(), width, row)) {
      *error = format("panel 0x%02X: line %u bit-planes out of order", panel->id, line);
      return false;
    }
    uint32_t sum = 0;
    for (uint32_t x = 0; x < width; ++x) sum += row[x];
    if (sum != le32(header)) {
      *error = format("panel 0x%02X: line %u sample sum %u does not match", panel->id, line, sum);
      return false;
    }
    for (int l = 0; l < kPlanes; ++l) {
      unsigned bits = 0;
      for (size_t g = 0; g < groups; ++g) bits += std::popcount(planes[l * groups + g]);
      if (bits != le16(header + 4 + 2 * l)) {
        *error = format("panel 0x%02X: line %u plane %u bit count does not match", panel->id,
                        line, static_cast<unsigned>(l));
        return false;
      }
    }
    ++line;
    ++panel->lineCount;
  }
  return true;
}

}  // namespace

std::string PrnImage::lamination() const {
  unsigned bits = sideFlags & 0x30;
  if (bits == 0x30) return "both";
  if (bits == 0) return "none";
  // The two single-side codes swap between the front and the back side.
  bool top = isBack() ? bits == 0x10 : bits == 0x20;
  return top ? "top" : "bottom";
}

const PrnPanel* PrnImage::panel(uint8_t id) const {
  for (const auto& p : panels) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

std::string prnPanelName(uint8_t id) {
  switch (id) {
    case kPanelGrey: return "grey";
    case kPanelY: return "Y";
    case kPanelM: return "M";
    case kPanelC: return "C";
    case kPanelK: return "K";
    case kPanelF: return "F";
    case kPanelO: return "O";
    default: return "";
  }
}

bool decodeRunLength(const uint8_t* data, size_t size, size_t want, std::vector<uint8_t>* out,
                     size_t* used) {
  out->clear();
  out->reserve(want);
  size_t i = 0;
  while (out->size() < want) {
    if (i >= size) return false;
    uint8_t c = data[i++];
    size_t count = c & 0x7F;
    if (count == 0 || out->size() + count > want) return false;
    if (c & 0x80) {
      if (size - i < count) return false;
      out->insert(out->end(), data + i, data + i + count);
      i += count;
    } else {
      if (i >= size) return false;
      out->insert(out->end(), count, data[i++]);
    }
  }
  *used = i;
  return true;
}

bool planesToSamples(const uint8_t* planes, uint32_t width, uint8_t* samples) {
  const size_t groups = (width + 7) / 8;
  for (uint32_t x = 0; x < width; ++x) {
    const size_t g = x / 8;
    const int shift = 7 - static_cast<int>(x % 8);
    auto bit = [&](int plane) { return (planes[plane * groups + g] >> shift) & 1; };
    int top = 0;
    for (int l = 0; l < 7; ++l) top += bit(l);
    // A thermometer code: exactly the planes 7 - top to 6 are set.
    for (int l = 0; l < 7; ++l) {
      if (bit(l) != (l >= 7 - top ? 1 : 0)) return false;
    }
    int low = 0;
    for (int l = 7; l < kPlanes; ++l) low = (low << 1) | bit(l);
    samples[x] = static_cast<uint8_t>((top << 5) | low);
  }
  return true;
}

bool decodePrnImage(const uint8_t* data, size_t size, PrnImage* image, std::string* error) {
  *image = PrnImage{};
  if (size < kHeaderSize) {
    *error = format("image of %u bytes is shorter than its header", static_cast<unsigned>(size));
    return false;
  }
  if (data[0] != 'C' || data[1] != 'P') {
    *error = "image does not start with CP";
    return false;
  }
  image->format = data[2];
  image->sideFlags = data[3];
  image->totalLength = le32(data + 4);
  image->optionFlags = le16(data + 8);
  image->panelFlags = le16(data + 10);
  image->height = le16(data + 16);
  image->width = le16(data + 18);
  if (image->format != 2) image->warnings.push_back(format("format byte is %u", image->format));
  if (image->totalLength != size) {
    *error = format("length field %u differs from the %u bytes received", image->totalLength,
                    static_cast<unsigned>(size));
    return false;
  }
  if (image->width == 0 || image->height == 0 || image->width > kMaxPrnWidth ||
      image->height > kMaxPrnHeight) {
    *error = format("page size %u x %u is not printable", image->width, image->height);
    return false;
  }
  if ((image->sideFlags & 0x81) == 0 || (image->sideFlags & 0x81) == 0x81) {
    image->warnings.push_back(format("side byte 0x%02X names no side", image->sideFlags));
  }
  size_t offset = kHeaderSize;
  unsigned seen = 0;
  while (offset < size) {
    if (size - offset < kSectionHeaderSize) {
      *error = format("section header at %u cut short", static_cast<unsigned>(offset));
      return false;
    }
    const uint8_t* h = data + offset;
    offset += kSectionHeaderSize;
    PrnPanel panel;
    panel.id = h[0];
    panel.name = prnPanelName(panel.id);
    panel.encoding = h[1];
    panel.firstLine = le16(h + 2);
    panel.dataLength = le32(h + 4);
    if (panel.name.empty()) {
      *error = format("unknown panel id 0x%02X", panel.id);
      return false;
    }
    if (seen & panel.id) {
      *error = format("panel 0x%02X sent twice", panel.id);
      return false;
    }
    seen |= panel.id;
    if (panel.encoding != 0 && panel.encoding != 2) {
      *error = format("panel 0x%02X: unknown encoding %u", panel.id, panel.encoding);
      return false;
    }
    if (panel.encoding == 0 && panel.firstLine != 0) {
      *error = format("panel 0x%02X: whole-panel encoding starts at line %u", panel.id,
                      panel.firstLine);
      return false;
    }
    if (panel.dataLength > size - offset) {
      *error = format("panel 0x%02X: data length %u passes the end", panel.id, panel.dataLength);
      return false;
    }
    panel.samples.assign(static_cast<size_t>(image->width) * image->height, 0);
    if (!decodeSection(data + offset, panel.dataLength, *image, &panel, error)) return false;
    if (panel.encoding == 0 && panel.lineCount != 0 && panel.lineCount != image->height) {
      image->warnings.push_back(format("panel 0x%02X: %u of %u lines", panel.id,
                                       panel.lineCount, image->height));
    }
    offset += panel.dataLength;
    image->panels.push_back(std::move(panel));
  }
  if (image->panels.empty()) {
    *error = "image holds no panel";
    return false;
  }
  if (image->panelFlags != seen && image->panelFlags != 0x100) {
    image->warnings.push_back(
        format("panel flags 0x%03X differ from the panels sent (0x%03X)", image->panelFlags, seen));
  }
  return true;
}

}  // namespace tavik::sim
