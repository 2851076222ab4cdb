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
//
// A transaction is made as a line program: the line changes, delays,
// samples and clock waits as port-I/O steps (dlportio.h). Where the port
// layer answers each access at once, every step runs as it is made and
// the engine decides as it goes, access for access as it always did.
// Where the backend sends programs whole (a USB chip, whose every sample
// is a round trip), the engine builds the transaction ahead on the
// assumption that every byte is acknowledged, with a check for each
// acknowledge, and reads the outcome from the samples afterwards: the
// first check that failed gives the errno the step-by-step engine would
// have returned. A program is sent up to each repeated START and then as
// far as the next one, so that nothing after a START runs on an outcome
// not yet known; within one, a refused byte is followed by at most the
// rest of the chunk the backend had already sent, then the STOP.
#include "library/adapters/bit_transfer.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include "library/adapters/bus_timing.h"
#include "library/adapters/parallel_bus.h"
#include "library/adapters/parallel_wirings.h"
#include "platform/portio/line_program.h"

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
  // On a real port the same time-out in real time as well (0: none, on the
  // bench, whose time is the count): the access time is measured on reads
  // of the delay port, which a USB or GPIO backend answers without asking
  // its device, while each look at SCL waits for the device.
  std::uint32_t stretch_real_ns = 0;
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
    // A time-out longer than a step can carry (about 4 s) is left to the
    // count, which never waits less than it.
    if (!bus_timing::on_the_bench() && stretch_ns <= std::numeric_limits<std::uint32_t>::max()) {
      bus.stretch_real_ns = static_cast<std::uint32_t>(stretch_ns);
    }
    bus.delays = delays_for(bus, settings.hz);
    bus.loaded = true;
  }
  return wired(bus.row) ? &bus : nullptr;
}

// --- the line program ---

// Steps held for one sending: a 64-byte page write and its conditions fit.
constexpr long kProgramSteps = 8192;
// Steps of one byte at most: nine clock pulses of seven steps, SDA set
// around them, the acknowledge's check and a repeated START's.
constexpr long kStepsPerByte = 80;

// What the engine reads from a step's result once the program has run.
struct Tag {
  std::uint8_t* byte = nullptr;  // a data bit: set in *byte when SDA was high
  std::uint8_t bit = 0;          // (the byte's first bit clears it)
  std::int16_t error = 0;        // a WAIT or CHECK: the errno when it failed
};

void decode(const Tag& tag, const DlPortStep& step, std::uint8_t result) {
  if (tag.byte == nullptr) return;
  if (tag.bit == 0x80) *tag.byte = 0;
  if (line_program::holds(step, result)) *tag.byte |= tag.bit;
}

struct Program {
  bool whole = false;     // built ahead and sent whole, or run step by step
  bool finished = false;  // the last sending carried out every step
  long used = 0;
  std::array<DlPortStep, kProgramSteps> steps{};
  std::array<std::uint8_t, kProgramSteps> results{};
  std::array<Tag, kProgramSteps> tags{};
};

Program program;

using RunProgram = long (*)(const DlPortStep*, long, unsigned char*);
using SendsWhole = int (*)();

struct PortProgramCalls {
  bool looked = false;
  RunProgram run = nullptr;
  SendsWhole whole = nullptr;
};

PortProgramCalls port_calls;

// The program calls of the port-I/O library that serves the two port
// calls, where it has them: one that has only those two still runs every
// program here, access by access.
const PortProgramCalls& resolved() {
  if (port_calls.looked) return port_calls;
  port_calls.looked = true;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DlPortReadPortUchar), &info) == 0 || info.dli_fname == nullptr) {
    return port_calls;
  }
  void* library = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return port_calls;
  port_calls.run = reinterpret_cast<RunProgram>(dlsym(library, "DlPortRunProgram"));
  port_calls.whole = reinterpret_cast<SendsWhole>(dlsym(library, "DlPortSendsProgramsWhole"));
  // This library needs the port-I/O library loaded as long as it is itself.
  dlclose(library);
  return port_calls;
}

