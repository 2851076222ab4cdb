// The bench's keys for its newer parts (Stretch Time, Stranded Slave,
// Timing Check, Timing Strict), and where a bench with the timing checker
// on tells its violations: every one in the trace and the waveform, the
// first of each parameter and a count at power-down on standard error.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"
#include "tests/sim/bench_masters.h"
#include "tests/support/scratch.h"

namespace bench_test {
namespace {

class BenchParts : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("I2C_INI", (folder_ + "/I2C.INI").c_str(), 1); }
  void TearDown() override { ::unsetenv("I2C_INI"); }
  sim::BenchConfig load(const std::string& section_body) {
    std::ofstream(folder_ + "/I2C.INI") << "[Simulation]\n" << section_body;
    return sim::BenchConfig::load(warnings.sink());
  }

  const test_kit::ScratchFolder scratch_{"bench-parts-"};
  const std::string folder_ = scratch_.path();
  Lines warnings;
};

TEST_F(BenchParts, KeysDefaultToNothingNew) {
  const auto config = load("");
  EXPECT_EQ(config.stretch_us, 50);
  EXPECT_EQ(config.stranded_clocks, 0);
  EXPECT_EQ(config.timing_check, sim::TimingMode::off);
  EXPECT_FALSE(config.timing_strict);
}

TEST_F(BenchParts, KeysAreTakenAsWritten) {
  const auto config = load(
      "Stretch Time = 2000\nStranded Slave = 9\nTiming Check = Fast\nTiming Strict = 1\n");
  EXPECT_TRUE(warnings.lines.empty()) << warnings.lines.front();
  EXPECT_EQ(config.stretch_us, 2000);
  EXPECT_EQ(config.stranded_clocks, 9);
  EXPECT_EQ(config.timing_check, sim::TimingMode::fast);
  EXPECT_TRUE(config.timing_strict);
}

TEST_F(BenchParts, UnusableValuesAreReportedAndTheirDefaultsApply) {
  const auto config =
      load("Stretch Time = -1\nStranded Slave = 10\nTiming Check = 100k\nTiming Strict = yes\n");
  ASSERT_EQ(warnings.lines.size(), 4u);
  EXPECT_EQ(config.stretch_us, 50);
  EXPECT_EQ(config.stranded_clocks, 0);
  EXPECT_EQ(config.timing_check, sim::TimingMode::off);
  EXPECT_FALSE(config.timing_strict);
  EXPECT_EQ(warnings.lines[2], "Timing Check = \"100k\" in section \"Simulation\" of " + folder_ +
                                   "/I2C.INI is not off, standard or fast; using off");
}

TEST_F(BenchParts, AStrandedBenchStartsWithSdaLow) {
  auto config = load("Stranded Slave = 3\n");
  sim::Bench bench(config, nullptr, nullptr);
  EXPECT_FALSE(bench.bus().sda());
}

TEST_F(BenchParts, TimingViolationsGoToTraceWaveformAndOneLineEachToStandardError) {
  sim::BenchConfig config;
  config.wall_clock = false;
  config.timing_check = sim::TimingMode::standard;
  config.waveform = folder_ + "/bus.vcd";
  Lines trace;
  std::uint64_t violations = 0;
  {
    sim::Bench bench(config, warnings.sink(), trace.sink());
    // The classic bit-banging at one access per line change: every clock
    // is far too short for standard mode.
    ParportMaster master(bench);
    EXPECT_TRUE(master.probe(0xA0));
    EXPECT_TRUE(master.probe(0x90));
    violations = bench.bus().timing_violations();
    EXPECT_EQ(trace.lines.size(), violations);
  }
  ASSERT_GT(violations, 20u);
  // tLOW, tHIGH, tSU;STA, tHD;STA, tSU;STO and tBUF: the first of each,
  // then the count at power-down.
  ASSERT_EQ(warnings.lines.size(), 7u);
  EXPECT_EQ(warnings.lines[0].rfind("timing: ", 0), 0u) << warnings.lines[0];
  EXPECT_NE(warnings.lines[0].find("; later "), std::string::npos) << warnings.lines[0];
  EXPECT_EQ(warnings.lines.back().rfind("timing: " + std::to_string(violations) +
                                            " violations of standard mode (100 kHz) on the "
                                            "bench bus (tLOW ",
                                        0),
            0u)
      << warnings.lines.back();
  std::stringstream vcd;
  vcd << std::ifstream(config.waveform).rdbuf();
  // The `timing` wire marks the edges that broke a minimum.
  EXPECT_NE(vcd.str().find("$var wire 1 % timing $end"), std::string::npos);
  EXPECT_NE(vcd.str().find("\n1%\n"), std::string::npos);
  EXPECT_NE(vcd.str().find("\n0%\n"), std::string::npos);
  EXPECT_NE(trace.lines.front().find("! timing: t"), std::string::npos) << trace.lines.front();
}

TEST_F(BenchParts, WithTheCheckerOffNothingIsMeasured) {
  sim::BenchConfig config;
  config.wall_clock = false;
  sim::Bench bench(config, warnings.sink(), nullptr);
  ParportMaster master(bench);
  EXPECT_TRUE(master.probe(0xA0));
  EXPECT_EQ(bench.bus().timing_violations(), 0u);
  EXPECT_TRUE(warnings.lines.empty());
}

}  // namespace
}  // namespace bench_test
