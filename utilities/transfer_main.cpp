// tarnwick-transfer: i2ctransfer's messages, sent as one transaction with a
// repeated START between them, and its output: each read message's bytes
// on a line, "0x.. 0x..".
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tarnwick/i2c.h"
#include "utilities/command_line.h"
#include "utilities/transfer_messages.h"

namespace {

using transfer_messages::Message;

constexpr command_line::Program kProgram{
    "tarnwick-transfer", "yvbafi",
    "Usage: tarnwick-transfer [-f] [-y] [-v] [-b] [-a] I2CBUS | -i N  DESC [DATA] [DESC [DATA]]...\n"
    "  I2CBUS is the adapter: 1 PCF8584 card, 2 Philips, 3 Custom,\n"
    "    0 the one key Default of section [I2C Device] of I2C.INI names\n"
    "  DESC describes the transfer in the form: {r|w}LENGTH[@address]\n"
    "    1) read/write-flag 2) LENGTH (range 0-65535, or '?')\n"
    "    3) I2C address (use last one if omitted)\n"
    "  DATA are LENGTH bytes for a write message. They can be shortened by a suffix:\n"
    "    = (keep value constant until LENGTH)\n"
    "    + (increase value by 1 until LENGTH)\n"
    "    - (decrease value by 1 until LENGTH)\n"
    "    p (use pseudo random generator until LENGTH with value as seed)\n"
    "\n"
    "  -i N       the adapter, in place of I2CBUS\n"
    "  -y         no confirmation\n"
    "  -v         print every message sent, not only the data read\n"
    "  -b         write the data read as bytes, not as text (no -v)\n"
    "  -a         allow the addresses 0x00-0x07 and 0x78-0x7f\n"
    "  -f         accepted for i2ctransfer's command lines; no driver holds a slave here\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Example (read 8 bytes at offset 0x64 from the EEPROM at 0x50):\n"
    "  $ tarnwick-transfer -y 2 w1@0x50 0x64 r8\n"
    "Exit status: 0 sent, 1 bad arguments or the transfer failed.\n"};

enum Print : unsigned {
  kToStandardError = 1u << 0,
  kReadData = 1u << 1,
  kWriteData = 1u << 2,
  kHeader = 1u << 3,
  kBinary = 1u << 4,
};

// i2ctransfer's print_msgs: "msg N: addr 0x.., read, len L, buf 0x.. 0x..".
void print_messages(const std::vector<Message>& messages, std::size_t done, unsigned print) {
  FILE* output = (print & kToStandardError) ? stderr : stdout;
  for (std::size_t i = 0; i < done; ++i) {
    const Message& message = messages[i];
    const bool read = message.flags & TARNWICK_M_RD;
    const bool receive_length = message.flags & TARNWICK_M_RECV_LEN;
    const bool data = read ? (print & kReadData) : (print & kWriteData);
    std::size_t length = message.data.size();
    // The slave's count byte says how many followed it.
    if (receive_length && data) length = std::min<std::size_t>(length, message.data[0] + 1u);
    if (print & kHeader) {
      std::fprintf(output, "msg %zu: addr 0x%02x, %s, len ", i, message.address,
                   read ? "read" : "write");
      if (!receive_length || (print & kReadData)) std::fprintf(output, "%zu", length);
      else std::fputs("TBD", output);
    }
    if (length > 0 && data) {
      if (print & kBinary) {
        std::fwrite(message.data.data(), 1, length, output);
        continue;
      }
      if (print & kHeader) std::fputs(", buf ", output);
      for (std::size_t j = 0; j < length; ++j) {
        std::fprintf(output, "0x%02x%c", message.data[j], j + 1 < length ? ' ' : '\n');
      }
    } else if (print & kHeader) {
      std::fputc('\n', output);
    }
  }
}

bool confirmed(int adapter, const std::vector<Message>& messages) {
  std::fputs("WARNING! This program can confuse your I2C bus, cause data loss and worse!\n", stderr);
  std::fprintf(stderr, "I will send the following messages to adapter %d:\n", adapter);
  print_messages(messages, messages.size(), kToStandardError | kHeader | kWriteData);
  return command_line::continue_or_abort(false);
}

}  // namespace

int main(int argc, char** argv) {
  command_line::Parsed parsed = command_line::flags(kProgram, argc, argv);
  if (parsed.status) return *parsed.status;
  command_line::Flags& flags = parsed.flags;
  if (flags.next >= argc) return command_line::usage(kProgram);
  const auto adapter = command_line::adapter(flags, argc, argv);
  if (!adapter) return command_line::kBadArguments;

  transfer_messages::Parsed request =
      transfer_messages::parse(argv, flags.next, argc, flags.all_addresses);
  if (!request.error.empty()) std::fprintf(stderr, "%s\n", request.error.c_str());
  if (!request.faulty.empty()) {
    std::fprintf(stderr, "Error: faulty argument is '%s'\n", request.faulty.c_str());
  }
  if (!request.error.empty() || !request.faulty.empty()) return command_line::kBadArguments;

  if (!flags.yes && !confirmed(*adapter, request.messages)) return 0;
  std::vector<tarnwick_msg> msgs = transfer_messages::as_transfer(request.messages);
  const int sent = tarnwick_transfer(*adapter, msgs.data(), static_cast<int>(msgs.size()));
  if (sent < 0) {
    std::fprintf(stderr, "Error: Sending messages failed: %s\n", std::strerror(-sent));
    return 1;
  }
  if (static_cast<std::size_t>(sent) < msgs.size()) {
    std::fprintf(stderr, "Warning: only %d/%zu messages were sent\n", sent, msgs.size());
  }
  unsigned print = kReadData;
  if (flags.binary) print |= kBinary;
  else if (flags.verbose) print |= kHeader | kWriteData;
  print_messages(request.messages, static_cast<std::size_t>(sent), print);
  return 0;
}