std::uint8_t read_port(std::uint16_t port) { return DlPortReadPortUchar(port); }
void write_port(std::uint16_t port, std::uint8_t value) { DlPortWritePortUchar(port, value); }

long execute(const DlPortStep* steps, long count, std::uint8_t* results) {
  if (const RunProgram run = resolved().run) return run(steps, count, results);
  return line_program::run(steps, count, results, read_port, write_port);
}

void begin_program(bool may_send_whole) {
  const SendsWhole whole = resolved().whole;
  program.whole = may_send_whole && whole != nullptr && whole() != 0;
  program.used = 0;
  program.finished = true;
}

// Adds a step, or runs it at once; gives its result when run at once
// (1 for a program sent whole, whose outcome comes with flush()).
std::uint8_t put(const DlPortStep& step, const Tag& tag = {}) {
  if (program.whole) {
    program.steps[program.used] = step;
    program.tags[program.used] = tag;
    ++program.used;
    return 1;
  }
  std::uint8_t result = 0;
  execute(&step, 1, &result);
  decode(tag, step, result);
  return result;
}

// Sends what has been built and decodes it: 0, or the errno of the first
// wait or check that failed. Run step by step, there is nothing to send.
std::int16_t flush() {
  if (!program.whole || program.used == 0) return 0;
  const long built = program.used;
  program.used = 0;
  const long done = execute(program.steps.data(), built, program.results.data());
  program.finished = done == built;
  if (done < 0) return -EIO;
  // Read bytes are filled in only as far as the first failure: what the
  // chunk clocked after it was read from a slave no longer listening.
  for (long i = 0; i < done; ++i) {
    const Tag& tag = program.tags[i];
    const std::uint8_t result = program.results[i];
    if (tag.error != 0 && result == 0) return tag.error;
    decode(tag, program.steps[i], result);
  }
  return program.finished ? 0 : static_cast<std::int16_t>(-EIO);
}

// Before each byte: the program sent so far when the byte might not fit.
std::int16_t make_room() {
  if (!program.whole || program.used + kStepsPerByte <= kProgramSteps) return 0;
  return flush();
}

// --- lines ---

DlPortStep line_step(const Bus& bus, const wiring::Line& line, std::uint8_t kind) {
  DlPortStep step{};
  step.kind = kind;
  step.port = wiring::port_of(bus.row, line);
  step.mask = line.mask;
  // A look finds the line high when its bits are all set for polarity 1,
  // or not all set for polarity 0.
  step.value = line.polarity != 0 ? 1 : 0;
  return step;
}

void delay(const Bus& bus, std::int32_t reads) {
  if (reads <= 0) return;
  DlPortStep step{};
  step.kind = DLPORT_STEP_DELAY;
  step.port = bus.delay_port;
  step.count = static_cast<unsigned>(reads);
  step.ns = static_cast<unsigned>(std::min<std::int64_t>(
      static_cast<std::int64_t>(reads) * bus.access_ns, UINT32_MAX));
  put(step);
}

// The accesses of wiring::write_line as one step.
void set_line(const Bus& bus, const wiring::Line& line, std::uint8_t level, bool cut = false) {
  const bool set_bits = (level != 0) == (line.polarity == 0);
  DlPortStep step{};
  step.port = wiring::port_of(bus.row, line);
  step.cut = cut ? 1 : 0;
  if (line.write == wiring::Write::kWhole) {
    const auto others = static_cast<std::uint8_t>(~line.mask);
    step.kind = DLPORT_STEP_WRITE;
    step.value = static_cast<std::uint8_t>((set_bits ? line.mask : 0) | (level != 0 ? others : 0));
  } else {
    step.kind = DLPORT_STEP_MODIFY;
    step.mask = line.mask;
    step.value = set_bits ? 1 : 0;
  }
  put(step);
}

void sda(const Bus& bus, std::uint8_t level) { set_line(bus, bus.row.lines[wiring::kSdaOut], level); }

