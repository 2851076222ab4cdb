// The init operations: configuration keys, the debug record each leaves in
// the configuration file, and the Philips adapter's check of its status lines.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/profile/profile.h"
#include "tests/library/parallel_trace.h"

namespace parallel_test {
namespace {

std::string debug_record(const harness::Environment& env, const char* key) {
  char value[80];
  profile::get(env.ini_path(), "Debug", key, "(none)", value, sizeof value);
  return value;
}

using AdapterInit = TracedBus;

TEST_F(AdapterInit, DefaultsAreRecordedUnderEachAdaptersDebugKey) {
  load(kPhilips, {});
  bus().I2C_Init();
  bus().I2C_SelectInterface(kCustom);
  bus().I2C_Init();
  EXPECT_EQ(debug_record(env_, "Bastion"), "Base:0x378 Nops:0x100");
  EXPECT_EQ(debug_record(env_, "Barbican"), "Base:0x378 Nops:0x100");
}

TEST_F(AdapterInit, DebugRecordKeepsEveryOtherLineOfTheFile) {
  const std::string before =
      "; bench set-up, keep me\n"
      "[I2C para]\n"
      "Nops = 0   ; no delays\n"
      "\n"
      "[Debug]\n"
      "Bastion = stale\n"
      "Note = written by hand\n"
      "[Port IO]\n"
      "Trace = " + env_.trace_path() + "\n";
  std::ofstream(env_.ini_path()) << before;
  library_ = std::make_unique<harness::Library>();
  bus().I2C_SelectInterface(kPhilips);
  bus().I2C_Init();
  std::string expected = before;
  expected.replace(expected.find("stale"), 5, "Base:0x378 Nops:0x0");
  std::ifstream in(env_.ini_path());
  const std::string after{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(after, expected);
}

TEST_F(AdapterInit, KeysWithoutAHexadecimalNumberTakeTheirDefaults) {
  load(kPhilips, {{"I2C para", {{"Base", "zz"}, {"Nops", ""}}},
                  {"I2C para Gen", {{"Base", " 0x2f8"}, {"Nops", "8000"}}}});
  bus().I2C_Init();
  EXPECT_EQ(debug_record(env_, "Bastion"), "Base:0x378 Nops:0x100");
  bus().I2C_SelectInterface(kCustom);
  bus().I2C_Init();
  EXPECT_EQ(debug_record(env_, "Barbican"), "Base:0x2F8 Nops:0xFFFF8000")
      << "values from 0x8000 up print as negative 16-bit numbers";
}

TEST_F(AdapterInit, InitWhileThisProcessHoldsTheBusChangesNothing) {
  load(kPhilips, parallel_wiring("0"));
  bus().I2C_Init();
  ASSERT_EQ(bus().I2C_Start(), 0);
  env_.configure({{"I2C para", {{"Nops", "7"}}}});
  EXPECT_EQ(bus().I2C_Init(), 0);
  EXPECT_EQ(debug_record(env_, "Bastion"), "(none)") << "configuration not read";
  EXPECT_EQ(bus().I2C_Address(0xA0), 0) << "the bus is still open";
  EXPECT_EQ(bus().I2C_Stop(), 0);
}

struct StatusCase {
  const char* status;
  const char* boxes;
};

class AdapterCheck : public TracedBus,
                     public ::testing::WithParamInterface<StatusCase> {};

TEST_P(AdapterCheck, PhilipsInitShowsTheBoxesItsStatusLinesCallFor) {
  load(kPhilips, {{"Simulation", {{"Adapter Status", GetParam().status}}}});
  const std::string shown = test_kit::capture_stderr([&] { bus().I2C_Init(); });
  EXPECT_EQ(shown, GetParam().boxes);
  bus().I2C_SelectInterface(kCustom);
  EXPECT_EQ(test_kit::capture_stderr([&] { bus().I2C_Init(); }), "")
      << "the Custom adapter has no check";
}

constexpr const char* kAbsent = "[Tarnwick Error]\nCheck Philips I2C adapter !\n";
constexpr const char* kUnpowered = "[Tarnwick Error]\nCheck power of I2C adapter !\n";

INSTANTIATE_TEST_SUITE_P(
    StatusLines, AdapterCheck,
    ::testing::Values(StatusCase{"20", ""}, StatusCase{"70", kAbsent},
                      StatusCase{"00", kUnpowered},
                      StatusCase{"50", "[Tarnwick Error]\nCheck Philips I2C adapter !\n"
                                       "[Tarnwick Error]\nCheck power of I2C adapter !\n"}),
    [](const auto& info) { return std::string("Status") + info.param.status; });

}  // namespace
}  // namespace parallel_test
