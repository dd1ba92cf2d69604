// Lines, rectangles, ellipses and stored images on the page's panels.
#include "render/PageDraw.h"

#include "platform/Paths.h"
#include "render/ImageProbe.h"
#include "render/PrintPage.h"
#include "render/RenderGuard.h"
#include "render/Shapes.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>

namespace tavik {

namespace {

// The drawing library refuses wider strokes on the module; keep the limit
// everywhere so that a card draws the same on every build.
constexpr int kMaxThickness = 255;

// Colour as the drawing library takes it: blue-green-red, so that a
// single-channel panel receives the b argument.
cv::Scalar inkOf(int r, int g, int b) { return cv::Scalar(b, g, r); }

// A window (x, y, w, h) in 64-bit arithmetic, clipped to a w x h image.
struct Window {
  int64_t x, y, w, h;
};

bool clipTo(const Window& in, int width, int height, cv::Rect* out) {
  const int64_t x0 = std::max<int64_t>(in.x, 0);
  const int64_t y0 = std::max<int64_t>(in.y, 0);
  const int64_t x1 = std::min<int64_t>(in.x + in.w, width);
  const int64_t y1 = std::min<int64_t>(in.y + in.h, height);
  if (x1 <= x0 || y1 <= y0) return false;
  *out = cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                  static_cast<int>(y1 - y0));
  return true;
}

// Chooses the source window in the image and the destination window in
// the page by comparing the box's and the image's aspect ratios. False for
// an unknown scale.
bool placeImage(int scale, int64_t sx, int64_t sy, int64_t bw, int64_t bh, int64_t iw, int64_t ih,
                Window* src, Window* dst) {
  *src = Window{0, 0, iw, ih};
  *dst = Window{sx, sy, bw, bh};
  const int64_t boxRatio = bw * 1000 / bh;
  const int64_t imageRatio = iw * 1000 / ih;
  const bool imageWider = boxRatio < imageRatio;
  auto cropSides = [&] {
    src->w = bw * ih / bh;
    src->x = (iw - src->w) / 2;
  };
  auto cropTopBottom = [&] {
    src->h = iw * bh / bw;
    src->y = (ih - src->h) / 2;
  };
  auto bandOfBoxWidth = [&] {
    dst->h = bw * ih / iw;
    dst->y = sy + (bh - dst->h) / 2;
  };
  auto bandOfBoxHeight = [&] {
    dst->w = iw * bh / ih;
    dst->x = sx + (bw - dst->w) / 2;
  };
  switch (scale) {
    case kScaleBest: imageWider ? cropSides() : cropTopBottom(); return true;
    case kScaleWidth: imageWider ? bandOfBoxWidth() : cropTopBottom(); return true;
    case kScaleHeight: imageWider ? cropSides() : bandOfBoxHeight(); return true;
    case kScaleFull: imageWider ? bandOfBoxWidth() : bandOfBoxHeight(); return true;
    default: return false;
  }
}

int drawImage(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
              int scale, const std::string& path) {
  const int64_t bw = int64_t{ex} - sx;
  const int64_t bh = int64_t{ey} - sy;
  if (bw <= 0 || bh <= 0) return 0;
  cv::Mat* target = PageGetPanel(page, panel);
  if (target == nullptr) return 0;
  const std::string file = platform::hostPath(path);
  if (!imageSizeAllowed(file)) return 0;
  cv::Mat image = cv::imread(file, cv::IMREAD_COLOR);
  if (image.empty()) return 0;

  Window src, dst;
  if (!placeImage(scale, sx, sy, bw, bh, image.cols, image.rows, &src, &dst)) return 0;
  // A window reaching past an image is cut to it; one that lies wholly
  // outside (or shrank to nothing) leaves nothing to draw: fail untouched.
  cv::Rect srcRect, dstRect;
  if (!clipTo(src, image.cols, image.rows, &srcRect)) return 0;
  if (!clipTo(dst, target->cols, target->rows, &dstRect)) return 0;

  cv::Mat source = image(srcRect);
  if (target->channels() == 1) {
    cv::Mat grey;
    cv::cvtColor(source, grey, cv::COLOR_BGR2GRAY);
    source = grey;
  }
  drawBox(*target, sx, sy, ex, ey, inkOf(r, g, b), cv::FILLED);
  // Same size and type: the resize writes straight into the page, no copy.
  cv::Mat window = (*target)(dstRect);
  cv::resize(source, window, dstRect.size(), 0, 0, cv::INTER_LINEAR);
  return 1;
}

}  // namespace

int PageDrawLine(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                 int thickness) {
  return renderGuard([&] {
    cv::Mat* target = PageGetPanel(page, panel);
    if (target == nullptr || thickness < 1 || thickness > kMaxThickness) return 0;
    cv::line(*target, cv::Point(sx, sy), cv::Point(ex, ey), inkOf(r, g, b), thickness, cv::LINE_8,
             0);
    return 1;
  });
}

int PageDrawRectangle(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g,
                      int b, int thickness, int filled) {
  return renderGuard([&] {
    cv::Mat* target = PageGetPanel(page, panel);
    if (target == nullptr) return 0;
    if (filled != 1 && thickness > kMaxThickness) return 0;
    drawBox(*target, sx, sy, ex, ey, inkOf(r, g, b), filled == 1 ? cv::FILLED : thickness);
    return 1;
  });
}

int PageDrawCircle(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                   int thickness, int filled) {
  return renderGuard([&] {
    cv::Mat* target = PageGetPanel(page, panel);
    if (target == nullptr) return 0;
    if (filled != 1 && thickness > kMaxThickness) return 0;
    const int64_t cx = (int64_t{sx} + ex) / 2;
    const int64_t cy = (int64_t{sy} + ey) / 2;
    const int64_t ax = (int64_t{ex} - sx) / 2;
    const int64_t ay = (int64_t{ey} - sy) / 2;
    // Negative semi-axes: the box's end lies left of or above its start.
    if (ax < 0 || ay < 0) return 0;
    const bool fill = filled == 1 || thickness < 0;
    if (fill && !withinFillReach({cx - ax, cx + ax, cy - ay, cy + ay})) return 0;
    cv::ellipse(*target, cv::Point(static_cast<int>(cx), static_cast<int>(cy)),
                cv::Size(static_cast<int>(ax), static_cast<int>(ay)), 0, 0, 360, inkOf(r, g, b),
                filled == 1 ? cv::FILLED : thickness, cv::LINE_8, 0);
    return 1;
  });
}

int PageDrawImage(PrintPage* page, int panel, int sx, int sy, int ex, int ey, int r, int g, int b,
                  int scale, const std::string& path) {
  return renderGuard(
      [&] { return drawImage(page, panel, sx, sy, ex, ey, r, g, b, scale, path); });
}

}  // namespace tavik
