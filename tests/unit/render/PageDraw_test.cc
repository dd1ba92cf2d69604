#include "render/PageDraw.h"

#include "render/ImageProbe.h"
#include "render/PrintPage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <filesystem>
#include <string>

namespace tavik {
namespace {

// Samples (channel by channel) where two images differ.
int differing(const cv::Mat& a, const cv::Mat& b) {
  return cv::countNonZero(cv::Mat(a != b).reshape(1));
}
int differing(const cv::Mat& a, const cv::Scalar& v) {
  cv::Mat diff;
  cv::absdiff(a, v, diff);
  return cv::countNonZero(diff.reshape(1));
}

class Drawing : public ::testing::Test {
 protected:
  void SetUp() override {
    page_.reset(PageCreate());
    ASSERT_EQ(PageInit(page_.get(), kOrientationLandscape, 0, 1), 1);
  }
  PrintPage* page() { return page_.get(); }
  cv::Mat& colour() { return page_->cvimg.pColor; }
  cv::Mat& resin() { return page_->cvimg.pResin; }
  bool untouched() {
    return differing(colour(), cv::Scalar(255, 255, 255)) == 0 &&
           differing(resin(), cv::Scalar(255)) == 0 &&
           differing(page_->cvimg.pFluorescent, cv::Scalar(255)) == 0;
  }

