// tarnwick-set: i2cset's register write, an SMBus write made of one I2C
// message, with i2cset's write mask (-m, a read of the register first) and
// read-back check (-r).
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "utilities/command_line.h"
#include "utilities/smbus_emulation.h"
#include "utilities/tool_options.h"

namespace {

constexpr command_line::Program kProgram{
    "tarnwick-set", "yfarmi",
    "Usage: tarnwick-set [-f] [-y] [-m MASK] [-r] [-a] I2CBUS | -i N  CHIP-ADDRESS DATA-ADDRESS [VALUE] ... [MODE]\n"
    "  I2CBUS is the adapter: 1 PCF8584 card, 2 Philips, 3 Custom,\n"
    "    0 the one key Default of section [I2C Device] of I2C.INI names\n"
    "  ADDRESS is an integer (0x08 - 0x77, or 0x00 - 0x7f if -a is given)\n"
    "  MODE is one of:\n"
    "    c (byte, no value)\n"
    "    b (byte data, default)\n"
    "    w (word data)\n"
    "    i (I2C block data)\n"
    "    s (SMBus block data)\n"
    "\n"
    "  -i N       the adapter, in place of I2CBUS\n"
    "  -y         no confirmation\n"
    "  -m MASK    write only the bits set in MASK; the others keep what the register holds\n"
    "  -r         read the value back and compare it\n"
    "  -a         allow the addresses 0x00-0x07 and 0x78-0x7f\n"
    "  -f         accepted for i2cset's command lines; no driver holds a slave here\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Exit status: 0 written (a read-back mismatch is a warning), 1 bad arguments or the write\n"
    "failed.\n"};

enum class Size { byte, byte_data, word_data, block_data, i2c_block };

struct Mode {
  char letter;
  Size size;
  long highest;              // of a value
  const char* confirm_name;  // as i2cset's confirmation names the write
};

constexpr std::array kModes{
    Mode{'c', Size::byte, 0, nullptr},
    Mode{'b', Size::byte_data, 0xFF, "byte"},
    Mode{'w', Size::word_data, 0xFFFF, "word"},
    Mode{'s', Size::block_data, 0xFF, "smbus block"},
    Mode{'i', Size::i2c_block, 0xFF, "i2c block"},
};

bool is_block(const Mode& mode) { return mode.size == Size::block_data || mode.size == Size::i2c_block; }
int width(const Mode& mode) { return mode.size == Size::word_data ? 4 : 2; }

int bad(const char* format, const char* word = "") {
  if (format != nullptr) {
    std::fprintf(stderr, format, word);
    std::fputc('\n', stderr);
  }
  return command_line::usage(kProgram);
}

struct Request {
  int adapter;
  int address;
  int data_address;
  const Mode* mode;
  long value = -1;
  std::vector<std::uint8_t> block;
  bool masked = false;
};

bool confirmed(const Request& request) {
  std::fputs("WARNING! This program can confuse your I2C bus, cause data loss and worse!\n", stderr);
  // Serial EEPROMs answer there: a PC's memory modules keep their data in them.
  const bool eeprom = request.address >= 0x50 && request.address <= 0x57;
  if (eeprom) {
    std::fputs("DANGEROUS! Writing to a serial EEPROM on a memory DIMM\n"
               "may render your memory USELESS and make your system UNBOOTABLE!\n",
               stderr);
  }
  std::fprintf(stderr, "I will write to adapter %d, chip address 0x%02x,\ndata address 0x%02x, ",
               request.adapter, request.address, request.data_address);
  if (request.mode->size == Size::byte) {
    std::fputs("no data.\n", stderr);
  } else if (is_block(*request.mode)) {
    std::fputs("data", stderr);
    for (std::uint8_t byte : request.block) std::fprintf(stderr, " 0x%02x", byte);
    std::fprintf(stderr, ", mode %s.\n", request.mode->confirm_name);
  } else {
    std::fprintf(stderr, "data 0x%02lx%s, mode %s.\n", request.value, request.masked ? " (masked)" : "",
                 request.mode->confirm_name);
  }
  return command_line::continue_or_abort(!eeprom);
}

// The register as the mode reads it back.
int read_register(const smbus_emulation::Device& device, const Request& request) {
  const auto command = static_cast<std::uint8_t>(request.data_address);
  switch (request.mode->size) {
    case Size::byte: return smbus_emulation::read_byte(device);
    case Size::word_data: return smbus_emulation::read_word_data(device, command);
    default: return smbus_emulation::read_byte_data(device, command);
  }
}

int write_register(const smbus_emulation::Device& device, const Request& request) {
  const auto command = static_cast<std::uint8_t>(request.data_address);
  switch (request.mode->size) {
    case Size::byte: return smbus_emulation::write_byte(device, command);
    case Size::byte_data:
      return smbus_emulation::write_byte_data(device, command, static_cast<std::uint8_t>(request.value));
    case Size::word_data:
      return smbus_emulation::write_word_data(device, command, static_cast<std::uint16_t>(request.value));
    case Size::block_data: return smbus_emulation::write_block_data(device, command, request.block);
    case Size::i2c_block: return smbus_emulation::write_i2c_block_data(device, command, request.block);
  }
  return -EINVAL;
}

}  // namespace

