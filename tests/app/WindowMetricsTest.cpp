#include "app/WindowMetrics.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct ScaleCase {
  const char* name;
  int fontHeight;
  double dpi;
  int design;
  int expected;
};

class WindowMetricsScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(WindowMetricsScale, ScalesTheDocumentedSize) {
  const ScaleCase& c = GetParam();
  EXPECT_EQ(WindowMetrics(c.fontHeight, c.dpi).scaled(c.design), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, WindowMetricsScale,
    ::testing::Values(ScaleCase{"DocumentedFont", 13, 96, 686, 686},
                      ScaleCase{"SmallerFontKeepsTheDocumentedSize", 9, 96, 686, 686},
                      ScaleCase{"TwiceTheFontHeight", 26, 96, 91, 182},
                      ScaleCase{"LargerFontRoundsToNearest", 16, 96, 75, 92},
                      ScaleCase{"DenseScreenWithASmallFont", 13, 144, 30, 45},
                      ScaleCase{"TheLargerOfFontAndScreen", 26, 144, 50, 100},
                      ScaleCase{"NoFontHeight", 0, 96, 19, 19},
                      ScaleCase{"NegativeDpi", 13, -96, 19, 19},
                      ScaleCase{"NanDpi", 13, std::numeric_limits<double>::quiet_NaN(), 19, 19},
                      ScaleCase{"InfiniteDpi", 13, std::numeric_limits<double>::infinity(), 10, 10},
                      ScaleCase{"AbsurdFontIsCapped", 13000, 96, 10, 80}),
    [](const auto& p) { return std::string(p.param.name); });

struct FitCase {
  const char* name;
  int fontHeight;
  int design;
  int content;
  int expected;
};

class WindowMetricsFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(WindowMetricsFit, TakesTheLargerOfScaledSizeAndContent) {
  const FitCase& c = GetParam();
  EXPECT_EQ(WindowMetrics(c.fontHeight, 96).fitting(c.design, c.content), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Contents, WindowMetricsFit,
                         ::testing::Values(FitCase{"ContentFitsTheDocumentedSize", 13, 75, 60, 75},
                                           FitCase{"ContentWiderThanDocumented", 13, 75, 90, 90},
                                           FitCase{"ScaledSizeHoldsTheContent", 26, 75, 90, 150},
                                           FitCase{"ContentWiderThanScaled", 26, 381, 900, 900}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
