// tarnwick-get: i2cget's register read, an SMBus read made of I2C messages
// in one transaction, and its output: "0x1a", a word "0x1a2b", a block
// "0x.. 0x..".
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utilities/command_line.h"
#include "utilities/smbus_emulation.h"
#include "utilities/tool_options.h"

namespace {

constexpr command_line::Program kProgram{
    "tarnwick-get", "yfai",
    "Usage: tarnwick-get [-f] [-y] [-a] I2CBUS | -i N  CHIP-ADDRESS [DATA-ADDRESS [MODE [LENGTH]]]\n"
    "  I2CBUS is the adapter: 1 PCF8584 card, 2 Philips, 3 Custom,\n"
    "    0 the one key Default of section [I2C Device] of I2C.INI names\n"
    "  ADDRESS is an integer (0x08 - 0x77, or 0x00 - 0x7f if -a is given)\n"
    "  MODE is one of:\n"
    "    b (read byte data, default)\n"
    "    w (read word data)\n"
    "    c (write byte/read byte)\n"
    "    s (read SMBus block data)\n"
    "    i (read I2C block data)\n"
    "  LENGTH is the I2C block data length (between 1 and 32, default 32)\n"
    "\n"
    "  -i N       the adapter, in place of I2CBUS\n"
    "  -y         no confirmation\n"
    "  -a         allow the addresses 0x00-0x07 and 0x78-0x7f\n"
    "  -f         accepted for i2cget's command lines; no driver holds a slave here\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Exit status: 0 read, 1 bad arguments, 2 the read failed.\n"};

// i2cget's exit status when the bus transaction fails.
constexpr int kReadFailed = 2;

enum class Size { receive_byte, write_then_receive, byte_data, word_data, block_data, i2c_block };

struct Mode {
  char letter;
  Size size;
  const char* confirm_name;  // as i2cget's confirmation names the transaction
};

constexpr std::array kModes{
    Mode{'b', Size::byte_data, "read byte data"},
    Mode{'w', Size::word_data, "read word data"},
    Mode{'c', Size::write_then_receive, "write byte/read byte"},
    Mode{'s', Size::block_data, "read SMBus block data"},
    Mode{'i', Size::i2c_block, "read I2C block data"},
};
constexpr Mode kCurrentAddress{'\0', Size::receive_byte, "read byte"};

const Mode* mode_named(const char* word) {
  for (const Mode& mode : kModes) {
    if (word[0] == mode.letter && word[1] == '\0') return &mode;
  }
  return nullptr;
}

int bad(const char* message) {
  if (message != nullptr) std::fprintf(stderr, "%s\n", message);
  return command_line::usage(kProgram);
}

bool confirmed(int adapter, int address, const Mode& mode, int data_address, int length) {
  std::fputs("WARNING! This program can confuse your I2C bus, cause data loss and worse!\n", stderr);
  std::fprintf(stderr, "I will read from adapter %d, chip address 0x%02x, ", adapter, address);
  if (data_address < 0) std::fputs("current data\naddress", stderr);
  else std::fprintf(stderr, "data address\n0x%02x", data_address);
  if (mode.size == Size::i2c_block) {
    std::fprintf(stderr, ", %d %s using read I2C block data.\n", length, length > 1 ? "bytes" : "byte");
  } else {
    std::fprintf(stderr, ", using %s.\n", mode.confirm_name);
  }
  return command_line::continue_or_abort(true);
}

}  // namespace

int main(int argc, char** argv) {
  command_line::Parsed parsed = command_line::flags(kProgram, argc, argv);
  if (parsed.status) return *parsed.status;
  command_line::Flags& flags = parsed.flags;
  if (flags.next + (flags.adapter ? 1 : 2) > argc) return bad(nullptr);
  const auto adapter = command_line::adapter(flags, argc, argv);
  if (!adapter) return bad(nullptr);
  const auto address = command_line::chip_address(argv[flags.next++], flags.all_addresses);
  if (!address) return bad(nullptr);
  const int operands = argc - flags.next;
  if (operands > 3) return bad("Error: Too many arguments!");

  const Mode* mode = &kCurrentAddress;
  int data_address = -1;
  if (operands >= 1) {
    const auto value = tool_options::number(argv[flags.next], 0x00, 0xFF);
    if (!value) return bad("Error: Data address invalid!");
    data_address = static_cast<int>(*value);
    mode = &kModes[0];
  }
  if (operands >= 2) {
    const char* word = argv[flags.next + 1];
    if (word[0] != '\0' && word[1] == 'p') {
      std::fputs("Error: Adapter does not have PEC capability\n", stderr);
      return 1;
    }
    mode = mode_named(word);
    if (mode == nullptr) return bad("Error: Invalid mode!");
  }
  int length = smbus_emulation::kBlockMax;
  if (operands >= 3) {
    if (mode->size != Size::i2c_block) return bad("Error: Length only valid for I2C block data!");
    const auto value = tool_options::number(argv[flags.next + 2], 1, smbus_emulation::kBlockMax);
    if (!value) return bad("Error: Length invalid!");
    length = static_cast<int>(*value);
  }

  if (!flags.yes && !confirmed(*adapter, *address, *mode, data_address, length)) return 0;
  const smbus_emulation::Device device{*adapter, static_cast<std::uint16_t>(*address),
                                       &tarnwick_transfer};
  const auto command = static_cast<std::uint8_t>(data_address);
  std::array<std::uint8_t, smbus_emulation::kBlockMax> block{};
  int result = 0;
  switch (mode->size) {
    case Size::write_then_receive:
      // Two transactions, as i2cget makes them: the pointer, a STOP, the read.
      if (smbus_emulation::write_byte(device, command) < 0) std::fputs("Warning - write failed\n", stderr);
      [[fallthrough]];
    case Size::receive_byte: result = smbus_emulation::read_byte(device); break;
    case Size::byte_data: result = smbus_emulation::read_byte_data(device, command); break;
    case Size::word_data: result = smbus_emulation::read_word_data(device, command); break;
    case Size::block_data: result = smbus_emulation::read_block_data(device, command, block); break;
    case Size::i2c_block:
      result = smbus_emulation::read_i2c_block_data(device, command,
                                                    std::span(block).first(static_cast<std::size_t>(length)));
      break;
  }
  if (result == -EOPNOTSUPP && mode->size == Size::block_data) {
    // The adapters cannot let the slave's count byte set the read's length.
    std::fputs("Error: Adapter does not have SMBus block read capability\n", stderr);
    return 1;
  }
  if (result < 0) {
    std::fputs("Error: Read failed\n", stderr);
    return kReadFailed;
  }
  if (mode->size == Size::block_data || mode->size == Size::i2c_block) {
    for (int i = 0; i < result; ++i) std::printf("%s0x%02x", i ? " " : "", block[i]);
    std::printf("\n");
  } else if (mode->size == Size::word_data) {
    std::printf("0x%04x\n", result);
  } else {
    std::printf("0x%02x\n", result);
  }
  return 0;
}
