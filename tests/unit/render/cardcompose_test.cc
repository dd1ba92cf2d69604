// The sample-card tool, run as a person would run it.
#include "tests/support/TestSupport.h"
#include "tests/unit/render/PrnDecoder.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdlib>
#include <string>
#include <vector>

namespace tavik {
namespace {

std::string tool() { return test::buildDir() + "/tools/cardcompose/cardcompose"; }

int run(const std::string& args) {
  const int status = std::system((tool() + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

test::PrnImageData readPrn(const std::string& path) {
  const std::string text = test::readFile(path);
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  test::PrnImageData image;
  EXPECT_EQ(test::parsePrn(bytes, &image), "");
  return image;
}

TEST(CardCompose, BuiltInSampleGivesAYmckoPrintImageAndAPreview) {
  test::ScopedSysroot dir;
  ASSERT_EQ(run("-o " + dir.path("/card.prn") + " -p " + dir.path("/card.png")), 0);
  const test::PrnImageData image = readPrn(dir.path("/card.prn"));
  EXPECT_EQ(image.panelFlags, 0x1F);
  EXPECT_EQ(image.width, 636);
  EXPECT_EQ(image.height, 1012);
  ASSERT_EQ(image.sections.size(), 5u);
  const cv::Mat preview = cv::imread(dir.path("/card.png"));
  EXPECT_EQ(preview.cols, 1012);
  EXPECT_EQ(preview.rows, 636);
}

TEST(CardCompose, DescriptionFile) {
  test::ScopedSysroot dir;
  ASSERT_TRUE(test::writeFile(dir.path("/card.txt"),
                              "# black only\n"
                              "page PORTRAIT 4\n"
                              "set DITHER THRESHOLD\n"
                              "set MODE PARTIAL\n"
                              "rectangle RESIN 10 100 200 149 0 0 0 FILLED\n"));
  ASSERT_EQ(run("-d " + dir.path("/card.txt") + " -o " + dir.path("/card.prn") + " -p " +
                dir.path("/card.png")),
            0);
  const test::PrnImageData image = readPrn(dir.path("/card.prn"));
  ASSERT_EQ(image.sections.size(), 1u);
  EXPECT_EQ(image.sections[0].id, 0x08);
  EXPECT_EQ(image.sections[0].firstLine, 100);
  EXPECT_EQ(image.sections[0].lines.size(), 50u);
}

TEST(CardCompose, BadDescriptionFails) {
  test::ScopedSysroot dir;
  ASSERT_TRUE(test::writeFile(dir.path("/bad.txt"), "page PORTRAIT 0\nrectangle OVERLAY 0 0 9 9 0 0 0 1\n"));
  EXPECT_EQ(run("-d " + dir.path("/bad.txt") + " -o " + dir.path("/x.prn")), 1);
  EXPECT_FALSE(test::fileExists(dir.path("/x.prn")));
  EXPECT_EQ(run("-d " + dir.path("/missing.txt")), 1);
  EXPECT_EQ(run("--bogus"), 2);
}

}  // namespace
}  // namespace tavik
