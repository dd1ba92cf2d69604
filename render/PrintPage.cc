#include "render/PrintPage.h"

#include <new>

namespace tavik {

namespace {

void setDefaults(OemDevMode* dev, int ribbon) {
  *dev = OemDevMode{};
  dev->dwBPText = 100;
  dev->dwBPDot = 100;
  dev->dwBPThreshold = 50;
  dev->dwBPDitherDegree = 100;
  dev->dwEdgeSize = 20;
  dev->dwEjectCard = kEjectYes;
  dev->dwErase = 50;
  dev->dwDocRibbon = static_cast<uint32_t>(ribbon);
  dev->dwDocResin = 2;
  dev->dwDocQuality = kQualityStandard;
  dev->dwDocDither = kDitherDiffusion;
  dev->dwDocLamiSide = kLaminationNo;
  dev->dwDocLamiOverlay = 1;
}

void fillInitial(PanelImages* img) {
  if (!img->pColor.empty()) img->pColor.setTo(cv::Scalar(255, 255, 255));
  if (!img->pResin.empty()) img->pResin.setTo(cv::Scalar(255));
  if (!img->pFluorescent.empty()) img->pFluorescent.setTo(cv::Scalar(255));
  if (!img->pOverlay.empty()) img->pOverlay.setTo(cv::Scalar(0));
}

}  // namespace

PrintPage* PageCreate() { return new (std::nothrow) PrintPage(); }

int PageInit(PrintPage* page, int orientation, int ribbon, int ribbon_type) {
  if (page == nullptr) return 0;
  PageRelease(page);  // a ready page, or what a failed PageInit left
  page->prop = PageProperties{};
  page->bmp = PanelBuffers{};
  page->prn = PrnWorkArea{};

  page->prop.side = kSideFront;
  page->prop.orientation = orientation;
  page->prop.width = orientation == kOrientationPortrait ? kCardShortSide : kCardLongSide;
  page->prop.height = orientation == kOrientationPortrait ? kCardLongSide : kCardShortSide;
  page->prop.ribbon = ribbon;
  page->prop.ribbon_type = ribbon_type;
  setDefaults(&page->oemdev, ribbon);

  const int w = page->prop.width;
  const int h = page->prop.height;
  try {
    page->cvimg.pColor.create(h, w, CV_8UC3);
    page->cvimg.pResin.create(h, w, CV_8UC1);
    page->cvimg.pFluorescent.create(h, w, CV_8UC1);
    page->cvimg.pOverlay.create(h, w, CV_8UC1);
    page->prn.overflow.resize(kPrnOverflowSize);
  } catch (...) {  // cv::Exception or std::bad_alloc: memory is short
    PageRelease(page);
    return 0;
  }
  fillInitial(&page->cvimg);
  page->bmp.pColor = page->cvimg.pColor.data;
  page->bmp.pResin = page->cvimg.pResin.data;
  page->bmp.pFluorescent = page->cvimg.pFluorescent.data;
  page->bmp.pOverlay = page->cvimg.pOverlay.data;
  return 1;
}

int PageIsReady(const PrintPage* page) {
  if (page == nullptr) return 0;
  const PanelImages& img = page->cvimg;
  return (!img.pColor.empty() && !img.pResin.empty() && !img.pFluorescent.empty() &&
          !img.pOverlay.empty())
             ? 1
             : 0;
}

int PageClear(PrintPage* page) {
  if (page == nullptr) return 0;
  try {
    fillInitial(&page->cvimg);
  } catch (...) {
    return 0;
  }
  page->prn.complete = 0;
  page->prn.processed = 0;
  return 1;
}

cv::Mat* PageGetPanel(PrintPage* page, int panel) {
  if (!PageIsReady(page)) return nullptr;
  switch (panel) {
    case kPanelColor: return &page->cvimg.pColor;
    case kPanelResin: return &page->cvimg.pResin;
    case kPanelFluorescent: return &page->cvimg.pFluorescent;
    default: return nullptr;
  }
}

int PageRelease(PrintPage* page) {
  if (page == nullptr) return 0;
  page->cvimg.pColor.release();
  page->cvimg.pResin.release();
  page->cvimg.pFluorescent.release();
  page->cvimg.pOverlay.release();
  page->bmp = PanelBuffers{};
  // Drop the encoded image with the buffers it points into.
  page->prn = PrnWorkArea{};
  return 1;
}

void PageDestroy(PrintPage* page) {
  if (page == nullptr) return;
  PageRelease(page);
  delete page;
}

}  // namespace tavik
