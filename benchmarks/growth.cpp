// How cost grows: a WRITE of 1 to 19 bytes should cost a fixed part plus
// the same for every byte, and a SEARCH a fixed part plus the same for
// every step of Nops. Each is timed at several sizes and a straight line
// fitted through the times; the port accesses, which the fit of times
// should follow, are fitted beside them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "benchmarks/clock.h"
#include "benchmarks/host.h"
#include "benchmarks/line_fit.h"
#include "benchmarks/search.h"
#include "benchmarks/section.h"
#include "sim/bench/sim_bench.h"

namespace bench {
namespace {

constexpr std::uint16_t kDefaultNops = 0x100;
constexpr std::int16_t kPortExpander = 0x40;  // takes any number of bytes
constexpr std::int16_t kEepromWrite = 0xA0;
constexpr std::array<int, 5> kWriteSizes{1, 2, 4, 8, 19};
constexpr std::array<int, 5> kSearchNops{0, 1, 16, 64, 256};
// The card polls PIN until the byte's nine SCL periods are over (100 us at
// the rate the library sets), so at small Nops its SEARCH takes the byte
// time whatever the Nops: its line is fitted from this Nops on, where the
// port delays take over.
constexpr int kCardFitFromNops = 16;
// A straight line explains at least this share of the times' spread...
constexpr double kLinearRSquared = 0.99;
// ...and no step costs more per unit than this many times the steepest step
// before it: cost that grows faster than linearly is a defect. (A step may
// cost less: a long run of port delays is served faster than delays between
// line accesses.)
constexpr double kSteeperAtMost = 2.0;

struct Series {
  std::vector<double> x;
  std::vector<double> us;        // time of one operation
  std::vector<double> accesses;  // port accesses of one operation
};

// Times one call at every point, round after round, and keeps each
// point's best: a busy spell of the machine then spoils one round of all
// points rather than every run of one point. `run(i)` makes one call at
// point i; `prepare(i)`, when given, readies the bus for it first.
template <class Prepare, class Run>
Series sample(const std::vector<double>& x, int rounds, int repeat, Prepare&& prepare,
              Run&& run) {
  Series series;
  series.x = x;
  series.us.assign(x.size(), 0);
  series.accesses.assign(x.size(), 0);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < x.size(); ++i) {
      prepare(i, true);
      if (round == 0) {
        const std::uint64_t before = SimBenchAccessCount();
        run(i);
        series.accesses[i] = static_cast<double>(SimBenchAccessCount() - before);
      }
      const double ns = time_ns([&] {
        for (int k = 0; k < repeat; ++k) run(i);
      });
      const double us = ns / repeat / 1000;
      if (round == 0 || us < series.us[i]) series.us[i] = us;
      prepare(i, false);
    }
  }
  return series;
}

std::string listed(const std::vector<double>& values, int decimals) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ", ";
    text += fixed(values[i], values[i] < 100 ? decimals : 0);
  }
  return text;
}

// The largest cost per unit of a step over the steepest step before it; 0
// with fewer than two steps.
double steepening(const LineFit& fit) {
  double steepest = 0;
  double before = 0;
  for (std::size_t i = 0; i < fit.step_slopes.size(); ++i) {
    if (i > 0 && before > 0) steepest = std::max(steepest, fit.step_slopes[i] / before);
    before = std::max(before, fit.step_slopes[i]);
  }
  return steepest;
}

// The points of `s` from x = `from` on.
Series from_x(const Series& s, double from) {
  Series kept;
  for (std::size_t i = 0; i < s.x.size(); ++i) {
    if (s.x[i] < from) continue;
    kept.x.push_back(s.x[i]);
    kept.us.push_back(s.us[i]);
    kept.accesses.push_back(s.accesses[i]);
  }
  return kept;
}

Json series_json(const Series& s, const LineFit& time, const LineFit& accesses) {
  Json points = Json::array();
  for (std::size_t i = 0; i < s.x.size(); ++i) {
    points.push(Json::object().set("x", s.x[i]).set("us", s.us[i]).set("accesses", s.accesses[i]));
  }
  return Json::object()
      .set("points", points)
      .set("fixed_us", time.intercept)
      .set("us_per_step", time.slope)
      .set("accesses_per_step", accesses.slope)
      .set("r_squared", time.r_squared)
      .set("step_us_per_unit", [&] {
        Json steps = Json::array();
        for (const double slope : time.step_slopes) steps.push(slope);
        return steps;
      }())
      .set("worst_deviation", time.worst_deviation);
}

}  // namespace

