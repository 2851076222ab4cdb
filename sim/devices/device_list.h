// The bench's slave devices, built from the device list of the
// configuration: blank-separated entries TYPE@ADDR, ADDR being the 8-bit
// write address in hexadecimal, for example "24C02@A0 LM75@90 MCU@60". A 24C04,
// 24C08 or 24C16 takes one address per 256-byte block from ADDR on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bus/i2c_bus.h"

namespace sim {

// The list the bench uses when the configuration names none.
inline constexpr std::string_view kDefaultDeviceList =
    "24C02@A0 LM75@90 PCF8574@40 DS1307@D0";

// What the devices that keep time read it from: the bus's clock, the
// length of an EEPROM's write cycle in us, and how long a microcontroller
// slave (MCU) holds SCL low after each byte and acknowledge. Without a
// clock no device waits.
struct DeviceTiming {
  const BenchClock* clock = nullptr;
  std::uint32_t eeprom_write_us = 0;
  std::uint32_t stretch_us = 0;
};

// Builds one device per good entry, in list order. Each bad entry (unknown
// type, address that is not an even hexadecimal byte, address already
// taken) is described by one line through `warn`, naming the entry, and
// left out; the other entries still load. The first 24C02 keeps its
// contents in `eeprom_file` when that is not empty.
std::vector<std::unique_ptr<Device>> make_devices(
    std::string_view list, const std::string& eeprom_file,
    const std::function<void(std::string_view)>& warn, const DeviceTiming& timing = {});

}  // namespace sim