  PrintPagePtr page_;
};

TEST_F(Drawing, RedLineOnRowZero) {
  ASSERT_EQ(PageDrawLine(page(), kPanelColor, 0, 0, 100, 0, 255, 0, 0, 1), 1);
  for (int x = 0; x <= 100; ++x) {
    ASSERT_EQ(colour().at<cv::Vec3b>(0, x), cv::Vec3b(0, 0, 255)) << x;
  }
  EXPECT_EQ(colour().at<cv::Vec3b>(0, 101), cv::Vec3b(255, 255, 255));
  EXPECT_EQ(differing(colour().row(1), cv::Scalar(255, 255, 255)), 0);
  EXPECT_EQ(differing(colour(), cv::Scalar(255, 255, 255)), 101 * 2);
}

struct ResinCase {
  int r, g, b;
  uint8_t expected;
};

class ResinRectangle : public Drawing, public ::testing::WithParamInterface<ResinCase> {};

TEST_P(ResinRectangle, OnlyTheBArgumentReachesASingleChannelPanel) {
  const auto& c = GetParam();
  ASSERT_EQ(PageDrawRectangle(page(), kPanelResin, 10, 10, 20, 20, c.r, c.g, c.b, 0, 1), 1);
  for (int y = 8; y <= 22; ++y) {
    for (int x = 8; x <= 22; ++x) {
      const bool inside = y >= 10 && y <= 20 && x >= 10 && x <= 20;
      ASSERT_EQ(resin().at<uint8_t>(y, x), inside ? c.expected : 255) << x << "," << y;
    }
  }
  EXPECT_EQ(cv::countNonZero(resin() != 255), c.expected == 255 ? 0 : 121);
}

INSTANTIATE_TEST_SUITE_P(Colours, ResinRectangle,
                         ::testing::Values(ResinCase{0, 0, 0, 0}, ResinCase{255, 255, 0, 0},
                                           ResinCase{0, 0, 128, 128},
                                           ResinCase{0, 0, 255, 255}),
                         [](const auto& info) {
                           const auto& c = info.param;
                           return "R" + std::to_string(c.r) + "G" + std::to_string(c.g) + "B" +
                                  std::to_string(c.b);
                         });

TEST_F(Drawing, RectangleOutline) {
  ASSERT_EQ(PageDrawRectangle(page(), kPanelResin, 10, 10, 20, 20, 0, 0, 0, 1, 0), 1);
  EXPECT_EQ(resin().at<uint8_t>(10, 15), 0);
  EXPECT_EQ(resin().at<uint8_t>(20, 20), 0);
  EXPECT_EQ(resin().at<uint8_t>(15, 15), 255);
  EXPECT_EQ(cv::countNonZero(resin() != 255), 40);
}

TEST_F(Drawing, CircleWithNoWidthIsAVerticalSegment) {
  ASSERT_EQ(PageDrawCircle(page(), kPanelResin, 50, 10, 50, 30, 0, 0, 0, 1, 0), 1);
  cv::Mat ink = resin() != 255;
  const cv::Rect box = cv::boundingRect(ink);
  EXPECT_EQ(box.x, 50);
  EXPECT_EQ(box.width, 1);
  EXPECT_EQ(box.y, 10);
  EXPECT_EQ(box.height, 21);
}

TEST_F(Drawing, FilledCircleIsInscribedInItsBox) {
  ASSERT_EQ(PageDrawCircle(page(), kPanelColor, 100, 100, 200, 160, 0, 0, 255, 1, 1), 1);
  cv::Mat ink;
  cv::inRange(colour(), cv::Scalar(255, 0, 0), cv::Scalar(255, 0, 0), ink);
  // Centre (150, 130), semi-axes 50 and 30.
  EXPECT_EQ(cv::boundingRect(ink), cv::Rect(100, 100, 101, 61));
  EXPECT_EQ(colour().at<cv::Vec3b>(130, 150), cv::Vec3b(255, 0, 0));
  EXPECT_EQ(colour().at<cv::Vec3b>(101, 101), cv::Vec3b(255, 255, 255));
}

struct PanelCase {
  int panel;
  int expected;
};

class PanelChoice : public Drawing, public ::testing::WithParamInterface<PanelCase> {};

TEST_P(PanelChoice, OverlayAndUnknownPanelsRefuseEveryShape) {
  const int p = GetParam().panel;
  const int want = GetParam().expected;
  EXPECT_EQ(PageDrawLine(page(), p, 0, 0, 10, 10, 0, 0, 0, 1), want);
  EXPECT_EQ(PageDrawRectangle(page(), p, 0, 0, 10, 10, 0, 0, 0, 1, 0), want);
  EXPECT_EQ(PageDrawCircle(page(), p, 0, 0, 10, 10, 0, 0, 0, 1, 1), want);
  if (want == 0) {
    EXPECT_TRUE(untouched());
  }
}

INSTANTIATE_TEST_SUITE_P(Panels, PanelChoice,
                         ::testing::Values(PanelCase{kPanelColor, 1}, PanelCase{kPanelResin, 1},
                                           PanelCase{kPanelFluorescent, 1},
                                           PanelCase{kPanelOverlay, 0}, PanelCase{-1, 0},
                                           PanelCase{7, 0}),
                         [](const auto& info) {
                           const int p = info.param.panel;
                           return p < 0 ? std::string("Minus") + std::to_string(-p)
                                        : "Panel" + std::to_string(p);
                         });

TEST_F(Drawing, ArgumentsTheDrawingLibraryRejectsFailWithoutDrawing) {
  // Negative semi-axes: the end lies left of or above the start.
  EXPECT_EQ(PageDrawCircle(page(), kPanelColor, 100, 100, 50, 150, 0, 0, 0, 1, 0), 0);
  EXPECT_EQ(PageDrawCircle(page(), kPanelColor, 100, 100, 150, 50, 0, 0, 0, 1, 1), 0);
  // Strokes wider than 255.
  EXPECT_EQ(PageDrawLine(page(), kPanelColor, 0, 0, 10, 10, 0, 0, 0, 256), 0);
  EXPECT_EQ(PageDrawRectangle(page(), kPanelColor, 0, 0, 10, 10, 0, 0, 0, 256, 0), 0);
  EXPECT_EQ(PageDrawCircle(page(), kPanelColor, 0, 0, 10, 10, 0, 0, 0, 256, 0), 0);
  EXPECT_EQ(PageDrawLine(page(), kPanelColor, 0, 0, 10, 10, 0, 0, 0, 0), 0);
  EXPECT_EQ(PageDrawLine(page(), kPanelColor, 0, 0, 10, 10, 0, 0, 0, -3), 0);
  EXPECT_EQ(PageDrawRectangle(page(), kPanelColor, 0, 0, 10, 10, 0, 0, 0, 40000, 0), 0);
  EXPECT_TRUE(untouched());
}

TEST_F(Drawing, ExtremeCoordinatesAreClippedNotFatal) {
  EXPECT_EQ(PageDrawLine(page(), kPanelResin, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 0, 3), 1);
  EXPECT_EQ(PageDrawRectangle(page(), kPanelResin, -5000000, 10, 5000000, 12, 0, 0, 0, 1, 1), 1);
  EXPECT_EQ(PageDrawCircle(page(), kPanelFluorescent, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0,
                           0, 2, 0),
            1);
  EXPECT_EQ(resin().at<uint8_t>(11, 500), 0);
  // Filled shapes cost time by their size: a huge box is cut to the panel,
  // a huge filled ellipse is refused.
  EXPECT_EQ(PageDrawRectangle(page(), kPanelResin, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 7, 1,
                              1),
            1);
  EXPECT_EQ(differing(resin(), cv::Scalar(7)), 0);
  EXPECT_EQ(PageDrawRectangle(page(), kPanelResin, INT_MIN, 5, INT_MAX, 5, 0, 0, 9, 3, 0), 1);
  EXPECT_EQ(resin().at<uint8_t>(6, 500), 9);
  EXPECT_EQ(resin().at<uint8_t>(8, 500), 7);
  EXPECT_EQ(PageDrawCircle(page(), kPanelResin, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 0, 1, 1),
            0);
  EXPECT_EQ(PageDrawCircle(page(), kPanelResin, -100000, -100000, 100000, 100000, 0, 0, 3, 1, 1),
            1);
  EXPECT_EQ(differing(resin(), cv::Scalar(3)), 0);
}

// --- images -------------------------------------------------------------------

// 200 x 100: left quarter blue, middle half green, right quarter red.
cv::Mat stripes() {
  cv::Mat m(100, 200, CV_8UC3, cv::Scalar(0, 255, 0));
  m.colRange(0, 50).setTo(cv::Scalar(255, 0, 0));
  m.colRange(150, 200).setTo(cv::Scalar(0, 0, 255));
  return m;
}

class Images : public Drawing {
 protected:
  void SetUp() override {
    Drawing::SetUp();
    std::filesystem::create_directories(root_.path("/flash/ocp/images"));
    ASSERT_TRUE(cv::imwrite(root_.path("/flash/ocp/images/stripes.bmp"), stripes()));
  }
  test::ScopedSysroot root_;
  const cv::Vec3b background_{30, 20, 10};  // r 10, g 20, b 30
};

TEST_F(Images, FullShowsTheWholeImageWithMargins) {
  ASSERT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 10, 20, 30, kScaleFull,
                          "/flash/ocp/images/stripes.bmp"),
            1);
  for (int y = 0; y <= 100; ++y) {
    const bool band = y >= 25 && y <= 74;
    EXPECT_EQ(colour().at<cv::Vec3b>(y, 100), background_) << y;
    if (!band) {
      for (int x = 0; x <= 100; ++x) ASSERT_EQ(colour().at<cv::Vec3b>(y, x), background_) << y;
      continue;
    }
    EXPECT_EQ(colour().at<cv::Vec3b>(y, 10), cv::Vec3b(255, 0, 0)) << y;
    EXPECT_EQ(colour().at<cv::Vec3b>(y, 50), cv::Vec3b(0, 255, 0)) << y;
    EXPECT_EQ(colour().at<cv::Vec3b>(y, 90), cv::Vec3b(0, 0, 255)) << y;
  }
  EXPECT_EQ(colour().at<cv::Vec3b>(0, 101), cv::Vec3b(255, 255, 255));
  EXPECT_EQ(colour().at<cv::Vec3b>(101, 0), cv::Vec3b(255, 255, 255));
}

