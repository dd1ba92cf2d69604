#include "render/PrnCodec.h"

#include "tests/unit/render/PrnDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace tavik::prn {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes runs(const Bytes& in) {
  Bytes out(maxRunBytes(in.size()));
  const size_t n = encodeRuns(in.data(), in.size(), out.data(), out.size());
  out.resize(n);
  return out;
}

// --- run-length code --------------------------------------------------------

struct RunCase {
  const char* name;
  Bytes in;
  Bytes out;
};

class RunLength : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunLength, EncodesByteForByte) { EXPECT_EQ(runs(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Examples, RunLength,
    ::testing::Values(
        RunCase{"AAAAB", bytesOf("AAAAB"), {0x04, 0x41, 0x81, 0x42}},
        RunCase{"ABCCCC", bytesOf("ABCCCC"), {0x82, 0x41, 0x42, 0x04, 0x43}},
        RunCase{"ABB", bytesOf("ABB"), {0x83, 0x41, 0x42, 0x42}},
        RunCase{"A130", Bytes(130, 'A'), {0x7F, 0x41, 0x03, 0x41}},
        RunCase{"ClosingBB", bytesOf("AAAABB"), {0x04, 0x41, 0x02, 0x42}},
        RunCase{"Single", bytesOf("A"), {0x81, 0x41}},
        RunCase{"AAA", bytesOf("AAA"), {0x03, 0x41}},
        RunCase{"ThreeThenOther", bytesOf("AAAB"), {0x84, 0x41, 0x41, 0x41, 0x42}},
        RunCase{"RepeatThenLiteral", bytesOf("AAAABC"), {0x04, 0x41, 0x82, 0x42, 0x43}},
        RunCase{"A127", Bytes(127, 'A'), {0x7F, 0x41}},
        RunCase{"A128", Bytes(128, 'A'), {0x7F, 0x41, 0x81, 0x41}},
        RunCase{"A131", Bytes(131, 'A'), {0x7F, 0x41, 0x04, 0x41}}),
    [](const auto& info) { return std::string(info.param.name); });

Bytes countingBytes(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
  return b;
}

TEST(RunLength, LiteralRunsCloseAt127) {
  const Bytes in = countingBytes(130);
  Bytes want = {0xFF};
  want.insert(want.end(), in.begin(), in.begin() + 127);
  want.push_back(0x83);
  want.insert(want.end(), in.begin() + 127, in.end());
  EXPECT_EQ(runs(in), want);
}

TEST(RunLength, FullLiteralRunGivesWayToAFourRepeat) {
  // 124 distinct bytes, then four equal ones: the repeat starts inside the
  // 127-byte literal run, which is shortened.
  Bytes in = countingBytes(124);
  in.insert(in.end(), 4, 0xEE);
  Bytes want = {0x80 | 124};
  want.insert(want.end(), in.begin(), in.begin() + 124);
  want.push_back(0x04);
  want.push_back(0xEE);
  EXPECT_EQ(runs(in), want);
}

TEST(RunLength, RefusesASmallBuffer) {
  const Bytes in = countingBytes(300);
  Bytes out(maxRunBytes(in.size()) - 1, 0xAB);
  EXPECT_EQ(encodeRuns(in.data(), in.size(), out.data(), out.size()), 0u);
  EXPECT_EQ(out, Bytes(out.size(), 0xAB));
}

// The encoder as the printer's documentation states it, one byte at a time.
Bytes referenceRuns(const Bytes& in) {
  Bytes out;
  Bytes run;
  bool repeat = false;
  auto close = [&](bool asRepeat) {
    if (run.empty()) return;
    if (asRepeat) {
      out.push_back(static_cast<uint8_t>(run.size()));
      out.push_back(run[0]);
    } else {
      out.push_back(static_cast<uint8_t>(0x80 | run.size()));
      out.insert(out.end(), run.begin(), run.end());
    }
    run.clear();
  };
  for (uint8_t b : in) {
    if (repeat) {
      if (b == run[0] && run.size() < 127) {
        run.push_back(b);
        continue;
      }
      close(true);
      repeat = false;
      run.push_back(b);
      continue;
    }
    const size_t n = run.size();
    if (n >= 3 && run[n - 1] == b && run[n - 2] == b && run[n - 3] == b) {
      run.resize(n - 3);
      close(false);
      run.assign(4, b);
      repeat = true;
    } else if (n == 127) {
      close(false);
      run.push_back(b);
    } else {
      run.push_back(b);
    }
  }
  bool same = run.size() >= 2;
  for (uint8_t b : run) same = same && b == run[0];
  close(repeat || same);
  return out;
}

TEST(RunLength, MatchesTheByteByByteRulesOnRandomLines) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 400; ++trial) {
    const size_t len = 1 + rng() % 1200;
    const int alphabet = 1 + static_cast<int>(rng() % 4);  // few values: many runs
    Bytes in(len);
    for (auto& b : in) b = static_cast<uint8_t>(rng() % alphabet == 0 ? rng() : rng() % alphabet);
    const Bytes got = runs(in);
    ASSERT_EQ(got, referenceRuns(in)) << "trial " << trial;
    ASSERT_LE(got.size(), maxRunBytes(len));
    size_t pos = 0;
    Bytes back;
    ASSERT_TRUE(test::decodeRuns(got, &pos, got.size(), len, &back));
    ASSERT_EQ(back, in);
    ASSERT_EQ(pos, got.size());
  }
}

