// The port accesses each bus operation is meant to make, written down from
// the adapters' own step-by-step sequences, not from the library's code, so
// that a count measured through the library can be held against them.
//
// Bit-banged adapters: a sequence is a string of line steps
//   d  data-line write     c  clock-line write
//   r  data-line read      .  port delay (Nops reads of base port + 2)
// The Philips adapter writes SDA with one port write and SCL with a read
// and a write of the control port; the Custom adapter reads and writes the
// output port for either line. A data-line read is one port read on both.
//
// PCF8584 card: a sequence is a list of register accesses
//   S0w S0r S1w S1r  write or read of S0 or S1; a "+" after it: the access
//                    starts a byte on the bus
//   PIN              a PIN wait: status reads until PIN clears, which is
//                    when the byte started last is over (one read when it
//                    already is)
//   (S0r+)           an access of the operation before, which started the
//                    byte this one waits for first; not counted here
// and every register access is followed by one port delay. A byte takes
// kCardByteUs of bench time at the library's clock setting (90 kHz, nine
// clocks), and every port access 1 us ("Access Time = 1", "Wall Clock = 0").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bench/adapter.h"

namespace prescribed {

struct LineSteps {
  int data_writes = 0;
  int clock_writes = 0;
  int data_reads = 0;
  int delays = 0;

  constexpr LineSteps operator+(const LineSteps& other) const {
    return {data_writes + other.data_writes, clock_writes + other.clock_writes,
            data_reads + other.data_reads, delays + other.delays};
  }
  constexpr LineSteps operator*(int times) const {
    return {data_writes * times, clock_writes * times, data_reads * times,
            delays * times};
  }
};

constexpr LineSteps steps(std::string_view sequence) {
  LineSteps counted;
  for (const char step : sequence) {
    if (step == 'd') ++counted.data_writes;
    if (step == 'c') ++counted.clock_writes;
    if (step == 'r') ++counted.data_reads;
    if (step == '.') ++counted.delays;
  }
  return counted;
}

// Data low, clock high (the data line fell while the clock was high: the
// start condition), delay, data low, clock low, delay.
inline constexpr LineSteps kStartSequence = steps("dc.dc.");
// Begins with the clock low; the last data high is the stop condition.
inline constexpr LineSteps kStopSequence = steps("d.dc.dc.d.");
inline constexpr LineSteps kSettleWait = steps("..........");
// Per bit: data, clock low, delay, clock high, delay, clock low, delay.
inline constexpr LineSteps kByteOut =
    steps("dc.c.c.") * 8 + steps("dcc.rc..");  // then the acknowledge clock
// Per bit: data released, clock low, delay, clock high, delay, read, clock
// low, delay; then the acknowledge (or not) of the master.
inline constexpr LineSteps kByteIn = steps("dc.c.rc.") * 8 + steps(".dcdc.c.d..");
// Data high, clock high; the Philips adapter then reads its status port
// twice to check the adapter, with no delay anywhere.
inline constexpr LineSteps kIdleLines = steps("dc");
inline constexpr int kPhilipsCheckReads = 2;
inline constexpr LineSteps kStop = kStopSequence + kSettleWait;
inline constexpr LineSteps kRestart = kStopSequence + kSettleWait + kStartSequence;

// The port delays the adapters' timing is built from.
static_assert(kByteOut.delays == 27);
static_assert(kByteIn.delays == 29);
static_assert(kStartSequence.delays == 2);
static_assert(kStop.delays == 14);
static_assert(kRestart.delays == 16);

// What one line step costs in port accesses on an adapter.
struct LineCosts {
  int data_write;
  int clock_write;
  int data_read;
};
inline constexpr LineCosts kPhilipsLines{1, 2, 1};
inline constexpr LineCosts kCustomLines{2, 2, 1};

constexpr std::uint64_t accesses(const LineSteps& s, const LineCosts& cost,
                                 std::uint64_t nops) {
  return static_cast<std::uint64_t>(s.data_writes * cost.data_write +
                                    s.clock_writes * cost.clock_write +
                                    s.data_reads * cost.data_read) +
         static_cast<std::uint64_t>(s.delays) * nops;
}

inline constexpr std::uint64_t kCardByteUs = 100;

// Register accesses of a card sequence ("S1w S1r PIN ..."), each PIN wait
// counted as the status reads it takes with that Nops.
constexpr std::uint64_t card_registers(std::string_view sequence, std::uint64_t nops) {
  std::uint64_t at = 0;       // port accesses so far, the carried ones too
  std::uint64_t counted = 0;  // register accesses of this operation
  bool pending = false;       // a byte is on the bus that nobody waited for
  std::uint64_t byte_at = 0;
  std::size_t i = 0;
  while (i < sequence.size()) {
    if (sequence[i] == ' ') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < sequence.size() && sequence[end] != ' ') ++end;
    const std::string_view token = sequence.substr(i, end - i);
    i = end;
    const bool carried = token.front() == '(';
    if (token == "PIN") {
      for (;;) {
        const bool over = !pending || at - byte_at >= kCardByteUs;
        at += 1 + nops;
        ++counted;
        if (over) break;
      }
      pending = false;
      continue;
    }
    if (token.find('+') != std::string_view::npos) {
      pending = true;
      byte_at = at;
    }
    at += 1 + nops;
    if (!carried) ++counted;
  }
  return counted;
}

