#include "render/PrnCodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tavik {

const int32_t _diffusion_dither[12][3] = {
    {-2, -2, 1}, {-1, -2, 2}, {0, -2, 4}, {1, -2, 2}, {2, -2, 1}, {-2, -1, 2},
    {-1, -1, 4}, {0, -1, 8},  {1, -1, 4}, {2, -1, 2}, {-2, 0, 4}, {-1, 0, 8},
};

const uint8_t _halftone_dither[10][9] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 255, 0, 0, 0, 0},
    {0, 0, 0, 0, 255, 255, 0, 0, 0},
    {0, 255, 0, 0, 255, 255, 0, 0, 0},
    {0, 255, 0, 0, 255, 255, 255, 0, 0},
    {0, 255, 0, 255, 255, 255, 255, 0, 0},
    {0, 255, 0, 255, 255, 255, 255, 0, 255},
    {0, 255, 255, 255, 255, 255, 255, 0, 255},
    {255, 255, 255, 255, 255, 255, 255, 0, 255},
    {255, 255, 255, 255, 255, 255, 255, 255, 255},
};

namespace prn {

namespace {

// Bit l of byte l (planes 0 to 7) and of byte l - 8 (planes 8 to 11) tells
// whether a sample sets that plane: planes 0 to 6 are a thermometer code
// of the top three bits, planes 7 to 11 carry bits 4 to 0.
struct PlaneTables {
  std::array<uint64_t, 256> low{};
  std::array<uint32_t, 256> high{};
  PlaneTables() {
    for (int v = 0; v < 256; ++v) {
      uint64_t lo = 0;
      uint32_t hi = 0;
      for (int l = 0; l < kPlaneCount; ++l) {
        const bool set = l < 7 ? (v >> 5) >= 7 - l : ((v >> (11 - l)) & 1) != 0;
        if (!set) continue;
        if (l < 8) lo |= uint64_t{1} << (8 * l);
        else hi |= uint32_t{1} << (8 * (l - 8));
      }
      low[v] = lo;
      high[v] = hi;
    }
  }
};

const PlaneTables& planeTables() {
  static const PlaneTables tables;
  return tables;
}

// v * v / 255, the heat a sample leaves.
struct SquareTable {
  std::array<int32_t, 256> sq{};
  SquareTable() {
    for (int v = 0; v < 256; ++v) sq[v] = v * v / 255;
  }
};

const SquareTable& squares() {
  static const SquareTable table;
  return table;
}

void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t* p, uint32_t v) {
  putLe16(p, v);
  putLe16(p + 2, v >> 16);
}

}  // namespace

uint8_t colourCurve(uint8_t c) {
  const int v = c;
  return static_cast<uint8_t>(v > 203 ? v - ((255 - v) >> 2) : v - (v >> 4));
}

void separate(uint8_t* bgr, size_t n, uint8_t* scratch) {
  // Cyan aside, then blue-green pairs packed to the front (never overtaking
  // the reads), cyan to the last third, magenta aside, yellow compacted.
  for (size_t i = 0; i < n; ++i) scratch[i] = static_cast<uint8_t>(255 - bgr[3 * i + 2]);
  for (size_t i = 0; i < n; ++i) {
    bgr[2 * i] = bgr[3 * i];
    bgr[2 * i + 1] = bgr[3 * i + 1];
  }
  std::memcpy(bgr + 2 * n, scratch, n);
  for (size_t i = 0; i < n; ++i) scratch[i] = static_cast<uint8_t>(255 - bgr[2 * i + 1]);
  for (size_t i = 0; i < n; ++i) bgr[i] = static_cast<uint8_t>(255 - bgr[2 * i]);
  std::memcpy(bgr + n, scratch, n);
}

void ditherThreshold(uint8_t* p, int w, int h, int threshold) {
  const size_t n = static_cast<size_t>(w) * h;
  for (size_t i = 0; i < n; ++i) p[i] = p[i] > threshold ? 255 : 0;
}

