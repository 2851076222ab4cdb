// The libgpiod 1.6 calls of the GPIO backend, served by one 28-line chip
// on the bench, /dev/gpiochip0, laid out as a Raspberry Pi's header: line
// 23 is wired to SDA and line 24 to SCL, each with a pull-up. Lines can be
// requested only as open-drain outputs, as a push-pull line would fight
// the slaves; a released line follows the bus, any other line reads what
// it was last set to.
#include <gpiod.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "tests/standin/standin_bench.h"

struct gpiod_chip {
  int unused;
};

struct gpiod_line {
  unsigned offset = 0;
  bool requested = false;
  int value = 1;
};

namespace {

constexpr const char* kPath = "/dev/gpiochip0";
constexpr unsigned kLines = 28;
constexpr unsigned kSda = 23;
constexpr unsigned kScl = 24;

gpiod_chip the_chip{};
bool chip_open = false;
std::array<gpiod_line, kLines> lines{};

bool released(unsigned offset) { return !lines[offset].requested || lines[offset].value != 0; }

void drive_bus() { standin::drive(released(kSda), released(kScl)); }

int level(const gpiod_line& line) {
  if (line.offset == kSda) return standin::sda() ? 1 : 0;
  if (line.offset == kScl) return standin::scl() ? 1 : 0;
  return line.value;
}

int refuse(int error) {
  errno = error;
  return -1;
}

}  // namespace

extern "C" {

gpiod_chip* gpiod_chip_open(const char* path) {
  if (path == nullptr || std::strcmp(path, kPath) != 0) {
    errno = ENOENT;
    return nullptr;
  }
  if (!chip_open) {
    for (unsigned i = 0; i < kLines; ++i) lines[i] = gpiod_line{i, false, 1};
    chip_open = true;
    standin::attach();
  }
  return &the_chip;
}

void gpiod_chip_close(gpiod_chip* chip) {
  if (chip != &the_chip || !chip_open) return;
  chip_open = false;
  for (gpiod_line& line : lines) line.requested = false;
  standin::drive(true, true);
  standin::detach();
}

int gpiod_chip_get_lines(gpiod_chip* chip, unsigned* offsets, unsigned num_offsets,
                         gpiod_line_bulk* bulk) {
  if (chip != &the_chip || !chip_open) return refuse(EINVAL);
  if (num_offsets > GPIOD_LINE_BULK_MAX_LINES) return refuse(EINVAL);
  bulk->num_lines = 0;
  for (unsigned i = 0; i < num_offsets; ++i) {
    if (offsets[i] >= kLines) return refuse(EINVAL);
    bulk->lines[bulk->num_lines++] = &lines[offsets[i]];
  }
  return 0;
}

int gpiod_line_request_bulk_output_flags(gpiod_line_bulk* bulk, const char*, int flags,
                                         const int* default_vals) {
  if ((flags & GPIOD_LINE_REQUEST_FLAG_OPEN_DRAIN) == 0) return refuse(EINVAL);
  for (unsigned i = 0; i < bulk->num_lines; ++i) {
    if (bulk->lines[i]->requested) return refuse(EBUSY);
  }
  for (unsigned i = 0; i < bulk->num_lines; ++i) {
    bulk->lines[i]->requested = true;
    bulk->lines[i]->value = default_vals != nullptr ? (default_vals[i] != 0) : 0;
  }
  drive_bus();
  return 0;
}

void gpiod_line_release_bulk(gpiod_line_bulk* bulk) {
  for (unsigned i = 0; i < bulk->num_lines; ++i) {
    bulk->lines[i]->requested = false;
    bulk->lines[i]->value = 1;
  }
  drive_bus();
}

int gpiod_line_set_value_bulk(gpiod_line_bulk* bulk, const int* values) {
  for (unsigned i = 0; i < bulk->num_lines; ++i) {
    if (!bulk->lines[i]->requested) return refuse(EPERM);
  }
  standin::written();
  for (unsigned i = 0; i < bulk->num_lines; ++i) {
    bulk->lines[i]->value = values != nullptr && values[i] != 0 ? 1 : 0;
  }
  drive_bus();
  return 0;
}

int gpiod_line_get_value_bulk(gpiod_line_bulk* bulk, int* values) {
  for (unsigned i = 0; i < bulk->num_lines; ++i) {
    if (!bulk->lines[i]->requested) return refuse(EPERM);
  }
  standin::sampled();
  for (unsigned i = 0; i < bulk->num_lines; ++i) values[i] = level(*bulk->lines[i]);
  return 0;
}

}  // extern "C"
