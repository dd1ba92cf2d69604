// From the page's panels to the print image: separation and panel choice,
// dithering, turning, heat compensation, then the header and the
// run-length coded sections. Everything works in the page's own buffers
// and one scratch buffer, the module having little memory.
#include "render/PrnImage.h"

#include "printer/ResultCodes.h"
#include "render/PrintPage.h"
#include "render/PrnCodec.h"
#include "render/RenderGuard.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace tavik {

namespace {

constexpr uint8_t kPanelIds[kPrnPanelCount] = {0x20, 0x01, 0x02, 0x04, 0x08, 0x40, 0x10};
constexpr uint16_t kMergedFlags = 0x100;  // ribbon code 9: overlay merged into black
constexpr int kPartialWindow = 450;       // lines a colour panel may span on ribbon code 2
constexpr uint8_t kBlankLimit = 7;        // samples up to this count as no ink
constexpr uint8_t kEncodingWhole = 0;
constexpr uint8_t kEncodingPartial = 2;

// Which print panels the ribbon carries.
void selectPanels(int ribbon, int side, bool present[kPrnPanelCount]) {
  std::fill(present, present + kPrnPanelCount, false);
  const bool front = side == kSideFront;
  auto colour = [&](bool on) { present[kPrnYellow] = present[kPrnMagenta] = present[kPrnCyan] = on; };
  switch (ribbon) {
    case 0:
    case 2: colour(true); present[kPrnBlack] = present[kPrnOverlay] = true; break;
    case 1: colour(front); present[kPrnBlack] = true; present[kPrnOverlay] = front; break;
    case 3: present[kPrnBlack] = present[kPrnOverlay] = true; break;
    case 4: present[kPrnBlack] = true; break;
    case 5: present[kPrnGrey] = present[kPrnOverlay] = true; break;
    case 6: present[kPrnGrey] = true; break;
    case 7:
      present[kPrnGrey] = true;
      colour(true);
      present[kPrnBlack] = present[kPrnOverlay] = true;
      break;
    case 8:
      colour(true);
      present[kPrnBlack] = present[kPrnFluorescent] = present[kPrnOverlay] = true;
      break;
    case 9: present[kPrnBlack] = present[kPrnOverlay] = true; break;
    default: break;
  }
}

uint8_t sideByte(int side, uint32_t lamination) {
  static constexpr uint8_t kFront[4] = {0x80, 0xA0, 0x90, 0xB0};
  static constexpr uint8_t kBack[4] = {0x01, 0x11, 0x21, 0x31};
  const uint32_t l = lamination < 4 ? lamination : kLaminationNo;
  return side == kSideFront ? kFront[l] : kBack[l];
}

void dither(uint8_t* p, int w, int h, const OemDevMode& dev, uint8_t* scratch) {
  const int threshold = static_cast<int>(static_cast<uint64_t>(dev.dwBPThreshold) * 255 / 100);
  switch (dev.dwDocDither) {
    case kDitherThreshold: prn::ditherThreshold(p, w, h, threshold); break;
    case kDitherRandom: prn::ditherRandom(p, w, h, threshold); break;
    case kDitherHalftone: prn::ditherHalftone(p, w, h); break;
    default: prn::ditherDiffusion(p, w, h, scratch); break;  // DIFFUSION, and the default
  }
}

bool blankLine(const uint8_t* row, int w) {
  return std::none_of(row, row + w, [](uint8_t v) { return v > kBlankLimit; });
}

// Lines [first, last] of a panel to encode and the section's encoding.
struct LineWindow {
  uint8_t encoding = kEncodingWhole;
  int first = 0;
  int last = -1;  // last < first: nothing to encode
};

LineWindow chooseLines(const uint8_t* p, int w, int h, int index, const PrintPage& page) {
  LineWindow win;
  const bool partial = page.oemdev.dwDocQuality == kQualityPartial || page.prop.ribbon == 2;
  if (!partial) {
    win.first = 0;
    win.last = h - 1;
    return win;
  }
  win.encoding = kEncodingPartial;
  int first = 0;
  while (first < h && blankLine(p + static_cast<size_t>(first) * w, w)) ++first;
  if (first == h) return win;  // empty section
  int last = h - 1;
  while (blankLine(p + static_cast<size_t>(last) * w, w)) --last;
  if (page.prop.ribbon == 2 && index <= kPrnCyan) {
    if (last - first > kPartialWindow - 1) {
      last = first + kPartialWindow - 1;
    } else if (page.oemdev.dwDocQuality != kQualityPartial && h >= kPartialWindow) {
      if (last <= kPartialWindow - 1) {
        first = 0;
        last = kPartialWindow - 1;
      } else {
        const int c = (first - last + kPartialWindow - 1) / 2;
        first -= c;
        last = first + kPartialWindow - 1;
        // A window that would reach past the bottom takes the bottom lines.
        if (last > h - 1) {
          first = h - kPartialWindow;
          last = h - 1;
        }
      }
    }
  }
  win.first = first;
  win.last = last;
  return win;
}

// Encodes lines [first, last] into `out`; a line equal to the one before
// repeats its record. Returns the length, or SIZE_MAX when `cap` is short.
size_t encodePanel(const uint8_t* p, int w, const LineWindow& win, uint8_t* out, size_t cap,
                   uint8_t* planes) {
  size_t used = 0;
  size_t previous = 0;
  size_t previousLength = 0;
  for (int y = win.first; y <= win.last; ++y) {
    const uint8_t* row = p + static_cast<size_t>(y) * w;
    if (y > win.first && std::memcmp(row, row - w, w) == 0) {
      if (cap - used < previousLength) return SIZE_MAX;
      std::memcpy(out + used, out + previous, previousLength);
    } else {
      previousLength = prn::encodeLine(row, w, planes, out + used, cap - used);
      if (previousLength == 0) return SIZE_MAX;
    }
    previous = used;
    used += previousLength;
  }
  return used;
}

class PrnMaker {
 public:
  explicit PrnMaker(PrintPage* page) : page_(*page) {}

