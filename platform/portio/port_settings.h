// What section "Port IO" of the configuration file asks of the port layer:
// the backend, the trace, the parallel port device, the FTDI chip and the
// GPIO lines. The port layer reads
// no other section: which ports it reaches is up to its callers.
#pragma once

#include <cstddef>
#include <array>
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

  // An FTDI chip in bit-bang mode: the device as libftdi's open string
  // ("i:vendor:product", "s:vendor:product:serial", "d:bus/device"), its
  // interface (0 any, 1 to 4 for A to D) and the two ports it shows.
  std::string ftdi_device = "i:0x0403:0x6014";   // "FTDI Device"
  int ftdi_interface = 1;                        // "FTDI Interface" (A)
  std::uint16_t ftdi_pin_port = 0x378;           // "FTDI Pin Port" (hex)
  std::uint16_t ftdi_direction_port = 0x379;     // "FTDI Direction Port" (hex)
  // Pins made outputs when the chip opens, for a wiring that drives its
  // lines from the latch through open-collector buffers rather than by
  // turning pins into outputs: such a wiring lets line programs be sent
  // whole. The latch holds 0 before they become outputs.
  std::uint8_t ftdi_outputs = 0;                 // "FTDI Outputs" (hex)

  // Lines of a GPIO chip as the bits of one byte: bit n is line
  // gpio_lines[n], or no line when that is -1.
  static constexpr int kNoLine = -1;
  std::string gpio_chip = "/dev/gpiochip0";      // "GPIO Chip"
  std::array<int, 8> gpio_lines{kNoLine, kNoLine, kNoLine, kNoLine,
                                kNoLine, kNoLine, kNoLine, kNoLine};  // "GPIO Lines"
  std::uint16_t gpio_latch_port = 0x378;         // "GPIO Latch Port" (hex)
  std::uint16_t gpio_pin_port = 0x379;           // "GPIO Pin Port" (hex)

  // Reads section "Port IO"; a bad value is described through `warn` (one
  // line each) and its default applies.
  static PortSettings load(const std::function<void(std::string_view)>& warn);
};

}  // namespace portio
