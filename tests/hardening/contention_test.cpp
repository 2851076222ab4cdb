// Many processes driving the card and the parallel adapters at once: the bus
// semaphores let one transaction at a time hold each slot, and every
// transaction that obtained its slot runs to its end.
//
// Each process loads the library on its own, keeps one adapter for the whole
// run and repeats a pair of transactions on the 24C02 of its bench: one that
// writes two bytes, one that writes the word address and reads them back.
// Between a successful I2C_Start and its I2C_Stop it counts itself in and
// out of its slot in shared memory; a second holder seen there is an
// exclusion failure.
//
//   TARNWICK_CONTENTION_PROCESSES     processes (default 8); they take the
//                                     card, Philips and Custom adapters in
//                                     turn
//   TARNWICK_CONTENTION_TRANSACTIONS  transactions per process (default 1000)
//   TARNWICK_CONTENTION_SECONDS       time bound of the whole run (default 300)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/tarnwick_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxProcesses = 256;
constexpr std::int16_t kEeprom = 0xA0;
constexpr int kSlots = 2;

struct Contention {
  std::atomic<int> holders[kSlots];
  std::atomic<int> most_holders[kSlots];
  std::atomic<long> holds[kSlots];
  std::atomic<long> overlaps;
  std::atomic<long> starts_refused;  // slot not obtained within 100 ms
  std::atomic<int> starting[kSlots];  // processes inside I2C_Start now
  std::atomic<long> contended_holds;  // holds taken while others waited
  std::atomic<long> completed[kMaxProcesses];
  std::atomic<int> failures;
  char first_failure[512];
  std::atomic<bool> failure_written;
};

int slot_of(int interface) { return interface == 1 ? 0 : 1; }

const char* adapter_name(int interface) {
  switch (interface) {
    case 1: return "card";
    case 2: return "Philips adapter";
    default: return "Custom adapter";
  }
}

class Contender {
 public:
  Contender(Contention& record, int index, int interface, Clock::time_point deadline)
      : record_(record),
        index_(index),
        interface_(interface),
        slot_(slot_of(interface)),
        deadline_(deadline) {}

  // One write transaction and one read-back transaction per round.
  bool run(const harness::Exports& bus, long transactions) {
    for (long done = 0; done < transactions; done += 2) {
      const auto cell = static_cast<std::uint8_t>((index_ * 16 + done % 16) & 0xFE);
      const std::uint8_t first = static_cast<std::uint8_t>(done * 7 + index_);
      const std::uint8_t second = static_cast<std::uint8_t>(done / 3 + 0x55);
      const std::uint8_t write[3] = {cell, first, second};
      if (!transaction(bus, [&] {
            return expect("address for writing", bus.I2C_Address(kEeprom), 0) &&
                   expect("bytes written", bus.I2C_Send(3, write), 3);
          })) {
        return false;
      }
      record_.completed[index_]++;
      std::uint8_t read[2] = {0, 0};
      if (!transaction(bus, [&] {
            return expect("address for reading", bus.I2C_Address(kEeprom), 0) &&
                   expect("word address written", bus.I2C_Send(1, &cell), 1) &&
                   expect("bytes read", bus.I2C_Read(2, read), 2) &&
                   expect("first byte read back", read[0], first) &&
                   expect("second byte read back", read[1], second);
          })) {
        return false;
      }
      record_.completed[index_]++;
    }
    return true;
  }

  void fail(const std::string& what) {
    record_.failures++;
    if (!record_.failure_written.exchange(true)) {
      std::snprintf(record_.first_failure, sizeof record_.first_failure,
                    "process %d (%s): %s", index_, adapter_name(interface_), what.c_str());
    }
  }

 private:
  template <typename Body>
  bool transaction(const harness::Exports& bus, Body body) {
    for (;;) {
      if (Clock::now() > deadline_) {
        fail("time bound reached after " + std::to_string(record_.completed[index_]) +
             " transactions");
        return false;
      }
      record_.starting[slot_]++;
      const std::int16_t started = bus.I2C_Start();
      record_.starting[slot_]--;
      if (started == 2) {
        // Another process held the slot for the whole 100 ms wait.
        record_.starts_refused++;
        continue;
      }
      if (!expect("start", started, 0)) return false;
      enter();
      const bool completed = body();
      leave();
      const std::int16_t stopped = bus.I2C_Stop();
      return completed && expect("stop", stopped, 0);
    }
  }

  void enter() {
    const int before = record_.holders[slot_].fetch_add(1);
    if (before != 0) record_.overlaps++;
    int most = record_.most_holders[slot_].load();
    while (before + 1 > most && !record_.most_holders[slot_].compare_exchange_weak(most, before + 1)) {
    }
    record_.holds[slot_]++;
    if (record_.starting[slot_].load() > 0) record_.contended_holds++;
  }

  void leave() { record_.holders[slot_].fetch_sub(1); }

