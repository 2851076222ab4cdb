#include "benchmarks/prescribed.h"

#include <string_view>

#include "tests/oracle/card_registers.h"
#include "tests/oracle/parallel_lines.h"

namespace prescribed {
namespace {

namespace lines = oracle::lines;
using oracle::card::Accesses;

constexpr int kEepromBytes = 16;

// Steps of a line sequence, levels aside.
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
    return {data_writes * times, clock_writes * times, data_reads * times, delays * times};
  }
};

constexpr LineSteps steps(std::string_view sequence) {
  LineSteps counted;
  for (const char step : sequence) {
    if (step == 'd' || step == 'D') ++counted.data_writes;
    if (step == 'c' || step == 'C') ++counted.clock_writes;
    if (step == 'r') ++counted.data_reads;
    if (step == '.') ++counted.delays;
  }
  return counted;
}

// The bit values do not change the counts.
constexpr LineSteps kStartSequence = steps(lines::kStartSequence);
constexpr LineSteps kStop = steps(lines::kStopSequence) + steps(lines::kSettleWait);
constexpr LineSteps kRestart = steps(lines::restart());
constexpr LineSteps kByteOut = steps(lines::byte_out(0));
constexpr LineSteps kByteIn = steps(lines::byte_in(true));

// What one line step costs in port accesses on an adapter.
struct LineCosts {
  int data_write;
  int clock_write;
  int data_read;
};
constexpr LineCosts kPhilipsLines{1, 2, 1};
constexpr LineCosts kCustomLines{2, 2, 1};

LineSteps line_steps(Adapter adapter, Operation operation) {
  switch (operation) {
    case Operation::init:
      return steps(adapter == Adapter::philips ? lines::kPhilipsInit : lines::kCustomInit);
    case Operation::start: return kStartSequence;
    case Operation::stop:
    case Operation::stop_after_read: return kStop;
    case Operation::restart: return kRestart;
    case Operation::address:
    case Operation::address_read:
    case Operation::byte_sent: return kByteOut;
    case Operation::byte_read: return kByteIn;
    case Operation::eeprom_read_16:
      // Start, address 0xA0, word address 0, then the address 0xA1 after
      // traffic restarts first; 15 bytes acknowledged, the last one not.
      return kStartSequence + kByteOut + kByteOut + kRestart + kByteOut +
             kByteIn * kEepromBytes + kStop;
    case Operation::search:
      // Every probe follows traffic on the bus, so each one restarts first.
      return (kRestart + kByteOut) * kSearchAddresses;
  }
  return {};
}

std::uint64_t line_accesses(const LineSteps& s, const LineCosts& cost, std::uint64_t nops) {
  return static_cast<std::uint64_t>(s.data_writes * cost.data_write +
                                    s.clock_writes * cost.clock_write +
                                    s.data_reads * cost.data_read) +
         static_cast<std::uint64_t>(s.delays) * nops;
}

// The card's register accesses, after those already in `card`; a stop
// begins with its PIN wait. A PIN wait lasts until its byte's time is over,
// so the count depends on how many port accesses the polls and their
// delays make.
Accesses card_steps(Operation operation, Accesses card) {
  switch (operation) {
    case Operation::init: return card.init();
    case Operation::start: return card.start();
    case Operation::stop: return card.pin_wait().stop();
    case Operation::stop_after_read: return card.pin_wait().read_termination().stop();
    // After data the card restarts with a repeated START and the address;
    // straight after a START it chains STOP and START instead: the same
    // accesses either way.
    case Operation::restart: return card.address(oracle::card::kRepeated, 0xA0);
    case Operation::address: return card.address(oracle::card::kChain, 0xA0);
    case Operation::address_read: return card.address(oracle::card::kChain, 0xA1);
    case Operation::byte_sent: return card.pin_wait().data_bytes({0x00});
    case Operation::byte_read: return card.pin_wait().received_bytes(1);
    case Operation::eeprom_read_16:
      // The read's own PIN wait, then a PIN wait and a read of S0 per byte;
      // the stop NACKs the byte the last read of S0 started.
      return card.start()
          .address(oracle::card::kChain, 0xA0)
          .pin_wait()
          .data_bytes({0x00})
          .address(oracle::card::kRepeated, 0xA1)
          .pin_wait()
          .received_bytes(kEepromBytes)
          .pin_wait()
          .read_termination()
          .stop();
    case Operation::search:
      // No data moves between the probes: each one is STOP+START and address.
      for (int probe = 0; probe < kSearchAddresses; ++probe) {
        card.address(oracle::card::kChain, 0xA0);
      }
      return card;
  }
  return card;
}

// The read address (before a byte read) and the byte read (before a stop
// after a read) started the byte that these operations wait for first: the
// operation before them ended with the read of S0 that started it.
bool waits_for_the_byte_before(Operation operation) {
  return operation == Operation::byte_read || operation == Operation::stop_after_read;
}

std::uint64_t card_registers(Operation operation, std::uint64_t nops) {
  Accesses card(0x300, static_cast<int>(nops));
  if (waits_for_the_byte_before(operation)) card.read_s0().byte_started();
  const std::size_t context = card.registers();
  return card_steps(operation, card).registers() - context;
}

const LineCosts& line_costs(Adapter adapter) {
  return adapter == Adapter::custom ? kCustomLines : kPhilipsLines;
}

}  // namespace

std::uint64_t expected(Adapter adapter, Operation operation, std::uint64_t nops) {
  if (adapter == Adapter::card) return card_registers(operation, nops) * (1 + nops);
  return line_accesses(line_steps(adapter, operation), line_costs(adapter), nops);
}

std::string formula(Adapter adapter, Operation operation) {
  if (adapter == Adapter::card) {
    // PIN waits take more status reads the fewer accesses a poll makes.
    const std::uint64_t at_0 = card_registers(operation, 0);
    const std::uint64_t at_1 = card_registers(operation, 1);
    const std::uint64_t at_100 = card_registers(operation, 0x100);
    if (at_0 == at_100) return std::to_string(at_100) + " x (1 + Nops)";
    return "(" + std::to_string(at_0) + ", " + std::to_string(at_1) + " or " +
           std::to_string(at_100) + " at Nops 0, 1, 100) x (1 + Nops)";
  }
  const LineSteps s = line_steps(adapter, operation);
  const std::string fixed_part = std::to_string(expected(adapter, operation, 0));
  if (s.delays == 0) return fixed_part;
  return fixed_part + " + " + std::to_string(s.delays) + " x Nops";
}

}  // namespace prescribed
