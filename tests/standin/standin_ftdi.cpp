// The libftdi1 calls of the FTDI backend, served by one FT232H on the
// bench, vendor 0403, product 6014, serial TW000001. Its pin AD0 is wired
// to SCL and AD1 to SDA, each with a pull-up. AD2 and AD3 drive SCL and
// SDA through open-collector inverters whose inputs are pulled down: an
// output at 1 pulls its line low, and as inputs they read 0 and leave the
// lines alone. The other pins float and read 1. In bit-bang mode a pin
// whose direction bit is set drives its latch bit, and a clear one is an
// input. In synchronous bit-bang mode every byte written is answered with
// the pins as they were just before it reached the latch, and the answers
// wait in the chip until read.
#include <ftdi.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "tests/standin/standin_bench.h"

namespace {

constexpr int kVendor = 0x0403;
constexpr int kProduct = 0x6014;
constexpr const char* kSerial = "TW000001";
constexpr unsigned char kScl = 0x01;  // AD0
constexpr unsigned char kSda = 0x02;  // AD1
constexpr unsigned char kSclDriver = 0x04;  // AD2
constexpr unsigned char kSdaDriver = 0x08;  // AD3

struct Chip {
  bool open = false;
  bool bitbang = false;
  bool synchronous = false;
  unsigned char latch = 0;
  unsigned char directions = 0;
  std::deque<unsigned char> answers;
};

// Never destroyed: the port layer closes the chip from its own exit
// handler, which may run after this library's static objects are gone.
Chip& chip = *new Chip;
ftdi_context* holder = nullptr;  // the context that has the chip open

int fail(ftdi_context* ftdi, int code, const char* text) {
  if (ftdi != nullptr) ftdi->error_str = const_cast<char*>(text);
  return code;
}

bool driven(unsigned char pin) { return chip.bitbang && (chip.directions & pin) != 0; }

bool released(unsigned char pin, unsigned char driver) {
  const bool pin_low = driven(pin) && (chip.latch & pin) == 0;
  const bool driver_on = driven(driver) && (chip.latch & driver) != 0;
  return !pin_low && !driver_on;
}

void drive_bus() { standin::drive(released(kSda, kSdaDriver), released(kScl, kSclDriver)); }

unsigned char pins() {
  auto value = static_cast<unsigned char>((chip.latch & chip.directions) | (~chip.directions & 0xFF));
  value = static_cast<unsigned char>(value & ~(kSda | kScl));
  for (const unsigned char driver : {kSclDriver, kSdaDriver}) {
    if (!driven(driver)) value = static_cast<unsigned char>(value & ~driver);
  }
  if (standin::sda()) value |= kSda;
  if (standin::scl()) value |= kScl;
  return value;
}

// "i:vendor:product", "i:vendor:product:index" and "s:vendor:product:serial"
// as libftdi reads them; the bench has one chip, index 0.
bool names_the_chip(const std::string& text) {
  if (text.size() < 2 || text[1] != ':' || (text[0] != 'i' && text[0] != 's')) return false;
  const char* rest = text.c_str() + 2;
  char* end = nullptr;
  const long vendor = std::strtol(rest, &end, 0);
  if (*end != ':') return false;
  const long product = std::strtol(end + 1, &end, 0);
  if (vendor != kVendor || product != kProduct) return false;
  if (text[0] == 's') return *end == ':' && std::strcmp(end + 1, kSerial) == 0;
  return *end == '\0' || (*end == ':' && std::strtol(end + 1, &end, 0) == 0 && *end == '\0');
}

}  // namespace

