// Section "Simulation" of the configuration file: what the bench holds and
// which faults it shows. A value that cannot be used is reported in one line
// and its default applies, so a typo never leaves the bench half-built.
#include <array>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/format.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"
#include "sim/bench/bench.h"

namespace sim {

namespace {

constexpr const char* kSection = "Simulation";
constexpr std::size_t kValueSize = 1024;  // a device list or a path

// "Timing Check", in the order of TimingMode.
constexpr std::array<std::string_view, 3> kTimingModes{"off", "standard", "fast"};

using Warn = std::function<void(std::string_view)>;

std::string trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  const auto blank = [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
  };
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// The value of `key`, or nothing when the key (or the file) is missing.
std::optional<std::string> value_of(const char* key) {
  // Two different fallbacks tell a missing key from one that holds either.
  std::array<char, kValueSize> first{};
  profile::get(kSection, key, "\x01", first.data(), first.size());
  if (std::string(first.data()) != "\x01") return std::string(first.data());
  std::array<char, kValueSize> second{};
  profile::get(kSection, key, "\x02", second.data(), second.size());
  if (std::string(second.data()) != "\x02") return std::string(second.data());
  return std::nullopt;
}

class SectionReader {
 public:
  explicit SectionReader(const Warn& warn)
      : warn_(warn),
        where_("in section \"Simulation\" of " + profile::file_path()) {}

  void text(const char* key, std::string& target) {
    if (auto value = value_of(key)) target = trimmed(*value);
  }

  void hex(const char* key, std::uint16_t& target, std::uint32_t max,
           const char* meaning) {
    const auto value = value_of(key);
    if (!value) return;
    if (const auto number = scan::whole_number(*value, {.base = 16, .max = max})) {
      target = static_cast<std::uint16_t>(*number);
      return;
    }
    reject(key, *value, meaning, format::hexadecimal(target));
  }

  void hex_byte(const char* key, std::uint8_t& target, std::uint8_t allowed,
                const char* meaning) {
    const auto value = value_of(key);
    if (!value) return;
    const auto number = scan::whole_number(*value, {.base = 16, .max = 0xFF});
    if (number && (*number & ~static_cast<std::uint32_t>(allowed)) == 0) {
      target = static_cast<std::uint8_t>(*number);
      return;
    }
    reject(key, *value, meaning, format::hexadecimal(target));
  }

  void flag(const char* key, bool& target) {
    const auto value = value_of(key);
    if (!value) return;
    const std::string text = trimmed(*value);
    if (text == "0" || text == "1") {
      target = text == "1";
      return;
    }
    reject(key, *value, "0 or 1", target ? "1" : "0");
  }

  // One of `names` in any letter case; `target` becomes its index.
  template <std::size_t N>
  void choice(const char* key, int& target, const std::array<std::string_view, N>& names,
              const char* meaning) {
    const auto value = value_of(key);
    if (!value) return;
    const std::string text = trimmed(*value);
    for (std::size_t index = 0; index < N; ++index) {
      if (scan::equal_ignoring_case(names[index], text)) {
        target = static_cast<int>(index);
        return;
      }
    }
    reject(key, *value, meaning, std::string(names[static_cast<std::size_t>(target)]));
  }

  void count(const char* key, int& target, const char* meaning, std::uint32_t least = 0,
             std::uint32_t most = 0x7FFFFFFF) {
    const auto value = value_of(key);
    if (!value) return;
    if (const auto number = scan::whole_number(*value, {.base = 10, .max = most});
        number && *number >= least) {
      target = static_cast<int>(*number);
      return;
    }
    reject(key, *value, meaning, std::to_string(target));
  }

 private:
  void reject(const char* key, const std::string& value, const char* meaning,
              const std::string& fallback) {
    warn_(std::string(key) + " = \"" + value + "\" " + where_ + " is not " +
          meaning + "; using " + fallback);
  }

  const Warn& warn_;
  std::string where_;
};

}  // namespace

BenchConfig BenchConfig::load(const Warn& warn) {
  BenchConfig config;
  SectionReader section(warn);
  section.text("Devices", config.devices);
  section.text("Large EEPROMs", config.large_eeproms);
  section.text("EEPROM File", config.eeprom_file);
  section.text("Waveform", config.waveform);
  section.hex("Card Base", config.card_base, 0xFFFE,
              "a hexadecimal port from 0 to FFFE");
  section.hex("Parport Base", config.parport_base, 0xFFFD,
              "a hexadecimal port from 0 to FFFD");
  section.flag("Bus Busy", config.bus_busy);
  section.flag("Bus Error", config.bus_error);
  section.count("PIN Polls", config.pin_polls,
                "a decimal count of 0 or more");
  section.hex_byte("Adapter Status", config.adapter_status, 0x70,
                   "a hexadecimal value of status bits 4 to 6 (00 to 70)");
  section.flag("SDA Stuck", config.sda_stuck);
  section.count("NACK Byte", config.nack_byte,
                "a decimal byte number from 1, or 0 for none");
  section.count("Access Time", config.access_time_us,
                "a decimal count of microseconds from 1", 1);
  section.flag("Wall Clock", config.wall_clock);
  section.count("EEPROM Write Time", config.eeprom_write_us,
                "a decimal count of microseconds of 0 or more");
  section.count("Stretch Time", config.stretch_us,
                "a decimal count of microseconds of 0 or more");
  section.count("Stranded Slave", config.stranded_clocks,
                "a decimal count of clocks from 0 to 9", 0, 9);
  int timing = static_cast<int>(config.timing_check);
  section.choice("Timing Check", timing, kTimingModes, "off, standard or fast");
  config.timing_check = static_cast<TimingMode>(timing);
  section.flag("Timing Strict", config.timing_strict);
  return config;
}

}  // namespace sim
