// The bench's devices answering both masters: the same EEPROM, thermometer
// and port expander reached by bit-banging the parallel port and through the
// card.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"
#include "tests/sim/bench_masters.h"
#include "tests/support/scratch.h"

namespace bench_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test_kit::ScratchFolder;

TEST(BenchBus, BitBangedEepromWriteIsReadBackThroughTheParallelPort) {
  sim::Bench bench(sim::BenchConfig{}, {}, {});
  ParportMaster parport(bench);
  ASSERT_TRUE(parport.eeprom_write(0xA0, 0x10, {0x12, 0x34, 0x56}));
  EXPECT_EQ(parport.eeprom_read(0xA0, 0x10, 3), (Bytes{0x12, 0x34, 0x56}));
  EXPECT_EQ(parport.eeprom_read(0xA0, 0x13, 1), (Bytes{0xFF}));  // still erased
  EXPECT_EQ(bench.bus().violations(), 0u);
}

TEST(BenchBus, AfterAWriteTheEepromRefusesItsAddressForTheWriteTime) {
  struct Case {
    int write_us;
  };
  for (const Case c : {Case{5000}, Case{0}, Case{20000}}) {
    SCOPED_TRACE("EEPROM Write Time = " + std::to_string(c.write_us));
    sim::BenchConfig config;
    config.wall_clock = false;
    config.eeprom_write_us = c.write_us;
    sim::Bench bench(config, {}, {});
    ParportMaster parport(bench);
    ASSERT_TRUE(parport.eeprom_write(0xA0, 0x10, {0x12}));
    const std::uint64_t stopped = bench.bus().time();
    // Each probe is 40 port accesses: START, 9 clocks, STOP.
    while (!parport.probe(0xA0)) {
      ASSERT_LT(bench.bus().time() - stopped, static_cast<std::uint64_t>(c.write_us) + 1000);
    }
    const std::uint64_t answered = bench.bus().time() - stopped;
    EXPECT_GE(answered + 40, static_cast<std::uint64_t>(c.write_us));
    EXPECT_LE(answered, static_cast<std::uint64_t>(c.write_us) + 80);
    // A write of nothing but the word address programs nothing: no cycle.
    ASSERT_TRUE(parport.eeprom_write(0xA0, 0x10, {}));
    EXPECT_TRUE(parport.probe(0xA0));
    EXPECT_EQ(parport.eeprom_read(0xA0, 0x10, 1), (Bytes{0x12}));
  }
}

TEST(BenchBus, DefaultDevicesAnswerAtTheirAddresses) {
  sim::Bench bench(sim::BenchConfig{}, {}, {});
  ParportMaster parport(bench);
  for (const std::uint8_t address : {0xA0, 0x90, 0x40, 0xD0}) {
    EXPECT_TRUE(parport.probe(address)) << "address " << std::hex << +address;
  }
  EXPECT_FALSE(parport.probe(0xA2));
  EXPECT_FALSE(parport.probe(0x50));
}

TEST(BenchBus, CardAndParallelPortReachTheSameEeprom) {
  sim::BenchConfig config;
  config.card_base = 0x310;
  sim::Bench bench(config, {}, {});
  CardMaster card(bench, 0x310);
  ASSERT_TRUE(card.write(0xA0, {0x20, 0x42, 0x43}));
  ParportMaster parport(bench);
  EXPECT_EQ(parport.eeprom_read(0xA0, 0x20, 2), (Bytes{0x42, 0x43}));
}

TEST(BenchBus, CardIsAbsentFromItsDefaultPortsWhenMoved) {
  sim::BenchConfig config;
  config.card_base = 0x310;
  sim::Bench bench(config, {}, {});
  CardMaster card(bench, 0x300);  // programs nothing: no card there
  EXPECT_FALSE(card.write(0xA0, {0x20, 0x99}));
  EXPECT_EQ(bench.read(0x300), 0xFF);
  EXPECT_EQ(bench.read(0x301), 0xFF);
  ParportMaster parport(bench);
  EXPECT_EQ(parport.eeprom_read(0xA0, 0x20, 1), (Bytes{0xFF}));
}

TEST(BenchBus, BadDeviceEntriesAreReportedAndTheRestLoads) {
  sim::BenchConfig config;
  config.devices = "24C02@A0 WIDGET@50 LM75@91 PCF8574@40";
  Lines warnings;
  sim::Bench bench(config, warnings.sink(), {});
  ASSERT_EQ(warnings.lines.size(), 2u);
  EXPECT_NE(warnings.lines[0].find("WIDGET@50"), std::string::npos) << warnings.lines[0];
  EXPECT_NE(warnings.lines[1].find("LM75@91"), std::string::npos) << warnings.lines[1];
  ParportMaster parport(bench);
  EXPECT_TRUE(parport.probe(0xA0));
  EXPECT_TRUE(parport.probe(0x40));
  EXPECT_FALSE(parport.probe(0x50));
  EXPECT_FALSE(parport.probe(0x90));
}

