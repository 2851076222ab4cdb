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
//
// A line program is sent whole in synchronous bit-bang mode: every byte
// written to the chip goes to the latch one byte period after the last,
// and the chip answers each with the pins it sampled just before putting
// it out. A program's latch changes become bytes, its samples the answers
// to the byte after them, and its delays the byte period: as long as its
// longest delay, so every state lasts at least that long. The bytes go in
// chunks no larger than the chip's buffers, cut where the program allows
// (with SCL low), one USB write and one read each. What cannot travel in
// the byte stream is done alone between chunks: a new direction (a control
// request) and the looks of a wait after the first (the first is the
// chunk's last sample; then pins read until the clock is high). A wiring that drives its lines by their directions therefore
// gains little (a chunk per line change); one that drives them from the
// latch (key FTDI Outputs) sends a transaction in a round trip or two.
#include <ftdi.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "platform/format.h"
#include "platform/portio/backends/backend.h"
#include "platform/portio/line_program.h"
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
// Pin samples fetched from the chip (a program's chunk counts one), and
// writes (a program's bytes each) and control requests sent to it.
unsigned long long round_trips = 0;
unsigned long long sent = 0;
bool synchronous = false;     // in synchronous bit-bang mode, for programs
unsigned period_ns = 0;       // the byte period last asked of the chip
std::size_t chunk_bytes = 128;

// The smaller of each chip's transmit and receive buffers: a chunk's bytes
// and their samples both fit the chip at once.
struct ChipBuffers {
  ftdi_chip_type type;
  std::size_t bytes;
};
constexpr std::array<ChipBuffers, 8> kChipBuffers{{
    {TYPE_AM, 128}, {TYPE_BM, 128}, {TYPE_2232C, 128}, {TYPE_R, 128},
    {TYPE_2232H, 4096}, {TYPE_4232H, 2048}, {TYPE_232H, 1024}, {TYPE_230X, 512},
}};
// Byte periods below this are not asked for: the chip's bit-bang clock
// has no finer steps worth trusting.
constexpr unsigned kShortestPeriodNs = 1000;
constexpr long long kNsPerSecond = 1000000000;
// Empty answers in a row after which a chip that owes samples counts as lost.
constexpr int kPatientReads = 10000;

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

void send_latch(std::uint8_t value) {
  ++sent;
  if (ftdi_write_data(context, &value, 1) != 1) return lost("write pins");
  latch = value;
}

std::uint8_t mode() { return synchronous ? BITMODE_SYNCBB : BITMODE_BITBANG; }

void send_directions(std::uint8_t value) {
  ++sent;
  if (ftdi_set_bitmode(context, value, mode()) < 0) return lost("set directions");
  directions = value;
}

// Single accesses run in asynchronous mode, where a write is not answered
// and the pins are read on request; programs in synchronous mode.
void enter(bool sync) {
  if (context == nullptr || synchronous == sync) return;
  synchronous = sync;
  ++sent;
  if (ftdi_set_bitmode(context, directions, mode()) < 0) lost("change bit-bang mode");
}

std::uint8_t sample_pins() {
  unsigned char pins = 0xFF;
  ++round_trips;
  if (ftdi_read_pins(context, &pins) < 0) {
    lost("read pins");
    return 0xFF;
  }
  return pins;
}

std::uint8_t read_port(std::uint16_t port) {
  if (context == nullptr) return 0xFF;
  if (port == direction_port) return directions;
  if (port != pin_port) return 0xFF;
  return sample_pins();
}

void write_port(std::uint16_t port, std::uint8_t value) {
  if (context == nullptr) return;
  if (port == direction_port && value != directions) send_directions(value);
  if (port == pin_port && value != latch) send_latch(value);
}

// --- line programs ---

// The bytes of one chunk, and which steps take which byte's sample.
struct Chunk {
  std::vector<std::uint8_t> bytes;
  std::vector<std::pair<std::size_t, long>> takers;  // byte, step
  std::vector<long> pending;  // steps that take the next byte's sample
};

// Where a chunk may end: after a step marked as a cut.
struct Cut {
  long step = -1;
  std::size_t bytes = 0;
  std::size_t takers = 0;
  std::size_t pending = 0;
  std::uint8_t latch = 0;
};

Chunk chunk;

void put_byte(std::uint8_t value) {
  for (const long step : chunk.pending) chunk.takers.emplace_back(chunk.bytes.size(), step);
  chunk.pending.clear();
  chunk.bytes.push_back(value);
}

// The byte period: the program's longest delay, so that every state lasts
// as long as any delay asks.
void set_pace(const DlPortStep* steps, long count) {
  unsigned longest = kShortestPeriodNs;
  for (long i = 0; i < count; ++i) {
    if (steps[i].kind == DLPORT_STEP_DELAY) longest = std::max(longest, steps[i].ns);
  }
  if (longest == period_ns) return;
  period_ns = longest;
  ++sent;
  const auto rate = static_cast<int>(kNsPerSecond / longest);
  if (ftdi_set_baudrate(context, rate) < 0) lost("set the byte rate");
}

// Steps the byte stream cannot carry: done alone, between chunks.
bool alone(const DlPortStep& step) {
  const bool line_write = step.kind == DLPORT_STEP_WRITE || step.kind == DLPORT_STEP_MODIFY;
  return (line_write && step.port == direction_port) ||
         (step.kind == DLPORT_STEP_WAIT && step.count > 1 && step.port == pin_port);
}

