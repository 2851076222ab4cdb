// What the card tests share: a fixture that loads the library with the card
// selected on the bench, and a comparison of port traces with the register
// accesses expected in them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/oracle/card_registers.h"
#include "tests/support/tarnwick_harness.h"

namespace card_test {

using Trace = std::vector<std::string>;

// The expected register accesses, from the card's prescribed steps.
using oracle::card::Accesses;
using oracle::card::kChain;
using oracle::card::kRepeated;

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
  void load(const std::string& nops = "0", const test_kit::Ini& more = {}) {
    test_kit::Ini ini{{"I2C Device", {{"Default", "1"}}},
                     {"I2C Card", {{"Base", "300"}, {"Nops", nops}}}};
    ini.insert(ini.end(), more.begin(), more.end());
    env.configure(ini);
    library.emplace();
  }

  // load() followed by the card's init.
  void load_and_init(const std::string& nops = "0", const test_kit::Ini& more = {}) {
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
