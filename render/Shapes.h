// Internal to render/: shapes the drawing library would draw slowly. Its
// filled polygons take time in proportion to their size, not to what is
// visible, so a box of two billion pixels would hold the module for
// seconds; these helpers cut shapes to the panel first.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>

namespace tavik {

// Filled shapes whose extent reaches beyond this many pixels from the page
// origin are refused: no card needs them and they cost seconds to fill.
inline constexpr int64_t kFillReach = int64_t{1} << 20;

// The axis-parallel box with corners (x1, y1) and (x2, y2), both included,
// filled, or as an outline of `thickness` (cv::FILLED for filled). Corners
// far outside the panel are pulled in to just outside it, which paints the
// same pixels.
inline void drawBox(cv::Mat& img, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                    const cv::Scalar& ink, int thickness) {
  const int64_t margin = (thickness > 0 ? thickness : 0) + 2;
  auto clampX = [&](int64_t x) { return std::clamp<int64_t>(x, -margin, img.cols + margin); };
  auto clampY = [&](int64_t y) { return std::clamp<int64_t>(y, -margin, img.rows + margin); };
  cv::rectangle(img, cv::Point(static_cast<int>(clampX(x1)), static_cast<int>(clampY(y1))),
                cv::Point(static_cast<int>(clampX(x2)), static_cast<int>(clampY(y2))), ink,
                thickness, cv::LINE_8, 0);
}

// True when every value lies within kFillReach of the origin.
inline bool withinFillReach(std::initializer_list<int64_t> values) {
  return std::all_of(values.begin(), values.end(),
                     [](int64_t v) { return v >= -kFillReach && v <= kFillReach; });
}

}  // namespace tavik