// SCL low is where a chunk of a program sent whole may end.
void scl_low(const Bus& bus) { set_line(bus, bus.row.lines[wiring::kSclOut], kLow, true); }

// SDA now (step by step), or kHigh with the sample tagged for later.
std::uint8_t read_sda(const Bus& bus, const Tag& tag = {}) {
  const DlPortStep step = line_step(bus, bus.row.lines[wiring::kSdaIn], DLPORT_STEP_READ);
  const std::uint8_t result = put(step, tag);
  return program.whole || line_program::holds(step, result) ? kHigh : kLow;
}

// A line read, and in a program sent whole a check that it was high (the
// errno when it was not); step by step, the level now.
std::uint8_t expect_high(const Bus& bus, wiring::LineIndex index, std::int16_t error) {
  const DlPortStep look = line_step(bus, bus.row.lines[index], DLPORT_STEP_READ);
  const long at = program.used;
  const std::uint8_t result = put(look);
  if (!program.whole) return line_program::holds(look, result) ? kHigh : kLow;
  DlPortStep check = look;
  check.kind = DLPORT_STEP_CHECK;
  check.port = 0;
  check.count = static_cast<unsigned>(at);
  put(check, {nullptr, 0, error});
  return kHigh;
}

// Releases SCL and waits while a slave holds it low; false once the
// stretch time-out has passed with the clock still low (in a program sent
// whole, the wait's outcome comes with the program's).
bool scl_high(const Bus& bus) {
  set_line(bus, bus.row.lines[wiring::kSclOut], kHigh);
  if (!bus.clock_readable) return true;
  DlPortStep wait = line_step(bus, bus.row.lines[wiring::kSclIn], DLPORT_STEP_WAIT);
  wait.count = static_cast<unsigned>(bus.stretch_looks);
  wait.aux = bus.delay_port;
  wait.ns = bus.stretch_real_ns;
  return put(wait, {nullptr, 0, -ETIMEDOUT}) != 0;
}

// One clock pulse with SDA already set; gives what SDA read at its end,
// or -ETIMEDOUT.
std::int16_t clock_pulse(const Bus& bus, const Tag& tag = {}) {
  delay(bus, bus.delays.low);
  if (!scl_high(bus)) return -ETIMEDOUT;
  delay(bus, bus.delays.high);
  const std::uint8_t level = read_sda(bus, tag);
  scl_low(bus);
  return level;
}

// --- conditions, entered and left with SCL low (START: from the idle bus) ---

