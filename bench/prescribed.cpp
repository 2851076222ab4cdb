#include "bench/prescribed.h"

namespace prescribed {
namespace {

constexpr int kEepromBytes = 16;

LineSteps line_steps(Operation operation) {
  switch (operation) {
    case Operation::init: return kIdleLines;
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

std::string card_sequence(Operation operation) {
  switch (operation) {
    case Operation::init: return std::string(card::kInit);
    case Operation::start: return std::string(card::kStart);
    case Operation::stop: return std::string(card::kStop);
    case Operation::stop_after_read: return std::string(card::kStopAfterRead);
    case Operation::restart:
    case Operation::address: return std::string(card::kAddressWrite);
    case Operation::address_read: return std::string(card::kAddressRead);
    case Operation::byte_sent: return std::string(card::kSendOne);
    case Operation::byte_read: return std::string(card::kReadOne);
    case Operation::eeprom_read_16: {
      // The read's own PIN wait, then a PIN wait and a read of S0 per byte;
      // the stop NACKs the byte the last read of S0 started.
      std::string sequence = std::string(card::kStart) + " " + std::string(card::kAddressWrite) +
                             " " + std::string(card::kSendOne) + " " +
                             std::string(card::kAddressRead) + " PIN";
      for (int byte = 0; byte < kEepromBytes; ++byte) sequence += " PIN S0r+";
      // The last byte's start is this operation's own.
      std::string stop(card::kStopAfterRead);
      return sequence + " " + stop.substr(stop.find(')') + 2);
    }
    case Operation::search: {
      // No data moves between the probes: each one is STOP+START and address.
      std::string sequence;
      for (int probe = 0; probe < kSearchAddresses; ++probe) {
        sequence += std::string(card::kAddressWrite) + " ";
      }
      return sequence;
    }
  }
  return {};
}

std::uint64_t card_registers(Operation operation, std::uint64_t nops) {
  return prescribed::card_registers(card_sequence(operation), nops);
}

const LineCosts& line_costs(Adapter adapter) {
  return adapter == Adapter::custom ? kCustomLines : kPhilipsLines;
}

}  // namespace

std::uint64_t expected(Adapter adapter, Operation operation, std::uint64_t nops) {
  if (adapter == Adapter::card) return card_accesses(card_registers(operation, nops), nops);
  const std::uint64_t check =
      operation == Operation::init && adapter == Adapter::philips ? kPhilipsCheckReads : 0;
  return accesses(line_steps(operation), line_costs(adapter), nops) + check;
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
  const LineSteps s = line_steps(operation);
  const std::string fixed_part = std::to_string(expected(adapter, operation, 0));
  if (s.delays == 0) return fixed_part;
  return fixed_part + " + " + std::to_string(s.delays) + " x Nops";
}

}  // namespace prescribed
