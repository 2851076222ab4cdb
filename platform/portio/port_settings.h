// What section "Port IO" of the configuration file asks of the port layer,
// and which ports the adapters' own sections name (the only ports the
// direct backend asks the kernel for).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace portio {

enum class BackendKind { sim, direct, ppdev };

struct PortSettings {
  std::string config_path;  // the configuration file these came from
  BackendKind backend = BackendKind::sim;
  bool backend_given = false;  // "Backend" was set (not just defaulted)
  std::string trace_path;      // "Trace"; empty: no trace
  std::string parport_device = "/dev/parport0";  // "Parport"
  std::uint16_t parport_base = 0x378;            // "Parport Base" (hex)

  // Reads section "Port IO"; a bad value is described through `warn` (one
  // line each) and its default applies.
  static PortSettings load(const std::function<void(std::string_view)>& warn);
};

// The ports the three adapters reach with their configured settings:
// the card's base to base + 2 (its port delay reads base + 2), the Philips
// adapter's base to base + 2, the Custom adapter's base + 2 and its four
// line ports. Sorted, without duplicates.
std::vector<std::uint16_t> adapter_ports();

const char* backend_name(BackendKind kind);

}  // namespace portio
