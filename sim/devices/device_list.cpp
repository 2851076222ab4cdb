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

// The devices other than the EEPROMs, whose types are the rows of
// kEepromParts.
enum class Type { lm75, pcf8574, ds1307, mcu, mma8452q };

struct TypeName {
  std::string_view name;
  Type type;
};

constexpr std::array<TypeName, 5> kTypes{{
    {"LM75", Type::lm75},
    {"PCF8574", Type::pcf8574},
    {"DS1307", Type::ds1307},
    {"MCU", Type::mcu},
    {"MMA8452Q", Type::mma8452q},
}};

// "24C01, 24C02, ..., DS1307, MCU, MMA8452Q"
std::string known_types() {
  std::string known;
  for (const auto& part : kEepromParts) known.append(part.name).append(", ");
  for (const auto& other : kTypes) known.append(other.name).append(", ");
  known.resize(known.size() - 2);
  return known;
}

constexpr std::string_view kIgnored = "; entry ignored";

std::string quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// The next word of `text` from `at` on (words part at white space), with
// `at` moved past it; empty once none is left.
std::string_view next_word(std::string_view text, std::size_t& at) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  const std::size_t begin = at;
  while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  return text.substr(begin, at - begin);
}

}  // namespace

std::string large_eeprom_entries(std::string_view parts,
                                 const std::function<void(std::string_view)>& warn) {
  std::string entries;
  std::size_t placed = 0;
  std::size_t at = 0;
  for (std::string_view name = next_word(parts, at); !name.empty();
       name = next_word(parts, at)) {
    const std::optional<EepromPart> part = eeprom_part(name);
    std::string why;
    if (!part || part->word_address_bytes != 2) {
      why = "not one of the parts with two word address bytes (24C32, 24C64, 24C128, "
            "24C256, 24C512)";
    } else if (placed == kLargeEepromAddresses.size()) {
      why = "a fifth part, where four addresses (A8 to AE) are free";
    }
    if (!why.empty()) {
      if (warn) warn("Large EEPROMs: " + quoted(name) + ": " + why + std::string(kIgnored));
      continue;
    }
    entries += std::string(part->name) + "@" +
               format::hexadecimal(kLargeEepromAddresses[placed++], 2) + " ";
  }
  return entries;
}

std::vector<std::unique_ptr<Device>> make_devices(
    std::string_view list, const std::string& eeprom_file,
    const std::function<void(std::string_view)>& warn, const DeviceTiming& timing) {
  std::vector<std::unique_ptr<Device>> devices;
  std::array<std::string, 128> taken_by;
  bool main_eeprom_built = false;

  auto complain = [&](std::string_view entry, const std::string& why) {
    if (warn) warn("Devices: " + quoted(entry) + ": " + why + std::string(kIgnored));
  };

  std::size_t at = 0;
  for (std::string_view entry = next_word(list, at); !entry.empty();
       entry = next_word(list, at)) {
    const std::size_t sign = entry.find('@');
    if (sign == std::string_view::npos || sign == 0) {
      complain(entry, "not of the form TYPE@ADDR (for example LM75@90)");
      continue;
    }
    const std::string_view type_text = entry.substr(0, sign);
    const std::string_view address_text = entry.substr(sign + 1);

    const std::optional<EepromPart> part = eeprom_part(type_text);
    const TypeName* type = nullptr;
    for (const auto& known : kTypes) {
      if (scan::equal_ignoring_case(known.name, type_text)) type = &known;
    }
    if (!part && type == nullptr) {
      complain(entry, "unknown device type " + quoted(type_text) + " (known: " +
                          known_types() + ")");
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
    const unsigned addresses = part ? part->blocks() : 1;
    if (address & (2 * (addresses - 1))) {
      complain(entry, "a " + std::string(part->name) + " takes the " +
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
    if (part) {
      // The first 24C02 is the bench's own EEPROM, the one whose contents
      // the configuration can keep in a file.
      if (part->name == Eeprom24c02::kPart.name && !main_eeprom_built) {
        devices.push_back(std::make_unique<Eeprom24c02>(byte, eeprom_file, warn, timing.clock,
                                                        timing.eeprom_write_us));
        main_eeprom_built = true;
        continue;
      }
      for (auto& face : make_eeprom(*part, byte, timing.clock, timing.eeprom_write_us)) {
        devices.push_back(std::move(face));
      }
      continue;
    }
    switch (type->type) {
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