TEST_F(Images, BestFillsTheBoxWithTheMiddle) {
  ASSERT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 10, 20, 30, kScaleBest,
                          "/flash/ocp/images/stripes.bmp"),
            1);
  const cv::Mat box = colour()(cv::Rect(0, 0, 100, 100));
  EXPECT_EQ(differing(box, cv::Scalar(0, 255, 0)), 0);
  EXPECT_EQ(colour().at<cv::Vec3b>(100, 50), background_);
  EXPECT_EQ(colour().at<cv::Vec3b>(50, 100), background_);
}

TEST_F(Images, WidthIsFullAndHeightIsBestForAWideImage) {
  auto drawn = [&](int scale) {
    PrintPagePtr p(PageCreate());
    EXPECT_EQ(PageInit(p.get(), kOrientationLandscape, 0, 1), 1);
    EXPECT_EQ(PageDrawImage(p.get(), kPanelColor, 0, 0, 100, 100, 10, 20, 30, scale,
                            "/flash/ocp/images/stripes.bmp"),
              1);
    return p->cvimg.pColor.clone();
  };
  const cv::Mat full = drawn(kScaleFull);
  const cv::Mat best = drawn(kScaleBest);
  EXPECT_EQ(differing(drawn(kScaleWidth), full), 0);
  EXPECT_EQ(differing(drawn(kScaleHeight), best), 0);
  EXPECT_GT(differing(full, best), 0);
}

