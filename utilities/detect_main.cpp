// tarnwick-detect: probes the 7-bit addresses of the bus and prints them as
// i2cdetect's grid.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "utilities/bus_access.h"
#include "utilities/probe_grid.h"
#include "utilities/tool_options.h"

namespace {

constexpr const char* kProgram = "tarnwick-detect";

constexpr const char* kHelp =
    "Usage: tarnwick-detect [-i N] [-a] [-q | -r]\n"
    "Probes every 7-bit I2C address (0x03 to 0x77) and prints the addresses that\n"
    "answer as a grid: '--' no answer, the address in hex where a slave answered.\n"
    "\n"
    "  -i N       adapter: 1 PCF8584 card, 2 Philips, 3 Custom\n"
    "             (default: key Default of section [I2C Device] of I2C.INI)\n"
    "  -a         probe all addresses, 0x00 to 0x7F\n"
    "  -q         probe with a quick write (address, then STOP) everywhere\n"
    "  -r         probe with a one-byte read everywhere\n"
    "             (default: read at 0x30-0x37 and 0x50-0x5F, quick write elsewhere)\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Exit status: 0 scanned, 1 the bus could not be opened, 2 bad arguments.\n";

struct Options {
  std::optional<int> adapter;
  probe_grid::Range range;
  probe_grid::Method method = probe_grid::Method::automatic;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool quick = false;
  bool read = false;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (const auto status = tool_options::help_or_version(word, kProgram, kHelp)) return *status;
    if (std::strcmp(word, "-a") == 0) {
      options.range = {0x00, 0x7F};
    } else if (std::strcmp(word, "-q") == 0) {
      quick = true;
    } else if (std::strcmp(word, "-r") == 0) {
      read = true;
    } else if (std::strcmp(word, "-i") == 0) {
      if (i + 1 >= argc) return tool_options::usage_error(kProgram, "-i needs an adapter number");
      options.adapter = tool_options::adapter(argv[++i]);
      if (!options.adapter) {
        return tool_options::usage_error(
            kProgram, std::string("adapter '") + argv[i] + "' is not 1, 2 or 3");
      }
    } else {
      return tool_options::usage_error(kProgram, std::string("unexpected argument '") + word + "'");
    }
  }
  if (quick && read) return tool_options::usage_error(kProgram, "-q and -r exclude each other");
  if (quick) options.method = probe_grid::Method::quick_write;
  if (read) options.method = probe_grid::Method::read_byte;

  const bus_access::Exports& bus = bus_access::linked();
  bus_access::open_library(bus, options.adapter);
  const probe_grid::Scan scan = probe_grid::scan(bus, options.range, options.method);
  if (!scan.failure.empty()) {
    std::fprintf(stderr, "%s: the bus could not be opened: %s\n", kProgram, scan.failure.c_str());
    return 1;
  }
  std::fputs(probe_grid::grid(scan).c_str(), stdout);
  if (scan.probed > 0 && scan.answered == scan.probed) {
    // Nothing answers everywhere: a line held low reads as an acknowledge.
    std::fprintf(stderr,
                 "%s: every address answered; this usually means that SDA is held low "
                 "or that the pull-up resistors are missing\n",
                 kProgram);
  }
  return 0;
}
