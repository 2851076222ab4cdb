#include "platform/portio/port_settings.h"

#include <algorithm>
#include <array>
#include <cctype>

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

// A port number as the adapters read it: hexadecimal, low 16 bits kept.
std::uint16_t adapter_port(const char* section, const char* key,
                           const char* fallback) {
  const std::string text = read_value(section, key, fallback);
  auto value = scan::hexadecimal(text);
  if (!value) value = scan::hexadecimal(fallback);
  return static_cast<std::uint16_t>(*value);
}

// Adds `count` ports from `first`, wrapping at 0xFFFF as the 16-bit port
// arithmetic of the adapters does.
void add_ports(std::vector<std::uint16_t>& ports, std::uint16_t first,
               unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    ports.push_back(static_cast<std::uint16_t>(first + i));
  }
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
  static bool refusal_told = false;
  if (const std::string refused = profile::refusal(settings.config_path); !refused.empty()) {
    if (!refusal_told) {
      warn("not using the configuration file " + settings.config_path + ": " + refused +
           "; a privileged process trusts only a file and folders that root or its real user "
           "owns and nobody else can write; every setting takes its default");
    }
    refusal_told = true;
  } else if (const std::string problem = profile::unreadable_reason(settings.config_path);
      !problem.empty()) {
    warn("cannot read the configuration file " + settings.config_path + " (" +
         problem + "); every setting takes its default");
  }

  const std::string backend = read_value(kSection, "Backend", "");
  const std::string kind = lower_trimmed(backend);
  settings.backend_given = !kind.empty();
  if (kind.empty() || kind == "sim") {
    settings.backend = BackendKind::sim;
  } else if (kind == "direct") {
    settings.backend = BackendKind::direct;
  } else if (kind == "ppdev") {
    settings.backend = BackendKind::ppdev;
  } else {
    settings.backend_given = false;
    warn("Backend = \"" + backend + "\" " + where +
         " is none of sim, direct, ppdev; using sim");
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

std::vector<std::uint16_t> adapter_ports() {
  std::vector<std::uint16_t> ports;
  add_ports(ports, adapter_port("I2C Card", "Base", "300"), 3);
  add_ports(ports, adapter_port("I2C para", "Base", "378"), 3);
  add_ports(ports,
            static_cast<std::uint16_t>(adapter_port("I2C para Gen", "Base",
                                                    "378") + 2),
            1);
  for (const char* key :
       {"SDA IN Port", "SDA OUT Port", "SCL IN Port", "SCL OUT Port"}) {
    const std::uint16_t port = adapter_port("I2C para Gen", key, "0");
    if (port != 0) ports.push_back(port);  // 0 means the line is not wired
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

const char* backend_name(BackendKind kind) {
  switch (kind) {
    case BackendKind::sim:
      return "sim";
    case BackendKind::direct:
      return "direct";
    case BackendKind::ppdev:
      return "ppdev";
  }
  return "sim";
}

}  // namespace portio
