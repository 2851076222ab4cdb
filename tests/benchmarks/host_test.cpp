// The benchmark's host: its own configuration and bus semaphores, and
// nothing of either left behind.
#include "benchmarks/host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/bus_semaphore.h"

namespace {

constexpr std::array<const char*, 3> kSlots{"I2CSEMA0", "I2CSEMA1", "I2CSEMA2"};

TEST(BenchHost, RemovesItsBusSemaphoresAndScratchDirectoryWhenItGoes) {
  std::string directory;
  {
    bench::Host host;
    directory = host.directory();
    host.configure({0, 2, ""});
    host.use(bench::Adapter::philips);  // the load steps create the semaphores
    const std::string prefix = "tarnwick-bench." + std::to_string(getpid()) + ".";
    ASSERT_EQ(std::string(std::getenv("TARNWICK_SEM_PREFIX")), prefix);
    EXPECT_EQ(std::string(std::getenv("I2C_INI")), directory + "/I2C.INI");
    for (const char* slot : kSlots) {
      EXPECT_TRUE(bus_semaphore::open(slot).valid()) << slot << " was not created";
    }
  }
  // The prefix is still set here, so these are the host's names.
  for (const char* slot : kSlots) {
    EXPECT_FALSE(bus_semaphore::open(slot).valid()) << slot << " was left behind";
  }
  EXPECT_FALSE(std::filesystem::exists(directory)) << directory << " was left behind";
}

TEST(BenchHost, WiresTheCustomAdapterLikeThePhilipsAdapter) {
  bench::Host host;
  host.configure({0, 3, ""});
  host.use(bench::Adapter::custom);
  const bench::Exports& lib = host.library();
  // A miswired data input reads low: every address is acknowledged and
  // every byte reads 0x00. The erased 24C02 gives 0xFF, and nothing
  // answers at 0x30.
  ASSERT_EQ(lib.I2C_Start(), 0);
  EXPECT_EQ(lib.I2C_Address(0x30), 3);
  EXPECT_EQ(lib.I2C_Address(0xA1), 0);
  EXPECT_EQ(lib.I2C_GetByte(), 0xFF);
  lib.I2C_Stop();
}

TEST(BenchHost, WritesTheNopsOfEveryAdapterAndTheTraceIntoTheConfiguration) {
  bench::Host host;
  host.configure({0x1C, 3, host.file("trace.txt")});
  std::ifstream in(host.file("I2C.INI"));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("[I2C Device]\nDefault = 3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[I2C Card]\nBase = 300\nNops = 1C\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[I2C para]\nBase = 378\nNops = 1C\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[I2C para Gen]\nBase = 378\nNops = 1C\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Trace = " + host.file("trace.txt") + "\n"), std::string::npos) << text;
}

}  // namespace
