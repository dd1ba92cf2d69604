#include "render/PrnCodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

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


constexpr uint64_t kOnes = 0x0101010101010101ull;

uint64_t load64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// All bytes of a run ORed together, eight at a time.
uint8_t orOf(const uint8_t* p, size_t n) {
  uint64_t acc = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) acc |= load64(p + i);
  for (; i < n; ++i) acc |= p[i];
  acc |= acc >> 32;
  acc |= acc >> 16;
  acc |= acc >> 8;
  return static_cast<uint8_t>(acc);
}

// True when all n bytes equal v; stops at the first that does not.
bool uniformRun(const uint8_t* p, size_t n, uint8_t v) {
  const uint64_t pattern = v * kOnes;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    if (load64(p + i) != pattern) return false;
  }
  for (; i < n; ++i) {
    if (p[i] != v) return false;
  }
  return true;
}

}  // namespace

uint8_t colourCurve(uint8_t c) {
  const int v = c;
  return static_cast<uint8_t>(v > 203 ? v - ((255 - v) >> 2) : v - (v >> 4));
}

SeparationTables separationTables(bool curveCyan, bool curveYellowMagenta) {
  SeparationTables t;
  for (int v = 0; v < 256; ++v) {
    const uint8_t ink = static_cast<uint8_t>(255 - v);
    t.yellow[v] = curveYellowMagenta ? colourCurve(ink) : ink;
    t.magenta[v] = curveYellowMagenta ? colourCurve(ink) : ink;
    t.cyan[v] = curveCyan ? colourCurve(ink) : ink;
  }
  return t;
}

void separate(uint8_t* bgr, size_t n, uint8_t* scratch, const SeparationTables& t) {
  // Cyan aside while yellow-magenta pairs are packed to the front (each
  // write lands behind the reads still to come), cyan to the last third,
  // then magenta aside while yellow is compacted.
  // Blank paper (eight white pixels at a time) is the common case.
  const uint64_t whiteCyan = t.cyan[255] * kOnes;
  uint8_t whitePairs[16];
  for (int k = 0; k < 8; ++k) {
    whitePairs[2 * k] = t.yellow[255];
    whitePairs[2 * k + 1] = t.magenta[255];
  }
  constexpr uint64_t kAllOnes = ~uint64_t{0};
  size_t i = 0;
  while (i < n) {
    if (n - i >= 8 && load64(bgr + 3 * i) == kAllOnes && load64(bgr + 3 * i + 8) == kAllOnes &&
        load64(bgr + 3 * i + 16) == kAllOnes) {
      std::memcpy(scratch + i, &whiteCyan, 8);
      std::memcpy(bgr + 2 * i, whitePairs, 16);
      i += 8;
      continue;
    }
    for (const size_t end = std::min(n, i + 8); i < end; ++i) {
      const uint8_t b = bgr[3 * i];
      const uint8_t g = bgr[3 * i + 1];
      const uint8_t r = bgr[3 * i + 2];
      scratch[i] = t.cyan[r];
      bgr[2 * i] = t.yellow[b];
      bgr[2 * i + 1] = t.magenta[g];
    }
  }
  std::memcpy(bgr + 2 * n, scratch, n);
  const uint64_t whiteYellow = t.yellow[255] * kOnes;
  const uint64_t whiteMagenta = t.magenta[255] * kOnes;
  const uint64_t whitePairWord = load64(whitePairs);
  i = 0;
  while (i < n) {
    if (n - i >= 8 && load64(bgr + 2 * i) == whitePairWord &&
        load64(bgr + 2 * i + 8) == whitePairWord) {
      std::memcpy(scratch + i, &whiteMagenta, 8);
      std::memcpy(bgr + i, &whiteYellow, 8);
      i += 8;
      continue;
    }
    for (const size_t end = std::min(n, i + 8); i < end; ++i) {
      const uint8_t y = bgr[2 * i];
      scratch[i] = bgr[2 * i + 1];
      bgr[i] = y;
    }
  }
  std::memcpy(bgr + n, scratch, n);
}

