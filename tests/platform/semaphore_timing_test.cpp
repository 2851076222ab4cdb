#include "benchmarks/tools/semaphore_timing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/bus_semaphore.h"

namespace {

TEST(SemaphoreTiming, GivesPlausibleFiguresAndLeavesNoSemaphoreBehind) {
  const std::string prefix = "twtest." + std::to_string(getpid()) + ".timing.";
  setenv("TARNWICK_SEM_PREFIX", prefix.c_str(), 1);

  std::string error;
  const auto figures = semaphore_timing::measure({.handoffs = 20, .timeouts = 2, .timeout_ms = 100},
                                                 &error);
  ASSERT_TRUE(figures.has_value()) << error;
  EXPECT_GT(figures->handoffs_measured, 0);
  EXPECT_LE(figures->handoffs_measured, 20);
  EXPECT_GE(figures->handoff_median_ms, 0.0);
  EXPECT_GE(figures->handoff_worst_ms, figures->handoff_median_ms);
  EXPECT_EQ(figures->timeouts_measured, 2);
  EXPECT_GE(figures->timeout_min_ms, 99.0);
  EXPECT_GE(figures->timeout_median_ms, figures->timeout_min_ms);
  EXPECT_GE(figures->timeout_max_ms, figures->timeout_median_ms);

  const std::string name = "semaphore_timing." + std::to_string(getpid()) + ".I2CSEMA1";
  EXPECT_FALSE(bus_semaphore::open(name.c_str()).valid()) << "left behind: " << prefix << name;
  unsetenv("TARNWICK_SEM_PREFIX");
}

TEST(SemaphoreTiming, RefusesANegativePlanWithAReason) {
  std::string error;
  EXPECT_FALSE(semaphore_timing::measure({.handoffs = -1}, &error).has_value());
  EXPECT_FALSE(error.empty());
}

}  // namespace
