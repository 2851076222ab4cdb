// How far bench time runs ahead of the wall clock on the bench as users get
// it (wall clock and write cycles on): a port access counts at least 1 us
// of bench time, and a simulated one takes far less on the host, so code
// that waits by polling (a PIN wait, an EEPROM's acknowledge) sees its
// waits end sooner in wall time than on real hardware.
#include <array>
#include <cstdint>
#include <string>

#include "benchmarks/clock.h"
#include "benchmarks/host.h"
#include "benchmarks/search.h"
#include "benchmarks/section.h"
#include "sim/bench/sim_bench.h"

namespace bench {
namespace {

constexpr std::int16_t kEepromWrite = 0xA0;
constexpr std::int16_t kNotAcknowledged = 3;
constexpr int kAcknowledgePolls = 100000;
constexpr std::array<std::uint16_t, 2> kNops{0, 0x100};

// One 8-byte page written, then the address polled until the write cycle
// is over, as host code does before it goes on.
void page_write(const Exports& lib) {
  static constexpr std::array<std::uint8_t, 9> kPage{0x10, 1, 2, 3, 4, 5, 6, 7, 8};
  lib.I2C_Start();
  lib.I2C_Address(kEepromWrite);
  lib.I2C_Send(static_cast<std::int16_t>(kPage.size()), kPage.data());
  lib.I2C_Stop();
  lib.I2C_Start();
  for (int poll = 0; poll < kAcknowledgePolls; ++poll) {
    if (lib.I2C_Address(kEepromWrite) != kNotAcknowledged) break;
  }
  lib.I2C_Stop();
}

void search(const Exports& lib) {
  lib.I2C_Start();
  lib.I2C_Address(kEepromWrite);
  console_search(lib, kEepromWrite);
  lib.I2C_Stop();
}

// Bench us per wall us over the best of `runs` runs.
template <class Action>
double ratio(int runs, Action&& action) {
  double best = 0;
  for (int i = 0; i < runs; ++i) {
    const unsigned long long bench_before = SimBenchTime();
    const double wall_ns = time_ns(action);
    const double bench_us = static_cast<double>(SimBenchTime() - bench_before);
    const double r = wall_ns > 0 ? bench_us * 1000.0 / wall_ns : 0;
    if (i == 0 || r > best) best = r;
  }
  return best;
}

}  // namespace

Section measure_bench_time(Host& host, const Options& options) {
  Section section;
  Table table;
  table.title = "Bench time against the wall clock: bench us per wall us, default bench";
  table.header = {"adapter", "SEARCH, Nops 0", "SEARCH, Nops 0x100", "page write, Nops 0",
                  "page write, Nops 0x100"};
  const int runs = options.quick ? 1 : 3;
  Json details = Json::object();
  for (const Adapter adapter : kAdapters) {
    std::vector<std::string> row{adapter_name(adapter)};
    Json adapter_json = Json::object();
    std::array<double, 4> figures{};
    for (std::size_t n = 0; n < kNops.size(); ++n) {
      host.configure({kNops[n], 1, "", true});
      SimBenchRestart();  // the bench reads its section at power-up
      host.use(adapter);
      const Exports& lib = host.library();
      figures[n] = ratio(runs, [&] { search(lib); });
      figures[2 + n] = ratio(runs, [&] { page_write(lib); });
    }
    const std::array<const char*, 4> keys{"search_nops_0", "search_nops_0x100",
                                          "page_write_nops_0", "page_write_nops_0x100"};
    for (std::size_t i = 0; i < figures.size(); ++i) {
      row.push_back(fixed(figures[i], 1));
      adapter_json.set(keys[i], figures[i]);
    }
    table.rows.push_back(row);
    details.set(adapter_key(adapter), adapter_json);
  }
  table.notes.push_back(
      "Each port access takes 1 us of bench time or the wall time since the one before where "
      "that is longer. Page write: START, address 0xA0, word address and 8 bytes, STOP, then "
      "the address polled until the 24C02's 5 ms write cycle is over. Highest of " +
      std::to_string(runs) + " runs.");
  section.tables.push_back(std::move(table));
  section.headline.set("bench_us_per_wall_us", details);
  section.details = details;
  return section;
}

}  // namespace bench
