// The card page: one image per drawable panel of an ID card, the print
// settings the OCP shell can change, and the work area in which the print
// image (PRN) is built. Public face of render/, together with PageDraw.h
// (drawing, text, barcodes) and PrnImage.h (print image and sending).
//
// All operations take the page first and return 1 for success and 0 for
// failure unless stated otherwise; none throws. A page is used by one OCP
// session at a time and has no lock of its own.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tavik {

// Panel numbers: what the drawing operations select with their panel argument.
inline constexpr int kPanelColor = 0;        // "COLOR" / "RGB", 3 channels, blue-green-red
inline constexpr int kPanelResin = 1;        // "RESIN" / "BLACK"
inline constexpr int kPanelFluorescent = 2;  // "FLUORESCENT" / "UV"
inline constexpr int kPanelOverlay = 3;      // "OVERLAY": never drawable

inline constexpr int kSideFront = 0;
inline constexpr int kSideBack = 1;
inline constexpr int kOrientationPortrait = 1;
inline constexpr int kOrientationLandscape = 2;

// A card at 300 dots per inch.
inline constexpr int kCardLongSide = 1012;
inline constexpr int kCardShortSide = 636;

// dwDocDither values (SetPage DITHER).
inline constexpr uint32_t kDitherThreshold = 0;
inline constexpr uint32_t kDitherRandom = 1;
inline constexpr uint32_t kDitherDiffusion = 2;
inline constexpr uint32_t kDitherHalftone = 3;
// dwDocQuality values (SetPage MODE).
inline constexpr uint32_t kQualityStandard = 0;
inline constexpr uint32_t kQualityPartial = 2;
// dwDocLamiSide values (SetPage LAMINATION).
inline constexpr uint32_t kLaminationNo = 0;
inline constexpr uint32_t kLaminationTop = 1;
inline constexpr uint32_t kLaminationBottom = 2;
inline constexpr uint32_t kLaminationBoth = 3;
// dwEjectCard values (SetPage EJECT).
inline constexpr uint32_t kEjectYes = 0;
inline constexpr uint32_t kEjectNo = 128;

// Print panels of the PRN image, in the order they are considered.
inline constexpr int kPrnPanelCount = 7;
inline constexpr int kPrnGrey = 0;
inline constexpr int kPrnYellow = 1;
inline constexpr int kPrnMagenta = 2;
inline constexpr int kPrnCyan = 3;
inline constexpr int kPrnBlack = 4;
inline constexpr int kPrnFluorescent = 5;
inline constexpr int kPrnOverlay = 6;

inline constexpr size_t kPrnHeaderSize = 20;
inline constexpr size_t kPrnPanelHeaderSize = 8;
inline constexpr size_t kPrnOverflowSize = 1024 * 1024;

struct PageProperties {
  int32_t side = 0;         // 0 FRONT, 1 BACK
  int32_t orientation = 0;  // 1 PORTRAIT, 2 LANDSCAPE
  int32_t ribbon = 0;       // low 5 bits of the printer's ribbon-type value
  int32_t ribbon_type = 0;  // 1 when the ribbon-type value has no higher bits
  int32_t width = 0;        // pixels
  int32_t height = 0;
};

// Print-job settings. Only dwBPThreshold, dwErase, dwDocRibbon, dwDocQuality,
// dwDocDither, dwDocLamiSide and dwDocLamiOverlay shape the print image; the
// others are carried for the printer driver's record layout.
struct OemDevMode {
  uint32_t dwCCMain = 0;
  uint32_t dwCCYellow = 0;
  uint32_t dwCCMagenta = 0;
  uint32_t dwCCCyan = 0;
  uint32_t dwCCBlack = 0;
  uint32_t dwCCOverlay = 0;
  uint32_t dwDocRibbonSplit = 0;
  uint32_t dwDocFlip = 0;
  uint32_t dwBPText = 0;
  uint32_t dwBPDot = 0;
  uint32_t dwBPThreshold = 0;
  uint32_t dwBPDitherDegree = 0;
  uint32_t dwEdgeSize = 0;
  uint32_t dwEjectCard = 0;
  uint32_t dwErase = 0;
  uint32_t dwDocHeatControl = 0;
  uint32_t dwMSTrack1 = 0;
  uint32_t dwMSTrack2 = 0;
  uint32_t dwMSTrack3 = 0;
  uint32_t dwJISTrack = 0;
  uint32_t dwManualEncoding = 0;
  char szMSTrack1[1024] = {};
  char szMSTrack2[1024] = {};
  char szMSTrack3[1024] = {};
  char szJISTrack[1024] = {};
  uint32_t dwDocSupply = 0;
  uint32_t dwDocTray = 0;
  uint32_t dwDocRibbon = 0;
  uint32_t dwDocResin = 0;
  uint32_t dwDocQuality = 0;
  uint32_t dwDocColor = 0;
  uint32_t dwDocDither = 0;
  uint32_t dwDocPrintSide = 0;
  uint32_t dwDocMediaFront = 0;
  uint32_t dwDocMediaBack = 0;
  uint32_t dwDocLamiSide = 0;
  uint32_t dwDocLamiOverlay = 0;
};

