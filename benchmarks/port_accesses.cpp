// Port accesses per bus operation, counted by the port layer, held against
// the accesses the adapters' sequences call for. Any access beyond those is
// a defect of the library, not a figure.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "benchmarks/host.h"
#include "benchmarks/prescribed.h"
#include "benchmarks/search.h"
#include "benchmarks/section.h"
#include "sim/bench/sim_bench.h"

namespace bench {
namespace {

using prescribed::Operation;

constexpr std::int16_t kEepromWrite = 0xA0;
constexpr std::int16_t kEepromRead = 0xA1;
constexpr std::int16_t kEepromBytes = 16;
constexpr std::array<std::uint16_t, 2> kNopsMeasured{0, 1};

struct OperationRow {
  Operation operation;
  const char* name;
  const char* key;
};

constexpr std::array<OperationRow, 11> kOperations{{
    {Operation::init, "init", "init"},
    {Operation::start, "start", "start"},
    {Operation::stop, "stop", "stop"},
    {Operation::restart, "restart", "restart"},
    {Operation::address, "address", "address"},
    {Operation::address_read, "read address", "address_read"},
    {Operation::byte_sent, "one byte sent", "byte_sent"},
    {Operation::byte_read, "one byte read", "byte_read"},
    {Operation::stop_after_read, "stop after a read", "stop_after_read"},
    {Operation::eeprom_read_16, "16-byte EEPROM read", "eeprom_read_16"},
    {Operation::search, "SEARCH", "search"},
}};

struct Run {
  std::map<Operation, std::uint64_t> accesses;
  std::vector<std::string> unexpected;  // results other than the success ones
  std::uint64_t violations = 0;
};

// Runs the transactions on the adapter (already initialised) and counts the
// accesses of each operation on its own.
Run count_operations(const Exports& lib, Adapter adapter) {
  Run run;
  const std::uint64_t violations_before = SimBenchViolations();
  auto counted = [&](Operation operation, const char* call, std::int16_t wanted,
                     const std::function<std::int16_t()>& action) {
    const std::uint64_t before = SimBenchAccessCount();
    const std::int16_t result = action();
    run.accesses[operation] = SimBenchAccessCount() - before;
    if (result != wanted) {
      run.unexpected.push_back(std::string(call) + " gave " + std::to_string(result) +
                               ", not " + std::to_string(wanted));
    }
  };
  std::uint8_t word_address = 0;
  std::array<std::uint8_t, kEepromBytes> buffer{};

  counted(Operation::init, "I2C_Init", 0, [&] { return lib.I2C_Init(); });
  counted(Operation::start, "I2C_Start", 0, [&] { return lib.I2C_Start(); });
  counted(Operation::address, "I2C_Address(0xA0)", 0,
          [&] { return lib.I2C_Address(kEepromWrite); });
  counted(Operation::byte_sent, "I2C_Send(1)", 1, [&] { return lib.I2C_Send(1, &word_address); });
  counted(Operation::stop, "I2C_Stop", 0, [&] { return lib.I2C_Stop(); });

  // The card restarts through an address after data (repeated START); the
  // bit-banged adapters through a start on the open bus.
  lib.I2C_Start();
  lib.I2C_Address(kEepromWrite);
  lib.I2C_Send(1, &word_address);
  if (adapter == Adapter::card) {
    counted(Operation::restart, "I2C_Address(0xA0) after data", 0,
            [&] { return lib.I2C_Address(kEepromWrite); });
  } else {
    counted(Operation::restart, "I2C_Start on the open bus", 0, [&] { return lib.I2C_Start(); });
  }
  lib.I2C_Stop();

  lib.I2C_Start();
  counted(Operation::address_read, "I2C_Address(0xA1)", 0,
          [&] { return lib.I2C_Address(kEepromRead); });
  counted(Operation::byte_read, "I2C_Read(1)", 1, [&] { return lib.I2C_Read(1, buffer.data()); });
  counted(Operation::stop_after_read, "I2C_Stop", 0, [&] { return lib.I2C_Stop(); });

  counted(Operation::eeprom_read_16, "16-byte EEPROM read", kEepromBytes, [&] {
    if (lib.I2C_Start() != 0 || lib.I2C_Address(kEepromWrite) != 0 ||
        lib.I2C_Send(1, &word_address) != 1 || lib.I2C_Address(kEepromRead) != 0) {
      lib.I2C_Stop();
      return std::int16_t{-100};
    }
    const std::int16_t read = lib.I2C_Read(kEepromBytes, buffer.data());
    lib.I2C_Stop();
    return read;
  });
  lib.I2C_Start();
  lib.I2C_Address(kEepromWrite);
  // The bench's 24C02, LM75 and PCF8574 lie in the probed range.
  counted(Operation::search, "SEARCH", 3,
          [&] { return static_cast<std::int16_t>(console_search(lib, kEepromWrite)); });
  lib.I2C_Stop();
  run.violations = SimBenchViolations() - violations_before;
  return run;
}

std::string signed_text(std::int64_t value) {
  return value > 0 ? "+" + std::to_string(value) : std::to_string(value);
}

}  // namespace

Section measure_port_accesses(Host& host, const Options&) {
  Section section;
  std::uint64_t extra = 0;
  std::uint64_t missing = 0;
  std::uint64_t violations = 0;
  Json per_adapter = Json::object();

  for (const Adapter adapter : kAdapters) {
    Table table;
    table.title = std::string("Port accesses per operation: ") + adapter_name(adapter);
    table.header = {"operation", "prescribed accesses"};
    for (const std::uint16_t nops : kNopsMeasured) {
      const std::string n = "Nops " + std::to_string(nops);
      table.header.insert(table.header.end(), {n + ": prescribed", "measured", "difference"});
    }
    std::map<Operation, std::vector<std::string>> cells;
    for (const auto& row : kOperations) {
      cells[row.operation] = {row.name, prescribed::formula(adapter, row.operation)};
    }
    Json adapter_json = Json::object();
    for (const std::uint16_t nops : kNopsMeasured) {
      host.configure({nops, 1, ""});
      SimBenchRestart();  // bench time from the accesses alone, no write cycles
      host.use(adapter);
      const Run run = count_operations(host.library(), adapter);
      violations += run.violations;
      for (const auto& text : run.unexpected) {
        section.problems.push_back(std::string(adapter_name(adapter)) + ", Nops " +
                                   std::to_string(nops) + ": " + text);
      }
      Json nops_json = Json::object();
      for (const auto& row : kOperations) {
        const std::uint64_t want = prescribed::expected(adapter, row.operation, nops);
        const std::uint64_t got = run.accesses.at(row.operation);
        const auto difference = static_cast<std::int64_t>(got) - static_cast<std::int64_t>(want);
        if (difference > 0) extra += static_cast<std::uint64_t>(difference);
        if (difference < 0) missing += static_cast<std::uint64_t>(-difference);
        auto& line = cells[row.operation];
        line.insert(line.end(), {std::to_string(want), std::to_string(got), signed_text(difference)});
        nops_json.set(row.key, Json::object().set("prescribed", want).set("measured", got));
      }
      adapter_json.set("nops_" + std::to_string(nops), nops_json);
    }
    for (const auto& row : kOperations) table.rows.push_back(cells[row.operation]);
    if (adapter == Adapter::card) {
      table.notes.push_back(
          "Every register access is followed by one port delay; each PIN wait is one status "
          "read on the bench. restart: I2C_Address after a data byte (repeated START).");
    } else {
      table.notes.push_back(
          std::string("Line costs: data write ") +
          (adapter == Adapter::custom ? "2 (read and write of its port)" : "1") +
          ", clock write 2, data read 1; a port delay is Nops reads. restart: I2C_Start on "
          "the open bus.");
    }
    section.tables.push_back(std::move(table));
    per_adapter.set(adapter_key(adapter), adapter_json);
  }
  section.tables.back().notes.push_back(
      "Operations: init with the bus semaphore free; start on a closed bus; stop after a byte written; address 0xA0 straight "
      "after the start (read address: 0xA1); one byte sent after it; one byte read after the "
      "address 0xA1; the EEPROM read is start, address 0xA0, word address 0, address 0xA1, "
      "16 bytes, stop; SEARCH is the console's 98 probes and the address 0xA0 again, after "
      "address 0xA0.");
  section.tables.back().notes.push_back("Bus protocol violations seen by the bench: " +
                                        std::to_string(violations) + ".");

  section.headline.set("port_accesses_extra", extra);
  section.headline.set("port_accesses_missing", missing);
  section.details.set("bus_violations", violations).set("adapters", per_adapter);
  section.goals.push_back({"port accesses beyond the prescribed ones, all operations", "0",
                           std::to_string(extra), extra == 0});
  section.goals.push_back({"prescribed port accesses left out, all operations", "0",
                           std::to_string(missing), missing == 0});
  if (violations != 0) {
    section.problems.push_back("the bench saw " + std::to_string(violations) +
                               " bus protocol violations while counting");
  }
  return section;
}

}  // namespace bench
