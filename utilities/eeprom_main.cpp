// tarnwick-eeprom: dumps, programs and verifies a 24C01 to 24C16.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "utilities/bus_access.h"
#include "utilities/eeprom_parts.h"
#include "utilities/eeprom_transfer.h"
#include "utilities/hex_dump.h"
#include "utilities/progress_bar.h"
#include "utilities/tool_options.h"

namespace {

constexpr const char* kProgram = "tarnwick-eeprom";

constexpr const char* kHelp =
    "Usage: tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] dump\n"
    "       tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] write FILE\n"
    "       tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] verify FILE\n"
    "Dumps a 24Cxx serial EEPROM as i2cdump does, writes FILE into it from byte\n"
    "address 0 on (page writes, then a verify), or compares it with FILE.\n"
    "\n"
    "  -i N        adapter: 1 PCF8584 card, 2 Philips, 3 Custom\n"
    "              (default: key Default of section [I2C Device] of I2C.INI)\n"
    "  -a ADDRESS  the part's 8-bit address byte, as the console writes it\n"
    "              (default 0xA0; 160 and 0240 are the same)\n"
    "  -s PART     24C01, 24C02 (default), 24C04, 24C08 or 24C16\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 no acknowledge, time-out, mismatch or bus not\n"
    "opened (the message names the byte address), 2 bad arguments or FILE.\n";

enum class Command { dump, write, verify };

struct Options {
  std::optional<int> adapter;
  int address = 0xA0;
  eeprom_parts::Part part = eeprom_parts::kParts[1];
  Command command = Command::dump;
  std::string file;
};

// Pages the simulated bench could not save to its EEPROM File so far; 0
// when the bench is not the backend. The bench is loaded by the port layer
// on its own, so it is looked up among the objects already loaded and
// never loaded here.
unsigned long long bench_unsaved_pages() {
  void* bench = ::dlopen("libdlportio-sim.so.1", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (bench == nullptr) return 0;
  using Count = unsigned long long (*)();
  const auto count = reinterpret_cast<Count>(::dlsym(bench, "SimBenchUnsavedPages"));
  const unsigned long long unsaved = count != nullptr ? count() : 0;
  ::dlclose(bench);
  return unsaved;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return 1;
}

// The whole file, or the reason it cannot be written into `part`.
std::string read_file(const std::string& path, const eeprom_parts::Part& part,
                      eeprom_transfer::Bytes& data) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "cannot read " + path + " (" + std::strerror(errno) + ")";
  data.clear();
  std::uint8_t buffer[4096];
  // One byte more than the part holds is enough to know the file is too long.
  while (data.size() <= part.size) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const std::string why = std::strerror(errno);
      ::close(fd);
      return "cannot read " + path + " (" + why + ")";
    }
    if (got == 0) break;
    data.insert(data.end(), buffer, buffer + got);
  }
  ::close(fd);
  if (data.size() > part.size) {
    return path + " holds more than the " + std::to_string(part.size) + " bytes of a " +
           std::string(part.name);
  }
  if (data.empty()) return path + " is empty";
  return {};
}

std::optional<int> parse(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const char* word = argv[i];
    if (const auto status = tool_options::help_or_version(word, kProgram, kHelp)) return status;
    const bool takes_value =
        std::strcmp(word, "-i") == 0 || std::strcmp(word, "-a") == 0 || std::strcmp(word, "-s") == 0;
    if (!takes_value) {
      return tool_options::usage_error(kProgram, std::string("unknown option '") + word + "'");
    }
    if (i + 1 >= argc) return tool_options::usage_error(kProgram, std::string(word) + " needs a value");
    const char* value = argv[++i];
    if (word[1] == 'i') {
      options.adapter = tool_options::adapter(value);
      if (!options.adapter) {
        return tool_options::usage_error(kProgram,
                                         std::string("adapter '") + value + "' is not 1, 2 or 3");
      }
    } else if (word[1] == 'a') {
      const auto address = tool_options::number(value, 0x02, 0xFE);
      if (!address || (*address & 1) != 0) {
        return tool_options::usage_error(
            kProgram, std::string("address '") + value +
                          "' is not an even 8-bit address byte (the write address, e.g. 0xA0)");
      }
      options.address = static_cast<int>(*address);
    } else {
      const auto part = eeprom_parts::named(value);
      if (!part) {
        return tool_options::usage_error(
            kProgram, std::string("part '") + value + "' is not 24C01, 24C02, 24C04, 24C08 or 24C16");
      }
      options.part = *part;
    }
  }
  if (i >= argc) return tool_options::usage_error(kProgram, "no command (dump, write or verify)");
  const std::string command = argv[i++];
  if (command == "dump") {
    options.command = Command::dump;
  } else if (command == "write" || command == "verify") {
    options.command = command == "write" ? Command::write : Command::verify;
    if (i >= argc) return tool_options::usage_error(kProgram, command + " needs a FILE");
    options.file = argv[i++];
  } else {
    return tool_options::usage_error(kProgram, "unknown command '" + command + "'");
  }
  if (i < argc) return tool_options::usage_error(kProgram, std::string("unexpected argument '") + argv[i] + "'");
  if ((options.address & eeprom_parts::block_bits(options.part)) != 0) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "a %.*s takes the block number in bits 3 to 1 of its address byte, so its "
                  "address has them clear (0x%02X, not 0x%02X)",
                  static_cast<int>(options.part.name.size()), options.part.name.data(),
                  options.address & ~eeprom_parts::block_bits(options.part), options.address);
    return tool_options::usage_error(kProgram, text);
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const auto status = parse(argc, argv, options)) return *status;

  eeprom_transfer::Bytes expected;
  if (options.command != Command::dump) {
    if (std::string why = read_file(options.file, options.part, expected); !why.empty()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
      return 2;
    }
  }

  const bus_access::Exports& bus = bus_access::linked();
  bus_access::open_library(bus, options.adapter);
  const unsigned long long unsaved_before = bench_unsaved_pages();
  eeprom_transfer::Target target{&bus, options.part, static_cast<std::uint8_t>(options.address),
                                 bus_access::send_count(bus)};

  if (options.command == Command::write) {
    const bool bar = expected.size() == options.part.size && progress_bar::wanted();
    const auto total = static_cast<unsigned>(expected.size());
    if (bar) progress_bar::show(0, total);
    const std::string failure = eeprom_transfer::write_all(target, expected, [&](unsigned done) {
      if (bar) progress_bar::show(done, total);
    });
    if (!failure.empty()) {
      if (bar) std::fputc('\n', stderr);
      return fail(failure);
    }
  }

  eeprom_transfer::Bytes memory;
  if (std::string failure = eeprom_transfer::read_all(target, memory); !failure.empty()) {
    return fail(failure);
  }
  if (options.command == Command::dump) {
    std::fputs(hex_dump::text(memory).c_str(), stdout);
    return 0;
  }
  if (std::string mismatch =
          eeprom_transfer::compare(options.part, memory, expected, options.file);
      !mismatch.empty()) {
    return fail(mismatch);
  }
  // The part holds the bytes, but on the bench they are gone when this
  // program ends: the write did not do what it was asked.
  if (options.command == Command::write && bench_unsaved_pages() != unsaved_before) {
    return fail("the bench could not save the EEPROM image to its EEPROM File; "
                "the bytes written are lost when this program ends");
  }
  std::printf("%s %u bytes at %02X: %s\n", options.command == Command::write ? "wrote and verified" : "verified",
              static_cast<unsigned>(expected.size()), static_cast<unsigned>(options.address),
              options.file.c_str());
  return 0;
}