constexpr std::uint64_t card_accesses(std::uint64_t register_count, std::uint64_t nops) {
  return register_count * (1 + nops);
}

static_assert(card_registers("S1w S0w+ PIN S1r", 0x100) == 4);
static_assert(card_registers("S1w S0w+ PIN S1r", 0) == 103);
static_assert(card_registers("(S0r+) PIN PIN S0r+", 1) == 52);

// Register sequences of the card's operations on the bench.
namespace card {
// Own address, clock register, then the interface on and idle.
inline constexpr std::string_view kInit = "S1w S0w S1w S0w S1w";
// 0x40 to S1, bus-free test, placeholder address to S0, START (which sends
// it), bus-error test.
inline constexpr std::string_view kStart = "S1w S1r S0w S1w+ S1r";
// STOP command, 0xC2 to S0, bus-error test, interface off.
inline constexpr std::string_view kStop = "PIN S1w S0w S1r S1w";
// The same after a read: acknowledge off, one more byte started, PIN wait.
inline constexpr std::string_view kStopAfterRead = "(S0r+) PIN S1w S0r+ PIN S1w S0w S1r S1w";
// STOP+START (straight after a START) or repeated START, then the address.
inline constexpr std::string_view kAddressWrite = "S1w S0w+ PIN S1r";
// An acknowledged read address also starts the first byte.
inline constexpr std::string_view kAddressRead = "S1w S0w+ PIN S1r S0r+";
inline constexpr std::string_view kSendOne = "PIN S0w+ PIN S1r";
// The read address started the byte the read waits for first.
inline constexpr std::string_view kReadOne = "(S0r+) PIN PIN S0r+";
}  // namespace card

// The operations whose counts are held against these sequences.
enum class Operation {
  init,            // I2C_Init with the slot free
  start,           // I2C_Start on a closed bus
  stop,            // I2C_Stop after a byte written
  stop_after_read, // I2C_Stop after a byte read
  restart,         // bit-banged: I2C_Start on the open bus; card: I2C_Address after data
  address,         // I2C_Address(0xA0) straight after the start
  address_read,    // I2C_Address(0xA1) straight after the start
  byte_sent,       // I2C_Send of one byte
  byte_read,       // I2C_Read of one byte after a read address
  eeprom_read_16,  // start, address 0xA0, word address, address 0xA1, 16 bytes, stop
  search,          // the console's SEARCH after address 0xA0: 98 probes, then 0xA0 again
};

// SEARCH probes the address bytes 4, 6, ..., 198 and then the current one.
inline constexpr int kSearchAddresses = 99;

using bench::Adapter;

// Port accesses the operation is meant to make with that Nops.
std::uint64_t expected(Adapter adapter, Operation operation, std::uint64_t nops);

// How the figure is made up, for the table: "5 x (1 + Nops)", "64 + 27 x Nops";
// for the card the register accesses at Nops 0, 1 and 0x100.
std::string formula(Adapter adapter, Operation operation);

}  // namespace prescribed