// Both lines high within the stretch time-out: no transaction of another
// master and no slave holding a line. Each look takes two accesses, as a
// look at a stretched clock does. A program sent whole looks once.
bool bus_free(const Bus& bus) {
  if (program.whole) {
    expect_high(bus, wiring::kSdaIn, -ETIMEDOUT);
    if (bus.clock_readable) expect_high(bus, wiring::kSclIn, -ETIMEDOUT);
    return true;
  }
  const long long began = line_program::monotonic_ns();
  for (std::int32_t look = 0; look < bus.stretch_looks; ++look) {
    if (look > 0 && bus.stretch_real_ns != 0 &&
        line_program::monotonic_ns() - began >= bus.stretch_real_ns) {
      break;
    }
    const bool data_high = read_sda(bus) == kHigh;
    if (!bus.clock_readable) {
      if (data_high) return true;
      delay(bus, 1);
    } else if (expect_high(bus, wiring::kSclIn, 0) == kHigh && data_high) {
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

// 0 when acknowledged, `refused` when not (nothing for IGNORE_NAK: 0), or
// -ETIMEDOUT. In a program sent whole the acknowledge is checked later.
std::int16_t byte_out(const Bus& bus, std::uint8_t byte, std::int16_t refused) {
  if (const std::int16_t full = make_room(); full < 0) return full;
  for (int bit = kBitsPerByte - 1; bit >= 0; --bit) {
    sda(bus, static_cast<std::uint8_t>((byte >> bit) & 1U));
    if (const std::int16_t level = clock_pulse(bus); level < 0) return level;
  }
  sda(bus, kHigh);  // released for the slave's acknowledge
  delay(bus, bus.delays.low);
  if (!scl_high(bus)) return -ETIMEDOUT;
  delay(bus, bus.delays.high);
  // The acknowledge is SDA low: a check that SDA was high fails on it, so
  // the test is turned round.
  DlPortStep look = line_step(bus, bus.row.lines[wiring::kSdaIn], DLPORT_STEP_READ);
  const long at = program.used;
  const std::uint8_t result = put(look);
  scl_low(bus);
  if (!program.whole) return line_program::holds(look, result) ? refused : 0;
  if (refused != 0) {
    look.kind = DLPORT_STEP_CHECK;
    look.value = look.value != 0 ? 0 : 1;
    look.port = 0;
    look.count = static_cast<unsigned>(at);
    put(look, {nullptr, 0, refused});
  }
  return 0;
}

// The byte into *into, 0, or -ETIMEDOUT. `acknowledge` asks the slave for
// another byte; without it the slave lets go of SDA. Step by step, *into
// changes once the byte is whole; in a program sent whole its bits arrive
// with the program's outcome.
std::int16_t byte_in(const Bus& bus, bool acknowledge, std::uint8_t* into) {
  if (const std::int16_t full = make_room(); full < 0) return full;
  std::uint8_t value = 0;
  std::uint8_t* const bits = program.whole ? into : &value;
  sda(bus, kHigh);  // released: the slave drives the bits
  for (int bit = kBitsPerByte - 1; bit >= 0; --bit) {
    const Tag tag{bits, static_cast<std::uint8_t>(1U << bit), 0};
    if (const std::int16_t level = clock_pulse(bus, tag); level < 0) return level;
  }
  sda(bus, acknowledge ? kLow : kHigh);
  if (const std::int16_t level = clock_pulse(bus); level < 0) return level;
  if (!program.whole) *into = value;
  return 0;
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
        // What came before must be known good before a new START.
        if (const std::int16_t sent = flush(); sent < 0) return sent;
        if (const std::int16_t result = repeated_start(bus); result < 0) return result;
      }
      const auto address = static_cast<std::uint8_t>((msg.addr << 1) | (reading ? 1 : 0));
      const std::int16_t answer = byte_out(bus, address, ignore_nak ? 0 : -ENXIO);
      if (answer != 0) return answer;
    }
    // A read goes on into the next message when that one continues it
    // without a START: its last byte is then acknowledged too.
    const bool continued = i + 1 < count && has(msgs[i + 1], TARNWICK_M_NOSTART);
    for (std::uint16_t at = 0; at < msg.len; ++at) {
      if (reading) {
        const bool more = at + 1 < msg.len || continued;
        if (const std::int16_t result = byte_in(bus, more, &msg.buf[at]); result < 0) return result;
      } else {
        const std::int16_t answer = byte_out(bus, msg.buf[at], ignore_nak ? 0 : -EIO);
        if (answer != 0) return answer;
      }
    }
  }
  return 0;
}

}  // namespace

std::int16_t transfer(Adapter adapter, const tarnwick_msg* msgs, std::int16_t count) {
  const Bus* bus = ready(adapter);
  if (bus == nullptr) return -ENODEV;
  begin_program(true);
  if (!bus_free(*bus)) return -ETIMEDOUT;
  start(*bus);
  const std::int16_t result = messages(*bus, msgs, count);
  // Whatever went wrong, the STOP ends the transaction for every slave.
  const std::int16_t stopped = stop(*bus);
  const std::int16_t sent = flush();
  if (sent < 0) {
    // Ended early by a refused byte: the STOP has not gone out yet.
    if (!program.finished) {
      stop(*bus);
      flush();
    }
    return result < 0 ? result : sent;
  }
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
  // Every clock depends on the SDA just read: always step by step.
  begin_program(false);
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