TEST(BenchBus, SdaStuckMakesEveryAddressLookAcknowledgedAndEveryByteZero) {
  sim::BenchConfig config;
  config.sda_stuck = true;
  sim::Bench bench(config, {}, {});
  ParportMaster parport(bench);
  parport.start();
  EXPECT_TRUE(parport.write(0x5E));  // nobody lives there
  EXPECT_EQ(parport.read(false), 0x00);
}

TEST(BenchBus, NackByteMakesEverySlaveRefuseThatDataByteFromEitherMaster) {
  sim::BenchConfig config;
  config.nack_byte = 3;
  Lines violations;
  sim::Bench bench(config, {}, violations.sink());
  CardMaster card(bench);
  ParportMaster parport(bench);

  // Word address 0x30, 0x11 taken, 0x22 refused, 0x33 not listened to.
  EXPECT_FALSE(card.write(0xA0, {0x30, 0x11, 0x22, 0x33}));
  EXPECT_EQ(parport.eeprom_read(0xA0, 0x30, 3), (Bytes{0x11, 0xFF, 0xFF}));

  // The port expander refuses its third byte too, and the first two of the
  // next transfer are taken again.
  parport.start();
  EXPECT_TRUE(parport.write(0x40));
  EXPECT_TRUE(parport.write(0x01));
  EXPECT_TRUE(parport.write(0x02));
  EXPECT_FALSE(parport.write(0x03));
  EXPECT_FALSE(parport.write(0x04));
  parport.stop();
  EXPECT_TRUE(card.write(0x40, {0x05, 0x06}));
  EXPECT_TRUE(violations.lines.empty()) << violations.lines.front();
}

TEST(BenchBus, EepromFileGivesTheContentsAndKeepsWhatIsWritten) {
  const ScratchFolder folder("bench-test-");
  const std::string file = folder.file("eeprom.bin");
  {
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 256; ++i) out.put(static_cast<char>(i ^ 0x5A));
  }
  sim::BenchConfig config;
  config.eeprom_file = file;
  {
    sim::Bench bench(config, {}, {});
    ParportMaster parport(bench);
    EXPECT_EQ(parport.eeprom_read(0xA0, 0x05, 2), (Bytes{0x05 ^ 0x5A, 0x06 ^ 0x5A}));
    ASSERT_TRUE(parport.eeprom_write(0xA0, 0x80, {0xAB}));
  }
  std::ifstream in(file, std::ios::binary);
  const std::string contents((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(contents.size(), 256u);
  EXPECT_EQ(static_cast<std::uint8_t>(contents[0x80]), 0xAB);
  EXPECT_EQ(static_cast<std::uint8_t>(contents[0x81]), 0x81 ^ 0x5A);
}

TEST(BenchBus, WaveformRecordsTheLinesIntoAVcdFile) {
  const ScratchFolder folder("bench-test-");
  sim::BenchConfig config;
  config.waveform = folder.file("bus.vcd");
  {
    sim::Bench bench(config, {}, {});
    ParportMaster(bench).probe(0xA0);
  }
  std::ifstream in(config.waveform);
  const std::string vcd((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(vcd.find("$enddefinitions"), std::string::npos);
  EXPECT_NE(vcd.find("sda"), std::string::npos);
}

// Told once, naming the file: at the open, or at the first write that
// fails (a full disk; at the latest when the bench closes the file).
TEST(BenchBus, WaveformThatCannotBeWrittenIsReportedAndTheBusRuns) {
  for (const char* file : {"/nonexistent-folder/bus.vcd", "/dev/full"}) {
    SCOPED_TRACE(file);
    sim::BenchConfig config;
    config.waveform = file;
    Lines warnings;
    {
      sim::Bench bench(config, warnings.sink(), {});
      EXPECT_TRUE(ParportMaster(bench).probe(0xA0));
    }
    ASSERT_EQ(warnings.lines.size(), 1u);
    EXPECT_NE(warnings.lines[0].find(std::string("\"") + file + "\""), std::string::npos)
        << warnings.lines[0];
  }
}

TEST(BenchBus, ProtocolViolationsReachTheViolationSink) {
  Lines violations;
  sim::Bench bench(sim::BenchConfig{}, {}, violations.sink());
  ParportMaster parport(bench);
  parport.start();
  parport.write(0xA0);
  // A STOP in the middle of a data byte.
  parport.sda(false);
  parport.scl(true);
  parport.scl(false);
  parport.scl(true);
  parport.sda(true);
  EXPECT_GE(bench.bus().violations(), 1u);
  ASSERT_EQ(violations.lines.size(), bench.bus().violations());
  EXPECT_EQ(violations.lines[0].rfind("! ", 0), 0u) << violations.lines[0];
}

}  // namespace
}  // namespace bench_test
