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

int card_registers(Operation operation) {
  switch (operation) {
    case Operation::init: return register_accesses(card::kInit);
    case Operation::start: return register_accesses(card::kStart);
    case Operation::stop: return register_accesses(card::kStop);
    case Operation::stop_after_read: return register_accesses(card::kStopAfterRead);
    case Operation::restart:
    case Operation::address: return register_accesses(card::kAddressWrite);
    case Operation::address_read: return register_accesses(card::kAddressRead);
    case Operation::byte_sent: return register_accesses(card::kSendOne);
    case Operation::byte_read: return register_accesses(card::kReadOne);
    case Operation::eeprom_read_16:
      // The read's own PIN wait, then a PIN wait and a read of S0 per byte;
      // the stop NACKs the byte the last read of S0 started.
      return register_accesses(card::kStart) + register_accesses(card::kAddressWrite) +
             register_accesses(card::kSendOne) + register_accesses(card::kAddressRead) +
             register_accesses("PIN") + register_accesses("PIN S0r") * kEepromBytes +
             register_accesses(card::kStopAfterRead);
    case Operation::search:
      // No data moves between the probes: each one is STOP+START and address.
      return register_accesses(card::kAddressWrite) * kSearchAddresses;
  }
  return 0;
}

const LineCosts& line_costs(Adapter adapter) {
  return adapter == Adapter::custom ? kCustomLines : kPhilipsLines;
}

}  // namespace

std::uint64_t expected(Adapter adapter, Operation operation, std::uint64_t nops) {
  if (adapter == Adapter::card) return card_accesses(card_registers(operation), nops);
  const std::uint64_t check =
      operation == Operation::init && adapter == Adapter::philips ? kPhilipsCheckReads : 0;
  return accesses(line_steps(operation), line_costs(adapter), nops) + check;
}

std::string formula(Adapter adapter, Operation operation) {
  if (adapter == Adapter::card) {
    return std::to_string(card_registers(operation)) + " x (1 + Nops)";
  }
  const LineSteps s = line_steps(operation);
  const std::string fixed_part = std::to_string(expected(adapter, operation, 0));
  if (s.delays == 0) return fixed_part;
  return fixed_part + " + " + std::to_string(s.delays) + " x Nops";
}

}  // namespace prescribed
