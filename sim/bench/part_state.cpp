#include "sim/bench/part_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "platform/file_utilities.h"
#include "platform/format.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"
#include "platform/trust/trust.h"
#include "sim/bus/i2c_bus.h"
#include "sim/devices/ds1307.h"
#include "sim/devices/eeprom_24cxx.h"
#include "sim/devices/eeprom_image.h"
#include "sim/devices/lm75.h"
#include "sim/devices/pcf8574.h"

namespace sim::part_state {

namespace {

using Warn = std::function<void(std::string_view)>;

// i2cdump's text of the largest part, with room to spare.
constexpr std::size_t kLargestFile = 1 << 20;

template <typename Part>
Part* part_at(Bus& bus, std::uint8_t address) {
  return dynamic_cast<Part*>(bus.device_at(address));
}

// Seconds since 1970 of "YYYY-MM-DD HH:MM:SS", read as local wall-clock
// time; nothing for another shape or a date that does not exist.
std::optional<std::int64_t> wall_clock_seconds(const std::string& text) {
  std::tm fields{};
  char rest = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &fields.tm_year, &fields.tm_mon,
                  &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec,
                  &rest) != 6) {
    return std::nullopt;
  }
  const std::tm asked = fields;
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  const std::time_t seconds = timegm(&fields);
  std::tm back{};
  gmtime_r(&seconds, &back);
  // timegm moves a day or second that does not exist (February 30) on.
  if (back.tm_year + 1900 != asked.tm_year || back.tm_mon + 1 != asked.tm_mon ||
      back.tm_mday != asked.tm_mday || back.tm_hour != asked.tm_hour ||
      back.tm_min != asked.tm_min || back.tm_sec != asked.tm_sec) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(seconds);
}

// The whole file at `path`, or why not.
std::optional<std::string> file_text(const std::string& path, std::string& error) {
  file_utilities::Descriptor fd(trust::open_named_file(path, O_RDONLY, 0, error));
  if (!fd.valid()) return std::nullopt;
  std::string text;
  std::array<char, 65536> buffer{};
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::strerror(errno);
      return std::nullopt;
    }
    if (got == 0) return text;
    text.append(buffer.data(), static_cast<std::size_t>(got));
    if (text.size() > kLargestFile) {
      error = "larger than any EEPROM's image";
      return std::nullopt;
    }
  }
}

// A part's key: "Temperature@90".
std::string key_of(const char* name, std::uint8_t address) {
  return std::string(name) + "@" + format::hexadecimal(address, 2);
}

// What the key holds, blanks trimmed; empty when it is missing or empty.
std::string value_of(const std::string& key) {
  std::array<char, 1024> value{};
  profile::get("Simulation", key.c_str(), "", value.data(), value.size());
  return value.data();
}

void reject(const Warn& warn, const std::string& key, const std::string& value,
            const std::string& why) {
  if (warn) {
    warn(key + " = \"" + value + "\" in section \"Simulation\" of " + profile::file_path() +
         " " + why);
  }
}

}  // namespace

bool set_temperature(Bus& bus, std::uint8_t address, double celsius) {
  Lm75* sensor = part_at<Lm75>(bus, address);
  if (sensor == nullptr || std::isnan(celsius)) return false;
  sensor->set_temperature(celsius);
  return true;
}

bool set_inputs(Bus& bus, std::uint8_t address, std::uint8_t levels) {
  Pcf8574* port = part_at<Pcf8574>(bus, address);
  if (port == nullptr) return false;
  port->set_inputs(levels);
  return true;
}

bool set_time(Bus& bus, std::uint8_t address, std::int64_t local_seconds) {
  Ds1307* clock = part_at<Ds1307>(bus, address);
  return clock != nullptr && clock->set_time(local_seconds);
}

bool eeprom_contents(Bus& bus, std::uint8_t address, std::vector<std::uint8_t>& contents) {
  const EepromFace* eeprom = part_at<EepromFace>(bus, address);
  if (eeprom == nullptr) return false;
  contents = eeprom->chip().contents();
  return true;
}

std::string load_eeprom(Bus& bus, std::uint8_t address, std::string_view file) {
  EepromFace* eeprom = part_at<EepromFace>(bus, address);
  if (eeprom == nullptr) return "no EEPROM answers at " + format::hexadecimal(address, 2);
  std::string error;
  const auto image = eeprom_image::parse(file, eeprom->chip().part().size, error);
  if (!image) return error;
  eeprom->load_image(*image);
  return "";
}

void apply_keys(Bus& bus, const Warn& warn) {
  for (unsigned address = 2; address <= 0xFE; address += 2) {
    const auto byte = static_cast<std::uint8_t>(address);
    Device* device = bus.device_at(byte);
    if (device == nullptr) continue;
    if (auto* sensor = dynamic_cast<Lm75*>(device)) {
      const std::string key = key_of("Temperature", byte);
      const std::string value = value_of(key);
      if (value.empty()) continue;
      char* end = nullptr;
      const double celsius = std::strtod(value.c_str(), &end);
      if (*end != '\0' || !(celsius >= -55 && celsius <= 125)) {
        reject(warn, key, value,
               "is not a temperature from -55 to 125 (degC); the LM75 keeps 25.0");
        continue;
      }
      sensor->set_temperature(celsius);
    } else if (auto* port = dynamic_cast<Pcf8574*>(device)) {
      const std::string key = key_of("Inputs", byte);
      const std::string value = value_of(key);
      if (value.empty()) continue;
      const auto levels = scan::whole_number(value, {.base = 16, .max = 0xFF});
      if (!levels) {
        reject(warn, key, value, "is not a hexadecimal byte (00 to FF); the pins stay high");
        continue;
      }
      port->set_inputs(static_cast<std::uint8_t>(*levels));
    } else if (auto* clock = dynamic_cast<Ds1307*>(device)) {
      const std::string key = key_of("Time", byte);
      const std::string value = value_of(key);
      if (value.empty()) continue;
      const auto seconds = wall_clock_seconds(value);
      if (!seconds || !clock->set_time(*seconds)) {
        reject(warn, key, value,
               "is not a time YYYY-MM-DD HH:MM:SS of 2000 to 2099; the clock keeps the host's");
      }
    } else if (auto* eeprom = dynamic_cast<EepromFace*>(device)) {
      const std::string key = key_of("Image", byte);
      const std::string path = value_of(key);
      if (path.empty()) continue;
      std::string error;
      const auto text = file_text(path, error);
      const std::string outcome = text ? load_eeprom(bus, byte, *text) : error;
      if (!outcome.empty()) {
        reject(warn, key, path, "cannot be loaded (" + outcome + "); the " +
                                    std::string(eeprom->chip().part().name) +
                                    " keeps its contents");
      }
    }
  }
}

}  // namespace sim::part_state
