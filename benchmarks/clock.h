// Time for the benchmarks: CLOCK_MONOTONIC only, and figures taken as the
// best or the median of several runs, so that a busy machine shifts them
// as little as possible.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace bench {

inline std::int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Nanoseconds that one run of `action` took.
template <class Action>
double time_ns(Action&& action) {
  const std::int64_t begin = monotonic_ns();
  action();
  return static_cast<double>(monotonic_ns() - begin);
}

// The shortest of `runs` runs: noise only ever makes a run longer.
template <class Action>
double best_ns(int runs, Action&& action) {
  double best = 0;
  for (int i = 0; i < runs; ++i) {
    const double t = time_ns(action);
    if (i == 0 || t < best) best = t;
  }
  return best;
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace bench
