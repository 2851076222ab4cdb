#include "platform/portio/port_settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <optional>

#include <sys/stat.h>

#include "platform/portio/backends/backend.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"
#include "platform/trust/trust.h"

namespace portio {

namespace {

constexpr const char* kSection = "Port IO";
constexpr std::size_t kValueSize = 260;  // room for a path

std::string read_value(const char* section, const char* key,
                       const char* fallback) {
  std::array<char, kValueSize> buffer{};
  profile::get(section, key, fallback, buffer.data(), buffer.size());
  return std::string(buffer.data());
}

std::string trimmed(std::string text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
  text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(),
             text.end());
  return text;
}

// A port number key: hexadecimal, 0 to FFFF, else its default.
std::uint16_t port_key(const char* key, std::uint16_t fallback, const std::string& where,
                       const std::function<void(std::string_view)>& warn) {
  char text[8];
  std::snprintf(text, sizeof text, "%X", fallback);
  const std::string value = read_value(kSection, key, text);
  const auto parsed = scan::hexadecimal(value);
  if (parsed && *parsed >= 0 && *parsed <= 0xFFFF) return static_cast<std::uint16_t>(*parsed);
  warn(std::string(key) + " = \"" + value + "\" " + where +
       " is not a hexadecimal port from 0 to FFFF; using " + text);
  return fallback;
}

// "A" to "D" name the interfaces of a chip with several; "ANY" the first
// one free. The numbers are libftdi's.
constexpr std::array<const char*, 5> kInterfaces{"any", "a", "b", "c", "d"};

// Up to eight line offsets in decimal, bit 0 first, apart by blanks or
// commas; "-" leaves a bit without a line. Empty when the text is not that,
// with `problem` saying why.
std::optional<std::array<int, 8>> parse_gpio_lines(const std::string& text, std::string& problem) {
  std::array<int, 8> lines{};
  lines.fill(PortSettings::kNoLine);
  std::size_t bit = 0;
  std::size_t at = 0;
  while (true) {
    at = text.find_first_not_of(" \t,", at);
    if (at == std::string::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t,", at), text.size());
    const std::string word = text.substr(at, end - at);
    at = end;
    if (bit == lines.size()) {
      problem = "names more than eight lines";
      return std::nullopt;
    }
    if (word == "-") {
      ++bit;
      continue;
    }
    if (word.size() > 5 || word.find_first_not_of("0123456789") != std::string::npos) {
      problem = "holds \"" + word + "\", which is no line offset";
      return std::nullopt;
    }
    const int offset = std::stoi(word);
    if (std::find(lines.begin(), lines.end(), offset) != lines.end()) {
      problem = "names line " + word + " twice";
      return std::nullopt;
    }
    lines[bit++] = offset;
  }
  return lines;
}

}  // namespace

PortSettings PortSettings::load(
    const std::function<void(std::string_view)>& warn) {
  PortSettings settings;
  settings.config_path = profile::file_path();
  const std::string where =
      "in section \"Port IO\" of " + settings.config_path;

  // Every setting of the file would silently take its default; the person
  // who wrote the file must hear why.
  // A privileged process that ignores the file says so once, however
  // often the port layer starts.
  // Where there is no file at all, there is nothing to distrust: the
  // defaults are what the user has asked for.
  static bool refusal_told = false;
  struct stat entry {};
  const bool file_present = ::lstat(settings.config_path.c_str(), &entry) == 0;
  if (const std::string refused = file_present ? profile::refusal(settings.config_path) : "";
      !refused.empty()) {
    if (!refusal_told) {
      // An elevated host names what it trusts in its own words: its user's
      // files are not among them.
      warn("not using the configuration file " + settings.config_path + ": " + refused +
           (trust::elevated()
                ? "; a set-user-ID, set-group-ID or capability host trusts only a file and "
                  "folders that root owns, nobody else can write and its user can read"
                : "; a privileged process trusts only a file and folders that root or its "
                  "real user owns and nobody else can write") +
           "; every setting takes its default");
    }
    refusal_told = true;
  } else if (const std::string problem = profile::unreadable_reason(settings.config_path);
      !problem.empty()) {
    warn("cannot read the configuration file " + settings.config_path + " (" +
         problem + "); every setting takes its default");
  }

  const std::string backend = read_value(kSection, "Backend", "");
  const std::string kind = trimmed(backend);
  settings.backend_given = false;
  if (!kind.empty()) {
    std::string names;
    for (std::size_t row = 0; row < kBackends.size(); ++row) {
      if (scan::equal_ignoring_case(kind, kBackends[row].name)) {
        settings.backend = row;
        settings.backend_given = true;
      }
      names += (row == 0 ? "" : ", ") + std::string(kBackends[row].name);
    }
    if (!settings.backend_given) {
      warn("Backend = \"" + backend + "\" " + where + " is none of " + names + "; using " +
           kBackends[0].name);
    }
  }

  settings.trace_path = read_value(kSection, "Trace", "");
  settings.parport_device = read_value(kSection, "Parport", "/dev/parport0");
  if (settings.parport_device.empty()) {
    settings.parport_device = "/dev/parport0";
  }

  const std::string base = read_value(kSection, "Parport Base", "378");
  const auto parsed = scan::hexadecimal(base);
  if (parsed && *parsed >= 0 && *parsed <= 0xFFFD) {
    settings.parport_base = static_cast<std::uint16_t>(*parsed);
  } else {
    warn("Parport Base = \"" + base + "\" " + where +
         " is not a hexadecimal port from 0 to FFFD; using 378");
  }

  settings.ftdi_device = read_value(kSection, "FTDI Device", "i:0x0403:0x6014");
  if (settings.ftdi_device.empty()) settings.ftdi_device = "i:0x0403:0x6014";
  const std::string interface = read_value(kSection, "FTDI Interface", "A");
  const std::string chosen = trimmed(interface);
  const auto named = std::find_if(kInterfaces.begin(), kInterfaces.end(),
                                  [&](const char* name) { return scan::equal_ignoring_case(chosen, name); });
  if (named != kInterfaces.end()) {
    settings.ftdi_interface = static_cast<int>(named - kInterfaces.begin());
  } else {
    warn("FTDI Interface = \"" + interface + "\" " + where + " is none of A, B, C, D, ANY; using A");
  }
  settings.ftdi_pin_port = port_key("FTDI Pin Port", 0x378, where, warn);
  settings.ftdi_direction_port = port_key("FTDI Direction Port", 0x379, where, warn);
  if (settings.ftdi_pin_port == settings.ftdi_direction_port) {
    warn("FTDI Pin Port and FTDI Direction Port " + where +
         " are the same port; using 378 and 379");
    settings.ftdi_pin_port = 0x378;
    settings.ftdi_direction_port = 0x379;
  }

  const std::string outputs = read_value(kSection, "FTDI Outputs", "0");
  const auto output_pins = scan::hexadecimal(outputs);
  if (output_pins && *output_pins >= 0 && *output_pins <= 0xFF) {
    settings.ftdi_outputs = static_cast<std::uint8_t>(*output_pins);
  } else {
    warn("FTDI Outputs = \"" + outputs + "\" " + where +
         " is not a hexadecimal pin mask from 0 to FF; using 0");
  }

  settings.gpio_chip = read_value(kSection, "GPIO Chip", "/dev/gpiochip0");
  if (settings.gpio_chip.empty()) settings.gpio_chip = "/dev/gpiochip0";
  const std::string lines = read_value(kSection, "GPIO Lines", "");
  std::string problem;
  if (const auto parsed_lines = parse_gpio_lines(lines, problem)) {
    settings.gpio_lines = *parsed_lines;
  } else {
    warn("GPIO Lines = \"" + lines + "\" " + where + " " + problem +
         " (up to eight line offsets, bit 0 first, - for a bit without a line); using none");
  }
  settings.gpio_latch_port = port_key("GPIO Latch Port", 0x378, where, warn);
  settings.gpio_pin_port = port_key("GPIO Pin Port", 0x379, where, warn);
  if (settings.gpio_latch_port == settings.gpio_pin_port) {
    warn("GPIO Latch Port and GPIO Pin Port " + where + " are the same port; using 378 and 379");
    settings.gpio_latch_port = 0x378;
    settings.gpio_pin_port = 0x379;
  }
  return settings;
}

}  // namespace portio
