// tarnwick-eeprom: dumps, reads, programs, erases and verifies a 24C01 to
// 24C512.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "utilities/bus_access.h"
#include "utilities/eeprom_parts.h"
#include "utilities/eeprom_transfer.h"
#include "utilities/hex_dump.h"
#include "utilities/progress_bar.h"
#include "utilities/tool_options.h"

namespace {

constexpr const char* kProgram = "tarnwick-eeprom";

constexpr const char* kHelp =
    "Usage: tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] [RANGE] dump\n"
    "       tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] [RANGE] read FILE\n"
    "       tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] [--offset N] write FILE\n"
    "       tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] [--offset N] verify FILE\n"
    "       tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] [RANGE] erase\n"
    "       tarnwick-eeprom [-i N] [-a ADDRESS] [-s PART] [RANGE] fill BYTE\n"
    "Dumps a 24Cxx serial EEPROM as i2cdump does, reads it into FILE (binary),\n"
    "writes FILE into it (page writes, then a verify), compares it with FILE,\n"
    "or erases it (0xFF) or fills it with BYTE (then a verify).\n"
    "\n"
    "  -i N        adapter: 1 PCF8584 card, 2 Philips, 3 Custom\n"
    "              (default: key Default of section [I2C Device] of I2C.INI)\n"
    "  -a ADDRESS  the part's 8-bit address byte, as the console writes it\n"
    "              (default 0xA0; 160 and 0240 are the same)\n"
    "  -s PART     24C01, 24C02 (default), 24C04, 24C08, 24C16, 24C32, 24C64,\n"
    "              24C128, 24C256 or 24C512\n"
    "  --offset N  start at byte address N (default 0)\n"
    "  --count N   take N bytes (default: to the end of the part; for write\n"
    "              and verify, the first N bytes of FILE)\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "RANGE is --offset N and --count N.\n"
    "\n"
    "Exit status: 0 done, 1 no acknowledge, time-out, mismatch or bus not\n"
    "opened (the message names the byte address), 2 bad arguments or FILE.\n";

enum class Command { dump, read, write, verify, erase, fill };

struct Options {
  std::optional<int> adapter;
  int address = 0xA0;
  eeprom_parts::Part part = eeprom_parts::kParts[1];
  Command command = Command::dump;
  std::string file;
  std::uint8_t fill = 0xFF;
  unsigned offset = 0;
  std::optional<unsigned> count;
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

// While it lives, files are opened with the rights of the user who started
// this program. Installed set-user-ID or set-group-ID, it has raised rights
// for the ports alone: it must not read a file into the part, or write one
// from it, that its user could not read or write.
class AsTheUser {
 public:
  AsTheUser() : group_(::setfsgid(::getgid())), user_(::setfsuid(::getuid())) {}
  ~AsTheUser() {
    ::setfsuid(static_cast<uid_t>(user_));
    ::setfsgid(static_cast<gid_t>(group_));
  }
  AsTheUser(const AsTheUser&) = delete;
  AsTheUser& operator=(const AsTheUser&) = delete;

