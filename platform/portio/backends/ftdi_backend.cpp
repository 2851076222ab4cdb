// An FTDI USB chip (FT232R, FT232H, FT2232H and kin) in asynchronous
// bit-bang mode, through libftdi1. Its eight pins appear at two I/O port
// numbers: the pin port, whose reads sample the pins and whose writes set
// the output latch, and the direction port, whose set bits make pins
// outputs. An I2C line is a pin with a pull-up: the latch holds 0 and the
// line's direction bit drives it low (set) or lets it go (clear).
//
// Only sampling the pins waits for the chip. The backend holds the latch and
// the directions it last sent, so a read of the direction port (every line
// change reads its port first) is answered here. Each write is sent at once,
// and a write that changes nothing is not sent: a new direction is a
// control request that the chip carries out before it answers the next one,
// so every line change is on the pins before the next is asked for.
#include <ftdi.h>

#include <string>

#include "platform/format.h"
#include "platform/portio/backends/backend.h"
#include "platform/stderr_line.h"

namespace portio::ftdi_backend {
namespace {

ftdi_context* context = nullptr;
std::uint16_t pin_port = 0;
std::uint16_t direction_port = 0;
std::uint8_t latch = 0;
std::uint8_t directions = 0;
std::string device;
std::string advice;
void (*note)(const char*) = nullptr;
// Pin samples fetched from the chip, and writes sent to it.
unsigned long long round_trips = 0;
unsigned long long sent = 0;

std::string chip_error() {
  const char* text = context != nullptr ? ftdi_get_error_string(context) : nullptr;
  return text != nullptr ? text : "no answer";
}

void give_up() {
  if (context == nullptr) return;
  ftdi_usb_close(context);
  ftdi_free(context);
  context = nullptr;
}

// A chip that stops answering (unplugged, reset) is told once; from then on
// the ports behave as unreachable.
void lost(const char* what) {
  stderr_line("FTDI device " + device + " stopped answering (" + what + ": " + chip_error() +
              ")" + advice);
  give_up();
}

void send_directions(std::uint8_t value) {
  ++sent;
  if (ftdi_set_bitmode(context, value, BITMODE_BITBANG) < 0) return lost("set directions");
  directions = value;
}

void send_latch(std::uint8_t value) {
  ++sent;
  if (ftdi_write_data(context, &value, 1) != 1) return lost("write pins");
  latch = value;
}

}  // namespace

void open(const PortSettings& settings, void (*trace_note)(const char*), std::string& banner) {
  pin_port = settings.ftdi_pin_port;
  direction_port = settings.ftdi_direction_port;
  device = settings.ftdi_device;
  note = trace_note;
  round_trips = 0;
  sent = 0;
  advice = "; check that it is plugged in, that your user may use it (a udev rule, see README) "
           "and keys FTDI Device and FTDI Interface in section \"Port IO\" of " +
           settings.config_path + "; until then port reads give FF and writes are ignored";
  context = ftdi_new();
  if (context == nullptr) {
    stderr_line("cannot start libftdi for FTDI device " + device + " (libusb did not start)" +
                advice);
    return;
  }
  if (ftdi_set_interface(context, static_cast<ftdi_interface>(settings.ftdi_interface)) < 0) {
    stderr_line("cannot choose the interface of FTDI device " + device + " (" + chip_error() +
                ")" + advice);
    ftdi_free(context);
    context = nullptr;
    return;
  }
  if (ftdi_usb_open_string(context, device.c_str()) < 0) {
    stderr_line("cannot open FTDI device " + device + " (" + chip_error() + ")" + advice);
    ftdi_free(context);
    context = nullptr;
    return;
  }
  // Every pin an input first, so that nothing is driven before the latch
  // holds 0; the lines then idle released.
  ++sent;
  if (ftdi_set_bitmode(context, 0x00, BITMODE_BITBANG) < 0) {
    stderr_line("cannot put FTDI device " + device + " into bit-bang mode (" + chip_error() +
                ")" + advice);
    give_up();
    return;
  }
  directions = 0x00;
  send_latch(0x00);
  if (context == nullptr) return;
  banner = "FTDI device " + device + " in bit-bang mode, pins at port " +
           format::hexadecimal(pin_port, 4) + ", directions at port " +
           format::hexadecimal(direction_port, 4);
}

std::uint8_t read(std::uint16_t port) {
  if (context == nullptr) return 0xFF;
  if (port == direction_port) return directions;
  if (port != pin_port) return 0xFF;
  unsigned char pins = 0xFF;
  ++round_trips;
  if (ftdi_read_pins(context, &pins) < 0) {
    lost("read pins");
    return 0xFF;
  }
  return pins;
}

void write(std::uint16_t port, std::uint8_t value) {
  if (context == nullptr) return;
  if (port == direction_port && value != directions) send_directions(value);
  if (port == pin_port && value != latch) send_latch(value);
}

void close() {
  if (note != nullptr) {
    const std::string counts = "ftdi: " + std::to_string(round_trips) +
                               " device round trips (pin reads), " + std::to_string(sent) +
                               " writes sent";
    note(counts.c_str());
  }
  note = nullptr;
  if (context == nullptr) return;
  // Pins left as inputs: the bus is released when the process lets go.
  ftdi_set_bitmode(context, 0x00, BITMODE_BITBANG);
  ftdi_set_bitmode(context, 0x00, BITMODE_RESET);
  give_up();
}

}  // namespace portio::ftdi_backend
