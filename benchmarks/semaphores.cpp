// The bus semaphores against their floor: the same hand-offs between two
// processes and the same 100 ms time-outs, measured on a plain POSIX
// semaphore in shared memory (a futex underneath) in the same run.
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "benchmarks/clock.h"
#include "benchmarks/host.h"
#include "benchmarks/section.h"
#include "benchmarks/tools/semaphore_timing.h"

namespace bench {
namespace {

constexpr double kHandoffGoal = 2.0;
constexpr double kTimeoutLowMs = 100;
constexpr double kTimeoutHighMs = 101;
// A peer that makes no progress for this long has died or hangs.
constexpr std::int64_t kStallLimitNs = 5'000'000'000;

using semaphore_timing::Figures;
using semaphore_timing::Plan;

struct Round {
  std::int64_t released_ns;
  std::int64_t acquired_ns;
  std::int32_t first_try;
};

struct Shared {
  sem_t semaphore;
  std::atomic<std::int32_t> failed;
  std::atomic<std::int32_t> waiting_for;  // the round whose waiter is about to wait
  std::atomic<std::int32_t> acquired;     // the last round whose waiter got the count
};

timespec deadline_after_ms(int ms) {
  const std::int64_t at = monotonic_ns() + std::int64_t{ms} * 1'000'000;
  return {static_cast<time_t>(at / 1'000'000'000), static_cast<long>(at % 1'000'000'000)};
}

// True once the process sleeps in the kernel ("S" in /proc/PID/stat).
bool sleeping(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(in, text);
  const auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}

void nap_us(long us) {
  const timespec pause{0, us * 1000};
  nanosleep(&pause, nullptr);
}

// Round i goes from the parent to the helper when i is even, back when odd.
// The holder posts only once the waiter has said which round it waits for
// and sleeps in the kernel, so the figure is the wake-up, as with the bus
// semaphores' own measurement.
bool play(bool is_parent, pid_t peer, Shared& shared, Round* rounds, const Plan& plan) {
  for (int i = 0; i < plan.handoffs; ++i) {
    Round& round = rounds[i];
    const bool holder = (i % 2 == 0) == is_parent;
    const std::int64_t give_up = monotonic_ns() + kStallLimitNs;
    if (holder) {
      while (shared.waiting_for.load() != i || !sleeping(peer)) {
        if (shared.failed.load() != 0 || monotonic_ns() > give_up) return false;
        nap_us(20);
      }
      round.released_ns = monotonic_ns();
      if (sem_post(&shared.semaphore) != 0) return false;
      // A futex hands nothing over: were this process to wait again at
      // once, it could take back the count it has just given.
      while (shared.acquired.load() != i) {
        if (shared.failed.load() != 0 || monotonic_ns() > give_up) return false;
        nap_us(20);
      }
    } else {
      shared.waiting_for.store(i);
      int attempts = 0;
      for (;;) {
        const timespec deadline = deadline_after_ms(plan.timeout_ms);
        if (sem_clockwait(&shared.semaphore, CLOCK_MONOTONIC, &deadline) == 0) break;
        ++attempts;
        if (shared.failed.load() != 0 || monotonic_ns() > give_up) return false;
      }
      round.acquired_ns = monotonic_ns();
      round.first_try = attempts == 0;
      shared.acquired.store(i);
    }
  }
  const bool holds_last =
      plan.handoffs == 0 ? is_parent : ((plan.handoffs - 1) % 2 == 0) != is_parent;
  return !holds_last || sem_post(&shared.semaphore) == 0;
}

std::optional<Figures> measure_floor(const Plan& plan, std::string& error) {
  const std::size_t bytes =
      sizeof(Shared) + sizeof(Round) * static_cast<std::size_t>(std::max(plan.handoffs, 1));
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    error = "cannot map shared memory";
    return std::nullopt;
  }
  // A fresh anonymous mapping is zero-filled; the rounds follow the header.
  static_assert(sizeof(Shared) % alignof(Round) == 0);
  auto* shared = static_cast<Shared*>(memory);
  auto* rounds = reinterpret_cast<Round*>(static_cast<char*>(memory) + sizeof(Shared));
  new (&shared->failed) std::atomic<std::int32_t>(0);
  new (&shared->waiting_for) std::atomic<std::int32_t>(-1);
  new (&shared->acquired) std::atomic<std::int32_t>(-1);
  Figures figures;
  bool ok = sem_init(&shared->semaphore, 1, 0) == 0;  // the parent holds it at first
  if (ok) {
    const pid_t parent = getpid();
    const pid_t helper = fork();
    if (helper == 0) {
      const bool done = play(false, parent, *shared, rounds, plan);
      if (!done) shared->failed.store(1);
      _exit(done ? 0 : 1);
    }
    ok = helper > 0 && play(true, helper, *shared, rounds, plan);
    if (!ok) shared->failed.store(1);
    int status = 0;
    if (helper > 0) waitpid(helper, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  if (ok) {
    std::vector<double> handoff_ms;
    for (int i = 0; i < plan.handoffs; ++i) {
      const Round& round = rounds[i];
      if (round.first_try) handoff_ms.push_back((round.acquired_ns - round.released_ns) / 1e6);
    }
    figures.handoffs_measured = static_cast<int>(handoff_ms.size());
    if (!handoff_ms.empty()) {
      figures.handoff_median_ms = median(handoff_ms);
      figures.handoff_worst_ms = *std::max_element(handoff_ms.begin(), handoff_ms.end());
    }
    // The semaphore is free again; take it and let the waits run out.
    ok = sem_wait(&shared->semaphore) == 0;
    std::vector<double> lengths_ms;
    for (int i = 0; ok && i < plan.timeouts; ++i) {
      const std::int64_t begin = monotonic_ns();
      const timespec deadline = deadline_after_ms(plan.timeout_ms);
      const int result = sem_clockwait(&shared->semaphore, CLOCK_MONOTONIC, &deadline);
      lengths_ms.push_back((monotonic_ns() - begin) / 1e6);
      ok = result != 0 && errno == ETIMEDOUT;
    }
    if (ok && !lengths_ms.empty()) {
      figures.timeouts_measured = static_cast<int>(lengths_ms.size());
      figures.timeout_min_ms = *std::min_element(lengths_ms.begin(), lengths_ms.end());
      figures.timeout_max_ms = *std::max_element(lengths_ms.begin(), lengths_ms.end());
      figures.timeout_median_ms = median(lengths_ms);
    }
    if (!ok) error = "a wait on the held POSIX semaphore did not time out";
  } else {
    error = "the hand-off of the POSIX semaphore between two processes failed";
  }
  sem_destroy(&shared->semaphore);
  munmap(memory, bytes);
  if (!ok) return std::nullopt;
  return figures;
}

void add_rows(Table& table, const char* name, const Figures& f, int handoffs) {
  table.rows.push_back({name, std::to_string(f.handoffs_measured) + " of " + std::to_string(handoffs),
                        fixed(f.handoff_median_ms * 1000, 1), fixed(f.handoff_worst_ms * 1000, 1),
                        std::to_string(f.timeouts_measured), fixed(f.timeout_median_ms, 3),
                        fixed(f.timeout_max_ms, 3)});
}

Json figures_json(const Figures& f) {
  return Json::object()
      .set("handoffs_measured", f.handoffs_measured)
      .set("handoff_median_us", f.handoff_median_ms * 1000)
      .set("handoff_worst_us", f.handoff_worst_ms * 1000)
      .set("timeouts_measured", f.timeouts_measured)
      .set("timeout_min_ms", f.timeout_min_ms)
      .set("timeout_median_ms", f.timeout_median_ms)
      .set("timeout_max_ms", f.timeout_max_ms);
}

// Hand-offs of both kinds in alternating blocks, so that a busy spell of
// the machine weighs on both alike; then the time-outs of both, alternating.
struct Measured {
  std::optional<Figures> bus;
  std::optional<Figures> floor;
};

Measured measure_both(const Options& options, std::vector<std::string>& problems) {
  const int blocks = options.quick ? 2 : 10;
  const int per_block = options.quick ? 10 : 20;
  const int timeouts = options.quick ? 2 : 10;
  std::vector<double> bus_medians;
  std::vector<double> floor_medians;
  Figures bus;
  Figures floor;
  bool bus_ok = true;
  bool floor_ok = true;
  auto add = [](Figures& total, std::vector<double>& medians, const Figures& block) {
    total.handoffs_measured += block.handoffs_measured;
    if (block.handoffs_measured > 0) medians.push_back(block.handoff_median_ms);
    total.handoff_worst_ms = std::max(total.handoff_worst_ms, block.handoff_worst_ms);
  };
  auto run_bus = [&](const Plan& plan) -> std::optional<Figures> {
    std::string error;
    auto figures = semaphore_timing::measure(plan, &error);
    if (!figures && bus_ok) problems.push_back("bus semaphores: " + error);
    if (!figures) bus_ok = false;
    return figures;
  };
  auto run_floor = [&](const Plan& plan) -> std::optional<Figures> {
    std::string error;
    auto figures = measure_floor(plan, error);
    if (!figures && floor_ok) problems.push_back("POSIX semaphore: " + error);
    if (!figures) floor_ok = false;
    return figures;
  };
  const Plan handoffs{per_block, 0, 100};
  for (int block = 0; block < blocks; ++block) {
    if (block % 2 == 0) {
      if (auto f = run_bus(handoffs)) add(bus, bus_medians, *f);
      if (auto f = run_floor(handoffs)) add(floor, floor_medians, *f);
    } else {
      if (auto f = run_floor(handoffs)) add(floor, floor_medians, *f);
      if (auto f = run_bus(handoffs)) add(bus, bus_medians, *f);
    }
  }
  // The time-outs one by one, alternating too: a single late wake-up on a
  // busy machine then shows in both or in neither as often.
  const Plan wait_once{0, 1, 100};
  std::vector<double> bus_waits;
  std::vector<double> floor_waits;
  for (int i = 0; i < timeouts; ++i) {
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == (i % 2 == 0)) {
        if (auto f = run_bus(wait_once)) bus_waits.push_back(f->timeout_max_ms);
      } else {
        if (auto f = run_floor(wait_once)) floor_waits.push_back(f->timeout_max_ms);
      }
    }
  }
  auto set_timeouts = [](Figures& total, const std::vector<double>& waits) {
    if (waits.empty()) return;
    total.timeouts_measured = static_cast<int>(waits.size());
    total.timeout_min_ms = *std::min_element(waits.begin(), waits.end());
    total.timeout_median_ms = median(waits);
    total.timeout_max_ms = *std::max_element(waits.begin(), waits.end());
  };
  set_timeouts(bus, bus_waits);
  set_timeouts(floor, floor_waits);
  bus.handoff_median_ms = median(bus_medians);
  floor.handoff_median_ms = median(floor_medians);
  Measured measured;
  if (bus_ok) measured.bus = bus;
  if (floor_ok) measured.floor = floor;
  return measured;
}

}  // namespace

