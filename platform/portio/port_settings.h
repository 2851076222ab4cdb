// What section "Port IO" of the configuration file asks of the port layer:
// the backend, the trace and the parallel port device. The port layer reads
// no other section: which ports it reaches is up to its callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace portio {

struct PortSettings {
  std::string config_path;     // the configuration file these came from
  std::size_t backend = 0;     // row of the backend table; 0 is the bench
  bool backend_given = false;  // "Backend" was set (not just defaulted)
  std::string trace_path;      // "Trace"; empty: no trace
  std::string parport_device = "/dev/parport0";  // "Parport"
  std::uint16_t parport_base = 0x378;            // "Parport Base" (hex)

  // Reads section "Port IO"; a bad value is described through `warn` (one
  // line each) and its default applies.
  static PortSettings load(const std::function<void(std::string_view)>& warn);
};

}  // namespace portio
