// The Custom adapter: the same bit-driven bus as the Philips adapter, with
// each of its four lines on whatever I/O port, bit mask and polarity the
// configuration names. Any wiring of the lines to byte-wide ports works
// without new code; lines may share a port, since every write keeps the
// port's other bits as read.
#include <array>
#include <cstdint>

#include "library/adapters/parallel/adapter_config.h"
#include "library/adapters/parallel/parallel_adapters.h"
#include "library/adapters/parallel/parallel_bus.h"
#include "library/frame/library_state.h"
#include "platform/portio/dlportio.h"

namespace {

// Where one line sits. Polarity counts only as zero or non-zero: on an
// output non-zero means a set bit drives the line low, on an input it means
// a set bit reads as high.
struct LineSetting {
  std::uint16_t port = 0;
  std::uint8_t mask = 0;
  std::uint8_t polarity = 0;
};

enum Line { kSdaIn, kSdaOut, kSclIn, kSclOut, kLineCount };

struct LineKeys {
  const char* port;
  const char* mask;
  const char* polarity;
};

// In the order the section is read. The clock input is read and kept but
// never used: the master does not wait for a stretched clock.
constexpr std::array<LineKeys, kLineCount> kLineKeys{{
    {"SDA IN Port", "SDA IN Bit", "SDA IN Pol"},
    {"SDA OUT Port", "SDA OUT Bit", "SDA OUT Pol"},
    {"SCL IN Port", "SCL IN Bit", "SCL IN Pol"},
    {"SCL OUT Port", "SCL OUT Bit", "SCL OUT Pol"},
}};

constexpr const char* kSection = "I2C para Gen";
constexpr const char* kDebugKey = "Barbican";

std::array<LineSetting, kLineCount> line_settings{};

void write_line(const LineSetting& line, std::uint8_t level) {
  const bool set_bits = (level != 0) == (line.polarity == 0);
  const std::uint8_t value = DlPortReadPortUchar(line.port);
  DlPortWritePortUchar(line.port,
                       set_bits ? value | line.mask
                                : value & static_cast<std::uint8_t>(~line.mask));
}

void write_data(std::uint8_t level) { write_line(line_settings[kSdaOut], level); }
void write_clock(std::uint8_t level) { write_line(line_settings[kSclOut], level); }

// The line counts as set only when every bit of its mask reads 1.
std::uint8_t read_data() {
  const LineSetting& line = line_settings[kSdaIn];
  const bool all_set = (DlPortReadPortUchar(line.port) & line.mask) == line.mask;
  return all_set == (line.polarity != 0) ? 1 : 0;
}

constexpr parallel_bus::Lines kLines{write_data, write_clock, read_data};

void read_line_settings() {
  for (std::size_t i = 0; i < kLineKeys.size(); ++i) {
    const LineKeys& keys = kLineKeys[i];
    line_settings[i].port = static_cast<std::uint16_t>(
        adapter_config::hexadecimal_key(kSection, keys.port, "0"));
    line_settings[i].mask = static_cast<std::uint8_t>(
        adapter_config::hexadecimal_key(kSection, keys.mask, "0"));
    line_settings[i].polarity = static_cast<std::uint8_t>(
        adapter_config::hexadecimal_key(kSection, keys.polarity, "0"));
  }
}

}  // namespace

namespace custom {

std::int16_t init() {
  if (!frame::take_slot(frame::kParallelSlot)) return 0;
  adapter_config::read_timing(kSection, kDebugKey);
  read_line_settings();
  parallel_bus::set_idle(kLines);
  parallel_bus::forget_transaction();
  frame::give_slot(frame::kParallelSlot);
  return 0;
}

std::int16_t start() { return parallel_bus::start(kLines); }
std::int16_t stop() { return parallel_bus::stop(kLines); }

std::int16_t address(std::int16_t address) {
  return parallel_bus::address(kLines, address);
}

std::int16_t send(std::int16_t count, const std::uint8_t* data) {
  return parallel_bus::send(kLines, count, data);
}

std::int16_t read(std::int16_t count, std::uint8_t* buffer) {
  return parallel_bus::read(kLines, count, buffer);
}

}  // namespace custom
