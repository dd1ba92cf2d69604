// Test helper: reads a print image back into samples, the way the printer
// does, with every read bounds-checked. Independent of the encoder's code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavik::test {

struct PrnSection {
  uint8_t id = 0;
  uint8_t encoding = 0;
  int firstLine = 0;
  uint32_t length = 0;
  // Decoded lines (firstLine onward), `width` samples each.
  std::vector<std::vector<uint8_t>> lines;
  // Line headers as sent: sum and per-plane counts.
  std::vector<uint32_t> sums;
  std::vector<std::vector<uint16_t>> counts;
};

struct PrnImageData {
  uint8_t sideByte = 0;
  uint32_t totalLength = 0;
  uint16_t options = 0;
  uint16_t panelFlags = 0;
  int height = 0;
  int width = 0;
  std::vector<PrnSection> sections;
};

inline uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t le32(const uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }

// Undoes the run-length code of `need` bytes from data[pos, end). Returns
// false on a malformed or short code; advances pos.
inline bool decodeRuns(const std::vector<uint8_t>& data, size_t* pos, size_t end, size_t need,
                       std::vector<uint8_t>* out) {
  out->clear();
  while (out->size() < need) {
    if (*pos >= end) return false;
    const uint8_t c = data[(*pos)++];
    if (c & 0x80) {
      const size_t n = c & 0x7F;
      if (n == 0 || end - *pos < n) return false;
      out->insert(out->end(), data.begin() + *pos, data.begin() + *pos + n);
      *pos += n;
    } else {
      if (c == 0 || *pos >= end) return false;
      out->insert(out->end(), c, data[(*pos)++]);
    }
  }
  return out->size() == need;
}

// Samples of one line from its twelve planes.
inline std::vector<uint8_t> samplesFromPlanes(const std::vector<uint8_t>& planes, int width) {
  const size_t groups = (static_cast<size_t>(width) + 7) / 8;
  std::vector<uint8_t> line(width);
  for (int x = 0; x < width; ++x) {
    int top = 0;
    int low = 0;
    for (int l = 0; l < 12; ++l) {
      const bool bit = (planes[l * groups + x / 8] >> (7 - x % 8)) & 1;
      if (l < 7) top += bit;
      else low |= bit << (11 - l);
    }
    line[x] = static_cast<uint8_t>((top << 5) | low);
  }
  return line;
}

// Parses a whole print image; "" on success, else what was wrong.
inline std::string parsePrn(const std::vector<uint8_t>& data, PrnImageData* out) {
  if (data.size() < 20) return "short header";
  if (data[0] != 'C' || data[1] != 'P' || data[2] != 2) return "bad magic";
  out->sideByte = data[3];
  out->totalLength = le32(&data[4]);
  out->options = static_cast<uint16_t>(le16(&data[8]));
  out->panelFlags = static_cast<uint16_t>(le16(&data[10]));
  out->height = static_cast<int>(le16(&data[16]));
  out->width = static_cast<int>(le16(&data[18]));
  if (out->totalLength != data.size()) return "total length differs from the image size";
  const size_t planeBytes = 12 * ((static_cast<size_t>(out->width) + 7) / 8);
  size_t pos = 20;
  while (pos < data.size()) {
    if (data.size() - pos < 8) return "short panel header";
    PrnSection s;
    s.id = data[pos];
    s.encoding = data[pos + 1];
    s.firstLine = static_cast<int>(le16(&data[pos + 2]));
    s.length = le32(&data[pos + 4]);
    pos += 8;
    if (data.size() - pos < s.length) return "section longer than the image";
    const size_t end = pos + s.length;
    std::vector<uint8_t> planes;
    while (pos < end) {
      if (end - pos < 28) return "short line header";
      s.sums.push_back(le32(&data[pos]));
      std::vector<uint16_t> counts(12);
      for (int l = 0; l < 12; ++l) counts[l] = static_cast<uint16_t>(le16(&data[pos + 4 + 2 * l]));
      s.counts.push_back(counts);
      pos += 28;
      if (!decodeRuns(data, &pos, end, planeBytes, &planes)) return "bad run-length code";
      s.lines.push_back(samplesFromPlanes(planes, out->width));
    }
    out->sections.push_back(std::move(s));
  }
  return "";
}

}  // namespace tavik::test