void add(const DlPortStep& step, long index, std::uint8_t* results) {
  switch (step.kind) {
    case DLPORT_STEP_WRITE:
    case DLPORT_STEP_MODIFY: {
      const std::uint8_t before = step.port == pin_port ? latch : 0xFF;
      std::uint8_t value = step.value;
      if (step.kind == DLPORT_STEP_MODIFY) {
        value = static_cast<std::uint8_t>(step.value != 0 ? before | step.mask : before & ~step.mask);
      }
      results[index] = value;
      if (step.port == pin_port && value != latch) {
        put_byte(value);
        latch = value;
      }
      return;
    }
    case DLPORT_STEP_READ:
    case DLPORT_STEP_WAIT:
      if (step.port == pin_port) {
        chunk.pending.push_back(index);
      } else {
        const std::uint8_t value = step.port == direction_port ? directions : 0xFF;
        results[index] = step.kind == DLPORT_STEP_READ ? value : line_program::holds(step, value);
      }
      return;
    default:  // delays are the byte period; checks wait for the samples
      results[index] = 0;
      return;
  }
}

// Sends the chunk of steps [begin, end) and fills in their samples; false
// when one of its waits or checks failed.
bool send(const DlPortStep* steps, long begin, long end, std::uint8_t* results) {
  if (!chunk.pending.empty()) put_byte(latch);  // one more byte for the last samples
  std::vector<std::uint8_t> samples(chunk.bytes.size(), 0xFF);
  if (!chunk.bytes.empty() && context != nullptr) {
    sent += chunk.bytes.size();  // each byte a write to the latch
    ++round_trips;
    const int size = static_cast<int>(chunk.bytes.size());
    if (ftdi_write_data(context, chunk.bytes.data(), size) != size) {
      lost("write pins");
    } else {
      int got = 0;
      for (int empty = 0; got < size && empty < kPatientReads;) {
        const int answer = ftdi_read_data(context, samples.data() + got, size - got);
        if (answer < 0) break;
        got += answer;
        empty = answer == 0 ? empty + 1 : 0;
      }
      if (got < size) lost("read samples");
    }
  }
  for (const auto& [byte, step] : chunk.takers) {
    const std::uint8_t sample = samples[byte];
    results[step] = steps[step].kind == DLPORT_STEP_READ ? sample
                                                         : line_program::holds(steps[step], sample);
  }
  chunk = Chunk{};
  bool held = true;
  for (long i = begin; i < end; ++i) {
    if (steps[i].kind == DLPORT_STEP_CHECK) {
      results[i] = steps[i].count < static_cast<unsigned>(i) &&
                   line_program::holds(steps[i], results[steps[i].count]);
    }
    if ((steps[i].kind == DLPORT_STEP_CHECK || steps[i].kind == DLPORT_STEP_WAIT) &&
        results[i] == 0) {
      held = false;
    }
  }
  return held;
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
  synchronous = false;
  period_ns = 0;
  send_latch(0x00);
  if (context == nullptr) return;
  if (settings.ftdi_outputs != 0) send_directions(settings.ftdi_outputs);
  if (context == nullptr) return;
  // A chunk's last samples come back at once, not after libftdi's 16 ms.
  ++sent;
  if (ftdi_set_latency_timer(context, 1) < 0) {
    stderr_line("cannot set the latency timer of FTDI device " + device + " (" + chip_error() +
                ")" + advice);
    give_up();
    return;
  }
  chunk_bytes = 128;
  for (const ChipBuffers& chip : kChipBuffers) {
    if (chip.type == context->type) chunk_bytes = chip.bytes;
  }
  banner = "FTDI device " + device + " in bit-bang mode, pins at port " +
           format::hexadecimal(pin_port, 4) + ", directions at port " +
           format::hexadecimal(direction_port, 4);
}

std::uint8_t read(std::uint16_t port) {
  enter(false);
  return read_port(port);
}

void write(std::uint16_t port, std::uint8_t value) {
  enter(false);
  write_port(port, value);
}

long run(const DlPortStep* steps, long count, std::uint8_t* results) {
  if (context != nullptr) set_pace(steps, count);
  enter(true);
  if (context == nullptr) return line_program::run(steps, count, results, read_port, write_port);
  chunk = Chunk{};
  long begin = 0;
  Cut cut;
  for (long i = 0; i < count; ++i) {
    const DlPortStep& step = steps[i];
    if (alone(step) && step.kind == DLPORT_STEP_WAIT) {
      // The chunk's last sample, just after SCL was let go, is the first
      // look; only a clock still low is looked at again, pin read by pin
      // read.
      chunk.pending.push_back(i);
      if (!send(steps, begin, i, results)) return i;
      begin = i + 1;
      const long long began = line_program::monotonic_ns();
      for (unsigned look = 1; results[i] == 0 && look < step.count && context != nullptr &&
                              !line_program::out_of_time(step, began);
           ++look) {
        results[i] = line_program::holds(step, sample_pins());
      }
      if (results[i] == 0) return i + 1;
      continue;
    }
    if (alone(step)) {
      if (!send(steps, begin, i, results)) return i;
      begin = i + 1;
      if (!line_program::run_step(steps, i, results, read_port, write_port)) return i + 1;
      continue;
    }
    add(step, i, results);
    if (step.cut != 0) {
      cut = {i, chunk.bytes.size(), chunk.takers.size(), chunk.pending.size(), latch};
    }
    // One byte is kept for the samples that end the chunk.
    if (chunk.bytes.size() + 1 >= chunk_bytes) {
      if (cut.step >= begin && cut.step < i) {
        // Back to the last cut; the steps after it go in the next chunk.
        chunk.bytes.resize(cut.bytes);
        chunk.takers.resize(cut.takers);
        chunk.pending.resize(cut.pending);
        latch = cut.latch;
        i = cut.step;
      }
      if (!send(steps, begin, i + 1, results)) return i + 1;
      begin = i + 1;
    }
  }
  send(steps, begin, count, results);
  return count;
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
