#include "app/WindowMetrics.h"

#include <algorithm>
#include <cmath>

WindowMetrics::WindowMetrics(int fontHeight, double logicalDpi) : factor_(1.0) {
  // A screen that reports nonsense (0, negative, NaN) must not shrink or explode the window.
  if (fontHeight > 0) factor_ = std::max(factor_, double(fontHeight) / kDesignFontHeight);
  if (std::isfinite(logicalDpi) && logicalDpi > 0)
    factor_ = std::max(factor_, logicalDpi / kDesignDpi);
  // Beyond this nothing fits on any screen anyway.
  factor_ = std::min(factor_, 8.0);
}

int WindowMetrics::scaled(int designPixels) const {
  return int(std::lround(designPixels * factor_));
}

int WindowMetrics::fitting(int designPixels, int contentPixels) const {
  return std::max(scaled(designPixels), contentPixels);
}
