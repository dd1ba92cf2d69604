// Internal to render/: the boundary that keeps the drawing library's
// exceptions (its argument checks, memory shortage) inside the renderer.
#pragma once

#include <opencv2/core.hpp>

#include <exception>

namespace tavik {

// Runs `body` (returning 1 or 0) and turns any exception into 0.
template <typename Body>
int renderGuard(Body&& body) noexcept {
  try {
    return body();
  } catch (const cv::Exception&) {
    return 0;
  } catch (const std::exception&) {
    return 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace tavik
