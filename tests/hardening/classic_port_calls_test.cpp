// A port-I/O library that has only the two port calls (here the program's
// own, in front of the port layer, as a host's replacement would be) still
// serves the transfer interface: the library finds no program call beside
// them and runs every line program through them, access by access.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tarnwick/i2c.h"
#include "tests/hardening/port_access_stop.h"
#include "tests/support/ini.h"
#include "tests/support/tarnwick_harness.h"

namespace {

TEST(ClassicPortCalls, CarryEveryAccessOfATransfer) {
  harness::Environment env;
  env.configure({{"I2C Device", {{"Default", "3"}}},
                 {"I2C para Gen", test_kit::custom_wired_like_philips_reading_the_clock()}});
  port_access_stop::stop_before_access(0);
  harness::Library lib;
  const auto transfer =
      reinterpret_cast<int (*)(int, tarnwick_msg*, int)>(lib.symbol("tarnwick_transfer"));
  ASSERT_NE(transfer, nullptr);
  std::uint8_t word = 0x00;
  std::vector<std::uint8_t> back(4, 0);
  tarnwick_msg msgs[] = {{0x50, 0, 1, &word}, {0x50, TARNWICK_M_RD, 4, back.data()}};
  EXPECT_EQ(transfer(3, msgs, 2), 2);
  const long counted = port_access_stop::accesses_counted();
  lib.unload();
  const std::vector<std::string> trace = env.trace();
  const auto traced = std::count_if(trace.begin(), trace.end(), [](const std::string& line) {
    return line.starts_with("R ") || line.starts_with("W ");
  });
  EXPECT_GT(traced, 100);
  EXPECT_EQ(counted, traced);
}

}  // namespace
