#include "sim/devices/device_list.h"

#include <array>
#include <cctype>

#include "platform/format.h"
#include "platform/scan.h"
#include "sim/devices/ds1307.h"
#include "sim/devices/eeprom_24c02.h"
#include "sim/devices/eeprom_24cxx.h"
#include "sim/devices/lm75.h"
#include "sim/devices/mcu_slave.h"
#include "sim/devices/mma8452q.h"
#include "sim/devices/pcf8574.h"

namespace sim {

namespace {

enum class Type { eeprom_24c02, eeprom_family, lm75, pcf8574, ds1307, mcu, mma8452q };

struct TypeName {
  std::string_view name;
  Type type;
};

constexpr std::array<TypeName, 10> kTypes{{
    {"24C01", Type::eeprom_family},
    {"24C02", Type::eeprom_24c02},
    {"24C04", Type::eeprom_family},
    {"24C08", Type::eeprom_family},
    {"24C16", Type::eeprom_family},
    {"LM75", Type::lm75},
    {"PCF8574", Type::pcf8574},
    {"DS1307", Type::ds1307},
    {"MCU", Type::mcu},
    {"MMA8452Q", Type::mma8452q},
}};

constexpr std::string_view kIgnored = "; entry ignored";

std::string quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

}  // namespace

std::vector<std::unique_ptr<Device>> make_devices(
    std::string_view list, const std::string& eeprom_file,
    const std::function<void(std::string_view)>& warn, const DeviceTiming& timing) {
  std::vector<std::unique_ptr<Device>> devices;
  std::array<std::string, 128> taken_by;
  bool eeprom_file_given = false;

  auto complain = [&](std::string_view entry, const std::string& why) {
    if (warn) warn("Devices: " + quoted(entry) + ": " + why + std::string(kIgnored));
  };

  std::size_t at = 0;
  while (at < list.size()) {
    if (std::isspace(static_cast<unsigned char>(list[at]))) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < list.size() && !std::isspace(static_cast<unsigned char>(list[end]))) {
      ++end;
    }
    const std::string_view entry = list.substr(at, end - at);
    at = end;

    const std::size_t sign = entry.find('@');
    if (sign == std::string_view::npos || sign == 0) {
      complain(entry, "not of the form TYPE@ADDR (for example LM75@90)");
      continue;
    }
    const std::string_view type_text = entry.substr(0, sign);
    const std::string_view address_text = entry.substr(sign + 1);

    const TypeName* type = nullptr;
    for (const auto& known : kTypes) {
      if (scan::equal_ignoring_case(known.name, type_text)) type = &known;
    }
    if (type == nullptr) {
      complain(entry, "unknown device type " + quoted(type_text) +
                          " (known: 24C01, 24C02, 24C04, 24C08, 24C16, LM75, PCF8574, DS1307)");
      continue;
    }
    // One or two hexadecimal digits, with or without 0x in front.
    const auto parsed =
        scan::whole_number(address_text, {.base = 16, .max = 0xFF, .max_digits = 2});
    if (!parsed) {
      complain(entry, "address " + quoted(address_text) +
                          " is not a hexadecimal byte (for example 90)");
      continue;
    }
    const unsigned address = *parsed;
    if (address & 1) {
      complain(entry, "address " + format::hexadecimal(address, 2) +
                          " is odd; give the 8-bit write address, bit 0 clear (" +
                          format::hexadecimal(address & 0xFE, 2) + ")");
      continue;
    }
    if (address == 0) {
      complain(entry, "address 00 is the general call address, which every "
                      "slave hears");
      continue;
    }
    // A larger EEPROM answers at one address per 256-byte block, the block
    // number in bits 3 to 1 of the address byte; its own address has them clear.
    const auto part = type->type == Type::eeprom_family ? eeprom_part(type->name)
                                                        : std::optional<EepromPart>{};
    const unsigned addresses = part ? part->blocks : 1;
    if (address & (2 * (addresses - 1))) {
      complain(entry, "a " + std::string(type->name) + " takes the " +
                          std::to_string(addresses) + " addresses from " +
                          format::hexadecimal(address & ~(2 * (addresses - 1)), 2) +
                          " on, so its address has the block bits clear");
      continue;
    }
    std::string clash;
    for (unsigned block = 0; block < addresses && clash.empty(); ++block) {
      const std::string& owner = taken_by[(address >> 1) + block];
      if (!owner.empty()) {
        clash = "address " + format::hexadecimal(address + 2 * block, 2) +
                 " is already taken by " + quoted(owner);
      }
    }
    if (!clash.empty()) {
      complain(entry, clash);
      continue;
    }
    for (unsigned block = 0; block < addresses; ++block) {
      taken_by[(address >> 1) + block] = std::string(entry);
    }

    const auto byte = static_cast<std::uint8_t>(address);
    switch (type->type) {
      case Type::eeprom_24c02:
        devices.push_back(std::make_unique<Eeprom24c02>(
            byte, eeprom_file_given ? std::string() : eeprom_file, warn, timing.clock,
            timing.eeprom_write_us));
        eeprom_file_given = true;
        break;
      case Type::eeprom_family:
        for (auto& face : make_eeprom(*part, byte, timing.clock, timing.eeprom_write_us)) devices.push_back(std::move(face));
        break;
      case Type::lm75:
        devices.push_back(std::make_unique<Lm75>(byte));
        break;
      case Type::pcf8574:
        devices.push_back(std::make_unique<Pcf8574>(byte));
        break;
      case Type::ds1307:
        devices.push_back(std::make_unique<Ds1307>(byte, Ds1307::host_local_clock(), timing.clock));
        break;
      case Type::mcu:
        devices.push_back(std::make_unique<McuSlave>(byte, timing.stretch_us));
        break;
      case Type::mma8452q:
        devices.push_back(std::make_unique<Mma8452q>(byte));
        break;
    }
  }
  return devices;
}

}  // namespace sim
