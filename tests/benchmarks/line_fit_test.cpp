#include "benchmarks/line_fit.h"

#include <gtest/gtest.h>

namespace {

TEST(BenchLineFit, FindsTheLineThroughPointsOnIt) {
  const bench::LineFit fit = bench::fit_line({1, 2, 4, 8, 19}, {5, 7, 11, 19, 41});
  EXPECT_NEAR(fit.intercept, 3, 1e-9);
  EXPECT_NEAR(fit.slope, 2, 1e-9);
  EXPECT_NEAR(fit.r_squared, 1, 1e-12);
  EXPECT_NEAR(fit.worst_deviation, 0, 1e-12);
  ASSERT_EQ(fit.step_slopes.size(), 4u);
  for (const double step : fit.step_slopes) EXPECT_NEAR(step, 2, 1e-9);
}

TEST(BenchLineFit, ShowsQuadraticGrowthInItsStepsAndDeviation) {
  const bench::LineFit fit = bench::fit_line({0, 1, 16, 256}, {0, 1, 256, 65536});
  ASSERT_EQ(fit.step_slopes.size(), 3u);
  EXPECT_NEAR(fit.step_slopes[0], 1, 1e-9);
  EXPECT_NEAR(fit.step_slopes[1], 17, 1e-9);
  EXPECT_NEAR(fit.step_slopes[2], 272, 1e-9);
  EXPECT_GT(fit.worst_deviation, 1.0);
}

TEST(BenchLineFit, GivesNoLineForFewerThanTwoDistinctPoints) {
  EXPECT_EQ(bench::fit_line({3}, {4}).slope, 0);
  EXPECT_EQ(bench::fit_line({3, 3}, {4, 5}).slope, 0);
  EXPECT_EQ(bench::fit_line({}, {}).r_squared, 0);
}

}  // namespace
