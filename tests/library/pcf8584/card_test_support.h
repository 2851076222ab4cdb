// What the card tests share: a fixture that loads the library with the card
// selected on the bench, and the register accesses expected in the port
// trace, written the way the controller's data sheet speaks of them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/tarnwick_harness.h"

namespace card_test {

using Trace = std::vector<std::string>;

// Expected accesses of a card at `base`, each followed by `nops` reads of
// base + 2 (the port delay). A PIN wait is status reads until the byte
// marked last with byte_started() is over: 100 us of bench time at the
// library's 90 kHz, each access 1 us ("Wall Clock = 0"); one read when no
// byte is marked.
class Accesses {
 public:
  static constexpr std::size_t kByteUs = 100;

  explicit Accesses(unsigned base = 0x300, int nops = 0) : base_(base), nops_(nops) {}

  Accesses& write_s0(unsigned value) { return access('W', 0, value); }
  Accesses& write_s1(unsigned value) { return access('W', 1, value); }
  Accesses& read_s0() { return access('R', 0, -1); }
  Accesses& read_s1() { return access('R', 1, -1); }
  // The access just listed started a byte on the bus.
  Accesses& byte_started() {
    byte_at_ = static_cast<long>(lines_.size()) - 1 - nops_;
    return *this;
  }
  Accesses& pin_wait() {
    if (byte_at_ < 0) return read_s1();
    for (;;) {
      const auto at = static_cast<long>(lines_.size());
      read_s1();
      if (at - byte_at_ >= static_cast<long>(kByteUs)) break;
    }
    byte_at_ = -1;
    return *this;
  }

  // The operations as a whole, for tests about what comes around them.
  Accesses& init() {
    return write_s1(0x80).write_s0(0x55).write_s1(0xA0).write_s0(0x1C).write_s1(0xC1);
  }
  Accesses& start() {
    return write_s1(0x40).read_s1().write_s0(0xC0).write_s1(0xC5).byte_started().read_s1();
  }
  Accesses& read_termination() { return write_s1(0x40).read_s0().byte_started().pin_wait(); }
  Accesses& stop() { return write_s1(0xC2).write_s0(0xC2).read_s1().write_s1(0x00); }
  // Address with the STOP+START chain (0x47) or a repeated START (0x45).
  Accesses& address(unsigned command, unsigned byte) {
    write_s1(command).write_s0(byte).byte_started().pin_wait().read_s1();
    return (byte & 1) != 0 ? read_s0().byte_started() : *this;
  }
  Accesses& data_bytes(const std::vector<unsigned>& bytes) {
    for (const unsigned byte : bytes) {
      write_s0(byte).byte_started().pin_wait().read_s1();
    }
    return *this;
  }
  Accesses& received_bytes(int count) {
    for (int i = 0; i < count; ++i) {
      pin_wait().read_s0().byte_started();
    }
    return *this;
  }

  const Trace& lines() const { return lines_; }

 private:
  Accesses& access(char kind, unsigned reg, int value) {
    char line[16];
    if (value < 0) {
      std::snprintf(line, sizeof line, "%c %04X", kind, (base_ + reg) & 0xFFFF);
    } else {
      std::snprintf(line, sizeof line, "%c %04X %02X", kind, (base_ + reg) & 0xFFFF, value);
    }
    lines_.emplace_back(line);
    char delay[16];
    std::snprintf(delay, sizeof delay, "R %04X", (base_ + 2) & 0xFFFF);
    lines_.insert(lines_.end(), static_cast<std::size_t>(nops_), delay);
    return *this;
  }

  unsigned base_;
  int nops_;
  long byte_at_ = -1;  // index of the access that started the last byte
  Trace lines_;
};

// Compares register sequences and, on a difference, shows where it starts
// with the lines around it on both sides.
inline ::testing::AssertionResult same_accesses(const Trace& expected, const Trace& actual) {
  std::size_t first = 0;
  while (first < expected.size() && first < actual.size() && expected[first] == actual[first]) {
    ++first;
  }
  if (first == expected.size() && first == actual.size()) {
    return ::testing::AssertionSuccess();
  }
  std::ostringstream out;
  out << "register accesses differ at line " << first << " (expected " << expected.size()
      << " lines, got " << actual.size() << ")\n";
  const std::size_t from = first > 3 ? first - 3 : 0;
  auto show = [&](const char* label, const Trace& trace) {
    out << label << ":";
    for (std::size_t i = from; i < trace.size() && i < first + 6; ++i) {
      out << (i == first ? "  >>" : "  ") << trace[i];
    }
    out << '\n';
  };
  show("expected", expected);
  show("actual  ", actual);
  return ::testing::AssertionFailure() << out.str();
}

// The lines after the first `count` ones.
inline Trace after(const Trace& trace, std::size_t count) {
  return count < trace.size() ? Trace(trace.begin() + static_cast<std::ptrdiff_t>(count), trace.end())
                              : Trace{};
}

// A process with the library loaded and the card selected at base 0x300 of
// the bench; the port trace is read once the library is unloaded.
class CardTest : public ::testing::Test {
 protected:
  // Writes the configuration (card section first, then `more`) and loads.
  void load(const std::string& nops = "0", const harness::Ini& more = {}) {
    harness::Ini ini{{"I2C Device", {{"Default", "1"}}},
                     {"I2C Card", {{"Base", "300"}, {"Nops", nops}}}};
    ini.insert(ini.end(), more.begin(), more.end());
    env.configure(ini);
    library.emplace();
  }

  // load() followed by the card's init.
  void load_and_init(const std::string& nops = "0", const harness::Ini& more = {}) {
    load(nops, more);
    ASSERT_EQ(0, card().I2C_Init());
  }

  const harness::Exports& card() const { return library->exports(); }

  // Whatever a test checks, the bench's bus must not have seen the card
  // break the protocol.
  void TearDown() override {
    library.reset();
    for (const auto& line : env.trace()) {
      if (!line.empty() && line[0] == '!') {
        ADD_FAILURE() << "the bench saw a protocol violation: " << line;
      }
    }
  }

  // Unloads the library and gives the trace, with read values dropped.
  Trace finish() {
    library.reset();
    return harness::without_read_values(env.trace());
  }
  // The same, with read values kept.
  Trace finish_with_values() {
    library.reset();
    return env.trace();
  }

  harness::Environment env;
  std::optional<harness::Library> library;
};

}  // namespace card_test