TEST_F(Images, TallImageInFullGetsSideMargins) {
  cv::Mat tall;
  cv::transpose(stripes(), tall);  // 100 x 200
  ASSERT_TRUE(cv::imwrite(root_.path("/flash/ocp/images/tall.bmp"), tall));
  ASSERT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 10, 20, 30, kScaleFull,
                          "/flash/ocp/images/tall.bmp"),
            1);
  EXPECT_EQ(colour().at<cv::Vec3b>(50, 24), background_);
  EXPECT_EQ(colour().at<cv::Vec3b>(50, 75), background_);
  EXPECT_EQ(colour().at<cv::Vec3b>(50, 50), cv::Vec3b(0, 255, 0));
}

TEST_F(Images, FailuresLeaveThePageUntouched) {
  const std::string file = "/flash/ocp/images/stripes.bmp";
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, 10, 10, 10, 100, 0, 0, 0, kScaleFull, file), 0);
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, 10, 10, 100, 10, 0, 0, 0, kScaleFull, file), 0);
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, 100, 100, 10, 10, 0, 0, 0, kScaleFull, file), 0);
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 0, 0, 0, kScaleFull,
                          "/flash/ocp/images/missing.bmp"),
            0);
  EXPECT_EQ(PageDrawImage(page(), kPanelOverlay, 0, 0, 100, 100, 0, 0, 0, kScaleFull, file), 0);
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 0, 0, 0, 4, file), 0);
  // A box wholly outside the page.
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, 2000, 2000, 2100, 2100, 0, 0, 0, kScaleBest, file),
            0);
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, -300, -300, -200, -200, 0, 0, 0, kScaleBest, file),
            0);
  // A text file is no image.
  ASSERT_TRUE(test::writeFile(root_.path("/flash/ocp/images/note.bmp"), "not an image"));
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 0, 0, 0, kScaleBest,
                          "/flash/ocp/images/note.bmp"),
            0);
  EXPECT_EQ(PageDrawImage(page(), kPanelColor, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0, 0,
                          kScaleFull, file),
            1);  // extreme but valid: the band is cut to the page
  PageClear(page());
  EXPECT_TRUE(untouched());
}

TEST_F(Images, BoxReachingPastThePageIsCutToIt) {
  ASSERT_EQ(PageDrawImage(page(), kPanelColor, 962, 586, 1062, 686, 10, 20, 30, kScaleBest,
                          "/flash/ocp/images/stripes.bmp"),
            1);
  EXPECT_EQ(colour().at<cv::Vec3b>(600, 1000), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(colour().at<cv::Vec3b>(585, 1000), cv::Vec3b(255, 255, 255));
}

struct FormatCase {
  const char* file;
  bool exact;  // lossless
};

class ImageFormats : public Images, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ImageFormats, LoadsTheFileFormatsOfTheStore) {
  const std::string module = std::string("/flash/ocp/images/") + GetParam().file;
  cv::Mat grey(100, 200, CV_8UC1, cv::Scalar(90));
  const bool colourFile = std::string(GetParam().file).find(".pgm") == std::string::npos;
  ASSERT_TRUE(cv::imwrite(root_.path(module), colourFile ? stripes() : grey));
  ASSERT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 10, 20, 30, kScaleBest, module), 1);
  const cv::Vec3b got = colour().at<cv::Vec3b>(50, 50);
  const cv::Vec3b want = colourFile ? cv::Vec3b(0, 255, 0) : cv::Vec3b(90, 90, 90);
  const int tolerance = GetParam().exact ? 0 : 12;
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], tolerance) << c;
}

INSTANTIATE_TEST_SUITE_P(Files, ImageFormats,
                         ::testing::Values(FormatCase{"a.bmp", true}, FormatCase{"a.jpg", false},
                                           FormatCase{"a.pgm", true}, FormatCase{"a.ppm", true},
                                           FormatCase{"a.ras", true}),
                         [](const auto& info) { return std::string(info.param.file + 2); });

TEST_F(Images, ImageOnASingleChannelPanelIsGrey) {
  ASSERT_EQ(PageDrawImage(page(), kPanelResin, 0, 0, 100, 100, 0, 0, 200, kScaleBest,
                          "/flash/ocp/images/stripes.bmp"),
            1);
  EXPECT_NEAR(resin().at<uint8_t>(50, 50), 150, 1);  // green's grey value
  EXPECT_EQ(resin().at<uint8_t>(100, 100), 200);
}

}  // namespace
}  // namespace tavik

