// The prescribed counts the benchmark prints, held against the port trace
// of the library doing the same operations: the two are made independently
// (one from the adapters' sequences, one by the port layer writing every
// access down), so a count the benchmark calls right is right.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "benchmarks/prescribed.h"
#include "platform/format.h"
#include "tests/support/tarnwick_harness.h"

namespace {

using bench::Adapter;
using prescribed::Operation;

constexpr std::int16_t kEepromWrite = 0xA0;
constexpr std::int16_t kEepromRead = 0xA1;

struct Case {
  Adapter adapter;
  std::uint16_t nops;
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << bench::adapter_name(c.adapter) << ", Nops " << c.nops;
}

std::string case_name(const testing::TestParamInfo<Case>& info) {
  return std::string(bench::adapter_key(info.param.adapter)) + "_nops_" +
         std::to_string(info.param.nops);
}

// The Custom adapter wired like the Philips adapter.
test_kit::Ini configuration(std::uint16_t nops) {
  const std::string hex = format::hexadecimal(nops);
  test_kit::Ini ini = test_kit::parallel_wiring(hex);
  ini.push_back({"I2C Card", {{"Nops", hex}}});
  return ini;
}

struct TraceCount {
  std::uint64_t accesses = 0;
  std::uint64_t violations = 0;
};

TraceCount count(const std::vector<std::string>& trace) {
  TraceCount counted;
  for (const auto& line : trace) {
    if (line.rfind("R ", 0) == 0 || line.rfind("W ", 0) == 0) ++counted.accesses;
    if (line.rfind("!", 0) == 0) ++counted.violations;
  }
  return counted;
}

class PrescribedAgainstTrace : public testing::TestWithParam<Case> {
 protected:
  // Selects and initialises the adapter, runs `operations`, unloads the
  // library and gives what the trace holds.
  template <class Operations>
  TraceCount traced(Operations&& operations) {
    env_.configure(configuration(GetParam().nops));
    harness::Library lib;
    lib->I2C_SelectInterface(bench::interface_number(GetParam().adapter));
    lib->I2C_Init();
    operations(lib.exports());
    lib.unload();
    return count(env_.trace());
  }

  std::uint64_t expected(std::initializer_list<Operation> operations) const {
    std::uint64_t total = 0;
    for (const Operation operation : operations) {
      total += prescribed::expected(GetParam().adapter, operation, GetParam().nops);
    }
    return total;
  }