// --- line records -------------------------------------------------------------

TEST(LineRecord, WhiteLineOf636Samples) {
  const Bytes line(636, 0);
  Bytes planes(planeBytes(636));
  Bytes out(maxLineBytes(636));
  ASSERT_EQ(planeBytes(636), 960u);
  const size_t n = encodeLine(line.data(), 636, planes.data(), out.data(), out.size());
  out.resize(n);
  Bytes want(28, 0);
  for (int i = 0; i < 7; ++i) {
    want.push_back(0x7F);
    want.push_back(0x00);
  }
  want.push_back(0x47);
  want.push_back(0x00);
  EXPECT_EQ(out, want);
}

TEST(LineRecord, PlanesAreAThermometerAndFiveLowBits) {
  // Eight samples, one group: 0, 31, 32, 63, 224, 255, 160, 1.
  const Bytes line = {0, 31, 32, 63, 224, 255, 160, 1};
  Bytes planes(planeBytes(8));
  uint8_t header[28];
  splitPlanes(line.data(), 8, planes.data(), header);
  // Plane l (0..6) holds the samples with (v >> 5) >= 7 - l.
  const Bytes want = {
      0b00001100,  // plane 0: v >= 224
      0b00001100,  // plane 1: v >= 192
      0b00001110,  // plane 2: v >= 160
      0b00001110,  // plane 3: v >= 128
      0b00001110,  // plane 4: v >= 96
      0b00001110,  // plane 5: v >= 64
      0b00111110,  // plane 6: v >= 32
      0b01010100,  // plane 7: bit 4 (31, 63, 255)
      0b01010100,  // plane 8: bit 3
      0b01010100,  // plane 9: bit 2
      0b01010100,  // plane 10: bit 1
      0b01010101,  // plane 11: bit 0 (31, 63, 255, 1)
  };
  EXPECT_EQ(planes, want);
  EXPECT_EQ(test::le32(header), 0u + 31 + 32 + 63 + 224 + 255 + 160 + 1);
  const int counts[12] = {2, 2, 3, 3, 3, 3, 5, 3, 3, 3, 3, 4};
  for (int l = 0; l < 12; ++l) EXPECT_EQ(test::le16(header + 4 + 2 * l), counts[l]) << l;
}

TEST(LineRecord, PixelsPastTheWidthAreZero) {
  const Bytes line(10, 255);
  Bytes planes(planeBytes(10));
  uint8_t header[28];
  splitPlanes(line.data(), 10, planes.data(), header);
  ASSERT_EQ(planes.size(), 24u);
  for (int l = 0; l < 12; ++l) {
    EXPECT_EQ(planes[2 * l], 0xFF);
    EXPECT_EQ(planes[2 * l + 1], 0xC0);
    EXPECT_EQ(test::le16(header + 4 + 2 * l), 10u);
  }
}

TEST(LineRecord, RandomLinesComeBack) {
  std::mt19937 rng(11);
  for (int width : {636, 1012, 13, 8}) {
    for (int trial = 0; trial < 20; ++trial) {
      Bytes line(width);
      for (auto& v : line) v = static_cast<uint8_t>(trial % 2 ? rng() : (rng() % 3) * 127);
      Bytes planes(planeBytes(width));
      Bytes out(maxLineBytes(width));
      const size_t n = encodeLine(line.data(), width, planes.data(), out.data(), out.size());
      ASSERT_GT(n, 28u);
      out.resize(n);
      size_t pos = 28;
      Bytes back;
      ASSERT_TRUE(test::decodeRuns(out, &pos, out.size(), planeBytes(width), &back));
      EXPECT_EQ(pos, out.size());
      EXPECT_EQ(test::samplesFromPlanes(back, width), line);
    }
  }
}

