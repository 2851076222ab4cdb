// Bit-banged transfers in the manner of the Linux kernel's i2c-algo-bit:
// SCL is raised and then read back until it is high (a slave may hold it
// low to stretch the clock), up to the stretch time-out; every phase is
// held by a run of port-delay reads counted from the port access time, so
// that each minimum time of the I2C-bus standard holds by the delays
// alone, the line accesses around them only adding to it.
//
// Each clock pulse: SDA set while SCL is low, tLOW (covering tSU;DAT),
// SCL raised and waited for, tHIGH, SDA sampled, SCL lowered. tHD;DAT is 0
// for I2C-bus devices, so SDA changes right after SCL falls.
//
// A wiring whose SCL IN has no bits cannot read the clock: it is then
// driven blind, as the classic engine drives it, and the bus-free check
// looks at SDA alone. No arbitration: one master on the bit-banged bus.
#include "library/adapters/bit_transfer.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "library/adapters/bus_timing.h"
#include "library/adapters/parallel_bus.h"
#include "library/adapters/parallel_wirings.h"

namespace bit_transfer {
namespace {

using parallel_bus::kHigh;
using parallel_bus::kLow;

constexpr int kBitsPerByte = 8;
constexpr int kRecoveryClocks = 9;
// Below this the delays of one bit grow past any use.
constexpr std::int32_t kSlowestHz = 1000;
constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::uint16_t kDelayPortOffset = 2;

// Port-delay reads of each phase at the current speed.
struct Delays {
  std::int32_t low = 0;     // tLOW and tSU;DAT
  std::int32_t high = 0;    // tHIGH
  std::int32_t su_sta = 0;
  std::int32_t hd_sta = 0;
  std::int32_t su_sto = 0;
  std::int32_t buf = 0;
  std::int32_t achieved_hz = 0;
};

struct Bus {
  bool loaded = false;
  wiring::Wiring row{};  // ports absolute
  std::uint16_t delay_port = 0;
  bool clock_readable = false;
  std::int32_t access_ns = 0;
  // Looks at SCL (one read and one delay read each) before a held clock
  // counts as stuck.
  std::int32_t stretch_looks = 0;
  Delays delays{};
};

std::array<Bus, kAdapterCount> buses{};

struct Source {
  const char* section;
  std::uint16_t (*base)();
  wiring::Wiring (*row)();
};

wiring::Wiring philips_row() {
  wiring::Wiring row = philips::kWiring;
  const std::uint16_t base = philips::configured_base();
  for (wiring::Line& line : row.lines) line.port = static_cast<std::uint16_t>(base + line.port);
  row.ports_from_base = false;
  return row;
}

constexpr std::array<Source, kAdapterCount> kSources{{
    {"I2C para", philips::configured_base, philips_row},
    {"I2C para Gen", custom::configured_base, custom::configured_row},
}};

int accesses_of(const wiring::Line& line) { return line.write == wiring::Write::kWhole ? 1 : 2; }

Delays delays_for(const Bus& bus, std::int32_t hz) {
  const std::int32_t asked = std::min(hz, bus_timing::kFastModeHz);
  const bus_timing::Minimums& least = bus_timing::minimums_for(asked);
  const auto reads = [&](std::int32_t ns) { return bus_timing::accesses_for(ns, bus.access_ns); };
  Delays delays;
  delays.low = reads(std::max(least.low, least.su_dat));
  delays.high = reads(least.high);
  delays.su_sta = reads(least.su_sta);
  delays.hd_sta = reads(least.hd_sta);
  delays.su_sto = reads(least.su_sto);
  delays.buf = reads(least.buf);
  // The line accesses of the quickest clock pulse (one of a received
  // byte): SCL up and down, its read-back, and SDA sampled. A sent bit
  // writes SDA besides, so it only runs slower.
  const int pulse = 2 * accesses_of(bus.row.lines[wiring::kSclOut]) +
                    (bus.clock_readable ? 1 : 0) + 1;
  const std::int32_t period = bus_timing::accesses_for(kNsPerSecond / asked + (kNsPerSecond % asked != 0),
                                                       bus.access_ns);
  const std::int32_t slack = period - (pulse + delays.low + delays.high);
  if (slack > 0) {
    delays.high += slack / 2;
    delays.low += slack - slack / 2;
  }
  const std::int64_t pulse_ns =
      static_cast<std::int64_t>(pulse + delays.low + delays.high) * bus.access_ns;
  delays.achieved_hz = static_cast<std::int32_t>(kNsPerSecond / pulse_ns);
  return delays;
}

bool wired(const wiring::Wiring& row) {
  return row.lines[wiring::kSdaIn].mask != 0 && row.lines[wiring::kSdaOut].mask != 0 &&
         row.lines[wiring::kSclOut].mask != 0;
}

// Settings are read at the adapter's first use in the process.
Bus* ready(Adapter adapter) {
  Bus& bus = buses[adapter];
  if (!bus.loaded) {
    const Source& source = kSources[adapter];
    bus.row = source.row();
    bus.delay_port = static_cast<std::uint16_t>(source.base() + kDelayPortOffset);
    bus.clock_readable = bus.row.lines[wiring::kSclIn].mask != 0;
    bus.access_ns = bus_timing::access_time_ns(bus.delay_port);
    const bus_timing::Settings settings = bus_timing::read_settings(source.section, kSlowestHz);
    const std::int64_t stretch_ns = settings.stretch_ms * kNsPerMs;
    bus.stretch_looks = std::max(1, bus_timing::accesses_for(stretch_ns, 2 * bus.access_ns));
    bus.delays = delays_for(bus, settings.hz);
    bus.loaded = true;
  }
  return wired(bus.row) ? &bus : nullptr;
}

// --- lines ---

void delay(const Bus& bus, std::int32_t reads) { bus_timing::delay(bus.delay_port, reads); }

void sda(const Bus& bus, std::uint8_t level) { wiring::write_data(bus.row, level); }

void scl_low(const Bus& bus) { wiring::write_clock(bus.row, kLow); }

std::uint8_t read_sda(const Bus& bus) { return wiring::read_data(bus.row); }

std::uint8_t read_scl(const Bus& bus) {
  const wiring::Line& line = bus.row.lines[wiring::kSclIn];
  const bool all_set = (DlPortReadPortUchar(line.port) & line.mask) == line.mask;
  return all_set == (line.polarity != 0) ? kHigh : kLow;
}

// Releases SCL and waits while a slave holds it low; false once the
// stretch time-out has passed with the clock still low.
bool scl_high(const Bus& bus) {
  wiring::write_clock(bus.row, kHigh);
  if (!bus.clock_readable) return true;
  for (std::int32_t look = 0; look < bus.stretch_looks; ++look) {
    if (read_scl(bus) == kHigh) return true;
    delay(bus, 1);
  }
  return false;
}

// One clock pulse with SDA already set; gives what SDA read at its end,
// or -ETIMEDOUT.
std::int16_t clock_pulse(const Bus& bus) {
  delay(bus, bus.delays.low);
  if (!scl_high(bus)) return -ETIMEDOUT;
  delay(bus, bus.delays.high);
  const std::uint8_t level = read_sda(bus);
  scl_low(bus);
  return level;
}

// --- conditions, entered and left with SCL low (START: from the idle bus) ---

// Both lines high within the stretch time-out: no transaction of another
// master and no slave holding a line. Each look takes two accesses, as a
// look at a stretched clock does.
bool bus_free(const Bus& bus) {
  for (std::int32_t look = 0; look < bus.stretch_looks; ++look) {
    const bool data_high = read_sda(bus) == kHigh;
    if (!bus.clock_readable) {
      if (data_high) return true;
      delay(bus, 1);
    } else if (read_scl(bus) == kHigh && data_high) {
      return true;
    }
  }
  return false;
}

void start(const Bus& bus) {
  delay(bus, bus.delays.buf);
  sda(bus, kLow);  // SDA falls while SCL is high: START
  delay(bus, bus.delays.hd_sta);
  scl_low(bus);
}

std::int16_t repeated_start(const Bus& bus) {
  sda(bus, kHigh);
  delay(bus, bus.delays.low);
  if (!scl_high(bus)) return -ETIMEDOUT;
  delay(bus, bus.delays.su_sta);
  sda(bus, kLow);  // SDA falls while SCL is high: repeated START
  delay(bus, bus.delays.hd_sta);
  scl_low(bus);
  return 0;
}

std::int16_t stop(const Bus& bus) {
  sda(bus, kLow);
  delay(bus, bus.delays.low);
  const bool clock_up = scl_high(bus);
  delay(bus, bus.delays.su_sto);
  sda(bus, kHigh);  // SDA rises while SCL is high: STOP
  delay(bus, bus.delays.buf);
  return clock_up ? 0 : -ETIMEDOUT;
}

// --- bytes ---

// 0 when acknowledged, 1 when not, or -ETIMEDOUT.
std::int16_t byte_out(const Bus& bus, std::uint8_t byte) {
  for (int bit = kBitsPerByte - 1; bit >= 0; --bit) {
    sda(bus, static_cast<std::uint8_t>((byte >> bit) & 1U));
    if (const std::int16_t level = clock_pulse(bus); level < 0) return level;
  }
  sda(bus, kHigh);  // released for the slave's acknowledge
  return clock_pulse(bus);
}

// The byte, or -ETIMEDOUT. `acknowledge` asks the slave for another byte;
// without it the slave lets go of SDA.
std::int16_t byte_in(const Bus& bus, bool acknowledge) {
  sda(bus, kHigh);  // released: the slave drives the bits
  std::int16_t value = 0;
  for (int bit = 0; bit < kBitsPerByte; ++bit) {
    const std::int16_t level = clock_pulse(bus);
    if (level < 0) return level;
    value = static_cast<std::int16_t>((value << 1) | level);
  }
  sda(bus, acknowledge ? kLow : kHigh);
  if (const std::int16_t level = clock_pulse(bus); level < 0) return level;
  return value;
}

bool has(const tarnwick_msg& msg, std::uint16_t flag) { return (msg.flags & flag) != 0; }

// The transaction between START and STOP: 0 or -errno.
std::int16_t messages(const Bus& bus, const tarnwick_msg* msgs, std::int16_t count) {
  for (std::int16_t i = 0; i < count; ++i) {
    const tarnwick_msg& msg = msgs[i];
    const bool reading = has(msg, TARNWICK_M_RD);
    const bool ignore_nak = has(msg, TARNWICK_M_IGNORE_NAK);
    if (!has(msg, TARNWICK_M_NOSTART)) {
      if (i > 0) {
        if (const std::int16_t result = repeated_start(bus); result < 0) return result;
      }
      const auto address = static_cast<std::uint8_t>((msg.addr << 1) | (reading ? 1 : 0));
      const std::int16_t answer = byte_out(bus, address);
      if (answer < 0) return answer;
      if (answer != 0 && !ignore_nak) return -ENXIO;
    }
    // A read goes on into the next message when that one continues it
    // without a START: its last byte is then acknowledged too.
    const bool continued = i + 1 < count && has(msgs[i + 1], TARNWICK_M_NOSTART);
    for (std::uint16_t at = 0; at < msg.len; ++at) {
      if (reading) {
        const bool more = at + 1 < msg.len || continued;
        const std::int16_t value = byte_in(bus, more);
        if (value < 0) return value;
        msg.buf[at] = static_cast<std::uint8_t>(value);
      } else {
        const std::int16_t answer = byte_out(bus, msg.buf[at]);
        if (answer < 0) return answer;
        if (answer != 0 && !ignore_nak) return -EIO;
      }
    }
  }
  return 0;
}

}  // namespace

std::int16_t transfer(Adapter adapter, const tarnwick_msg* msgs, std::int16_t count) {
  const Bus* bus = ready(adapter);
  if (bus == nullptr) return -ENODEV;
  if (!bus_free(*bus)) return -ETIMEDOUT;
  start(*bus);
  const std::int16_t result = messages(*bus, msgs, count);
  // Whatever went wrong, the STOP ends the transaction for every slave.
  const std::int16_t stopped = stop(*bus);
  if (result < 0) return result;
  return stopped < 0 ? stopped : count;
}

std::int32_t set_speed(Adapter adapter, std::int32_t hz) {
  if (hz != 0 && hz < kSlowestHz) return -EINVAL;
  Bus* bus = ready(adapter);
  if (bus == nullptr) return -ENODEV;
  if (hz != 0) bus->delays = delays_for(*bus, hz);
  return bus->delays.achieved_hz;
}

std::int16_t recover(Adapter adapter) {
  const Bus* bus = ready(adapter);
  if (bus == nullptr) return -ENODEV;
  // As the Linux kernel's generic SCL recovery: a slave stranded inside a
  // byte it sends lets go of SDA within nine clocks, at a 1 bit or at the
  // acknowledge, which it then sees NACKed.
  sda(*bus, kHigh);
  if (!scl_high(*bus)) return -ETIMEDOUT;
  for (int clock = 0; clock < kRecoveryClocks && read_sda(*bus) == kLow; ++clock) {
    scl_low(*bus);
    delay(*bus, bus->delays.low);
    if (!scl_high(*bus)) return -ETIMEDOUT;
    delay(*bus, bus->delays.high);
  }
  scl_low(*bus);
  if (const std::int16_t stopped = stop(*bus); stopped < 0) return stopped;
  return read_sda(*bus) == kHigh ? 0 : -EBUSY;
}

}  // namespace bit_transfer
