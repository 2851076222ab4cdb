#include "benchmarks/tools/semaphore_timing.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "platform/bus_semaphore.h"

namespace semaphore_timing {
namespace {

// A peer that makes no progress for this long has died or hangs.
constexpr std::int64_t kStallLimitNs = 5'000'000'000;

std::int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void nap_us(long us) {
  const timespec pause{0, us * 1000};
  nanosleep(&pause, nullptr);
}

// Written by both processes into memory they share; read by the parent
// once the helper has ended.
struct Round {
  std::int64_t released_ns;
  std::int64_t acquired_ns;
  std::int32_t first_try;  // the waiter's first wait got the count
};

// The shared mapping: a flag, then one Round per hand-off.
struct Shared {
  std::atomic<std::int32_t>* failed;
  Round* rounds;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Round i goes from the parent to the helper when i is even, back when odd.
// The holder releases only once the other is blocked in its wait, so the
// figure is the kernel's hand-off and the waking of the waiter, not the
// time the waiter needed to reach its wait.
bool play(bool is_parent, bus_semaphore::Handle handle, const Shared& shared, const Plan& plan) {
  for (int i = 0; i < plan.handoffs; ++i) {
    Round& round = shared.rounds[i];
    const bool holder = (i % 2 == 0) == is_parent;
    const std::int64_t give_up = monotonic_ns() + kStallLimitNs;
    if (holder) {
      while (bus_semaphore::waiters(handle) < 1) {
        if (shared.failed->load() != 0 || monotonic_ns() > give_up) return false;
        nap_us(20);
      }
      round.released_ns = monotonic_ns();
      if (!bus_semaphore::release(handle)) return false;
    } else {
      int attempts = 0;
      while (!bus_semaphore::wait(handle, plan.timeout_ms)) {
        ++attempts;
        if (shared.failed->load() != 0 || monotonic_ns() > give_up) return false;
      }
      round.acquired_ns = monotonic_ns();
      round.first_try = attempts == 0;
    }
  }
  // The waiter of the last round holds the slot (the parent when there were none).
  const bool holds_last = plan.handoffs == 0 ? is_parent : ((plan.handoffs - 1) % 2 == 0) != is_parent;
  return !holds_last || bus_semaphore::release(handle);
}

bool fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

bool measure_handoffs(bus_semaphore::Handle handle, const Plan& plan, Figures& figures,
                      std::string* error) {
  static_assert(alignof(Round) <= alignof(std::max_align_t));
  constexpr std::size_t kRoundsOffset = alignof(std::max_align_t);
  static_assert(sizeof(std::atomic<std::int32_t>) <= kRoundsOffset);
  const std::size_t bytes = kRoundsOffset + sizeof(Round) * static_cast<std::size_t>(plan.handoffs);
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return fail(error, "cannot map shared memory");
  // A fresh anonymous mapping is zero-filled; the rounds need no start value.
  Shared shared{new (memory) std::atomic<std::int32_t>(0),
                reinterpret_cast<Round*>(static_cast<char*>(memory) + kRoundsOffset)};

  if (!bus_semaphore::wait(handle, 1000)) {
    munmap(memory, bytes);
    return fail(error, "cannot take the private semaphore");
  }
  const pid_t helper = fork();
  if (helper < 0) {
    bus_semaphore::release(handle);
    munmap(memory, bytes);
    return fail(error, "cannot fork the helper process");
  }
  if (helper == 0) {
    const bool ok = play(false, handle, shared, plan);
    if (!ok) shared.failed->store(1);
    _exit(ok ? 0 : 1);
  }
  const bool ok = play(true, handle, shared, plan);
  if (!ok) shared.failed->store(1);
  int status = 0;
  waitpid(helper, &status, 0);
  const bool helper_ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;

  std::vector<double> handoff_ms;
  for (int i = 0; i < plan.handoffs; ++i) {
    const Round& round = shared.rounds[i];
    if (round.first_try) handoff_ms.push_back((round.acquired_ns - round.released_ns) / 1e6);
  }
  munmap(memory, bytes);
  if (!ok || !helper_ok) return fail(error, "the hand-off between the two processes stalled");

  figures.handoffs_measured = static_cast<int>(handoff_ms.size());
  if (!handoff_ms.empty()) {
    figures.handoff_median_ms = median(handoff_ms);
    figures.handoff_worst_ms = *std::max_element(handoff_ms.begin(), handoff_ms.end());
  }
  return true;
}

// The process holds the slot itself, so each wait runs to its time-out.
bool measure_timeouts(bus_semaphore::Handle handle, const Plan& plan, Figures& figures,
                      std::string* error) {
  if (plan.timeouts == 0) return true;
  if (!bus_semaphore::wait(handle, 1000)) return fail(error, "cannot take the private semaphore");
  std::vector<double> lengths_ms;
  for (int i = 0; i < plan.timeouts; ++i) {
    const std::int64_t start = monotonic_ns();
    const bool taken = bus_semaphore::wait(handle, plan.timeout_ms);
    const std::int64_t end = monotonic_ns();
    if (taken) {
      bus_semaphore::release(handle);
      return fail(error, "a wait on a held slot did not time out");
    }
    lengths_ms.push_back((end - start) / 1e6);
  }
  bus_semaphore::release(handle);
  figures.timeouts_measured = plan.timeouts;
  figures.timeout_min_ms = *std::min_element(lengths_ms.begin(), lengths_ms.end());
  figures.timeout_max_ms = *std::max_element(lengths_ms.begin(), lengths_ms.end());
  figures.timeout_median_ms = median(lengths_ms);
  return true;
}

}  // namespace

std::optional<Figures> measure(const Plan& plan, std::string* error) {
  if (plan.handoffs < 0 || plan.timeouts < 0 || plan.timeout_ms <= 0) {
    fail(error, "counts must not be negative and the time-out must be positive");
    return std::nullopt;
  }
  // A private name per run: a real bus lock on the machine is never touched.
  const std::string name = "semaphore_timing." + std::to_string(getpid()) + ".I2CSEMA1";
  bus_semaphore::Handle handle = bus_semaphore::create(name.c_str());
  if (!handle.valid()) {
    fail(error, "cannot create the semaphore " + name);
    return std::nullopt;
  }
  Figures figures;
  const bool ok = measure_handoffs(handle, plan, figures, error) &&
                  measure_timeouts(handle, plan, figures, error);
  bus_semaphore::remove(name.c_str());
  if (!ok) return std::nullopt;
  return figures;
}

}  // namespace semaphore_timing
