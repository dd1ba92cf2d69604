#include "render/PrintPage.h"

#include "render/PageDraw.h"

#include <gtest/gtest.h>

#include <string>

namespace tavik {
namespace {

bool allEqual(const cv::Mat& m, const cv::Scalar& v) {
  cv::Mat diff;
  cv::absdiff(m, v, diff);
  return cv::countNonZero(diff.reshape(1)) == 0;
}

bool initialContent(PrintPage* page) {
  return allEqual(page->cvimg.pColor, cv::Scalar(255, 255, 255)) &&
         allEqual(page->cvimg.pResin, cv::Scalar(255)) &&
         allEqual(page->cvimg.pFluorescent, cv::Scalar(255)) &&
         allEqual(page->cvimg.pOverlay, cv::Scalar(0));
}

TEST(PrintPage, FreshPageIsNotReady) {
  PrintPagePtr page(PageCreate());
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(PageIsReady(page.get()), 0);
  EXPECT_EQ(PageGetPanel(page.get(), kPanelColor), nullptr);
  EXPECT_EQ(PageDrawLine(page.get(), kPanelColor, 0, 0, 10, 10, 0, 0, 0, 1), 0);
  EXPECT_EQ(PageIsReady(nullptr), 0);
  EXPECT_EQ(PageClear(nullptr), 0);
  EXPECT_EQ(PageRelease(nullptr), 0);
  PageDestroy(nullptr);
}

struct SizeCase {
  int orientation;
  int width;
  int height;
};

class PageSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PageSizes, InitGivesTheCardInItsOrientation) {
  PrintPagePtr page(PageCreate());
  ASSERT_EQ(PageInit(page.get(), GetParam().orientation, 0, 1), 1);
  EXPECT_EQ(PageIsReady(page.get()), 1);
  EXPECT_EQ(page->prop.width, GetParam().width);
  EXPECT_EQ(page->prop.height, GetParam().height);
  EXPECT_EQ(page->prop.orientation, GetParam().orientation);
  const cv::Mat* images[] = {&page->cvimg.pColor, &page->cvimg.pResin, &page->cvimg.pFluorescent,
                             &page->cvimg.pOverlay};
  for (const cv::Mat* m : images) {
    EXPECT_EQ(m->cols, GetParam().width);
    EXPECT_EQ(m->rows, GetParam().height);
    EXPECT_EQ(m->depth(), CV_8U);
    EXPECT_TRUE(m->isContinuous());
  }
  EXPECT_EQ(page->cvimg.pColor.channels(), 3);
  EXPECT_EQ(page->cvimg.pResin.channels(), 1);
  EXPECT_EQ(page->bmp.pColor, page->cvimg.pColor.data);
  EXPECT_EQ(page->bmp.pResin, page->cvimg.pResin.data);
  EXPECT_EQ(page->bmp.pFluorescent, page->cvimg.pFluorescent.data);
  EXPECT_EQ(page->bmp.pOverlay, page->cvimg.pOverlay.data);
  EXPECT_EQ(page->prn.overflow.size(), kPrnOverflowSize);
  EXPECT_TRUE(initialContent(page.get()));
}

INSTANTIATE_TEST_SUITE_P(Orientations, PageSizes,
                         ::testing::Values(SizeCase{kOrientationPortrait, 636, 1012},
                                           SizeCase{kOrientationLandscape, 1012, 636}),
                         [](const auto& info) {
                           return std::string(info.param.orientation == kOrientationPortrait
                                                  ? "Portrait"
                                                  : "Landscape");
                         });

TEST(PrintPage, InitSetsTheDefaults) {
  PrintPagePtr page(PageCreate());
  ASSERT_EQ(PageInit(page.get(), kOrientationLandscape, PageRibbonCode(0x25),
                     PageRibbonType(0x25)),
            1);
  EXPECT_EQ(page->prop.side, kSideFront);
  EXPECT_EQ(page->prop.ribbon, 5);
  EXPECT_EQ(page->prop.ribbon_type, 0);
  const OemDevMode& d = page->oemdev;
  EXPECT_EQ(d.dwBPText, 100u);
  EXPECT_EQ(d.dwBPDot, 100u);
  EXPECT_EQ(d.dwBPThreshold, 50u);
  EXPECT_EQ(d.dwBPDitherDegree, 100u);
  EXPECT_EQ(d.dwEdgeSize, 20u);
  EXPECT_EQ(d.dwEjectCard, 0u);
  EXPECT_EQ(d.dwErase, 50u);
  EXPECT_EQ(d.dwDocRibbon, 5u);
  EXPECT_EQ(d.dwDocResin, 2u);
  EXPECT_EQ(d.dwDocQuality, 0u);
  EXPECT_EQ(d.dwDocDither, kDitherDiffusion);
  EXPECT_EQ(d.dwDocLamiSide, 0u);
  EXPECT_EQ(d.dwDocLamiOverlay, 1u);
  EXPECT_EQ(d.dwCCMain, 0u);
  EXPECT_EQ(d.szMSTrack1[0], '\0');
}

TEST(PrintPage, RibbonValueSplit) {
  EXPECT_EQ(PageRibbonCode(0x25), 5);
  EXPECT_EQ(PageRibbonType(0x25), 0);
  EXPECT_EQ(PageRibbonCode(0x05), 5);
  EXPECT_EQ(PageRibbonType(0x05), 1);
  EXPECT_EQ(PageRibbonCode(0x1F), 31);
  EXPECT_EQ(PageRibbonType(0x1F), 1);
}

TEST(PrintPage, ClearRestoresContentAndKeepsSettings) {
  PrintPagePtr page(PageCreate());
  ASSERT_EQ(PageInit(page.get(), kOrientationPortrait, 0, 1), 1);
  page->prop.side = kSideBack;
  page->oemdev.dwDocDither = kDitherHalftone;
  page->cvimg.pColor.setTo(cv::Scalar(1, 2, 3));
  page->cvimg.pResin.setTo(cv::Scalar(0));
  page->cvimg.pFluorescent.setTo(cv::Scalar(9));
  page->cvimg.pOverlay.setTo(cv::Scalar(7));
  EXPECT_EQ(PageClear(page.get()), 1);
  EXPECT_TRUE(initialContent(page.get()));
  EXPECT_EQ(page->prop.side, kSideBack);
  EXPECT_EQ(page->oemdev.dwDocDither, kDitherHalftone);
}

TEST(PrintPage, InitAgainDiscardsDrawingAndSettings) {
  PrintPagePtr page(PageCreate());
  ASSERT_EQ(PageInit(page.get(), kOrientationPortrait, 0, 1), 1);
  page->oemdev.dwDocDither = kDitherHalftone;
  page->cvimg.pResin.setTo(cv::Scalar(0));
  ASSERT_EQ(PageInit(page.get(), kOrientationLandscape, 4, 1), 1);
  EXPECT_EQ(page->oemdev.dwDocDither, kDitherDiffusion);
  EXPECT_EQ(page->prop.width, 1012);
  EXPECT_TRUE(initialContent(page.get()));
}

TEST(PrintPage, PanelLookup) {
  PrintPagePtr page(PageCreate());
  ASSERT_EQ(PageInit(page.get(), kOrientationPortrait, 0, 1), 1);
  EXPECT_EQ(PageGetPanel(page.get(), kPanelColor), &page->cvimg.pColor);
  EXPECT_EQ(PageGetPanel(page.get(), kPanelResin), &page->cvimg.pResin);
  EXPECT_EQ(PageGetPanel(page.get(), kPanelFluorescent), &page->cvimg.pFluorescent);
  for (int panel : {kPanelOverlay, -1, 4, 100}) EXPECT_EQ(PageGetPanel(page.get(), panel), nullptr);
}

TEST(PrintPage, ReleaseLeavesThePageAllocatedButNotReady) {
  PrintPagePtr page(PageCreate());
  ASSERT_EQ(PageInit(page.get(), kOrientationPortrait, 0, 1), 1);
  EXPECT_EQ(PageRelease(page.get()), 1);
  EXPECT_EQ(PageIsReady(page.get()), 0);
  EXPECT_TRUE(page->prn.overflow.empty());
  EXPECT_EQ(page->bmp.pColor, nullptr);
  EXPECT_EQ(PageRelease(page.get()), 1);
  EXPECT_EQ(PageInit(page.get(), kOrientationPortrait, 0, 1), 1);
}

}  // namespace
}  // namespace tavik