// --- colour -------------------------------------------------------------------

TEST(Colour, CurveValues) {
  const std::pair<int, int> cases[] = {{0, 0}, {15, 15}, {16, 15}, {100, 94}, {203, 191},
                                       {204, 192}, {240, 237}, {255, 255}};
  for (auto [in, out] : cases) EXPECT_EQ(colourCurve(static_cast<uint8_t>(in)), out) << in;
}

TEST(Colour, SeparationGivesYellowMagentaCyanPlanes) {
  // Three pixels, blue-green-red.
  Bytes bgr = {10, 20, 30, 0, 0, 255, 255, 255, 255};
  Bytes scratch(3);
  separate(bgr.data(), 3, scratch.data());
  EXPECT_EQ(bgr, (Bytes{245, 255, 0, 235, 255, 0, 225, 0, 0}));
}

// --- dithers ------------------------------------------------------------------

TEST(Dither, ThresholdAtTheDefault) {
  Bytes p = {0, 127, 128, 255};
  ditherThreshold(p.data(), 4, 1, 127);
  EXPECT_EQ(p, (Bytes{0, 0, 255, 255}));
}

TEST(Dither, RandomNeverFlipsTheExtremes) {
  Bytes p(200, 0);
  p.resize(400, 255);
  p.resize(2000, 127);
  ditherRandom(p.data(), 2000, 1, 127);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(p[i], 0);
  for (int i = 200; i < 400; ++i) ASSERT_EQ(p[i], 255);
  const auto ones = std::count(p.begin() + 400, p.end(), 255);
  EXPECT_GT(ones, 400);
  EXPECT_LT(ones, 1200);
  for (uint8_t v : p) ASSERT_TRUE(v == 0 || v == 255);
}

TEST(Dither, DiffusionNoiseCyclesAndCarriesOverRows) {
  // Isolated samples (nothing around them) print exactly when v + z > 250,
  // z running 11, 9, 3, 1 sample by sample across the rows (9 a row here).
  const int w = 13;
  const int h = 6;
  const int zCycle[4] = {11, 9, 3, 1};
  struct Probe {
    int x, y;
  };
  const Probe probes[] = {{2, 2}, {5, 2}, {8, 2}, {2, 5}, {5, 5}, {10, 5}};
  for (int margin : {1, 0}) {
    Bytes p(w * h, 0);
    for (const auto& pr : probes) {
      const int k = (pr.y - 2) * (w - 4) + (pr.x - 2);
      p[pr.y * w + pr.x] = static_cast<uint8_t>(250 - zCycle[k % 4] + margin);
    }
    Bytes copy(w * h);
    ditherDiffusion(p.data(), w, h, copy.data());
    for (const auto& pr : probes) {
      EXPECT_EQ(p[pr.y * w + pr.x], margin ? 255 : 0) << pr.x << "," << pr.y;
    }
    EXPECT_EQ(std::count(p.begin(), p.end(), 255), margin ? 6 : 0);
  }
}

TEST(Dither, DiffusionSpreadsTheError) {
  const int w = 8;
  const int h = 3;
  Bytes p(w * h, 0);
  p[2 * w + 2] = 240;  // 240 + 11 prints, leaving -15
  p[2 * w + 3] = 250;  // 250 + 8 * -15 / 10 + 9 = 247: no ink
  p[2 * w + 4] = 60;   // 60 + (4 * -15 + 8 * 250) / 10 + 3 = 257: ink
  Bytes copy(w * h);
  ditherDiffusion(p.data(), w, h, copy.data());
  EXPECT_EQ(p[2 * w + 2], 255);
  EXPECT_EQ(p[2 * w + 3], 0);
  EXPECT_EQ(p[2 * w + 4], 255);
}

TEST(Dither, DiffusionLeavesTheBorderEmpty) {
  const int w = 9;
  const int h = 5;
  Bytes p(w * h, 255);
  Bytes copy(w * h);
  ditherDiffusion(p.data(), w, h, copy.data());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool inner = y >= 2 && x >= 2 && x <= w - 3;
      EXPECT_EQ(p[y * w + x], inner ? 255 : 0) << x << "," << y;
    }
  }
}

