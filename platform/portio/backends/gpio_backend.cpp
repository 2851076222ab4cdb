// Lines of a Linux GPIO chip (a single-board computer's header, a USB GPIO
// expander) through libgpiod 1.6, as the bits of one byte that appears at
// two I/O port numbers. Every line is requested as an open-drain output,
// so a line written 1 is released and follows the bus, a line written 0 is
// driven low. The latch port's writes set the lines and its reads give back
// what was last written, without asking the chip; the pin port's reads
// sample the lines (one request to the chip) and its writes set them too.
// A bit without a line reads 1, as an input with a pull-up would.
//
// The adapter reads the port it writes before each line change; the latch
// port answers that read, and a read of the pins could not: it would take a
// slave's low data line for the master's own and drive it from then on.
// Each write that changes a line is sent at once, as the chip must show it
// before the next line change.
#include <gpiod.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/format.h"
#include "platform/portio/backends/backend.h"
#include "platform/stderr_line.h"

namespace portio::gpio_backend {
namespace {

constexpr const char* kConsumer = "tarnwick";

gpiod_chip* chip = nullptr;
gpiod_line_bulk lines{};
bool requested = false;
// Bit of the byte that each requested line carries, in request order.
std::array<int, 8> bit_of{};
std::uint16_t latch_port = 0;
std::uint16_t pin_port = 0;
std::uint8_t latch = 0xFF;
std::uint8_t line_bits = 0;  // the bits that have a line
std::string chip_path;
std::string advice;
void (*note)(const char*) = nullptr;
unsigned long long round_trips = 0;
unsigned long long sent = 0;

void give_up() {
  if (requested) gpiod_line_release_bulk(&lines);
  requested = false;
  if (chip != nullptr) gpiod_chip_close(chip);
  chip = nullptr;
}

void lost(const char* what) {
  stderr_line("GPIO chip " + chip_path + " stopped answering (" + what + ": " +
              std::strerror(errno) + ")" + advice);
  give_up();
}

void send_latch(std::uint8_t value) {
  int values[8] = {};
  for (unsigned i = 0; i < lines.num_lines; ++i) values[i] = (value >> bit_of[i]) & 1;
  ++sent;
  if (gpiod_line_set_value_bulk(&lines, values) != 0) return lost("set lines");
  latch = value;
}

std::string offsets_text(const std::array<unsigned, 8>& offsets, unsigned count) {
  std::string text;
  for (unsigned i = 0; i < count; ++i) text += (i == 0 ? "" : " ") + std::to_string(offsets[i]);
  return text;
}

}  // namespace

void open(const PortSettings& settings, void (*trace_note)(const char*), std::string& banner) {
  latch_port = settings.gpio_latch_port;
  pin_port = settings.gpio_pin_port;
  chip_path = settings.gpio_chip;
  note = trace_note;
  round_trips = 0;
  sent = 0;
  latch = 0xFF;
  line_bits = 0;
  const std::string keys = " in section \"Port IO\" of " + settings.config_path +
                           "; until then port reads give FF and writes are ignored";
  advice = "; check that the chip exists (gpiodetect lists them), that your user may read and "
           "write it (the group that owns it, see README) and key GPIO Chip" + keys;

  std::array<unsigned, 8> offsets{};
  unsigned count = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const int line = settings.gpio_lines[static_cast<std::size_t>(bit)];
    if (line == PortSettings::kNoLine) continue;
    offsets[count] = static_cast<unsigned>(line);
    bit_of[count++] = bit;
    line_bits = static_cast<std::uint8_t>(line_bits | (1u << bit));
  }
  if (count == 0) {
    stderr_line("no GPIO lines are named for GPIO chip " + chip_path +
                "; list the line offsets of the port's bits, bit 0 first, in key GPIO Lines" +
                keys);
    return;
  }
  chip = gpiod_chip_open(chip_path.c_str());
  if (chip == nullptr) {
    stderr_line("cannot open GPIO chip " + chip_path + " (" + std::strerror(errno) + ")" +
                advice);
    return;
  }
  const std::string named = offsets_text(offsets, count);
  if (gpiod_chip_get_lines(chip, offsets.data(), count, &lines) != 0) {
    stderr_line("GPIO chip " + chip_path + " has not every line of " + named + " (" +
                std::strerror(errno) + "); check key GPIO Lines (gpioinfo lists the chip's lines)" +
                keys);
    give_up();
    return;
  }
  // Released at first: the bus idles high.
  const int released[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  if (gpiod_line_request_bulk_output_flags(&lines, kConsumer, GPIOD_LINE_REQUEST_FLAG_OPEN_DRAIN,
                                           released) != 0) {
    stderr_line("cannot take lines " + named + " of GPIO chip " + chip_path +
                " as open-drain outputs (" + std::strerror(errno) +
                "); check that no other program or kernel driver holds them (gpioinfo shows "
                "their users) and key GPIO Lines" + keys);
    give_up();
    return;
  }
  requested = true;
  banner = "GPIO chip " + chip_path + " lines " + named + " at port " +
           format::hexadecimal(latch_port, 4) + ", sampled at port " +
           format::hexadecimal(pin_port, 4);
}

std::uint8_t read(std::uint16_t port) {
  if (!requested) return 0xFF;
  if (port == latch_port) return latch;
  if (port != pin_port) return 0xFF;
  int values[8] = {};
  ++round_trips;
  if (gpiod_line_get_value_bulk(&lines, values) != 0) {
    lost("read lines");
    return 0xFF;
  }
  std::uint8_t pins = 0xFF;
  for (unsigned i = 0; i < lines.num_lines; ++i) {
    if (values[i] == 0) pins = static_cast<std::uint8_t>(pins & ~(1u << bit_of[i]));
  }
  return pins;
}

void write(std::uint16_t port, std::uint8_t value) {
  if (!requested || (port != latch_port && port != pin_port)) return;
  // Bits without a line are kept for the latch's reads, but moving only
  // them changes no pin and is not sent.
  if (((value ^ latch) & line_bits) == 0) {
    latch = value;
    return;
  }
  send_latch(value);
}

void close() {
  if (note != nullptr) {
    const std::string counts = "gpio: " + std::to_string(round_trips) +
                               " device round trips (line reads), " + std::to_string(sent) +
                               " writes sent";
    note(counts.c_str());
  }
  note = nullptr;
  // Releasing the request leaves the lines to the chip's default, inputs:
  // the bus is let go.
  give_up();
}

}  // namespace portio::gpio_backend
