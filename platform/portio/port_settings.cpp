#include "platform/portio/port_settings.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/portio/backends/backend.h"
#include "platform/profile/profile.h"
#include "platform/text/scan.h"

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

std::string lower_trimmed(std::string text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
  text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(),
             text.end());
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
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
  if (const std::string problem = profile::unreadable_reason(settings.config_path);
      !problem.empty()) {
    warn("cannot read the configuration file " + settings.config_path + " (" +
         problem + "); every setting takes its default");
  }

  const std::string backend = read_value(kSection, "Backend", "");
  const std::string kind = lower_trimmed(backend);
  settings.backend_given = false;
  if (!kind.empty()) {
    std::string names;
    for (std::size_t row = 0; row < kBackends.size(); ++row) {
      if (kind == kBackends[row].name) {
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
  return settings;
}

}  // namespace portio