TEST(Dither, HalftoneBlocksFollowThePatterns) {
  const int w = 6;
  const int h = 4;
  Bytes p = {
      128, 128, 128, 255, 0,   0,  //
      128, 128, 128, 0,   100, 0,  //
      128, 128, 128, 0,   0,   0,  //
      77,  77,  77,  77,  77,  77,  // below the last block: kept
  };
  ditherHalftone(p.data(), w, h);
  const Bytes want = {
      0,   255, 0,   255, 0, 0,  // left: level 1152 / 255 = 4, pattern 4
      0,   255, 255, 0,   0, 0,  // right: level 1, one 255 already there
      255, 0,   0,   0,   0, 0,  //
      77,  77,  77,  77,  77, 77,
  };
  EXPECT_EQ(p, want);
}

TEST(Dither, HalftoneCutsTheLastBlockColumnAtTheRowEnd) {
  // Width 4: the second block column is one sample wide. Its level asks for
  // cells the cut block lacks; the walk must end anyway.
  const int w = 4;
  const int h = 4;
  Bytes p = {
      0, 0, 0, 200,  //
      0, 0, 0, 200,  //
      0, 0, 0, 200,  //
      9, 9, 9, 9,
  };
  ditherHalftone(p.data(), w, h);
  const Bytes want = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9};
  EXPECT_EQ(p, want);

  Bytes q = {0, 0, 0, 255, 0, 0, 0, 10, 0, 0, 0, 255, 1, 1, 1, 1};
  ditherHalftone(q.data(), w, h);
  EXPECT_EQ(q, (Bytes{0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255, 1, 1, 1, 1}));
}

TEST(Dither, HalftoneOfAFullPageTerminatesAndIsTwoLevel) {
  const int w = 1012;
  const int h = 636;
  Bytes p(w * h);
  std::mt19937 rng(3);
  for (auto& v : p) v = static_cast<uint8_t>(rng());
  ditherHalftone(p.data(), w, h);
  for (int y = 0; y < 633; ++y) {
    for (int x = 0; x < w; ++x) ASSERT_TRUE(p[y * w + x] == 0 || p[y * w + x] == 255);
  }
}

// --- turning and heat -----------------------------------------------------------

TEST(Turning, ClockwiseQuarterTurn) {
  // 3 wide, 2 high:  a b c / d e f  becomes 2 wide, 3 high: d a / e b / f c.
  Bytes p = {'a', 'b', 'c', 'd', 'e', 'f'};
  Bytes scratch(6);
  turnClockwise(p.data(), 3, 2, scratch.data());
  EXPECT_EQ(p, bytesOf("daebfc"));
}

TEST(Turning, LargePanelMatchesTheFormula) {
  const int w = 101;
  const int h = 67;
  Bytes p(w * h);
  std::mt19937 rng(5);
  for (auto& v : p) v = static_cast<uint8_t>(rng());
  const Bytes old = p;
  Bytes scratch(w * h);
  turnClockwise(p.data(), w, h, scratch.data());
  for (int ny = 0; ny < w; ++ny) {
    for (int nx = 0; nx < h; ++nx) ASSERT_EQ(p[ny * h + nx], old[(h - 1 - nx) * w + ny]);
  }
}

struct CoefficientCase {
  int index;
  int ribbon;
  uint32_t erase;
  int t1, t2, t3;
};

class Heat : public ::testing::TestWithParam<CoefficientCase> {};

TEST_P(Heat, Coefficients) {
  const auto& c = GetParam();
  const HeatCoefficients got = heatCoefficients(c.index, c.ribbon, c.erase);
  EXPECT_EQ(got.t1, c.t1);
  EXPECT_EQ(got.t2, c.t2);
  EXPECT_EQ(got.t3, c.t3);
}

