// A line program run access by access: each step's accesses through the
// two port routines it is given, in order, exactly as the caller would
// make them one at a time. The port layer runs programs so for every
// backend that cannot send them whole, and the bus library for a port-I/O
// library that lacks the program call; a batching backend runs its waits
// so.
#pragma once

#include <time.h>

#include <cstdint>

#include "dlportio.h"

namespace line_program {

inline long long monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Whether a WAIT that began at `began` (monotonic ns) has run out of the
// real time its ns allows (never, for ns 0).
inline bool out_of_time(const DlPortStep& step, long long began) {
  return step.ns != 0 && monotonic_ns() - began >= static_cast<long long>(step.ns);
}

// Whether a look at `value` finds what a WAIT or CHECK step asks.
inline bool holds(const DlPortStep& step, std::uint8_t value) {
  const bool all_set = (value & step.mask) == step.mask;
  return all_set == (step.value != 0);
}

// One step; false when it is a WAIT or CHECK that failed.
template <typename Read, typename Write>
bool run_step(const DlPortStep* steps, long index, std::uint8_t* results, Read read, Write write) {
  const DlPortStep& step = steps[index];
  std::uint8_t& result = results[index];
  switch (step.kind) {
    case DLPORT_STEP_WRITE:
      write(step.port, step.value);
      result = step.value;
      return true;
    case DLPORT_STEP_MODIFY: {
      const std::uint8_t now = read(step.port);
      result = static_cast<std::uint8_t>(step.value != 0 ? now | step.mask : now & ~step.mask);
      write(step.port, result);
      return true;
    }
    case DLPORT_STEP_READ:
      result = read(step.port);
      return true;
    case DLPORT_STEP_DELAY:
      for (unsigned done = 0; done < step.count; ++done) static_cast<void>(read(step.port));
      result = 0;
      return true;
    case DLPORT_STEP_WAIT: {
      const long long began = step.ns != 0 ? monotonic_ns() : 0;
      for (unsigned look = 0; look < step.count && !(look > 0 && out_of_time(step, began));
           ++look) {
        if (holds(step, read(step.port))) {
          result = 1;
          return true;
        }
        static_cast<void>(read(step.aux));
      }
      result = 0;
      return false;
    }
    case DLPORT_STEP_CHECK:
      result = step.count < static_cast<unsigned>(index) && holds(step, results[step.count]) ? 1 : 0;
      return result != 0;
    default:
      result = 0;
      return true;
  }
}

// Steps carried out: all of them, or up to the WAIT or CHECK that failed.
template <typename Read, typename Write>
long run(const DlPortStep* steps, long count, std::uint8_t* results, Read read, Write write) {
  for (long index = 0; index < count; ++index) {
    if (!run_step(steps, index, results, read, write)) return index + 1;
  }
  return count;
}

}  // namespace line_program