void ditherRandom(uint8_t* p, int w, int h, int threshold) {
  const size_t n = static_cast<size_t>(w) * h;
  for (size_t i = 0; i < n; ++i) {
    p[i] = p[i] + (std::rand() % 140) - 70 > threshold ? 255 : 0;
  }
}

void ditherDiffusion(uint8_t* p, int w, int h, uint8_t* copy) {
  const size_t n = static_cast<size_t>(w) * h;
  std::memcpy(copy, p, n);
  std::memset(p, 0, n);
  int z = 1;
  for (int y = 2; y < h; ++y) {
    for (int x = 2; x < w - 2; ++x) {
      int s = 0;
      for (const auto& d : _diffusion_dither) {
        const size_t at = static_cast<size_t>(y + d[1]) * w + (x + d[0]);
        const int e = copy[at] - (p[at] == 255 ? 255 : 0);
        s += d[2] * e;
      }
      z = (z * 123) % 16;
      const size_t here = static_cast<size_t>(y) * w + x;
      p[here] = copy[here] + s / 10 + z > 250 ? 255 : 0;
    }
  }
}

void ditherHalftone(uint8_t* p, int w, int h) {
  for (int y0 = 0; y0 < h - 3; y0 += 3) {
    for (int x0 = 0; x0 < w; x0 += 3) {
      // The last block column of a row that is not a multiple of 3 wide is
      // cut at the row's end.
      const int cols = std::min(3, w - x0);
      int sum = 0;
      int set = 0;
      for (int r = 0; r < 3; ++r) {
        uint8_t* row = p + static_cast<size_t>(y0 + r) * w + x0;
        for (int c = 0; c < cols; ++c) {
          sum += row[c];
          if (row[c] == 255) ++set;
          else row[c] = 0;
        }
      }
      const int level = sum / 255;
      const uint8_t* pattern = _halftone_dither[level];
      // One walk: a cut block may lack cells of the pattern.
      for (int cell = 0; cell < 9 && set < level; ++cell) {
        const int r = cell / 3;
        const int c = cell % 3;
        if (c >= cols || pattern[cell] == 0) continue;
        uint8_t& v = p[static_cast<size_t>(y0 + r) * w + x0 + c];
        if (v == 0) {
          v = 255;
          ++set;
        }
      }
    }
  }
}

void turnClockwise(uint8_t* p, int w, int h, uint8_t* scratch) {
  const size_t n = static_cast<size_t>(w) * h;
  std::memcpy(scratch, p, n);
  // new(x', y') = old(y', h - 1 - x'); the new image is h wide. Walk in
  // tiles so that both sides stay in the cache.
  constexpr int kTile = 32;
  for (int ty = 0; ty < w; ty += kTile) {
    for (int tx = 0; tx < h; tx += kTile) {
      const int yEnd = std::min(ty + kTile, w);
      const int xEnd = std::min(tx + kTile, h);
      for (int ny = ty; ny < yEnd; ++ny) {
        uint8_t* out = p + static_cast<size_t>(ny) * h;
        for (int nx = tx; nx < xEnd; ++nx) {
          out[nx] = scratch[static_cast<size_t>(h - 1 - nx) * w + ny];
        }
      }
    }
  }
}

HeatCoefficients heatCoefficients(int index, int ribbon, uint32_t erase) {
  double base = 1.9;
  double power = 2.0;
  switch (index) {
    case 0:
    case 1: base = 2.7; power = 1.6; break;
    case 2: base = 2.65; power = 1.6; break;
    case 3: base = 2.75; power = 1.6; break;
    case 4: base = 1.9; power = 2.0; break;
    case 5: base = 1.9; power = 1.6; break;
    default:
      base = ribbon == 9 ? 1.3 + 0.4 * erase / 100.0 : 1.9;
      power = 2.0;
      break;
  }
  auto t = [&](int j) { return static_cast<int>(10000.0 / std::pow(base * j, power)); };
  return HeatCoefficients{t(1), t(2), t(3)};
}