  int run() {
    if (!PageIsReady(&page_)) return 0;
    // The pipeline works in place: run again, it would print its own
    // output. A page is made once, until it is cleared or initialised.
    if (page_.prn.processed != 0) return 0;
    if (!panelsIntact()) return 0;
    w_ = page_.cvimg.pColor.cols;
    h_ = page_.cvimg.pColor.rows;
    n_ = static_cast<size_t>(w_) * h_;
    page_.prn.complete = 0;
    // One scratch buffer serves every step: a panel's copy (n bytes) while
    // separating, dithering and turning, then each panel's encoded data
    // (at most every line at its longest code).
    const bool turned = page_.prop.orientation == kOrientationLandscape;
    const int codedWidth = turned ? h_ : w_;
    const int codedLines = turned ? w_ : h_;
    const size_t encodeBound = static_cast<size_t>(codedLines) * prn::maxLineBytes(codedWidth);
    scratchSize_ = std::max(n_, encodeBound);
    scratch_ = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[scratchSize_]);
    planes_ = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[prn::planeBytes(codedWidth)]);
    if (!scratch_ || !planes_) return 0;

    page_.prn.processed = 1;
    separateAndSelect();
    if (page_.prop.orientation == kOrientationLandscape) turn();
    compensate();
    return encode();
  }

 private:
  // The pipeline walks the buffers as whole pages: every panel must be
  // the page's own continuous 8-bit image of one size, seen through bmp.
  bool panelsIntact() const {
    const PanelImages& img = page_.cvimg;
    const PanelBuffers& bmp = page_.bmp;
    const cv::Size size = img.pColor.size();
    auto fits = [&](const cv::Mat& m, int type, const uint8_t* buffer) {
      return m.type() == type && m.size() == size && m.isContinuous() && m.data == buffer;
    };
    return size.width > 0 && size.height > 0 && fits(img.pColor, CV_8UC3, bmp.pColor) &&
           fits(img.pResin, CV_8UC1, bmp.pResin) &&
           fits(img.pFluorescent, CV_8UC1, bmp.pFluorescent) &&
           fits(img.pOverlay, CV_8UC1, bmp.pOverlay);
  }

  void separateAndSelect() {
    const PanelBuffers& bmp = page_.bmp;
    const int ribbon = page_.prop.ribbon;
    selectPanels(ribbon, page_.prop.side, present_);
    buffer_[kPrnGrey] = bmp.pFluorescent;
    buffer_[kPrnYellow] = bmp.pColor;
    buffer_[kPrnMagenta] = bmp.pColor + n_;
    buffer_[kPrnCyan] = bmp.pColor + 2 * n_;
    buffer_[kPrnBlack] = bmp.pResin;
    buffer_[kPrnFluorescent] = bmp.pFluorescent;
    buffer_[kPrnOverlay] = bmp.pOverlay;

    // The colour curve goes with the separation: on cyan for first-generation
    // ribbons, on yellow and magenta otherwise.
    const bool firstGeneration = page_.prop.ribbon_type == 1;
    prn::separate(bmp.pColor, n_, scratch_.get(),
                  prn::separationTables(firstGeneration, !firstGeneration));
    uint8_t* y = buffer_[kPrnYellow];
    uint8_t* m = buffer_[kPrnMagenta];
    uint8_t* c = buffer_[kPrnCyan];
    for (uint8_t* p : {bmp.pResin, bmp.pFluorescent, bmp.pOverlay}) {
      for (size_t i = 0; i < n_; ++i) p[i] = static_cast<uint8_t>(255 - p[i]);
    }
    if (ribbon == 5 || ribbon == 6 || ribbon == 7) {
      for (size_t i = 0; i < n_; ++i) bmp.pFluorescent[i] = static_cast<uint8_t>((y[i] + m[i] + c[i]) / 3);
    }
    if (!present_[kPrnYellow]) {
      for (size_t i = 0; i < n_; ++i) {
        const uint8_t grey = static_cast<uint8_t>((y[i] + m[i] + c[i]) / 3);
        bmp.pResin[i] = std::max(bmp.pResin[i], grey);
      }
    }
    if (present_[kPrnBlack]) dither(bmp.pResin, w_, h_, page_.oemdev, scratch_.get());
    if (present_[kPrnFluorescent]) dither(bmp.pFluorescent, w_, h_, page_.oemdev, scratch_.get());
  }

  void turn() {
    for (int i = 0; i < kPrnPanelCount; ++i) {
      if (present_[i]) prn::turnClockwise(buffer_[i], w_, h_, scratch_.get());
    }
    std::swap(w_, h_);
    page_.prop.width = w_;
    page_.prop.height = h_;
  }

  void compensate() {
    for (int i = 0; i < kPrnPanelCount; ++i) {
      if (!present_[i]) continue;
      const prn::HeatCoefficients c =
          prn::heatCoefficients(i, page_.prop.ribbon, page_.oemdev.dwErase);
      prn::compensateHeat(buffer_[i], w_, h_, c);
    }
  }

  int encode() {
    PrnWorkArea& out = page_.prn;
    uint16_t flags = 0;
    if (present_[kPrnOverlay] && page_.oemdev.dwDocLamiOverlay == 0) {
      std::memset(buffer_[kPrnOverlay], 0, n_);
    }
    if (page_.prop.ribbon == 9) {
      uint8_t* k = buffer_[kPrnBlack];
      const uint8_t* o = buffer_[kPrnOverlay];
      for (size_t i = 0; i < n_; ++i) k[i] = std::max(k[i], o[i]);
      present_[kPrnOverlay] = false;
    }
    out.sectionCount = 0;
    out.overflowUsed = 0;
    uint32_t total = kPrnHeaderSize;
    for (int i = 0; i < kPrnPanelCount; ++i) {
      if (!present_[i]) continue;
      flags |= kPanelIds[i];
      const LineWindow win = chooseLines(buffer_[i], w_, h_, i, page_);
      const size_t length =
          encodePanel(buffer_[i], w_, win, scratch_.get(), scratchSize_, planes_.get());
      if (length == SIZE_MAX) return 0;
      if (!store(i, length)) return 0;
      uint8_t* head = out.panelHeader[i];
      head[0] = kPanelIds[i];
      head[1] = win.encoding;
      prn::putLe16(head + 2, win.last >= win.first ? static_cast<uint32_t>(win.first) : 0);
      prn::putLe32(head + 4, static_cast<uint32_t>(length));
      total += static_cast<uint32_t>(kPrnPanelHeaderSize + length);
    }
    if (page_.prop.ribbon == 9) flags = kMergedFlags;
    for (int i = 0; i < kPrnPanelCount; ++i) {
      if (present_[i]) out.sectionOrder[out.sectionCount++] = i;
    }
    // Ribbon code 8 of the first generation prints fluorescent before black.
    if (page_.prop.ribbon == 8 && page_.prop.ribbon_type == 1) {
      int* begin = out.sectionOrder;
      int* end = out.sectionOrder + out.sectionCount;
      int* k = std::find(begin, end, kPrnBlack);
      int* f = std::find(begin, end, kPrnFluorescent);
      if (k != end && f != end) std::iter_swap(k, f);
    }
    uint8_t* head = out.header;
    std::memset(head, 0, kPrnHeaderSize);
    head[0] = 'C';
    head[1] = 'P';
    head[2] = 2;
    head[3] = sideByte(page_.prop.side, page_.oemdev.dwDocLamiSide);
    prn::putLe32(head + 4, total);
    prn::putLe16(head + 10, flags);
    prn::putLe16(head + 16, static_cast<uint32_t>(h_));
    prn::putLe16(head + 18, static_cast<uint32_t>(w_));
    out.complete = 1;
    return 1;
  }

  // Encoded data goes back over the panel's own buffer; what is longer
  // than the panel goes to the page's overflow buffer, grown when a busy
  // card needs more than it holds.
  bool store(int index, size_t length) {
    PrnWorkArea& out = page_.prn;
    const size_t own = std::min(length, n_);
    const size_t extra = length - own;
    if (extra > 0) {
      const size_t needed = out.overflowUsed + extra;
      if (needed > out.overflow.size()) {
        try {
          out.overflow.resize(std::max(needed, out.overflow.size() + out.overflow.size() / 2));
        } catch (const std::bad_alloc&) {
          return false;
        }
      }
      std::memcpy(out.overflow.data() + out.overflowUsed, scratch_.get() + own, extra);
    }
    std::memcpy(buffer_[index], scratch_.get(), own);
    out.panelData[index] = buffer_[index];
    out.ownLength[index] = own;
    out.overflowOffset[index] = out.overflowUsed;
    out.overflowLength[index] = extra;
    out.overflowUsed += extra;
    return true;
  }

  PrintPage& page_;
  int w_ = 0;
  int h_ = 0;
  size_t n_ = 0;
  bool present_[kPrnPanelCount] = {};
  uint8_t* buffer_[kPrnPanelCount] = {};
  std::unique_ptr<uint8_t[]> scratch_;
  size_t scratchSize_ = 0;
  std::unique_ptr<uint8_t[]> planes_;
};