void separate(uint8_t* bgr, size_t n, uint8_t* scratch) {
  separate(bgr, n, scratch, separationTables(false, false));
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
  if (w < 5 || h < 3) return;
  // The twelve neighbours weigh 1 2 4 2 1 two rows up, twice that one row
  // up, and 4 8 just left. Every output is 0 or 255, so a neighbour's error
  // is simply input - output. The rows above are folded into one row and
  // filtered ahead; only the left neighbours need the pass in order.
  std::vector<int32_t> err(3 * static_cast<size_t>(w));
  std::vector<int32_t> folded(w);
  std::vector<int32_t> ahead(w);
  int32_t* rows[3] = {err.data(), err.data() + w, err.data() + 2 * w};
  bool quiet[3] = {true, true, true};  // a row's errors are all zero
  for (int y = 0; y < 2; ++y) {
    const uint8_t* in = copy + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) rows[y][x] = in[x];
    quiet[y] = orOf(in, w) == 0;
  }
  // z runs 11, 9, 3, 1 ((z * 123) mod 16 from 1), sample after sample.
  static constexpr int kNoise[4] = {11, 9, 3, 1};
  size_t step = 0;
  const size_t perRow = static_cast<size_t>(w - 4);
  for (int y = 2; y < h; ++y) {
    const uint8_t* in = copy + static_cast<size_t>(y) * w;
    uint8_t* out = p + static_cast<size_t>(y) * w;
    int32_t* up2 = rows[(y - 2) % 3];
    int32_t* up1 = rows[(y - 1) % 3];
    int32_t* here = rows[y % 3];
    const bool blankInput = orOf(in, w) == 0;
    if (blankInput && quiet[(y - 2) % 3] && quiet[(y - 1) % 3]) {
      // Nothing here and no error above: v + 0 + z never passes 250.
      std::fill(here, here + w, 0);
      quiet[y % 3] = true;
      step += perRow;
      continue;
    }
    for (int x = 0; x < w; ++x) folded[x] = up2[x] + 2 * up1[x];
    for (int x = 2; x < w - 2; ++x) {
      ahead[x] = folded[x - 2] + 2 * folded[x - 1] + 4 * folded[x] + 2 * folded[x + 1] +
                 folded[x + 2];
    }
    here[0] = in[0];
    here[1] = in[1];
    bool allZero = in[0] == 0 && in[1] == 0;
    for (int x = 2; x < w - 2; ++x) {
      const int s = ahead[x] + 4 * here[x - 2] + 8 * here[x - 1];
      const int z = kNoise[step++ & 3];
      const bool ink = in[x] + s / 10 + z > 250;
      out[x] = ink ? 255 : 0;
      here[x] = in[x] - (ink ? 255 : 0);
      allZero = allZero && here[x] == 0;
    }
    here[w - 2] = in[w - 2];
    here[w - 1] = in[w - 1];
    quiet[y % 3] = allZero && in[w - 2] == 0 && in[w - 1] == 0;
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
  // tiles so that both sides stay in the cache; a tile of one value (most
  // of a card is blank) is filled instead of moved sample by sample.
  constexpr int kTile = 32;
  for (int ty = 0; ty < w; ty += kTile) {
    const int yEnd = std::min(ty + kTile, w);
    for (int tx = 0; tx < h; tx += kTile) {
      const int xEnd = std::min(tx + kTile, h);
      const uint8_t first = scratch[static_cast<size_t>(h - 1 - tx) * w + ty];
      bool uniform = true;
      for (int nx = tx; nx < xEnd && uniform; ++nx) {
        uniform = uniformRun(scratch + static_cast<size_t>(h - 1 - nx) * w + ty, yEnd - ty, first);
      }
      for (int ny = ty; ny < yEnd; ++ny) {
        uint8_t* out = p + static_cast<size_t>(ny) * h;
        if (uniform) {
          std::memset(out + tx, first, xEnd - tx);
          continue;
        }
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
  if (w < 3 || h < 3) return;
  auto row = [&](int y) { return p + static_cast<size_t>(y) * w; };
  // What the rows held before any change: the span of samples that leave
  // heat (v * v / 255 > 0 needs v >= 16; first > last when none does) and
  // whether a row equals the one above.
  std::vector<int> first(h), last(h);
  std::vector<uint8_t> sameAsAbove(h, 0);
  for (int y = 0; y < h; ++y) {
    const uint8_t* r = row(y);
    first[y] = w;
    last[y] = -1;
    if ((orOf(r, w) & 0xF0) != 0) {
      int a = 0;
      while (a + 8 <= w && (orOf(r + a, 8) & 0xF0) == 0) a += 8;
      while (r[a] < 16) ++a;
      int b = w - 1;
      while (r[b] < 16) --b;
      first[y] = a;
      last[y] = b;
    }
    if (y > 0) sameAsAbove[y] = std::memcmp(r, row(y - 1), w) == 0;
  }
  // Heat of one original row, kept for the two rows below that read it.
  std::vector<int32_t> heat(2 * static_cast<size_t>(w));
  int cached[2] = {-1, -1};
  auto heatOf = [&](int y) -> const int32_t* {
    int32_t* slot = heat.data() + static_cast<size_t>(y & 1) * w;
    if (cached[y & 1] != y) {
      const uint8_t* r = row(y);
      // v * v / 255 without a division (exact for every 8-bit v).
      for (int x = 0; x < w; ++x) {
        const int32_t v2 = r[x] * r[x];
        slot[x] = (v2 + 1 + (v2 >> 8)) >> 8;
      }
      cached[y & 1] = y;
    }
    return slot;
  };
  // Bottom-up, so that the two rows above still hold what was printed.
  for (int y = h - 1; y >= 2; --y) {
    // Columns that can receive heat: under a warm sample one row up, or
    // under or beside one two rows up.
    const int from = std::max(1, std::min(first[y - 1], first[y - 2] - 1));
    const int to = std::min(w - 2, std::max(last[y - 1], last[y - 2] + 1));
    if (from > to) continue;
    uint8_t* __restrict out = row(y);
    if (y + 1 < h && sameAsAbove[y + 1] && sameAsAbove[y] && sameAsAbove[y - 1]) {
      // Same three rows as for the row below: same result.
      std::memcpy(out, row(y + 1), w);
      continue;
    }
    // The heat rows are scratch of their own: no store to `out` changes them.
    const int32_t* __restrict up1 = heatOf(y - 1);
    const int32_t* __restrict up2 = heatOf(y - 2);
    for (int x = from; x <= to; ++x) {
      const uint32_t d = static_cast<uint32_t>(c.t1 * up1[x] + c.t2 * up2[x] +
                                               c.t3 * (up2[x - 1] + up2[x + 1])) /
                         10000u;
      out[x] = static_cast<uint8_t>(d > out[x] ? 0 : out[x] - d);
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
    if (repeating) {
      // Long stretches of one byte (blank planes) are taken eight at a time.
      const uint64_t pattern = in[start] * kOnes;
      const size_t limit = std::min<size_t>(127 - count, len - i);
      size_t k = 0;
      while (k + 8 <= limit && load64(in + i + k) == pattern) k += 8;
      i += k;
      count += k;
      if (i >= len) break;
    } else if (i >= start + 3) {
      // Literal stretches: look for the next byte that ends four equal
      // ones, six positions a step; the bytes before it simply join the run.
      // The run may not pass 127 bytes, so the look stops short of that.
      const size_t limit = std::min(len, start + 127);
      size_t k = i;
      while (k + 5 < limit) {
        // Byte b of `same` flags in[k-2+b] == in[k-3+b].
        const uint64_t e = load64(in + k - 2) ^ load64(in + k - 3);
        const uint64_t same =
            ~(((e & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | e) & 0x8080808080808080ull;
        const uint64_t four = same & (same << 8) & (same << 16);
        if (four != 0) {
          k = k - 2 + static_cast<size_t>(__builtin_ctzll(four)) / 8;
          break;
        }
        k += 6;
      }
      count += k - i;
      i = k;
      if (i >= len) break;  // the look may end just past the last byte
    }
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
  // Set bits per plane, in 16-bit lanes: planes 0, 2, 4, 6 / 1, 3, 5, 7 /
  // 8, 10 (low half) and 9, 11 (high half). The table words add up
  // byte-wise within a group (at most 8 a byte) and spread per group.
  constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
  uint64_t lowEven = 0, lowOdd = 0, highLanes = 0;
  auto addCounts = [&](uint64_t lo, uint32_t hi, uint64_t times) {
    lowEven += (lo & kEvenBytes) * times;
    lowOdd += ((lo >> 8) & kEvenBytes) * times;
    highLanes += ((hi & 0x00FF00FFu) | (static_cast<uint64_t>((hi >> 8) & 0x00FF00FFu) << 32)) *
                 times;
  };
  for (size_t g = 0; g < groups; ++g) {
    const size_t first = g * 8;
    const int inGroup = static_cast<int>(std::min<size_t>(8, width - first));
    const uint64_t word = inGroup == 8 ? load64(samples + first) : 0;
    if (inGroup == 8 && word == samples[first] * kOnes) {
      // A stretch of groups all of one value (blank paper, flat colour):
      // every plane byte of it is all ones or all zeros.
      const uint8_t v = samples[first];
      size_t run = 1;
      while ((g + run + 1) * 8 <= static_cast<size_t>(width) &&
             load64(samples + (g + run) * 8) == word) {
        ++run;
      }
      sum += static_cast<uint32_t>(8 * run) * v;
      for (int l = 0; l < kPlaneCount; ++l) {
        const bool set = l < 8 ? (t.low[v] >> (8 * l)) & 1 : (t.high[v] >> (8 * (l - 8))) & 1;
        std::memset(planes + l * groups + g, set ? 0xFF : 0, run);
      }
      addCounts(t.low[v], t.high[v], 8 * run);
      g += run - 1;
      continue;
    }
    uint64_t lo = 0, loCount = 0;
    uint32_t hi = 0, hiCount = 0;
    for (int k = 0; k < inGroup; ++k) {
      const uint8_t v = samples[first + k];
      sum += v;
      const uint64_t l = t.low[v];
      const uint32_t u = t.high[v];
      lo |= l << (7 - k);
      hi |= u << (7 - k);
      loCount += l;
      hiCount += u;
    }
    addCounts(loCount, hiCount, 1);
    for (int l = 0; l < 8; ++l) planes[l * groups + g] = static_cast<uint8_t>(lo >> (8 * l));
    for (int l = 8; l < kPlaneCount; ++l) {
      planes[l * groups + g] = static_cast<uint8_t>(hi >> (8 * (l - 8)));
    }
  }
  putLe32(header, sum);
  for (int l = 0; l < 8; ++l) {
    const uint64_t lanes = l % 2 == 0 ? lowEven : lowOdd;
    putLe16(header + 4 + 2 * l, static_cast<uint32_t>(lanes >> (16 * (l / 2))) & 0xFFFF);
  }
  putLe16(header + 4 + 2 * 8, static_cast<uint32_t>(highLanes) & 0xFFFF);
  putLe16(header + 4 + 2 * 10, static_cast<uint32_t>(highLanes >> 16) & 0xFFFF);
  putLe16(header + 4 + 2 * 9, static_cast<uint32_t>(highLanes >> 32) & 0xFFFF);
  putLe16(header + 4 + 2 * 11, static_cast<uint32_t>(highLanes >> 48) & 0xFFFF);
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
