// What the library adds to each port access: the time per access of
// I2C_Send and I2C_Read on the bench, over the time per access of a loop
// that makes the very same accesses by calling the port layer directly.
// The sequence is taken from the port trace of one pass of the library, and
// both are timed in alternation on the same bench, so the ratio holds on a
// busy machine.
#include <array>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "benchmarks/clock.h"
#include "benchmarks/host.h"
#include "benchmarks/section.h"
#include "platform/format.h"
#include "platform/scan.h"
#include "sim/bench/sim_bench.h"

namespace bench {
namespace {

constexpr std::int16_t kEepromWrite = 0xA0;
constexpr std::int16_t kReadCount = 16;
constexpr double kGoal = 1.3;
constexpr std::array<std::uint16_t, 2> kNopsMeasured{0, 0x100};

struct Access {
  std::uint16_t port;
  std::uint8_t value;
  bool write;
};

// One pass: the word address written, then 16 bytes read. Each call turns
// the direction round, so every pass re-addresses the slave in both
// directions and leaves the bus as it found it.
void pass(const Exports& lib) {
  static std::uint8_t word_address = 0;
  static std::array<std::uint8_t, kReadCount> buffer{};
  lib.I2C_Send(1, &word_address);
  lib.I2C_Read(kReadCount, buffer.data());
}

void open_bus(Host& host, Adapter adapter) {
  host.use(adapter);
  const Exports& lib = host.library();
  lib.I2C_Start();
  lib.I2C_Address(kEepromWrite);
  pass(lib);  // from here on every pass is the same
}

// The hexadecimal number of `digits` characters at `text`, or -1.
int hex_field(const std::string& text, std::size_t at, std::size_t digits) {
  if (text.size() < at + digits) return -1;
  const auto value = scan::whole_number(std::string_view(text).substr(at, digits),
                                        {.base = 16, .max_digits = digits});
  return value ? static_cast<int>(*value) : -1;
}

// Trace lines read "W 0301 C1" or "R 0301 81"; violation lines ("! ...")
// are no access.
std::vector<Access> parse_trace(const std::string& path) {
  std::vector<Access> accesses;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 9 || (line[0] != 'R' && line[0] != 'W')) continue;
    const int port = hex_field(line, 2, 4);
    const int value = hex_field(line, 7, 2);
    if (port < 0 || value < 0) continue;
    accesses.push_back({static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value),
                        line[0] == 'W'});
  }
  return accesses;
}

// The accesses of one pass, from the port trace.
std::vector<Access> capture(Host& host, Adapter adapter, std::uint16_t nops) {
  const std::string trace = host.file("trace.txt");
  std::remove(trace.c_str());
  host.configure({nops, 1, trace});
  host.restart_ports();
  open_bus(host, adapter);
  const Exports& lib = host.library();
  const std::uint64_t first = SimBenchAccessCount();
  pass(lib);
  const std::uint64_t end = SimBenchAccessCount();
  lib.I2C_Stop();
  host.restart_ports();  // the trace reaches its file
  host.configure({nops, 1, ""});
  const std::vector<Access> all = parse_trace(trace);
  std::remove(trace.c_str());
  if (all.size() < end) throw std::runtime_error("the port trace lacks accesses");
  return {all.begin() + static_cast<std::ptrdiff_t>(first),
          all.begin() + static_cast<std::ptrdiff_t>(end)};
}

unsigned replay(const Host::PortCalls& ports, const std::vector<Access>& accesses) {
  unsigned sink = 0;
  for (const Access& access : accesses) {
    if (access.write) {
      ports.write(access.port, access.value);
    } else {
      sink += ports.read(access.port);
    }
  }
  return sink;
}

struct Figures {
  double ratio = 0;
  double library_ns = 0;  // per access, best round
  double direct_ns = 0;
  std::size_t accesses_per_pass = 0;
  bool same_count = true;  // the library made as many accesses as replayed
};