Section measure_growth(Host& host, const Options& options) {
  Section section;
  const int rounds = options.quick ? 1 : 7;
  Table writes;
  writes.title = "Growth of a WRITE (I2C_Send to the PCF8574 at Nops 0x100) with its length";
  writes.header = {"adapter", "us for 1, 2, 4, 8, 19 bytes", "fit: fixed us", "us per byte",
                   "R²", "us per byte, step by step", "accesses per byte"};
  Table searches;
  searches.title = "Growth of a SEARCH (98 probes and the re-address) with Nops";
  searches.header = {"adapter", "us at Nops 0, 1, 16, 64, 256", "fit: fixed us", "us per Nops",
                     "R²", "us per Nops, step by step", "accesses per Nops"};
  double lowest_r_squared = 1;
  double steepest = 0;
  Json details = Json::object();

  for (const Adapter adapter : kAdapters) {
    host.configure({kDefaultNops, 1, ""});
    host.use(adapter);
    const Exports& lib = host.library();
    std::array<std::uint8_t, 19> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
    lib.I2C_Start();
    lib.I2C_Address(kPortExpander);
    const Series write = sample(
        std::vector<double>(kWriteSizes.begin(), kWriteSizes.end()), rounds, options.quick ? 1 : 4,
        [](std::size_t, bool) {},
        [&](std::size_t i) { lib.I2C_Send(static_cast<std::int16_t>(kWriteSizes[i]), bytes.data()); });
    lib.I2C_Stop();

    const Series search = sample(
        std::vector<double>(kSearchNops.begin(), kSearchNops.end()), rounds, 1,
        [&](std::size_t i, bool before) {
          if (!before) {
            lib.I2C_Stop();
            return;
          }
          host.configure({static_cast<std::uint16_t>(kSearchNops[i]), 1, ""});
          host.use(adapter);
          lib.I2C_Start();
          lib.I2C_Address(kEepromWrite);
        },
        [&](std::size_t) { console_search(lib, kEepromWrite); });

    const LineFit write_time = fit_line(write.x, write.us);
    const LineFit write_accesses = fit_line(write.x, write.accesses);
    const Series fitted = from_x(search, adapter == Adapter::card ? kCardFitFromNops : 0);
    const LineFit search_time = fit_line(fitted.x, fitted.us);
    const LineFit search_accesses = fit_line(fitted.x, fitted.accesses);
    lowest_r_squared = std::min({lowest_r_squared, write_time.r_squared, search_time.r_squared});
    steepest = std::max({steepest, steepening(write_time), steepening(search_time)});
    writes.rows.push_back({adapter_name(adapter), listed(write.us, 1),
                           fixed(write_time.intercept, 1), fixed(write_time.slope, 2),
                           fixed(write_time.r_squared, 4), listed(write_time.step_slopes, 2),
                           fixed(write_accesses.slope, 1)});
    searches.rows.push_back({adapter_name(adapter), listed(search.us, 1),
                             fixed(search_time.intercept, 1), fixed(search_time.slope, 3),
                             fixed(search_time.r_squared, 4), listed(search_time.step_slopes, 2),
                             fixed(search_accesses.slope, 1)});
    details.set(adapter_key(adapter),
                Json::object()
                    .set("write", series_json(write, write_time, write_accesses))
                    .set("search", series_json(search, search_time, search_accesses)));
  }
  writes.notes.push_back("Fit: least squares line through the times. Steps: the cost per "
                         "byte between one length and the next.");
  searches.notes.push_back(
      "Each step of Nops adds one port read to every port delay (accesses per Nops); a long run "
      "of delay reads is served faster than a delay between line accesses, so at the bit-banged "
      "adapters the later steps cost less per Nops than the first ones.");
  searches.notes.push_back(
      "The card's line is fitted from Nops " + std::to_string(kCardFitFromNops) +
      " on: below it the card waits out each byte's nine SCL periods (100 us of bench time) "
      "polling PIN, however few the port delays.");
  searches.notes.push_back("Times are the best of " + std::to_string(rounds) +
                           " rounds over all points.");
  section.tables.push_back(std::move(writes));
  section.tables.push_back(std::move(searches));
  section.details = details;
  section.headline.set("growth_r_squared_min", lowest_r_squared);
  section.headline.set("growth_steepening_max", steepest);
  section.goals.push_back({"WRITE time over bytes, SEARCH time over Nops: linear",
                           "R² at least 0.99; no step steeper than 2 x the steepest before it",
                           "R² " + fixed(lowest_r_squared, 4) + ", steepest " +
                               fixed(steepest, 2) + " x",
                           lowest_r_squared >= kLinearRSquared && steepest <= kSteeperAtMost});
  return section;
}

}  // namespace bench