void compensateHeat(uint8_t* p, int w, int h, const HeatCoefficients& c) {
  const auto& sq = squares().sq;
  // Bottom-up, so that the two rows above still hold what was printed.
  for (int y = h - 1; y >= 2; --y) {
    uint8_t* row = p + static_cast<size_t>(y) * w;
    const uint8_t* up1 = row - w;
    const uint8_t* up2 = up1 - w;
    for (int x = 1; x < w - 1; ++x) {
      const int d = (c.t1 * sq[up1[x]] + c.t2 * sq[up2[x]] + c.t3 * (sq[up2[x - 1]] + sq[up2[x + 1]])) /
                    10000;
      row[x] = static_cast<uint8_t>(d > row[x] ? 0 : row[x] - d);
    }
  }
}

size_t encodeRuns(const uint8_t* in, size_t len, uint8_t* out, size_t cap) {
  if (cap < maxRunBytes(len) || len == 0) return 0;
  size_t o = 0;
  auto literal = [&](size_t from, size_t count) {
    out[o++] = static_cast<uint8_t>(0x80 | count);
    std::memcpy(out + o, in + from, count);
    o += count;
  };
  auto repeat = [&](uint8_t v, size_t count) {
    out[o++] = static_cast<uint8_t>(count);
    out[o++] = v;
  };
  bool repeating = false;
  size_t start = 0;
  size_t count = 1;
  for (size_t i = 1; i < len; ++i) {
    const uint8_t b = in[i];
    if (repeating) {
      if (b == in[start] && count < 127) {
        ++count;
        continue;
      }
      repeat(in[start], count);
      repeating = false;
      start = i;
      count = 1;
    } else if (count >= 3 && in[i - 1] == b && in[i - 2] == b && in[i - 3] == b) {
      if (count > 3) literal(start, count - 3);
      repeating = true;
      start = i - 3;
      count = 4;
    } else if (count == 127) {
      literal(start, count);
      start = i;
      count = 1;
    } else {
      ++count;
    }
  }
  bool allSame = count >= 2;
  for (size_t i = 1; allSame && i < count; ++i) allSame = in[start + i] == in[start];
  if (repeating || allSame) repeat(in[start], count);
  else literal(start, count);
  return o;
}

void splitPlanes(const uint8_t* samples, int width, uint8_t* planes, uint8_t* header) {
  const PlaneTables& t = planeTables();
  const size_t groups = (static_cast<size_t>(width) + 7) / 8;
  uint32_t sum = 0;
  uint32_t counts[kPlaneCount] = {};
  for (size_t g = 0; g < groups; ++g) {
    uint64_t lo = 0;
    uint32_t hi = 0;
    const size_t first = g * 8;
    const int inGroup = static_cast<int>(std::min<size_t>(8, width - first));
    for (int k = 0; k < inGroup; ++k) {
      const uint8_t v = samples[first + k];
      sum += v;
      lo |= t.low[v] << (7 - k);
      hi |= t.high[v] << (7 - k);
    }
    for (int l = 0; l < 8; ++l) {
      const uint8_t byte = static_cast<uint8_t>(lo >> (8 * l));
      planes[l * groups + g] = byte;
      counts[l] += static_cast<uint32_t>(__builtin_popcount(byte));
    }
    for (int l = 8; l < kPlaneCount; ++l) {
      const uint8_t byte = static_cast<uint8_t>(hi >> (8 * (l - 8)));
      planes[l * groups + g] = byte;
      counts[l] += static_cast<uint32_t>(__builtin_popcount(byte));
    }
  }
  putLe32(header, sum);
  for (int l = 0; l < kPlaneCount; ++l) putLe16(header + 4 + 2 * l, counts[l]);
}

size_t encodeLine(const uint8_t* samples, int width, uint8_t* planes, uint8_t* out, size_t cap) {
  if (cap < maxLineBytes(width)) return 0;
  splitPlanes(samples, width, planes, out);
  const size_t coded = encodeRuns(planes, planeBytes(width), out + kLineHeaderSize,
                                  cap - kLineHeaderSize);
  return coded == 0 ? 0 : kLineHeaderSize + coded;
}

}  // namespace prn
}  // namespace tavik