Figures compare(Host& host, Adapter adapter, std::uint16_t nops, bool quick) {
  const std::vector<Access> sequence = capture(host, adapter, nops);
  host.restart_ports();
  open_bus(host, adapter);
  const Exports& lib = host.library();
  const Host::PortCalls& ports = host.ports();

  // A round lasts some milliseconds, long against the clock's resolution.
  const double target_ns = quick ? 2e6 : 8e6;
  const double once = best_ns(3, [&] { pass(lib); });
  const int passes = std::max(1, static_cast<int>(target_ns / std::max(once, 1.0)));
  const int rounds = quick ? 3 : 15;

  Figures figures;
  figures.accesses_per_pass = sequence.size();
  std::vector<double> ratios;
  volatile unsigned sink = 0;
  for (int round = 0; round < rounds; ++round) {
    double library = 0;
    double direct = 0;
    std::uint64_t library_accesses = 0;
    auto run_library = [&] {
      const std::uint64_t before = SimBenchAccessCount();
      library = time_ns([&] {
        for (int i = 0; i < passes; ++i) pass(lib);
      });
      library_accesses = SimBenchAccessCount() - before;
    };
    auto run_direct = [&] {
      direct = time_ns([&] {
        for (int i = 0; i < passes; ++i) sink = sink + replay(ports, sequence);
      });
    };
    // Alternate which goes first, so that a drift of the machine's speed
    // weighs on both alike.
    if (round % 2 == 0) {
      run_library();
      run_direct();
    } else {
      run_direct();
      run_library();
    }
    const double direct_accesses = static_cast<double>(sequence.size()) * passes;
    if (library_accesses != sequence.size() * static_cast<std::uint64_t>(passes)) {
      figures.same_count = false;
    }
    const double per_library = library / static_cast<double>(library_accesses);
    const double per_direct = direct / direct_accesses;
    ratios.push_back(per_library / per_direct);
    if (round == 0 || per_library < figures.library_ns) figures.library_ns = per_library;
    if (round == 0 || per_direct < figures.direct_ns) figures.direct_ns = per_direct;
  }
  lib.I2C_Stop();
  figures.ratio = median(ratios);
  return figures;
}

std::string nops_text(std::uint16_t nops) {
  return nops == 0 ? "0" : "0x" + format::hexadecimal(nops);
}

}  // namespace

Section measure_overhead(Host& host, const Options& options) {
  Section section;
  Table table;
  table.title = "Library overhead per port access (I2C_Send and I2C_Read against direct port calls)";
  table.header = {"adapter", "Nops", "accesses per pass", "library ns/access",
                  "direct ns/access", "ratio"};
  double worst = 0;
  Json details = Json::object();
  for (const Adapter adapter : kAdapters) {
    Json adapter_json = Json::object();
    for (const std::uint16_t nops : kNopsMeasured) {
      const Figures f = compare(host, adapter, nops, options.quick);
      if (nops == 0 && f.ratio > worst) worst = f.ratio;
      table.rows.push_back({adapter_name(adapter), nops_text(nops),
                            std::to_string(f.accesses_per_pass), fixed(f.library_ns, 1),
                            fixed(f.direct_ns, 1), fixed(f.ratio, 3)});
      adapter_json.set("nops_" + std::to_string(nops),
                       Json::object()
                           .set("ratio", f.ratio)
                           .set("library_ns_per_access", f.library_ns)
                           .set("direct_ns_per_access", f.direct_ns)
                           .set("accesses_per_pass", static_cast<std::uint64_t>(f.accesses_per_pass)));
      if (!f.same_count) {
        section.problems.push_back(std::string(adapter_name(adapter)) +
                                   ": a pass of the library did not make the traced accesses");
      }
    }
    details.set(adapter_key(adapter), adapter_json);
  }
  table.notes.push_back(
      "A pass is I2C_Send of one byte and I2C_Read of 16 bytes on the 24C02, each turning the "
      "direction round. Ratio: median over alternating rounds of library time per access over "
      "direct time per access; ns/access: best round.");
  table.notes.push_back("overhead_ratio is the worst ratio at Nops 0, where the library's "
                        "share of each access is largest. At Nops 0x100 nearly every access is "
                        "a port delay, a tighter loop in the library than the replay's walk "
                        "through the recorded sequence.");
  section.tables.push_back(std::move(table));
  section.headline.set("overhead_ratio", worst);
  section.details = details;
  section.goals.push_back({"library time per port access over direct port calls (Nops 0, worst adapter)",
                           "at most 1.3", fixed(worst, 3), worst <= kGoal});
  return section;
}

}  // namespace bench