 private:
  int group_;
  int user_;
};

// The file's bytes (its first `count` when given), or the reason they
// cannot be written into `part` from byte address `offset` on.
std::string read_file(const Options& options, eeprom_transfer::Bytes& data) {
  const std::string& path = options.file;
  const unsigned room = options.part.size - options.offset;
  const int fd = [&] {
    const AsTheUser as_user;
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }();
  if (fd < 0) return "cannot read " + path + " (" + std::strerror(errno) + ")";
  data.clear();
  std::uint8_t buffer[4096];
  // One byte more than fits is enough to know the file is too long.
  while (data.size() <= room && (!options.count || data.size() < *options.count)) {
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
  if (options.count && data.size() > *options.count) data.resize(*options.count);
  if (options.count && data.size() < *options.count) {
    return path + " holds " + std::to_string(data.size()) + " bytes, fewer than the " +
           std::to_string(*options.count) + " of --count";
  }
  if (data.size() > room) {
    if (options.offset == 0) {
      return path + " holds more than the " + std::to_string(options.part.size) +
             " bytes of a " + std::string(options.part.name);
    }
    return path + " holds more than the " + std::to_string(room) + " bytes from byte address " +
           eeprom_transfer::byte_address(options.part, options.offset) + " to the end of a " +
           std::string(options.part.name);
  }
  if (data.empty()) return path + " is empty";
  return {};
}

// Writes `data` to the file at `path`, created or emptied first; the
// reason when it could not, the file then removed if this made it.
std::string write_file(const std::string& path, const eeprom_transfer::Bytes& data) {
  const AsTheUser as_user;
  const bool existed = ::access(path.c_str(), F_OK) == 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return "cannot write " + path + " (" + std::strerror(errno) + ")";
  std::size_t done = 0;
  int error = 0;
  while (done < data.size()) {
    const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      error = errno;
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0) return {};
  if (!existed) ::unlink(path.c_str());
  return "cannot write " + path + " (" + std::strerror(error) + ")";
}

std::optional<int> parse(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string word = argv[i];
    if (const auto status = tool_options::help_or_version(argv[i], kProgram, kHelp)) return status;
    const bool takes_value = word == "-i" || word == "-a" || word == "-s" || word == "--offset" ||
                             word == "--count";
    if (!takes_value) return tool_options::usage_error(kProgram, "unknown option '" + word + "'");
    if (i + 1 >= argc) return tool_options::usage_error(kProgram, word + " needs a value");
    const char* value = argv[++i];
    if (word == "-i") {
      options.adapter = tool_options::adapter(value);
      if (!options.adapter) {
        return tool_options::usage_error(kProgram,
                                         std::string("adapter '") + value + "' is not 1, 2 or 3");
      }
    } else if (word == "-a") {
      const auto address = tool_options::number(value, 0x02, 0xFE);
      if (!address || (*address & 1) != 0) {
        return tool_options::usage_error(
            kProgram, std::string("address '") + value +
                          "' is not an even 8-bit address byte (the write address, e.g. 0xA0)");
      }
      options.address = static_cast<int>(*address);
    } else if (word == "-s") {
      const auto part = eeprom_parts::named(value);
      if (!part) {
        return tool_options::usage_error(
            kProgram, std::string("part '") + value + "' is not " + eeprom_parts::names());
      }
      options.part = *part;
    } else {
      const auto number = tool_options::number(value, word == "--count" ? 1 : 0, 0xFFFF + 1);
      if (!number) {
        return tool_options::usage_error(
            kProgram, word + " '" + value + "' is not a byte address or count (0 to 65536)");
      }
      if (word == "--offset") {
        options.offset = static_cast<unsigned>(*number);
      } else {
        options.count = static_cast<unsigned>(*number);
      }
    }
  }
  if (i >= argc) {
    return tool_options::usage_error(kProgram,
                                     "no command (dump, read, write, verify, erase or fill)");
  }
  const std::string command = argv[i++];
  constexpr std::pair<const char*, Command> kCommands[] = {
      {"dump", Command::dump},     {"read", Command::read},   {"write", Command::write},
      {"verify", Command::verify}, {"erase", Command::erase}, {"fill", Command::fill}};
  const auto known = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&](const auto& entry) { return command == entry.first; });
  if (known == std::end(kCommands)) {
    return tool_options::usage_error(kProgram, "unknown command '" + command + "'");
  }
  options.command = known->second;
  const bool takes_file = options.command == Command::read || options.command == Command::write ||
                          options.command == Command::verify;
  if (takes_file || options.command == Command::fill) {
    if (i >= argc) {
      return tool_options::usage_error(kProgram,
                                       command + (takes_file ? " needs a FILE" : " needs a BYTE"));
    }
    options.file = argv[i++];
  }
  if (options.command == Command::fill) {
    const auto byte = tool_options::number(options.file.c_str(), 0, 0xFF);
    if (!byte) {
      return tool_options::usage_error(kProgram, "byte '" + options.file +
                                                     "' is not a byte value (0 to 0xFF)");
    }
    options.fill = static_cast<std::uint8_t>(*byte);
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
  const unsigned size = options.part.size;
  if (options.offset >= size ||
      (options.count && options.command != Command::write &&
       options.command != Command::verify && *options.count > size - options.offset)) {
    return tool_options::usage_error(
        kProgram, "the range from byte address " + std::to_string(options.offset) +
                      (options.count ? ", " + std::to_string(*options.count) + " bytes," : "") +
                      " runs past the end of a " + std::string(options.part.name) + " (" +
                      std::to_string(size) + " bytes)");
  }
  return std::nullopt;
}

// "at A0", and the first byte address when the range starts elsewhere.
std::string where(const Options& options) {
  char text[48];
  std::snprintf(text, sizeof text, "at %02X", static_cast<unsigned>(options.address));
  std::string at = text;
  if (options.offset != 0) {
    at += " from byte address " + eeprom_transfer::byte_address(options.part, options.offset);
  }
  return at;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const auto status = parse(argc, argv, options)) return *status;
  const unsigned range = options.count.value_or(options.part.size - options.offset);