int main(int argc, char** argv) {
  command_line::Parsed parsed = command_line::flags(kProgram, argc, argv);
  if (parsed.status) return *parsed.status;
  command_line::Flags& flags = parsed.flags;
  if (flags.next + (flags.adapter ? 2 : 3) > argc) return bad(nullptr);
  Request request{};
  const auto adapter = command_line::adapter(flags, argc, argv);
  if (!adapter) return bad(nullptr);
  request.adapter = *adapter;
  const auto address = command_line::chip_address(argv[flags.next++], flags.all_addresses);
  if (!address) return bad(nullptr);
  request.address = *address;
  const auto data_address = tool_options::number(argv[flags.next++], 0x00, 0xFF);
  if (!data_address) return bad("Error: Data address invalid!");
  request.data_address = static_cast<int>(*data_address);

  // As i2cset: no operand is a short write, one a byte value or "c", more
  // end with the mode.
  std::vector<const char*> values(argv + flags.next, argv + argc);
  request.mode = &kModes[1];
  if (values.empty()) {
    request.mode = &kModes[0];
  } else if (values.size() == 1 && std::strcmp(values[0], "c") == 0) {
    request.mode = &kModes[0];
    values.clear();
  } else if (values.size() >= 2) {
    const char* word = values.back();
    values.pop_back();
    if (std::strlen(word) == 2 && word[1] == 'p') {
      std::fputs("Error: Adapter does not have PEC capability\n", stderr);
      return 1;
    }
    request.mode = nullptr;
    for (const Mode& mode : kModes) {
      if (word[0] == mode.letter && word[1] == '\0' && mode.size != Size::byte) request.mode = &mode;
    }
    if (request.mode == nullptr) return bad("Error: Invalid mode '%s'!", word);
    if (is_block(*request.mode)) {
      if (flags.mask != nullptr) return bad("Error: Mask not supported for block writes!");
      if (flags.readback) return bad("Error: Readback not supported for block writes!");
      if (values.size() > smbus_emulation::kBlockMax) return bad("Error: Too many arguments!");
    } else if (values.size() != 1) {
      return bad("Error: Too many arguments!");
    }
  }
  for (const char* word : values) {
    const auto value = tool_options::number(word, 0, 0xFFFFFFFL);
    if (!value) return bad("Error: Data value invalid!");
    if (*value > request.mode->highest) return bad("Error: Data value out of range!");
    request.value = *value;
    request.block.push_back(static_cast<std::uint8_t>(*value));
  }
  if (is_block(*request.mode)) request.value = -1;

  long mask = 0;
  if (flags.mask != nullptr) {
    if (request.mode->size == Size::byte) return bad("Error: Mask not supported for short writes!");
    const auto value = tool_options::number(flags.mask, 0, 0xFFFFFFFL);
    if (!value || *value == 0) return bad("Error: Data value mask invalid!");
    if (*value > request.mode->highest) return bad("Error: Data value mask out of range!");
    mask = *value;
    request.masked = true;
  }

  if (!flags.yes && !confirmed(request)) return 0;
  const smbus_emulation::Device device{request.adapter, static_cast<std::uint16_t>(request.address),
                                       &tarnwick_transfer};
  if (request.masked) {
    const int old_value = read_register(device, request);
    if (old_value < 0) {
      std::fputs("Error: Failed to read old value\n", stderr);
      return 1;
    }
    request.value = (request.value & mask) | (old_value & ~mask);
    if (!flags.yes) {
      std::fprintf(stderr, "Old value 0x%0*x, write mask 0x%0*lx, will write 0x%0*lx\n", width(*request.mode),
                   old_value, width(*request.mode), mask, width(*request.mode), request.value);
      if (!command_line::continue_or_abort(true)) return 0;
    }
  }
  if (write_register(device, request) < 0) {
    std::fputs("Error: Write failed\n", stderr);
    return 1;
  }
  if (!flags.readback) return 0;

  const int read = read_register(device, request);
  // A short write's byte is the pointer that a read gives back.
  const long written = request.mode->size == Size::byte ? request.data_address : request.value;
  if (read < 0) {
    std::printf("Warning - readback failed\n");
  } else if (read != written) {
    std::printf("Warning - data mismatch - wrote 0x%0*lx, read back 0x%0*x\n", width(*request.mode), written,
                width(*request.mode), read);
  } else {
    std::printf("Value 0x%0*lx written, readback matched\n", width(*request.mode), written);
  }
  return 0;
}