Section measure_semaphores(Host&, const Options& options) {
  Section section;
  // The measurement's own semaphore, in case a signal ends the run.
  Host::remove_on_signal("semaphore_timing." + std::to_string(getpid()) + ".I2CSEMA1");
  // The helper processes wait on that semaphore; they must be gone first.
  const Measured measured = [&] {
    const EndSignalsHeld held;
    return measure_both(options, section.problems);
  }();
  const std::optional<Figures>& bus = measured.bus;
  const std::optional<Figures>& floor = measured.floor;
  const int handoffs = options.quick ? 20 : 200;

  Table table;
  table.title = "Bus semaphores: hand-off between two processes and the 100 ms time-out";
  table.header = {"semaphore", "hand-offs", "median us", "worst us", "time-outs",
                  "median ms", "max ms"};
  if (bus) add_rows(table, "bus semaphore (System V)", *bus, handoffs);
  if (floor) add_rows(table, "floor: POSIX semaphore (futex)", *floor, handoffs);
  table.notes.push_back("Hand-off: release by one process to the return of the other's wait, "
                        "counted where the other was already asleep in its wait; measured in "
                        "alternating blocks, median of the block medians. Time-outs: waits on a "
                        "held semaphore, alternating between the two; the floor's show how late "
                        "this machine wakes a sleeper.");
  section.tables.push_back(std::move(table));

  const double ratio = bus && floor && floor->handoff_median_ms > 0
                           ? bus->handoff_median_ms / floor->handoff_median_ms
                           : 0;
  const double timeout_max = bus ? bus->timeout_max_ms : 0;
  const double timeout_min = bus ? bus->timeout_min_ms : 0;
  section.headline.set("semaphore_handoff_ratio", ratio);
  section.headline.set("semaphore_timeout_ms_max", timeout_max);
  if (bus) section.details.set("bus_semaphore", figures_json(*bus));
  if (floor) section.details.set("posix_semaphore", figures_json(*floor));
  section.goals.push_back({"bus semaphore hand-off median over the POSIX semaphore's",
                           "at most 2", fixed(ratio, 2), bus && floor && ratio <= kHandoffGoal});
  section.goals.push_back({"bus semaphore 100 ms time-out, shortest to longest", "100 to 101 ms",
                           fixed(timeout_min, 3) + " to " + fixed(timeout_max, 3) + " ms",
                           bus.has_value() && timeout_min >= kTimeoutLowMs &&
                               timeout_max <= kTimeoutHighMs});
  return section;
}

}  // namespace bench
