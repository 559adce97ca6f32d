#pragma once

// The window's sizes are given in pixels for 8 pt MS Sans Serif at 96 dpi, whose lines are 13
// pixels high. WindowMetrics turns such a size into one for the font and screen in use, so that
// a larger font or a denser screen enlarges the window instead of cutting its texts.
class WindowMetrics {
 public:
  static constexpr int kDesignFontHeight = 13;
  static constexpr int kDesignDpi = 96;

  // fontHeight: the line height of the window's font in pixels; logicalDpi: the screen's.
  WindowMetrics(int fontHeight, double logicalDpi);

  // Never below 1: the documented sizes are the smallest the window takes.
  int scaled(int designPixels) const;
  // The scaled size, or the content's own when that is larger.
  int fitting(int designPixels, int contentPixels) const;

 private:
  double factor_;
};
