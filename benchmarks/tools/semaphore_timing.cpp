// semaphore_timing [HANDOFFS [TIMEOUTS]]
//
// Measures the bus semaphores on this machine: two processes hand one
// private slot back and forth HANDOFFS times (default 200), then a held
// slot is waited on TIMEOUTS times (default 10) with the library's 100 ms
// time-out. Prints the figures; exit status 0 on success, 1 when the
// measurement failed, 2 on bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "benchmarks/tools/semaphore_timing.h"

namespace {

bool parse_count(const char* text, int& count) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 1'000'000) return false;
  count = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  semaphore_timing::Plan plan;
  if (argc > 3 || (argc > 1 && !parse_count(argv[1], plan.handoffs)) ||
      (argc > 2 && !parse_count(argv[2], plan.timeouts))) {
    std::fprintf(stderr, "usage: %s [HANDOFFS [TIMEOUTS]]  (whole numbers, 0 to 1000000)\n",
                 argv[0]);
    return 2;
  }
  std::string error;
  const auto figures = semaphore_timing::measure(plan, &error);
  if (!figures) {
    std::fprintf(stderr, "semaphore_timing: %s\n", error.c_str());
    return 1;
  }
  std::printf("hand-off, release to acquire: %d measured of %d, median %.3f ms, worst %.3f ms\n",
              figures->handoffs_measured, plan.handoffs, figures->handoff_median_ms,
              figures->handoff_worst_ms);
  std::printf("%d ms time-out: %d waits, min %.3f ms, median %.3f ms, max %.3f ms\n",
              plan.timeout_ms, figures->timeouts_measured, figures->timeout_min_ms,
              figures->timeout_median_ms, figures->timeout_max_ms);
  return 0;
}