  bool expect(const char* what, long actual, long expected) {
    if (actual == expected) return true;
    fail(std::string(what) + ": expected " + std::to_string(expected) + ", got " +
         std::to_string(actual) + " in transaction " +
         std::to_string(record_.completed[index_] + 1));
    return false;
  }

  Contention& record_;
  int index_;
  int interface_;
  int slot_;
  Clock::time_point deadline_;
};

test_kit::Ini contention_configuration() {
  // Port delays make each hold last long enough for others to queue; the
  // Custom adapter is wired as the Philips adapter is, on the same port.
  test_kit::Ini ini = test_kit::parallel_wiring("10");
  ini.insert(ini.begin(), test_kit::Section{"I2C Card", {{"Nops", "10"}}});
  ini.push_back(test_kit::Section{"Debug", {{"Bastion", "none yet"}, {"Barbican", "none yet"}}});
  // Each transaction reads back what the one before wrote, at once.
  ini.push_back({"Simulation", {{"EEPROM Write Time", "0"}}});
  return ini;
}

TEST(Contention, ProcessesOnTheCardAndTheParallelAdaptersNeverShareASlotAndFinishEveryTransaction) {
  const long processes = hardening::setting("TARNWICK_CONTENTION_PROCESSES", 8, 1, kMaxProcesses);
  const long transactions =
      hardening::setting("TARNWICK_CONTENTION_TRANSACTIONS", 1000, 2, 10'000'000) & ~1L;
  const long seconds = hardening::setting("TARNWICK_CONTENTION_SECONDS", 300, 1, 86'400);

  harness::Environment environment;
  test_kit::write_ini(environment.ini_path(), contention_configuration());
  const std::string configuration_before = test_kit::read_file(environment.ini_path());
  test_kit::Shared<Contention> record;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);

  // Forked before anything loads the library: each process has a library,
  // adapter state and bench of its own; only the semaphores are shared.
  std::vector<std::unique_ptr<test_kit::Child>> children;
  for (int index = 0; index < processes; ++index) {
    const int interface = 1 + index % 3;
    children.push_back(std::make_unique<test_kit::Child>(
        [&, index, interface](test_kit::Channel& channel) {
          harness::Library library;
          library->I2C_SelectInterface(static_cast<std::int16_t>(interface));
          // An init that cannot have its slot does nothing and says nothing,
          // so the parent lets the processes set up one after another.
          if (channel.receive() != "init") return 2;
          library->I2C_Init();
          channel.send("ready");
          if (channel.receive() != "go") return 3;
          Contender contender(*record, index, interface, deadline);
          const bool completed = contender.run(library.exports(), transactions);
          channel.send(completed ? "done" : "failed");
          return completed ? 0 : 1;
        }));
  }
  for (auto& child : children) {
    child->send("init");
    ASSERT_EQ(child->receive(), "ready") << "a process did not set up its adapter";
  }
  for (auto& child : children) child->send("go");

  const auto bound_left = [&] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long>(left.count(), 0) + 10'000);
  };
  for (int index = 0; index < processes; ++index) {
    const auto ending = children[index]->receive(bound_left());
    ASSERT_TRUE(ending.has_value()) << "process " << index << " died without a word, or did not "
                                    << "end within the time bound of " << seconds << " s";
    EXPECT_EQ(*ending, "done") << record->first_failure;
    EXPECT_EQ(children[index]->exit_status(), ending == "done" ? 0 : 1);
  }

  EXPECT_EQ(record->overlaps.load(), 0) << "two holders of one slot at the same moment";
  for (int slot = 0; slot < kSlots; ++slot) {
    EXPECT_LE(record->most_holders[slot].load(), 1) << "slot " << slot;
    EXPECT_EQ(record->holders[slot].load(), 0) << "slot " << slot;
  }
  EXPECT_EQ(record->failures.load(), 0) << record->first_failure;
  long all = 0;
  for (int index = 0; index < processes; ++index) {
    EXPECT_EQ(record->completed[index].load(), transactions) << "process " << index;
    all += record->completed[index].load();
  }
  EXPECT_EQ(record->holds[0].load() + record->holds[1].load(), all)
      << "every transaction that got its slot completed";
  EXPECT_EQ(test_kit::slot_holders(0), 0) << "the card stays locked";
  EXPECT_EQ(test_kit::slot_holders(1), 0) << "the parallel adapters stay locked";

  // The parallel adapters' inits rewrote their debug records meanwhile.
  const auto before = test_kit::lines_of(configuration_before, true);
  const auto after = test_kit::lines_of(test_kit::read_file(environment.ini_path()), true);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i].rfind("Bastion", 0) == 0 || before[i].rfind("Barbican", 0) == 0) continue;
    EXPECT_EQ(after[i], before[i]) << "line " << i + 1;
  }
  std::printf("%ld processes, %ld transactions, %ld card and %ld parallel holds, "
              "%ld of them while others waited for the slot, "
              "%ld starts that waited out their 100 ms\n",
              processes, all, record->holds[0].load(), record->holds[1].load(),
              record->contended_holds.load(), record->starts_refused.load());
}

}  // namespace
