#include "render/ImageProbe.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tavik {

namespace {

uint32_t be16(const unsigned char* p) { return (p[0] << 8) | p[1]; }
uint32_t be32(const unsigned char* p) { return (be16(p) << 16) | be16(p + 2); }
uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

// Width and height as the file's header states them, for the formats of
// the image store (BMP, JPEG, PBM/PGM/PPM, Sun raster) and PNG. False when
// the header cannot be read; true with 0 x 0 for any other format.
bool statedSize(const std::string& path, uint64_t* width, uint64_t* height) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  unsigned char head[32] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  const std::streamsize got = in.gcount();
  *width = *height = 0;
  if (got >= 26 && head[0] == 'B' && head[1] == 'M') {
    const int32_t w = static_cast<int32_t>(le32(head + 18));
    const int32_t h = static_cast<int32_t>(le32(head + 22));
    *width = static_cast<uint64_t>(std::abs(int64_t{w}));
    *height = static_cast<uint64_t>(std::abs(int64_t{h}));
    return true;
  }
  if (got >= 12 && be32(head) == 0x59A66A95u) {  // Sun raster
    *width = be32(head + 4);
    *height = be32(head + 8);
    return true;
  }
  if (got >= 24 && std::memcmp(head, "\x89PNG", 4) == 0) {
    *width = be32(head + 16);
    *height = be32(head + 20);
    return true;
  }
  if (got >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') {
    // "P6 <w> <h> ...", with comments from '#' to the end of a line.
    in.clear();
    in.seekg(2);
    uint64_t values[2] = {0, 0};
    for (uint64_t& v : values) {
      int c = in.get();
      while (c == '#' || std::isspace(c)) {
        if (c == '#') {
          while (c != '\n' && c != EOF) c = in.get();
        }
        c = in.get();
      }
      if (!std::isdigit(c)) return false;
      for (int digits = 0; std::isdigit(c) && digits < 12; ++digits, c = in.get()) {
        v = v * 10 + static_cast<uint64_t>(c - '0');
      }
    }
    *width = values[0];
    *height = values[1];
    return true;
  }
  if (got >= 4 && head[0] == 0xFF && head[1] == 0xD8) {
    // JPEG: walk the marker segments to the frame header.
    in.clear();
    in.seekg(2);
    for (int segments = 0; segments < 1000; ++segments) {
      unsigned char m[4];
      if (!in.read(reinterpret_cast<char*>(m), 4) || m[0] != 0xFF) return false;
      const uint32_t length = be16(m + 2);
      const bool frame = m[1] >= 0xC0 && m[1] <= 0xCF && m[1] != 0xC4 && m[1] != 0xC8 &&
                         m[1] != 0xCC;
      if (frame) {
        unsigned char f[5];
        if (!in.read(reinterpret_cast<char*>(f), 5)) return false;
        *height = be16(f + 1);
        *width = be16(f + 3);
        return true;
      }
      if (length < 2) return false;
      in.seekg(length - 2, std::ios::cur);
    }
    return false;
  }
  return true;  // another format: the decoder's own limits apply
}

}  // namespace

bool imageSizeAllowed(const std::string& hostPath) {
  uint64_t width = 0, height = 0;
  if (!statedSize(hostPath, &width, &height)) return false;
  return width <= kMaxImagePixels && height <= kMaxImagePixels &&
         width * height <= kMaxImagePixels;
}

}  // namespace tavik