  harness::Environment env_;
};

TEST_P(PrescribedAgainstTrace, AWriteTransactionMakesExactlyThePrescribedAccesses) {
  const TraceCount got = traced([](const harness::Exports& lib) {
    const std::uint8_t byte = 0;
    ASSERT_EQ(lib.I2C_Start(), 0);
    ASSERT_EQ(lib.I2C_Address(kEepromWrite), 0);
    ASSERT_EQ(lib.I2C_Send(1, &byte), 1);
    ASSERT_EQ(lib.I2C_Stop(), 0);
  });
  EXPECT_EQ(got.accesses, expected({Operation::init, Operation::start, Operation::address,
                                    Operation::byte_sent, Operation::stop}));
  EXPECT_EQ(got.violations, 0u);
}

TEST_P(PrescribedAgainstTrace, ARestartMakesExactlyThePrescribedAccesses) {
  const Adapter adapter = GetParam().adapter;
  const TraceCount got = traced([adapter](const harness::Exports& lib) {
    const std::uint8_t byte = 0;
    lib.I2C_Start();
    lib.I2C_Address(kEepromWrite);
    lib.I2C_Send(1, &byte);
    // The card restarts by addressing after data, the others by a start.
    ASSERT_EQ(adapter == Adapter::card ? lib.I2C_Address(kEepromWrite) : lib.I2C_Start(), 0);
    lib.I2C_Stop();
  });
  EXPECT_EQ(got.accesses, expected({Operation::init, Operation::start, Operation::address,
                                    Operation::byte_sent, Operation::restart, Operation::stop}));
  EXPECT_EQ(got.violations, 0u);
}

TEST_P(PrescribedAgainstTrace, ASixteenByteEepromReadMakesExactlyThePrescribedAccesses) {
  const TraceCount got = traced([](const harness::Exports& lib) {
    const std::uint8_t word_address = 0;
    std::array<std::uint8_t, 16> buffer{};
    lib.I2C_Start();
    lib.I2C_Address(kEepromWrite);
    lib.I2C_Send(1, &word_address);
    ASSERT_EQ(lib.I2C_Address(kEepromRead), 0);
    ASSERT_EQ(lib.I2C_Read(16, buffer.data()), 16);
    lib.I2C_Stop();
  });
  EXPECT_EQ(got.accesses, expected({Operation::init, Operation::eeprom_read_16}));
  EXPECT_EQ(got.violations, 0u);
}

TEST_P(PrescribedAgainstTrace, AOneByteReadMakesExactlyThePrescribedAccesses) {
  const TraceCount got = traced([](const harness::Exports& lib) {
    std::uint8_t byte = 0;
    lib.I2C_Start();
    ASSERT_EQ(lib.I2C_Address(kEepromRead), 0);
    ASSERT_EQ(lib.I2C_Read(1, &byte), 1);
    lib.I2C_Stop();
  });
  EXPECT_EQ(got.accesses, expected({Operation::init, Operation::start, Operation::address_read,
                                    Operation::byte_read, Operation::stop_after_read}));
  EXPECT_EQ(got.violations, 0u);
}

TEST_P(PrescribedAgainstTrace, ASearchMakesExactlyThePrescribedAccesses) {
  const TraceCount got = traced([](const harness::Exports& lib) {
    lib.I2C_Start();
    lib.I2C_Address(kEepromWrite);
    int found = 0;
    for (std::int16_t address = 4; address < 200; address += 2) {
      if (lib.I2C_Address(address) == 0) ++found;
    }
    lib.I2C_Address(kEepromWrite);
    EXPECT_EQ(found, 3);  // the 24C02, the LM75 and the PCF8574
    lib.I2C_Stop();
  });
  EXPECT_EQ(got.accesses, expected({Operation::init, Operation::start, Operation::address,
                                    Operation::search, Operation::stop}));
  EXPECT_EQ(got.violations, 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryAdapter, PrescribedAgainstTrace,
                         testing::Values(Case{Adapter::card, 0}, Case{Adapter::card, 2},
                                         Case{Adapter::philips, 0}, Case{Adapter::philips, 2},
                                         Case{Adapter::custom, 0}, Case{Adapter::custom, 2}),
                         case_name);

TEST(PrescribedSequences, GiveTheDesignsDelayBudgetsAndFormulas) {
  // Per byte out 27 delays, per byte in 29, start 2, stop 14, restart 16.
  EXPECT_EQ(prescribed::formula(Adapter::philips, Operation::byte_sent), "64 + 27 x Nops");
  EXPECT_EQ(prescribed::formula(Adapter::philips, Operation::byte_read), "73 + 29 x Nops");
  EXPECT_EQ(prescribed::formula(Adapter::philips, Operation::start), "6 + 2 x Nops");
  EXPECT_EQ(prescribed::formula(Adapter::philips, Operation::stop), "8 + 14 x Nops");
  EXPECT_EQ(prescribed::formula(Adapter::philips, Operation::restart), "14 + 16 x Nops");
  // The Custom adapter reads its data port before each write of it.
  EXPECT_EQ(prescribed::formula(Adapter::custom, Operation::byte_sent), "73 + 27 x Nops");
  // A card PIN wait polls until the byte's 100 us are over: many status
  // reads without port delays, one with the default 0x100.
  EXPECT_EQ(prescribed::formula(Adapter::card, Operation::eeprom_read_16),
            "(2138, 1088 or 59 at Nops 0, 1, 100) x (1 + Nops)");
  EXPECT_EQ(prescribed::formula(Adapter::philips, Operation::init), "5");
  // A SEARCH restarts before each of its 99 addresses: 43 delays each.
  EXPECT_EQ(prescribed::formula(Adapter::philips, Operation::search), "7722 + 4257 x Nops");
  EXPECT_EQ(prescribed::formula(Adapter::card, Operation::search),
            "(10197, 5247 or 396 at Nops 0, 1, 100) x (1 + Nops)");
  // Its first PIN wait finds the address over: one read; the byte's own
  // wait reads until the 100 us are over.
  EXPECT_EQ(prescribed::formula(Adapter::card, Operation::byte_sent),
            "(103, 53 or 4 at Nops 0, 1, 100) x (1 + Nops)");
}

}  // namespace
