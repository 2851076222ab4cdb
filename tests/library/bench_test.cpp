// Both parallel adapters against the bench's devices: EEPROM round trips,
// a slave left sending, a stuck data line, the waveform as an independent
// decoder reads it, and exclusion between processes on the parallel slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "platform/profile/profile.h"
#include "tests/library/parallel_trace.h"
#include "tests/sim/sigrok_decode.h"

namespace parallel_test {
namespace {

class OnTheBench : public TracedBus {
 protected:
  void load_both(std::int16_t selected, test_kit::Ini ini) {
    load(kCustom, ini);
    bus().I2C_Init();
    bus().I2C_SelectInterface(kPhilips);
    bus().I2C_Init();
    bus().I2C_SelectInterface(selected);
  }
  // A whole write transaction: pointer, then the bytes.
  void write_eeprom(std::uint8_t pointer, std::vector<std::uint8_t> bytes) {
    bytes.insert(bytes.begin(), pointer);
    ASSERT_EQ(bus().I2C_Start(), 0);
    ASSERT_EQ(bus().I2C_Address(0xA0), 0);
    EXPECT_EQ(bus().I2C_Send(static_cast<std::int16_t>(bytes.size()), bytes.data()),
              static_cast<std::int16_t>(bytes.size()));
    EXPECT_EQ(bus().I2C_Stop(), 0);
  }
  std::vector<std::uint8_t> read_eeprom(std::uint8_t pointer, std::int16_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    EXPECT_EQ(bus().I2C_Start(), 0);
    EXPECT_EQ(bus().I2C_Address(0xA0), 0);
    EXPECT_EQ(bus().I2C_Send(1, &pointer), 1);
    EXPECT_EQ(bus().I2C_Read(count, bytes.data()), count) << "re-addressed for reading";
    EXPECT_EQ(bus().I2C_Stop(), 0);
    return bytes;
  }
  // Lines the bench adds to the trace when the bus protocol is broken.
  long violations() {
    library_->unload();
    const auto trace = env_.trace();
    return std::count_if(trace.begin(), trace.end(),
                         [](const std::string& line) { return line.starts_with("!"); });
  }
};

TEST_F(OnTheBench, EepromRoundTripsThroughEitherAdapter) {
  load_both(kPhilips, parallel_wiring("1"));
  const std::vector<std::uint8_t> page{0x00, 0x01, 0x7F, 0x80, 0xA5, 0x5A, 0xFE, 0xFF};
  write_eeprom(0x30, page);
  EXPECT_EQ(read_eeprom(0x30, 8), page) << "written and read by the Philips adapter";
  bus().I2C_SelectInterface(kCustom);
  EXPECT_EQ(read_eeprom(0x30, 8), page) << "read by the Custom adapter";
  const std::vector<std::uint8_t> other{0x12, 0x34, 0x56};
  write_eeprom(0x48, other);
  EXPECT_EQ(read_eeprom(0x48, 3), other) << "written and read by the Custom adapter";
  EXPECT_EQ(violations(), 0);
}

// The byte at the pointer has bit 7 clear: a slave still sending it holds
// SDA low, so without a NACKed byte first no stop condition would be seen.
TEST_F(OnTheBench, StopAfterAnAnsweredReadAddressReleasesTheSendingSlave) {
  load_both(kPhilips, parallel_wiring("0"));
  write_eeprom(0x40, {0x00, 0x11});
  const std::uint8_t pointer = 0x40;
  ASSERT_EQ(bus().I2C_Start(), 0);
  ASSERT_EQ(bus().I2C_Address(0xA0), 0);
  ASSERT_EQ(bus().I2C_Send(1, &pointer), 1);
  ASSERT_EQ(bus().I2C_Address(0xA1), 0);
  EXPECT_EQ(bus().I2C_Stop(), 0);
  write_eeprom(0x41, {0x77});
  EXPECT_EQ(read_eeprom(0x40, 2), (std::vector<std::uint8_t>{0x00, 0x77}));
  EXPECT_EQ(violations(), 0);
}

TEST_F(OnTheBench, StuckDataLineReadsAsAcknowledgeAndZeroBits) {
  for (const std::int16_t adapter : {kPhilips, kCustom}) {
    test_kit::Ini ini = parallel_wiring("0");
    ini.push_back({"Simulation", {{"SDA Stuck", "1"}}});
    if (library_) library_->unload();
    load_both(adapter, ini);
    std::array<std::uint8_t, 2> bytes{0xAA, 0xAA};
    ASSERT_EQ(bus().I2C_Start(), 0);
    EXPECT_EQ(bus().I2C_Address(0x42), 0) << "adapter " << adapter;
    EXPECT_EQ(bus().I2C_Read(2, bytes.data()), 2);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 2>{0x00, 0x00}));
    bus().I2C_Stop();
  }
}

TEST_F(OnTheBench, WaveformDecodesAsTheIntendedTransactions) {
  if (!tw_test::sigrok_cli_available()) GTEST_SKIP() << tw_test::kNoSigrok;
  for (const std::int16_t adapter : {kPhilips, kCustom}) {
    const std::string vcd = env_.file("bus" + std::to_string(adapter) + ".vcd");
    test_kit::Ini ini = parallel_wiring("1");
    ini.push_back({"Simulation", {{"Waveform", vcd}}});
    if (library_) library_->unload();
    load_both(adapter, ini);
    write_eeprom(0x10, {0x55});
    read_eeprom(0x10, 1);
    const std::uint8_t pointer = 0x10;
    bus().I2C_Start();
    bus().I2C_Address(0xA1);
    bus().I2C_Send(1, &pointer);  // re-addressed for writing
    bus().I2C_Stop();
    library_->unload();
    EXPECT_EQ(tw_test::sigrok_decode_i2c(vcd),
              "S AW:A0 A DW:10 A DW:55 A P "
              "S AW:A0 A DW:10 A P S AR:A1 A DR:55 N P "
              "S AR:A1 A DR:FF N P S AW:A0 A DW:10 A P")
        << "adapter " << adapter;
  }
}

TEST_F(OnTheBench, PhilipsAndCustomProcessesExcludeEachOther) {
  env_.configure(parallel_wiring("0"));
  test_kit::Child custom_host([](test_kit::Channel& parent) {
    parent.receive();
    harness::Library library;
    library->I2C_SelectInterface(kCustom);
    const int init = library->I2C_Init();
    const int busy = library->I2C_Start();
    parent.send(std::to_string(init) + " " + std::to_string(busy));
    parent.receive();
    const int start = library->I2C_Start();
    const int stop = library->I2C_Stop();
    parent.send(std::to_string(start) + " " + std::to_string(stop));
    return 0;
  });
  library_ = std::make_unique<harness::Library>();
  bus().I2C_SelectInterface(kPhilips);
  bus().I2C_Init();
  ASSERT_EQ(bus().I2C_Start(), 0);
  custom_host.send("go");
  EXPECT_EQ(custom_host.receive(), "0 2") << "init and start while the slot is held";
  char record[80];
  profile::get(env_.ini_path(), "Debug", "Barbican", "(none)", record, sizeof record);
  EXPECT_STREQ(record, "(none)") << "an init without the slot reads no configuration";
  EXPECT_EQ(bus().I2C_Stop(), 0);
  custom_host.send("again");
  EXPECT_EQ(custom_host.receive(), "0 0") << "the stop gave the slot back";
  EXPECT_EQ(custom_host.exit_status(), 0);
  EXPECT_EQ(bus().I2C_Start(), 0) << "and the Custom host's stop gave it back again";
  bus().I2C_Stop();
}

}  // namespace
}  // namespace parallel_test
