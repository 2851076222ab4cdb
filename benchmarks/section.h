// One measured section of the benchmark run: its tables, its figures for
// the JSON object and the goals it was held against.
#pragma once

#include <string>
#include <vector>

#include "benchmarks/report.h"

namespace bench {

struct Options {
  bool quick = false;     // fewer repetitions: a check that everything runs
  std::string sondrel;    // path of the console program
};

struct Goal {
  std::string what;       // "library overhead per port access"
  std::string target;     // "at most 1.3"
  std::string measured;   // "1.12"
  bool met = false;
};

struct Section {
  std::vector<Table> tables;
  Json headline = Json::object();  // keys merged into the top of the JSON object
  Json details = Json::object();   // kept under the section's own key
  std::vector<Goal> goals;
  std::vector<std::string> problems;  // anything that went wrong while measuring
};

class Host;

Section measure_port_accesses(Host& host, const Options& options);
Section measure_overhead(Host& host, const Options& options);
Section measure_sim_speed(Host& host, const Options& options);
Section measure_bench_time(Host& host, const Options& options);
Section measure_semaphores(Host& host, const Options& options);
Section measure_console(Host& host, const Options& options);
Section measure_growth(Host& host, const Options& options);
Section measure_round_trips(Host& host, const Options& options);
Section measure_transfers(Host& host, const Options& options);

}  // namespace bench
