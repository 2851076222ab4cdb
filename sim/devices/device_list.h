// The bench's slave devices, built from the device list of the
// configuration: blank-separated entries TYPE@ADDR, ADDR being the 8-bit
// write address in hexadecimal, for example "24C02@A0 LM75@90 MCU@60". A 24C04,
// 24C08 or 24C16 takes one address per 256-byte block from ADDR on.
#pragma once

#include <array>
#include <cstdint>
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

// Where key "Large EEPROMs" puts the parts it names, in turn: the 8-bit
// addresses A8, AA, AC and AE (7-bit 54 to 57), clear of the default
// devices, so that the bench answers as before unless the key is set.
inline constexpr std::array<std::uint8_t, 4> kLargeEepromAddresses{0xA8, 0xAA, 0xAC, 0xAE};

// Device list entries ("24C32@A8 24C512@AA") for the parts named in
// `parts`, blank-separated, each one of the 24C32 to 24C512, at
// kLargeEepromAddresses in turn. A name that is no such part, or a fifth
// one, is described by one line through `warn` and left out.
std::string large_eeprom_entries(std::string_view parts,
                                 const std::function<void(std::string_view)>& warn);

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