// ftdi.h marks nothing for export, and this build hides what is not marked.
#pragma GCC visibility push(default)
extern "C" {

ftdi_context* ftdi_new(void) {
  auto* ftdi = static_cast<ftdi_context*>(std::calloc(1, sizeof(ftdi_context)));
  return ftdi;
}

void ftdi_free(ftdi_context* ftdi) {
  if (ftdi != nullptr && ftdi == holder) ftdi_usb_close(ftdi);
  std::free(ftdi);
}

int ftdi_set_interface(ftdi_context* ftdi, enum ftdi_interface interface) {
  if (ftdi == nullptr) return -2;
  if (interface < INTERFACE_ANY || interface > INTERFACE_D) {
    return fail(ftdi, -1, "Unknown interface");
  }
  // Kept as libftdi keeps it: 0 for A (or any), 1 for B and so on.
  ftdi->interface = interface == INTERFACE_ANY ? 0 : interface - 1;
  return 0;
}

int ftdi_usb_open_string(ftdi_context* ftdi, const char* description) {
  if (ftdi == nullptr) return -12;
  if (description == nullptr || !names_the_chip(description)) {
    return fail(ftdi, -3, "device not found");
  }
  // An FT232H has interface A alone: claiming another one fails.
  if (ftdi->interface != 0) {
    return fail(ftdi, -5, "unable to claim usb device. Make sure the default FTDI driver is not in use");
  }
  if (chip.open) return fail(ftdi, -5, "unable to claim usb device. Make sure the default FTDI driver is not in use");
  chip = Chip{};
  chip.open = true;
  holder = ftdi;
  ftdi->type = TYPE_232H;
  standin::attach();
  drive_bus();
  return 0;
}

int ftdi_usb_close(ftdi_context* ftdi) {
  if (ftdi == nullptr || ftdi != holder) return 0;
  chip = Chip{};
  holder = nullptr;
  standin::drive(true, true);
  standin::detach();
  return 0;
}

int ftdi_set_bitmode(ftdi_context* ftdi, unsigned char bitmask, unsigned char mode) {
  if (ftdi == nullptr || ftdi != holder) return fail(ftdi, -2, "USB device unavailable");
  standin::written();
  if (mode == BITMODE_RESET) {
    chip.bitbang = false;
    chip.synchronous = false;
  } else if (mode == BITMODE_BITBANG || mode == BITMODE_SYNCBB) {
    chip.bitbang = true;
    chip.synchronous = mode == BITMODE_SYNCBB;
    chip.directions = bitmask;
  } else {
    return fail(ftdi, -1, "the bench's stand-in knows only bit-bang mode");
  }
  drive_bus();
  return 0;
}

int ftdi_write_data(ftdi_context* ftdi, const unsigned char* buf, int size) {
  if (ftdi == nullptr || ftdi != holder) return fail(ftdi, -666, "USB device unavailable");
  // Bit-bang mode puts the bytes on the pins one after another.
  for (int i = 0; i < size; ++i) {
    if (chip.synchronous) chip.answers.push_back(pins());
    standin::written();
    chip.latch = buf[i];
    drive_bus();
  }
  return size;
}

int ftdi_read_pins(ftdi_context* ftdi, unsigned char* pins) {
  if (ftdi == nullptr || ftdi != holder) return fail(ftdi, -2, "USB device unavailable");
  standin::sampled();
  *pins = ::pins();
  return 0;
}

// The answers of synchronous bit-bang mode: one wait on the chip.
int ftdi_read_data(ftdi_context* ftdi, unsigned char* buf, int size) {
  if (ftdi == nullptr || ftdi != holder) return fail(ftdi, -666, "USB device unavailable");
  if (size <= 0) return 0;
  standin::answered();
  int given = 0;
  for (; given < size && !chip.answers.empty(); ++given) {
    buf[given] = chip.answers.front();
    chip.answers.pop_front();
  }
  return given;
}

int ftdi_set_latency_timer(ftdi_context* ftdi, unsigned char latency) {
  if (ftdi == nullptr || ftdi != holder) return fail(ftdi, -3, "USB device unavailable");
  if (latency < 1) return fail(ftdi, -1, "latency out of range. Only valid for 1-255");
  standin::written();
  return 0;
}

int ftdi_set_baudrate(ftdi_context* ftdi, int baudrate) {
  if (ftdi == nullptr || ftdi != holder) return fail(ftdi, -3, "USB device unavailable");
  if (baudrate <= 0) return fail(ftdi, -1, "Silly baudrate <= 0.");
  standin::written();
  ftdi->baudrate = baudrate;
  return 0;
}

const char* ftdi_get_error_string(ftdi_context* ftdi) {
  return ftdi != nullptr && ftdi->error_str != nullptr ? ftdi->error_str : "";
}

}  // extern "C"
#pragma GCC visibility pop