// The four panel images, owned by the page.
struct PanelImages {
  cv::Mat pColor;        // 8-bit, 3 channels, blue-green-red
  cv::Mat pResin;        // 8-bit, 1 channel
  cv::Mat pFluorescent;  // 8-bit, 1 channel
  cv::Mat pOverlay;      // 8-bit, 1 channel
};

// The pixel buffers of the same images (borrowed; valid while they live).
struct PanelBuffers {
  uint8_t* pColor = nullptr;
  uint8_t* pResin = nullptr;
  uint8_t* pFluorescent = nullptr;
  uint8_t* pOverlay = nullptr;
};

// Where PageMakePrn leaves the print image. Each section's encoded data is
// split in two: the first `ownLength` bytes over the print panel's own
// buffer, the rest in `overflow` from `overflowOffset`.
struct PrnWorkArea {
  uint8_t header[kPrnHeaderSize] = {};
  uint8_t panelHeader[kPrnPanelCount][kPrnPanelHeaderSize] = {};
  uint8_t* panelData[kPrnPanelCount] = {};  // borrowed: a panel buffer, or null
  size_t ownLength[kPrnPanelCount] = {};
  size_t overflowOffset[kPrnPanelCount] = {};
  size_t overflowLength[kPrnPanelCount] = {};
  int sectionOrder[kPrnPanelCount] = {};  // print panel indices in sending order
  int sectionCount = 0;
  int complete = 0;                // 1 once PageMakePrn has made the image
  int processed = 0;               // 1 once the pipeline has changed the panels
  std::vector<uint8_t> overflow;   // 1 MiB, grown when a busy card needs more
  size_t overflowUsed = 0;
};

struct PrintPage {
  PrintPage() = default;
  PrintPage(const PrintPage&) = delete;
  PrintPage& operator=(const PrintPage&) = delete;

  PageProperties prop;
  OemDevMode oemdev;
  PanelImages cvimg;
  PanelBuffers bmp;
  PrnWorkArea prn;
};

// A zero-filled page that is not ready; null when memory is short.
PrintPage* PageCreate();
// (Re)initialises the page: settings to their defaults, fresh white panels
// of 636 x 1012 (orientation 1) or 1012 x 636 (otherwise). 0 when memory is
// short, leaving the page not ready.
int PageInit(PrintPage* page, int orientation, int ribbon, int ribbon_type);
// 1 when all four panel images exist.
int PageIsReady(const PrintPage* page);
// Every existing panel back to its initial content (a page whose print
// image was made can be drawn and printed again); settings kept.
int PageClear(PrintPage* page);
// The image of panel 0, 1 or 2; null for any other number or a page that is
// not ready.
cv::Mat* PageGetPanel(PrintPage* page, int panel);
// Frees the images and the overflow buffer; the page stays allocated.
int PageRelease(PrintPage* page);
// PageRelease, then frees the page. Accepts null.
void PageDestroy(PrintPage* page);

// The printer's ribbon-type value split as PageInit wants it.
inline int PageRibbonCode(uint32_t ribbonValue) { return static_cast<int>(ribbonValue & 0x1F); }
inline int PageRibbonType(uint32_t ribbonValue) { return (ribbonValue >> 5) == 0 ? 1 : 0; }

// Owning handle for callers that keep a page (an OCP session).
struct PageDeleter {
  void operator()(PrintPage* page) const { PageDestroy(page); }
};
using PrintPagePtr = std::unique_ptr<PrintPage, PageDeleter>;

}  // namespace tavik
