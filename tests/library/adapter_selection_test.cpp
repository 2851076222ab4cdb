// Which adapter the library drives: chosen by key "Default" when the
// library loads, changed by I2C_SelectInterface, and named by I2C_Info.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/tarnwick_harness.h"

namespace {

const std::string kCard = "PCF8584 card";
const std::string kPhilips = "Philips adapter";
const std::string kCustom = "Custom adapter";

// The adapter name that the information box shows.
std::string adapter_in_use(const harness::Library& library) {
  std::int16_t result = -99;
  const std::string box = test_kit::capture_stderr([&] { result = library->I2C_Info(); });
  EXPECT_EQ(0, result) << "I2C_Info result";
  const std::string marker = "In use : ";
  const auto at = box.find(marker);
  if (at == std::string::npos) {
    return "(no \"In use : \" line in: " + box + ")";
  }
  const auto begin = at + marker.size();
  return box.substr(begin, box.find('\n', begin) - begin);
}

struct DefaultCase {
  std::optional<std::string> value;  // nothing: the key is missing
  std::string adapter;
};

std::ostream& operator<<(std::ostream& out, const DefaultCase& c) {
  return out << "Default=" << (c.value ? "\"" + *c.value + "\"" : "(missing)") << " -> "
             << c.adapter;
}

class DefaultKeyAtLoad : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(DefaultKeyAtLoad, SelectsTheAdapterItNumbers) {
  harness::Environment env;
  test_kit::Ini ini{{"I2C Card", {{"Nops", "0"}}}};
  if (GetParam().value) {
    ini.push_back({"I2C Device", {{"Default", *GetParam().value}}});
  }
  env.configure(ini);
  harness::Library library;
  EXPECT_EQ(GetParam().adapter, adapter_in_use(library));
}

INSTANTIATE_TEST_SUITE_P(
    Values, DefaultKeyAtLoad,
    ::testing::Values(DefaultCase{std::nullopt, kCard}, DefaultCase{"1", kCard},
                      DefaultCase{"2", kPhilips}, DefaultCase{"3", kCustom},
                      DefaultCase{"0", kCard}, DefaultCase{"7", kCard},
                      DefaultCase{"-1", kCard}, DefaultCase{" 2", kPhilips},
                      DefaultCase{"2x", kPhilips}, DefaultCase{"+3", kCustom},
                      // Only the low 16 bits count: 65538 is 0x10002.
                      DefaultCase{"65538", kPhilips}, DefaultCase{"65539", kCustom},
                      DefaultCase{"65536", kCard},
                      // Text that holds no number selects the card, as a
                      // missing key does.
                      DefaultCase{"abc", kCard}, DefaultCase{"", kCard},
                      DefaultCase{"x3", kCard}));

TEST(DefaultKeyAtLoad, MissingConfigurationFileSelectsTheCard) {
  harness::Environment env;  // I2C_INI names a file that does not exist
  harness::Library library;
  EXPECT_EQ(kCard, adapter_in_use(library));
}

TEST(SelectInterface, MapsInterfaceNumbersToAdaptersAndOthersToTheCard) {
  harness::Environment env;
  env.configure({{"I2C Device", {{"Default", "3"}}}});
  harness::Library library;
  const struct {
    std::int16_t number;
    const std::string& adapter;
  } cases[] = {{1, kCard},  {2, kPhilips}, {3, kCustom}, {0, kCard},    {3, kCustom},
               {4, kCard},  {2, kPhilips}, {-1, kCard},  {2, kPhilips}, {32767, kCard},
               {2, kPhilips}, {-32768, kCard}};
  for (const auto& c : cases) {
    EXPECT_EQ(0, library->I2C_SelectInterface(c.number)) << "number " << c.number;
    EXPECT_EQ(c.adapter, adapter_in_use(library)) << "after selecting " << c.number;
  }
}

TEST(Info, ShowsVersionAdapterAndOwnershipInOneBox) {
  harness::Environment env;
  env.configure({{"I2C Device", {{"Default", "2"}}}});
  harness::Library library;
  std::int16_t result = -99;
  const std::string box = test_kit::capture_stderr([&] { result = library->I2C_Info(); });
  EXPECT_EQ(0, result);
  EXPECT_EQ(
      "[Tarnwick Information]\n"
      "Tarnwick - Version 4.11\n"
      "Multi adapters support.\n"
      "In use : Philips adapter\n"
      "Copyright (c) the Tarnwick developers\n",
      box);
}

TEST(Info, NamesTheAdapterSelectedLastWithoutAnyInit) {
  harness::Environment env;
  env.configure({});
  harness::Library library;
  library->I2C_SelectInterface(3);
  EXPECT_EQ(kCustom, adapter_in_use(library));
  library->I2C_SelectInterface(1);
  EXPECT_EQ(kCard, adapter_in_use(library));
}

}  // namespace
