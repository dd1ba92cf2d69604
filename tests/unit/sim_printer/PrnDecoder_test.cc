#include "sim/printer/PrnDecoder.h"

#include <gtest/gtest.h>

#include "tests/unit/sim_printer/PrinterLink.h"

namespace tavik {
namespace {

using sim::decodePrnImage;
using sim::decodeRunLength;
using sim::PrnImage;

struct RunCase {
  std::vector<uint8_t> code;
  std::string plain;
};

TEST(PrnRunLength, DecodesTheEncodersExamples) {
  const RunCase cases[] = {
      {{0x04, 0x41, 0x81, 0x42}, "AAAAB"},
      {{0x82, 0x41, 0x42, 0x04, 0x43}, "ABCCCC"},
      {{0x83, 0x41, 0x42, 0x42}, "ABB"},
      {{0x02, 0x42}, "BB"},
      {{0x7F, 0x41, 0x03, 0x41}, std::string(130, 'A')},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> out;
    size_t used = 0;
    ASSERT_TRUE(decodeRunLength(c.code.data(), c.code.size(), c.plain.size(), &out, &used));
    EXPECT_EQ(std::string(out.begin(), out.end()), c.plain);
    EXPECT_EQ(used, c.code.size());
  }
}

TEST(PrnRunLength, RefusesBrokenCode) {
  const std::vector<std::vector<uint8_t>> broken = {
      {0x05, 0x41},              // run passes the line
      {0x83, 0x41, 0x42},        // literal cut short
      {0x00, 0x41},              // empty run
      {0x02},                    // repeat without its byte
      {0x02, 0x41},              // ends early
  };
  for (const auto& code : broken) {
    std::vector<uint8_t> out;
    size_t used = 0;
    EXPECT_FALSE(decodeRunLength(code.data(), code.size(), 4, &out, &used));
  }
}

TEST(PrnPlanes, ThermometerAndLowBitsGiveTheSampleBack) {
  const std::vector<uint8_t> values = {0, 1, 31, 32, 100, 127, 128, 200, 223, 224, 250, 255};
  const uint16_t w = static_cast<uint16_t>(values.size());
  auto image = test::encodePrn(0x80, w, 1, {{sim::kPanelK, values}});
  PrnImage decoded;
  std::string error;
  ASSERT_TRUE(decodePrnImage(image.data(), image.size(), &decoded, &error)) << error;
  ASSERT_EQ(decoded.panels.size(), 1u);
  EXPECT_EQ(decoded.panels[0].samples, values);
}

TEST(PrnPlanes, WhiteLineOfTheFullPageIsAllZero) {
  // 636 pixels: 80 groups x 12 planes = 960 zero bytes as 7F 00 x 7 + 47 00.
  std::vector<uint8_t> code;
  for (int i = 0; i < 7; ++i) code.insert(code.end(), {0x7F, 0x00});
  code.insert(code.end(), {0x47, 0x00});
  std::vector<uint8_t> planes;
  size_t used = 0;
  ASSERT_TRUE(decodeRunLength(code.data(), code.size(), 960, &planes, &used));
  std::vector<uint8_t> samples(636, 0xEE);
  ASSERT_TRUE(sim::planesToSamples(planes.data(), 636, samples.data()));
  EXPECT_EQ(samples, std::vector<uint8_t>(636, 0));
}

TEST(PrnPlanes, OutOfOrderThermometerIsRefused) {
  std::vector<uint8_t> planes(12, 0);
  planes[0] = 0x80;  // plane 0 alone: no sample sets it without planes 1 to 6
  uint8_t sample = 0;
  EXPECT_FALSE(sim::planesToSamples(planes.data(), 1, &sample));
}

TEST(PrnImageDecode, HeaderFieldsSideAndLamination) {
  struct Case {
    uint8_t flags;
    const char* side;
    const char* lamination;
  };
  const Case cases[] = {{0x80, "front", "none"}, {0xA0, "front", "top"},
                        {0x90, "front", "bottom"}, {0xB0, "front", "both"},
                        {0x01, "back", "none"},  {0x11, "back", "top"},
                        {0x21, "back", "bottom"}, {0x31, "back", "both"}};
  for (const auto& c : cases) {
    auto image = test::encodePrn(c.flags, 3, 2, {{sim::kPanelO, std::vector<uint8_t>(6, 255)}});
    PrnImage decoded;
    std::string error;
    ASSERT_TRUE(decodePrnImage(image.data(), image.size(), &decoded, &error)) << error;
    EXPECT_EQ(decoded.sideName(), c.side);
    EXPECT_EQ(decoded.lamination(), c.lamination) << int(c.flags);
    EXPECT_EQ(decoded.width, 3);
    EXPECT_EQ(decoded.height, 2);
    EXPECT_EQ(decoded.panelFlags, sim::kPanelO);
  }
}

TEST(PrnImageDecode, MalformedImagesAreRefused) {
  const std::vector<uint8_t> good =
      test::encodePrn(0x80, 9, 2, {{sim::kPanelY, std::vector<uint8_t>(18, 77)}});
  std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
  cases.push_back({"short header", std::vector<uint8_t>(good.begin(), good.begin() + 12)});
  auto magic = good;
  magic[1] = 'X';
  cases.push_back({"magic", magic});
  auto length = good;
  length[4] ^= 1;
  cases.push_back({"length field", length});
  auto width = good;
  width[18] = width[19] = 0;
  cases.push_back({"zero width", width});
  auto id = good;
  id[20] = 0x03;
  cases.push_back({"panel id", id});
  auto sum = good;
  sum[28] ^= 1;
  cases.push_back({"line sum", sum});
  auto section = good;
  section[27] = 0x7F;
  cases.push_back({"section length", section});
  auto cut = good;
  cut.resize(cut.size() - 1);
  cut[4] = static_cast<uint8_t>(cut.size());
  cases.push_back({"cut data", cut});
  auto twice = test::encodePrn(0x80, 9, 2,
                               {{sim::kPanelY, std::vector<uint8_t>(18, 1)},
                                {sim::kPanelY, std::vector<uint8_t>(18, 1)}});
  cases.push_back({"panel twice", twice});
  for (const auto& [name, bytes] : cases) {
    PrnImage decoded;
    std::string error;
    EXPECT_FALSE(decodePrnImage(bytes.data(), bytes.size(), &decoded, &error)) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
  PrnImage decoded;
  std::string error;
  EXPECT_TRUE(decodePrnImage(good.data(), good.size(), &decoded, &error)) << error;
}

}  // namespace
}  // namespace tavik