  // What the part must hold afterwards: the file, or the erased or filled range.
  eeprom_transfer::Bytes expected;
  if (options.command == Command::write || options.command == Command::verify) {
    if (std::string why = read_file(options, expected); !why.empty()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
      return 2;
    }
  } else if (options.command == Command::erase || options.command == Command::fill) {
    expected.assign(range, options.command == Command::erase ? 0xFF : options.fill);
  }

  const bus_access::Exports& bus = bus_access::linked();
  bus_access::open_library(bus, options.adapter);
  const unsigned long long unsaved_before = bench_unsaved_pages();
  eeprom_transfer::Target target{&bus, options.part, static_cast<std::uint8_t>(options.address),
                                 bus_access::send_count(bus)};
  const bool programs = options.command == Command::write || options.command == Command::erase ||
                        options.command == Command::fill;

  if (programs) {
    const auto total = static_cast<unsigned>(expected.size());
    const bool bar = total >= 256 && progress_bar::wanted();
    if (bar) progress_bar::show(0, total);
    const std::string failure =
        eeprom_transfer::write(target, options.offset, expected, [&](unsigned done) {
          if (bar) progress_bar::show(done, total);
        });
    if (!failure.empty()) {
      if (bar) std::fputc('\n', stderr);
      return fail(failure);
    }
  }

  eeprom_transfer::Bytes memory;
  const unsigned to_read = programs || options.command == Command::verify
                               ? static_cast<unsigned>(expected.size())
                               : range;
  if (std::string failure = eeprom_transfer::read(target, options.offset, to_read, memory);
      !failure.empty()) {
    return fail(failure);
  }
  if (options.command == Command::dump) {
    std::fputs(
        hex_dump::text(memory, options.offset, eeprom_parts::address_digits(options.part)).c_str(),
        stdout);
    return 0;
  }
  if (options.command == Command::read) {
    if (std::string why = write_file(options.file, memory); !why.empty()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
      return 2;
    }
    std::printf("read %u bytes %s into %s\n", static_cast<unsigned>(memory.size()),
                where(options).c_str(), options.file.c_str());
    return 0;
  }
  const std::string compared_with =
      options.command == Command::erase ? "the erased bytes (0xFF)"
      : options.command == Command::fill ? "the fill byte"
                                         : options.file;
  if (std::string mismatch = eeprom_transfer::compare(options.part, memory, expected,
                                                      compared_with, options.offset);
      !mismatch.empty()) {
    return fail(mismatch);
  }
  // The part holds the bytes, but on the bench they are gone when this
  // program ends: the write did not do what it was asked.
  if (programs && bench_unsaved_pages() != unsaved_before) {
    return fail("the bench could not save the EEPROM image to its EEPROM File; "
                "the bytes written are lost when this program ends");
  }
  const auto count = static_cast<unsigned>(expected.size());
  switch (options.command) {
    case Command::write:
      std::printf("wrote and verified %u bytes %s: %s\n", count, where(options).c_str(),
                  options.file.c_str());
      break;
    case Command::verify:
      std::printf("verified %u bytes %s: %s\n", count, where(options).c_str(),
                  options.file.c_str());
      break;
    case Command::erase:
      std::printf("erased and verified %u bytes %s\n", count, where(options).c_str());
      break;
    default:
      std::printf("filled and verified %u bytes %s with 0x%02X\n", count, where(options).c_str(),
                  static_cast<unsigned>(options.fill));
      break;
  }
  return 0;
}
