// Section "Simulation": values taken as written, and each unusable value
// reported in one line with its default kept.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "sim/bench/bench.h"
#include "tests/sim/bench_masters.h"
#include "tests/support/files.h"
#include "tests/support/scratch.h"

namespace bench_test {
namespace {

class BenchConfigLoad : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("I2C_INI", (folder_ + "/I2C.INI").c_str(), 1); }
  void TearDown() override { ::unsetenv("I2C_INI"); }
  sim::BenchConfig load(const std::string& section_body) {
    test_kit::write_file(folder_ + "/I2C.INI", "[Simulation]\n" + section_body);
    return sim::BenchConfig::load(warnings.sink());
  }

  const test_kit::ScratchFolder scratch_{"bench-config-"};
  const std::string folder_ = scratch_.path();
  Lines warnings;
};

TEST_F(BenchConfigLoad, MissingFileGivesTheDefaultBenchQuietly) {
  const auto config = sim::BenchConfig::load(warnings.sink());
  EXPECT_TRUE(warnings.lines.empty());
  EXPECT_EQ(config.devices, "24C02@A0 LM75@90 PCF8574@40 DS1307@D0");
  EXPECT_EQ(config.card_base, 0x300);
  EXPECT_EQ(config.parport_base, 0x378);
  EXPECT_EQ(config.adapter_status, 0x20);
  EXPECT_FALSE(config.bus_busy);
  EXPECT_FALSE(config.bus_error);
  EXPECT_FALSE(config.sda_stuck);
  EXPECT_EQ(config.pin_polls, 0);
  EXPECT_EQ(config.nack_byte, 0);
  EXPECT_EQ(config.eeprom_file, "");
  EXPECT_EQ(config.waveform, "");
}

TEST_F(BenchConfigLoad, TakesEveryKeyAsWritten) {
  const auto config = load(
      "Devices = 24C02@A2 LM75@9E\n"
      "EEPROM File = /tmp/e.bin\n"
      "Waveform = /tmp/w.vcd\n"
      "Card Base = 0x2F0\n"
      "Parport Base = 278\n"
      "Bus Busy = 1\n"
      "Bus Error = 1\n"
      "PIN Polls = 120\n"
      "Adapter Status = 50\n"
      "SDA Stuck = 1\n"
      "NACK Byte = 3\n");
  EXPECT_TRUE(warnings.lines.empty()) << warnings.lines.front();
  EXPECT_EQ(config.devices, "24C02@A2 LM75@9E");
  EXPECT_EQ(config.eeprom_file, "/tmp/e.bin");
  EXPECT_EQ(config.waveform, "/tmp/w.vcd");
  EXPECT_EQ(config.card_base, 0x2F0);
  EXPECT_EQ(config.parport_base, 0x278);
  EXPECT_TRUE(config.bus_busy);
  EXPECT_TRUE(config.bus_error);
  EXPECT_EQ(config.pin_polls, 120);
  EXPECT_EQ(config.adapter_status, 0x50);
  EXPECT_TRUE(config.sda_stuck);
  EXPECT_EQ(config.nack_byte, 3);
}

TEST_F(BenchConfigLoad, AnEmptyDeviceListMeansABusWithoutSlaves) {
  EXPECT_EQ(load("Devices =\n").devices, "");
  EXPECT_TRUE(warnings.lines.empty());
}

TEST_F(BenchConfigLoad, EachUnusableValueIsReportedOnceAndItsDefaultApplies) {
  const auto config = load(
      "Card Base = 30Q\n"
      "Parport Base = 10000\n"
      "Bus Busy = yes\n"
      "Bus Error = 2\n"
      "PIN Polls = -3\n"
      "Adapter Status = 28\n"
      "SDA Stuck =\n"
      "NACK Byte = 3rd\n");
  ASSERT_EQ(warnings.lines.size(), 8u);
  EXPECT_EQ(config.card_base, 0x300);
  EXPECT_EQ(config.parport_base, 0x378);
  EXPECT_FALSE(config.bus_busy);
  EXPECT_FALSE(config.bus_error);
  EXPECT_EQ(config.pin_polls, 0);
  EXPECT_EQ(config.adapter_status, 0x20);
  EXPECT_FALSE(config.sda_stuck);
  EXPECT_EQ(config.nack_byte, 0);
  EXPECT_EQ(warnings.lines[0],
            "Card Base = \"30Q\" in section \"Simulation\" of " + folder_ +
                "/I2C.INI is not a hexadecimal port from 0 to FFFE; using 300");
  EXPECT_NE(warnings.lines[5].find("Adapter Status = \"28\""), std::string::npos)
      << warnings.lines[5];
  EXPECT_NE(warnings.lines[5].find("using 20"), std::string::npos) << warnings.lines[5];
  EXPECT_EQ(warnings.lines[7],
            "NACK Byte = \"3rd\" in section \"Simulation\" of " + folder_ +
                "/I2C.INI is not a decimal byte number from 1, or 0 for none; using 0");
}

TEST_F(BenchConfigLoad, PortsThatWouldRunPastTheLastPortAreRefused) {
  const auto config = load("Card Base = FFFF\nParport Base = FFFE\n");
  EXPECT_EQ(warnings.lines.size(), 2u);
  EXPECT_EQ(config.card_base, 0x300);
  EXPECT_EQ(config.parport_base, 0x378);
  EXPECT_EQ(load("Card Base = FFFE\nParport Base = FFFD\n").card_base, 0xFFFE);
}

}  // namespace
}  // namespace bench_test