// Collects the image into one byte string.
class ByteCollector : public PrintDataSink {
 public:
  explicit ByteCollector(std::vector<uint8_t>* out) : out_(*out) {}
  uint32_t sendPrintData(const uint8_t* data, size_t length) override {
    out_.insert(out_.end(), data, data + length);
    return rc::kSuccess;
  }
  uint32_t waitPrintEnd() override { return rc::kSuccess; }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace

int PageMakePrn(PrintPage* page) {
  if (page == nullptr) return 0;
  return renderGuard([&] { return PrnMaker(page).run(); });
}

uint32_t PageSendPrn(PrintPage* page, PrintDataSink& sink, int wait) {
  if (page == nullptr || !PageIsReady(page) || page->prn.complete != 1) return rc::kFail;
  const PrnWorkArea& prn = page->prn;
  uint32_t result = sink.sendPrintData(prn.header, kPrnHeaderSize);
  if (result != rc::kSuccess) return result;
  for (int s = 0; s < prn.sectionCount; ++s) {
    const int i = prn.sectionOrder[s];
    result = sink.sendPrintData(prn.panelHeader[i], kPrnPanelHeaderSize);
    if (result != rc::kSuccess) return result;
    if (prn.ownLength[i] > 0) {
      result = sink.sendPrintData(prn.panelData[i], prn.ownLength[i]);
      if (result != rc::kSuccess) return result;
    }
    if (prn.overflowLength[i] > 0) {
      result = sink.sendPrintData(prn.overflow.data() + prn.overflowOffset[i],
                                  prn.overflowLength[i]);
      if (result != rc::kSuccess) return result;
    }
  }
  return wait == 1 ? sink.waitPrintEnd() : rc::kSuccess;
}

int PagePrnBytes(PrintPage* page, std::vector<uint8_t>* out) {
  if (out == nullptr) return 0;
  out->clear();
  try {
    ByteCollector collector(out);
    if (PageSendPrn(page, collector, 0) == rc::kSuccess) return 1;
  } catch (const std::bad_alloc&) {
  }
  out->clear();
  return 0;
}

}  // namespace tavik
