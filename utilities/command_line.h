// The command line of the one-shot bus programs (tarnwick-transfer,
// tarnwick-get, tarnwick-set), shaped as i2c-tools' i2ctransfer, i2cget and
// i2cset read theirs: flags first, then I2CBUS and the operands; a bad word
// prints "Error: ...!" and the usage on standard error, exit status 1.
#pragma once

#include <optional>

namespace command_line {

// Exit status of a bad command line, as i2c-tools gives it.
constexpr int kBadArguments = 1;

struct Program {
  const char* name;
  const char* flags;  // the one-letter flags it takes, e.g. "yfa" ("m" takes a MASK)
  const char* help;   // usage and option lines
};

struct Flags {
  bool yes = false;            // -y: no confirmation
  bool force = false;          // -f: accepted; no kernel driver holds a slave here
  bool all_addresses = false;  // -a: 0x00 to 0x7F instead of 0x08 to 0x77
  bool verbose = false;        // -v
  bool binary = false;         // -b
  bool readback = false;       // -r
  const char* mask = nullptr;  // -m MASK
  std::optional<int> adapter;  // -i N, in place of I2CBUS
  int next = 1;                // argv index of the first operand
};

// The usage on standard error, exit status 1.
int usage(const Program& program);

// The flags, or the exit status when the program ends here: help and
// version (0) or a bad flag (1, with the message and usage printed).
struct Parsed {
  Flags flags;
  std::optional<int> status;
};
Parsed flags(const Program& program, int argc, char** argv);

// The adapter: -i N, or else the I2CBUS operand at flags.next, which it
// consumes: 1 card, 2 Philips, 3 Custom, 0 the one I2C.INI selects.
// Nothing (an i2c-tools message printed) when I2CBUS is missing or bad.
std::optional<int> adapter(Flags& flags, int argc, char** argv);

// A 7-bit chip address in 0x08-0x77 (0x00-0x7F with -a), or nothing with
// i2c-tools' message printed.
std::optional<int> chip_address(const char* text, bool all_addresses);

// Reads the answer to "Continue? [Y/n]" from standard input, as i2c-tools
// does: y or n by the first character, `yes_by_default` for any other,
// no at the end of input.
bool user_ack(bool yes_by_default);

// Asks "Continue? [Y/n] " (or "[y/N] ") on standard error and reads the
// answer; on a no, says "Aborting on user request." as i2c-tools does.
bool continue_or_abort(bool yes_by_default);

}  // namespace command_line
