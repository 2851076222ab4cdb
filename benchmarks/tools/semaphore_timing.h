// How fast the bus semaphores hand a bus from one process to another, and
// how long their time-outs really last. Measured on a private semaphore
// name that is removed afterwards, so a bus in use on the machine is never
// touched.
#pragma once

#include <optional>
#include <string>

namespace semaphore_timing {

struct Plan {
  int handoffs = 200;   // hand-offs between the two processes
  int timeouts = 10;    // waits that must time out
  int timeout_ms = 100; // the time-out of those waits
};

struct Figures {
  // Release by one process to the return of the other's wait, counted only
  // where the other was already blocked in its wait when the release came.
  int handoffs_measured = 0;
  double handoff_median_ms = 0;
  double handoff_worst_ms = 0;
  // Length of a wait on a slot that stays held.
  int timeouts_measured = 0;
  double timeout_min_ms = 0;
  double timeout_median_ms = 0;
  double timeout_max_ms = 0;
};

// Forks one helper process for the hand-offs. On failure gives no figures
// and, when `error` is given, says why there.
std::optional<Figures> measure(const Plan& plan, std::string* error = nullptr);

}  // namespace semaphore_timing
