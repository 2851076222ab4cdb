// The device list of the configuration, entry by entry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sim/devices/device_list.h"
#include "sim/devices/ds1307.h"
#include "sim/devices/eeprom_24c02.h"
#include "sim/devices/lm75.h"
#include "sim/devices/pcf8574.h"

namespace {

struct Built {
  std::vector<std::unique_ptr<sim::Device>> devices;
  std::vector<std::string> warnings;
};

Built build(std::string_view list, const std::string& eeprom_file = "") {
  Built built;
  built.devices = sim::make_devices(list, eeprom_file, [&](std::string_view line) {
    built.warnings.emplace_back(line);
  });
  return built;
}

std::vector<unsigned> addresses(const Built& built) {
  std::vector<unsigned> result;
  for (const auto& device : built.devices) result.push_back(device->address());
  return result;
}

TEST(DeviceList, DefaultListBuildsTheFourBenchDevices) {
  const Built built = build(sim::kDefaultDeviceList);
  EXPECT_TRUE(built.warnings.empty());
  ASSERT_EQ(addresses(built), (std::vector<unsigned>{0xA0, 0x90, 0x40, 0xD0}));
  EXPECT_NE(dynamic_cast<sim::Eeprom24c02*>(built.devices[0].get()), nullptr);
  EXPECT_NE(dynamic_cast<sim::Lm75*>(built.devices[1].get()), nullptr);
  EXPECT_NE(dynamic_cast<sim::Pcf8574*>(built.devices[2].get()), nullptr);
  EXPECT_NE(dynamic_cast<sim::Ds1307*>(built.devices[3].get()), nullptr);
}

TEST(DeviceList, BlanksTabsCaseAndHexPrefixAreAccepted) {
  const Built built = build("  24c02@a2\tlm75@0x9E   pcf8574@4e ");
  EXPECT_TRUE(built.warnings.empty());
  EXPECT_EQ(addresses(built), (std::vector<unsigned>{0xA2, 0x9E, 0x4E}));
  EXPECT_TRUE(build("").devices.empty());
}

TEST(DeviceList, EachBadEntryIsOneLineNamingItAndTheRestStillLoad) {
  const Built built = build(
      "24C1024@A0 LM75@9G LM75@91 24C02@A0 PCF8574@A0 DS1307 LM75@123 "
      "PCF8574@00 @40 DS1307@D0");
  EXPECT_EQ(addresses(built), (std::vector<unsigned>{0xA0, 0xD0}));
  const std::vector<std::string> expected{
      "Devices: \"24C1024@A0\": unknown device type \"24C1024\" (known: 24C01, 24C02, "
      "24C04, 24C08, 24C16, 24C32, 24C64, 24C128, 24C256, 24C512, LM75, PCF8574, DS1307, MCU, "
      "MMA8452Q); entry ignored",
      "Devices: \"LM75@9G\": address \"9G\" is not a hexadecimal byte (for "
      "example 90); entry ignored",
      "Devices: \"LM75@91\": address 91 is odd; give the 8-bit write address, "
      "bit 0 clear (90); entry ignored",
      "Devices: \"PCF8574@A0\": address A0 is already taken by \"24C02@A0\"; "
      "entry ignored",
      "Devices: \"DS1307\": not of the form TYPE@ADDR (for example LM75@90); "
      "entry ignored",
      "Devices: \"LM75@123\": address \"123\" is not a hexadecimal byte (for "
      "example 90); entry ignored",
      "Devices: \"PCF8574@00\": address 00 is the general call address, which "
      "every slave hears; entry ignored",
      "Devices: \"@40\": not of the form TYPE@ADDR (for example LM75@90); "
      "entry ignored",
  };
  EXPECT_EQ(built.warnings, expected);
}

TEST(DeviceList, OnlyTheFirst24C02KeepsItsContentsInTheFile) {
  const std::string file = ::testing::TempDir() + "device_list_eeprom.bin";
  std::remove(file.c_str());
  Built built = build("24C02@A0 24C02@A2", file);
  ASSERT_EQ(built.devices.size(), 2u);
  sim::Bus bus;
  for (auto& device : built.devices) bus.attach(std::move(device));
  // A write to the second part leaves the file absent.
  bus.start();
  bus.write(0xA2);
  bus.write(0x00);
  bus.write(0x11);
  bus.stop();
  EXPECT_FALSE(std::ifstream(file).good());
  bus.start();
  bus.write(0xA0);
  bus.write(0x00);
  bus.write(0x22);
  bus.stop();
  EXPECT_TRUE(std::ifstream(file).good());
  std::remove(file.c_str());
}

}  // namespace