namespace tavik {
namespace {

// Patches the stated size of an image file in place.
void patch(const std::string& file, size_t offset, const std::string& bytes) {
  std::string data = test::readFile(file);
  ASSERT_GE(data.size(), offset + bytes.size());
  data.replace(offset, bytes.size(), bytes);
  ASSERT_TRUE(test::writeFile(file, data));
}

class HugeImages : public Images {};

TEST_F(HugeImages, HeadersClaimingHugeImagesAreRefusedBeforeDecoding) {
  const std::string dir = "/flash/ocp/images/";
  // BMP: width and height at 18 and 22, little-endian: 60000 x 60000.
  ASSERT_TRUE(cv::imwrite(root_.path(dir + "big.bmp"), stripes()));
  patch(root_.path(dir + "big.bmp"), 18, std::string("\x60\xEA\x00\x00\x60\xEA\x00\x00", 8));
  // JPEG: the frame header after FF C0 (length, precision, height, width).
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(cv::imencode(".jpg", stripes(), jpeg));
  const std::string j(jpeg.begin(), jpeg.end());
  const size_t sof = j.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  ASSERT_TRUE(test::writeFile(root_.path(dir + "big.jpg"), j));
  patch(root_.path(dir + "big.jpg"), sof + 5, std::string("\xEA\x60\xEA\x60", 4));
  // PGM and Sun raster.
  ASSERT_TRUE(test::writeFile(root_.path(dir + "big.pgm"), "P5\n# huge\n100000 100000\n255\n"));
  ASSERT_TRUE(test::writeFile(root_.path(dir + "overflow.pgm"),
                              "P5 999999999999 999999999999 255\n"));
  std::string ras("\x59\xA6\x6A\x95\x00\x01\x00\x00\x00\x01\x00\x00", 12);
  ras.resize(32, '\0');
  ASSERT_TRUE(test::writeFile(root_.path(dir + "big.ras"), ras));
  // 4097 x 4097 BMP: just over the limit, well under the decoder's own.
  ASSERT_TRUE(cv::imwrite(root_.path(dir + "over.bmp"), stripes()));
  patch(root_.path(dir + "over.bmp"), 18, std::string("\x01\x10\x00\x00\x01\x10\x00\x00", 8));
  for (const char* name : {"big.bmp", "big.jpg", "big.pgm", "overflow.pgm", "big.ras", "over.bmp"}) {
    EXPECT_FALSE(imageSizeAllowed(root_.path(dir + name))) << name;
    EXPECT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 100, 100, 0, 0, 0, kScaleBest, dir + name),
              0)
        << name;
  }
  EXPECT_TRUE(untouched());
  // The real files of the store pass: 200 x 100 in every format.
  for (const char* name : {"a.bmp", "a.jpg", "a.pgm", "a.ppm", "a.ras", "a.png"}) {
    cv::Mat image = stripes();
    if (std::string(name) == "a.pgm") cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
    ASSERT_TRUE(cv::imwrite(root_.path(dir + name), image)) << name;
    EXPECT_TRUE(imageSizeAllowed(root_.path(dir + name))) << name;
  }
  // 4096 x 4096 is allowed.
  patch(root_.path(dir + "a.bmp"), 18, std::string("\x00\x10\x00\x00\x00\x10\x00\x00", 8));
  EXPECT_TRUE(imageSizeAllowed(root_.path(dir + "a.bmp")));
  EXPECT_FALSE(imageSizeAllowed(root_.path(dir + "missing.bmp")));
}

TEST_F(HugeImages, HandWrittenGreymapWithCommentsLoads) {
  std::string pgm = "P5\n# drawn by hand\n4 2\n# max\n255\n";
  pgm += std::string(8, '\x40');
  ASSERT_TRUE(test::writeFile(root_.path("/flash/ocp/images/hand.pgm"), pgm));
  ASSERT_EQ(PageDrawImage(page(), kPanelColor, 0, 0, 40, 20, 0, 0, 0, kScaleFull,
                          "/flash/ocp/images/hand.pgm"),
            1);
  EXPECT_EQ(colour().at<cv::Vec3b>(10, 20), cv::Vec3b(64, 64, 64));
}

}  // namespace
}  // namespace tavik