INSTANTIATE_TEST_SUITE_P(Table, Heat,
                         ::testing::Values(CoefficientCase{0, 7, 50, 2040, 673, 351},
                                           CoefficientCase{1, 0, 50, 2040, 673, 351},
                                           CoefficientCase{2, 0, 50, 2102, 693, 362},
                                           CoefficientCase{3, 0, 50, 1981, 653, 341},
                                           CoefficientCase{4, 0, 50, 2770, 692, 307},
                                           CoefficientCase{5, 8, 50, 3580, 1181, 617},
                                           CoefficientCase{6, 0, 50, 2770, 692, 307},
                                           CoefficientCase{6, 9, 50, 4444, 1111, 493},
                                           CoefficientCase{4, 9, 50, 2770, 692, 307},
                                           CoefficientCase{6, 9, 0, 5917, 1479, 657}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return "Panel" + std::to_string(c.index) + "Ribbon" +
                                  std::to_string(c.ribbon) + "Erase" + std::to_string(c.erase);
                         });

TEST(Heat, TakesOffWhatTheTwoLinesAboveLeft) {
  const int w = 4;
  const int h = 4;
  Bytes p = {
      255, 255, 255, 255,  //
      255, 255, 255, 255,  //
      200, 200, 50,  200,  //
      200, 200, 200, 200,
  };
  compensateHeat(p.data(), w, h, heatCoefficients(4, 0, 50));
  // Row 2: (2770 * 255 + 692 * 255 + 307 * 510) / 10000 = 103.
  // Row 3 reads row 2 before its change: sq(200) = 156, sq(50) = 9.
  //   x = 1: (2770 * 156 + 692 * 255 + 307 * (255 + 255)) / 10000 = 76
  //   x = 2: (2770 * 9 + 692 * 255 + 307 * (255 + 255)) / 10000 = 35
  const Bytes want = {
      255, 255, 255, 255,  //
      255, 255, 255, 255,  //
      200, 97,  0,   200,  //
      200, 124, 165, 200,
  };
  EXPECT_EQ(p, want);
}

}  // namespace
}  // namespace tavik::prn

namespace tavik::prn {
namespace {

// The dither and the compensation exactly as the printer's documentation
// words them, sample by sample, to hold the fast versions to.
void referenceDiffusion(Bytes& p, int w, int h) {
  const Bytes in = p;
  std::fill(p.begin(), p.end(), 0);
  int z = 1;
  for (int y = 2; y < h; ++y) {
    for (int x = 2; x < w - 2; ++x) {
      int s = 0;
      for (const auto& d : _diffusion_dither) {
        const size_t at = static_cast<size_t>(y + d[1]) * w + (x + d[0]);
        s += d[2] * (p[at] == 255 ? in[at] - 255 : in[at]);
      }
      z = (z * 123) % 16;
      const size_t here = static_cast<size_t>(y) * w + x;
      p[here] = in[here] + s / 10 + z > 250 ? 255 : 0;
    }
  }
}

void referenceHeat(Bytes& p, int w, int h, const HeatCoefficients& c) {
  auto sq = [](int v) { return v * v / 255; };
  for (int y = h - 1; y >= 2; --y) {
    for (int x = 1; x < w - 1; ++x) {
      auto at = [&](int yy, int xx) { return static_cast<int>(p[static_cast<size_t>(yy) * w + xx]); };
      const int d = (c.t1 * sq(at(y - 1, x)) + c.t2 * sq(at(y - 2, x)) +
                     c.t3 * (sq(at(y - 2, x - 1)) + sq(at(y - 2, x + 1)))) /
                    10000;
      uint8_t& v = p[static_cast<size_t>(y) * w + x];
      v = static_cast<uint8_t>(d > v ? 0 : v - d);
    }
  }
}

// Card-like panels: blank bands, repeated rows, flat areas and noise.
Bytes cardLike(int w, int h, std::mt19937& rng) {
  Bytes p(static_cast<size_t>(w) * h, 0);
  for (int y = 0; y < h; ++y) {
    const int band = (y / 7) % 5;
    for (int x = 0; x < w; ++x) {
      uint8_t v = 0;
      if (band == 1) v = 255;
      if (band == 2) v = static_cast<uint8_t>(x * 255 / w);
      if (band == 3) v = static_cast<uint8_t>(rng());
      if (band == 4 && x > w / 3 && x < w / 2) v = 200;
      p[static_cast<size_t>(y) * w + x] = v;
    }
  }
  return p;
}

TEST(FastPaths, DiffusionMatchesTheSampleBySampleRule) {
  std::mt19937 rng(17);
  const std::pair<int, int> sizes[] = {{5, 3}, {13, 9}, {64, 40}, {636, 60}, {1012, 45}};
  for (auto [w, h] : sizes) {
    for (int kind = 0; kind < 2; ++kind) {
      Bytes p = cardLike(w, h, rng);
      if (kind == 1) {
        for (auto& v : p) v = static_cast<uint8_t>(rng());
      }
      Bytes want = p;
      referenceDiffusion(want, w, h);
      Bytes copy(p.size());
      ditherDiffusion(p.data(), w, h, copy.data());
      ASSERT_EQ(p, want) << w << "x" << h << " kind " << kind;
    }
  }
}

TEST(FastPaths, HeatCompensationMatchesTheSampleBySampleRule) {
  std::mt19937 rng(23);
  const std::pair<int, int> sizes[] = {{3, 3}, {4, 4}, {17, 11}, {636, 70}, {1012, 40}};
  for (auto [w, h] : sizes) {
    for (int index = 0; index < 7; ++index) {
      Bytes p = cardLike(w, h, rng);
      if (index == 3) {
        for (auto& v : p) v = static_cast<uint8_t>(rng());
      }
      if (index == 6) std::fill(p.begin(), p.end(), 255);
      const HeatCoefficients c = heatCoefficients(index, index == 6 ? 9 : 0, 50);
      Bytes want = p;
      referenceHeat(want, w, h, c);
      compensateHeat(p.data(), w, h, c);
      ASSERT_EQ(p, want) << w << "x" << h << " panel " << index;
    }
  }
}

}  // namespace
}  // namespace tavik::prn

