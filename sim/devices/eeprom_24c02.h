// The bench's main EEPROM: the first 24C02 of the device list, the 24Cxx
// model with the 24C02's row (256 bytes behind an 8-bit word address,
// 8-byte pages, erased to 0xFF), whose contents can live in a file.
// When a file is named, the contents are loaded from it at start (a missing
// file is an erased part) and saved to it after each programmed page, by
// writing a temporary file and renaming it over the old one, so a process
// killed at any moment leaves either the old contents or the new ones.
// Both names are taken relative to the folder that the trust walk opened;
// the new file keeps the old one's owner, group and mode (a privileged
// process sets no set-user-ID, set-group-ID or sticky bit, and replaces no
// link), and a read-only image is not replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/devices/eeprom_24cxx.h"

namespace sim {

// Programmed pages that did not reach the named EEPROM File in this
// process (the save failed, or the file was left alone since it could not
// be loaded): a tool that wrote the part can tell that the image is lost.
unsigned long long unsaved_pages();

class Eeprom24c02 final : public EepromFace {
 public:
  static constexpr EepromPart kPart = kEepromParts[1];
  static_assert(kPart.name == "24C02");

  // `file` may be empty (contents in memory only). File problems are told
  // through `warn`, one line each.
  Eeprom24c02(std::uint8_t address, std::string file,
              std::function<void(std::string_view)> warn,
              const BenchClock* clock = nullptr, std::uint32_t write_us = 0);

  const std::vector<std::uint8_t>& contents() const { return chip().contents(); }
  std::uint8_t pointer() const { return static_cast<std::uint8_t>(chip().counter()); }

 private:
  void programmed() override { save(); }
  void load();
  void save();
  void tell(const std::string& text) const;

  std::string file_;
  std::function<void(std::string_view)> warn_;
  bool file_usable_ = true;  // false: the file is left alone for this run
  bool save_failing_ = false;
};

}  // namespace sim
