// The Custom adapter's configurable lines: any port, bit mask and polarity,
// the other bits of a port kept, and what an unconfigured adapter does.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "tests/library/parallel_trace.h"

namespace parallel_test {
namespace {

class CustomLines : public TracedBus {
 protected:
  // Runs `steps` on a fresh load of the Custom adapter and closes the bus;
  // gives the port writes.
  std::vector<std::string> writes_of(const test_kit::Ini& ini,
                                     const std::function<void()>& steps) {
    if (library_) library_->unload();
    env_.clear_trace();
    load(kCustom, ini);
    bus().I2C_Init();
    steps();
    bus().I2C_Stop();
    library_->unload();
    std::vector<std::string> writes;
    for (const auto& line : env_.trace())
      if (line.starts_with("W ")) writes.push_back(line);
    return writes;
  }
};

TEST_F(CustomLines, WritesChangeOnlyTheMaskBitsAsThePolarityWants) {
  // Ports that nothing decodes read 0xFF: the written values show the mask.
  auto lines = [](const char* sda_pol, const char* scl_pol) {
    return test_kit::Ini{{"I2C para Gen",
                         {{"Nops", "0"},
                          {"SDA OUT Port", "280"}, {"SDA OUT Bit", "1"}, {"SDA OUT Pol", sda_pol},
                          {"SCL OUT Port", "281"}, {"SCL OUT Bit", "2"}, {"SCL OUT Pol", scl_pol}}}};
  };
  auto idle_and_start = [&](const test_kit::Ini& ini) {
    auto writes = writes_of(ini, [&] { bus().I2C_Start(); });
    writes.resize(6);
    return writes;
  };
  // Idle (data high, clock high), then the start sequence's four changes.
  EXPECT_EQ(idle_and_start(lines("0", "1")),
            (std::vector<std::string>{"W 0280 FF", "W 0281 FD", "W 0280 FE",
                                      "W 0281 FD", "W 0280 FE", "W 0281 FF"}));
  EXPECT_EQ(idle_and_start(lines("1", "0")),
            (std::vector<std::string>{"W 0280 FE", "W 0281 FF", "W 0280 FF",
                                      "W 0281 FF", "W 0280 FF", "W 0281 FD"}));
}

struct ReadCase {
  const char* status;  // status bits 4 to 6 of the bench's parallel port
  const char* polarity;
  std::int16_t address_result;  // 0 when the data line reads low
};

class CustomDataRead : public CustomLines,
                       public ::testing::WithParamInterface<ReadCase> {};

TEST_P(CustomDataRead, CountsTheLineSetOnlyWhenAllMaskBitsAreOne) {
  test_kit::Ini ini = parallel_wiring("0");
  for (auto& [key, value] : ini[1].keys) {
    if (key == "SDA IN Bit") value = "30";
    if (key == "SDA IN Pol") value = GetParam().polarity;
  }
  ini.push_back({"Simulation", {{"Adapter Status", GetParam().status}}});
  load(kCustom, ini);
  bus().I2C_Init();
  bus().I2C_Start();
  EXPECT_EQ(bus().I2C_Address(0x42), GetParam().address_result);
}

INSTANTIATE_TEST_SUITE_P(
    MaskAndPolarity, CustomDataRead,
    ::testing::Values(ReadCase{"30", "1", 3}, ReadCase{"10", "1", 0},
                      ReadCase{"10", "0", 3}, ReadCase{"30", "0", 0}),
    [](const auto& info) {
      return std::string("Status") + info.param.status + "Pol" + info.param.polarity;
    });

TEST_F(CustomLines, MissingSectionAcknowledgesEverythingAndReadsZeros) {
  std::array<std::uint8_t, 2> buffer{0xAA, 0xAA};
  const std::uint8_t byte = 0x5A;
  const auto writes = writes_of({}, [&] {
    EXPECT_EQ(bus().I2C_Start(), 0);
    EXPECT_EQ(bus().I2C_Address(0x42), 0);
    EXPECT_EQ(bus().I2C_Send(1, &byte), 1);
    EXPECT_EQ(bus().I2C_Read(2, buffer.data()), 2);
  });
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 2>{0x00, 0x00}));
  ASSERT_FALSE(writes.empty());
  for (const auto& write : writes) EXPECT_EQ(write, "W 0000 FF") << "no bit changes";
}

TEST_F(CustomLines, ClockInputKeysChangeNothing) {
  auto transaction = [&] {
    bus().I2C_Start();
    bus().I2C_Address(0x00);
    mark();
    bus().I2C_Address(0x00);
  };
  const auto plain = writes_of(parallel_wiring("1"), transaction);
  test_kit::Ini ini = parallel_wiring("1");
  ini[1].keys.insert(ini[1].keys.end(), test_kit::philips_clock_input().begin(),
                     test_kit::philips_clock_input().end());
  EXPECT_EQ(writes_of(ini, transaction), plain);
  const auto seen = segments();
  EXPECT_EQ(seen.at(1).substr(0, restart().size()), restart())
      << "a second address restarts first, even the general call";
}

}  // namespace
}  // namespace parallel_test