namespace tavik::prn {
namespace {

TEST(FastPaths, TurningCardLikePanelsMatchesTheFormula) {
  std::mt19937 rng(29);
  for (auto [w, h] : {std::pair{1012, 636}, std::pair{70, 45}}) {
    Bytes p(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        uint8_t v = 0;
        if (y > h / 2) v = 255;                                 // flat band
        if (x > w / 3 && x < w / 2 && y > 10) v = static_cast<uint8_t>(rng());  // photo
        p[static_cast<size_t>(y) * w + x] = v;
      }
    }
    const Bytes old = p;
    Bytes scratch(p.size());
    turnClockwise(p.data(), w, h, scratch.data());
    for (int ny = 0; ny < w; ++ny) {
      for (int nx = 0; nx < h; ++nx) {
        ASSERT_EQ(p[static_cast<size_t>(ny) * h + nx], old[static_cast<size_t>(h - 1 - nx) * w + ny]);
      }
    }
  }
}

TEST(Colour, SeparationAppliesTheCurveWhereAsked) {
  // One pixel: blue 100, green 50, red 0.
  const Bytes pixel = {100, 50, 0};
  Bytes scratch(1);
  Bytes cyanCurved = pixel;
  separate(cyanCurved.data(), 1, scratch.data(), separationTables(true, false));
  EXPECT_EQ(cyanCurved, (Bytes{155, 205, 255}));
  Bytes yellowMagentaCurved = pixel;
  separate(yellowMagentaCurved.data(), 1, scratch.data(), separationTables(false, true));
  EXPECT_EQ(yellowMagentaCurved, (Bytes{colourCurve(155), colourCurve(205), 255}));
  EXPECT_EQ(colourCurve(155), 146);
  EXPECT_EQ(colourCurve(205), 193);
}

}  // namespace
}  // namespace tavik::prn

namespace tavik::prn {
namespace {

TEST(FastPaths, SeparationOfAPageWithBlankStretches) {
  std::mt19937 rng(37);
  const size_t n = 1013;  // not a multiple of 8
  Bytes bgr(3 * n, 255);
  for (size_t i = 0; i < n; ++i) {
    if ((i / 40) % 3 == 1 || i % 97 == 5) {
      for (int c = 0; c < 3; ++c) bgr[3 * i + c] = static_cast<uint8_t>(rng());
    }
  }
  for (bool cyanCurve : {false, true}) {
    const SeparationTables t = separationTables(cyanCurve, !cyanCurve);
    Bytes want(3 * n);
    for (size_t i = 0; i < n; ++i) {
      want[i] = t.yellow[bgr[3 * i]];
      want[n + i] = t.magenta[bgr[3 * i + 1]];
      want[2 * n + i] = t.cyan[bgr[3 * i + 2]];
    }
    Bytes got = bgr;
    Bytes scratch(n);
    separate(got.data(), n, scratch.data(), t);
    ASSERT_EQ(got, want) << cyanCurve;
  }
}

}  // namespace
}  // namespace tavik::prn
