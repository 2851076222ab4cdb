// tarnwick-transfer, tarnwick-get and tarnwick-set as built, run on the
// bench, against what i2ctransfer, i2cget and i2cset print and exit with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/program.h"

namespace {

using packaging_test::kQuickBench;
using packaging_test::Scratch;

struct Case {
  std::vector<std::string> argv;  // argv[0] the program
  std::string out;
  std::string err;  // exact; "...Usage: " means these lines, then the usage
  int status;
  std::string input = "";
};

const std::string kUsage = "Usage: ";

// Runs `cases` in order on one bench whose 24C02 keeps its bytes in a file,
// so that a later case reads what an earlier one wrote.
void run_in_order(const std::vector<Case>& cases) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nEEPROM File = " + scratch.file("eeprom.bin") + "\n");
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& word : c.argv) line += word.substr(word.rfind('/') + 1) + " ";
    const test_kit::Run run =
        test_kit::run_program({c.argv, scratch.path(), scratch.environment(), c.input});
    EXPECT_EQ(run.status(), c.status) << line << "\n" << run.err;
    EXPECT_EQ(run.out, c.out) << line;
    const bool usage = c.err.ends_with(kUsage);
    const std::string err = usage ? run.err.substr(0, c.err.size()) : run.err;
    EXPECT_EQ(err, c.err) << line;
  }
}

std::vector<std::string> transfer(std::vector<std::string> words) {
  words.insert(words.begin(), TRANSFER_PROGRAM);
  return words;
}
std::vector<std::string> get(std::vector<std::string> words) {
  words.insert(words.begin(), GET_PROGRAM);
  return words;
}
std::vector<std::string> set(std::vector<std::string> words) {
  words.insert(words.begin(), SET_PROGRAM);
  return words;
}

TEST(OneShotTools, ReadTheBenchsPartsThroughEveryAdapterAsI2cToolsPrintThem) {
  for (const std::string adapter : {"1", "2", "3"}) {
    run_in_order({
        {transfer({"-y", adapter, "w1@0x48", "0", "r2"}), "0x19 0x00\n", "", 0},
        {transfer({"-y", "-v", "-i", adapter, "w1@0x48", "2", "r2"}),
         "msg 0: addr 0x48, write, len 1, buf 0x02\nmsg 1: addr 0x48, read, len 2, buf 0x4b 0x00\n", "", 0},
        {get({"-y", adapter, "0x48", "0"}), "0x19\n", "", 0},
        // SMBus words are low byte first; the LM75 sends its MSB first.
        {get({"-y", adapter, "0x48", "3", "w"}), "0x0050\n", "", 0},
        {set({"-y", "-r", "-i", adapter, "0x48", "1", "0x1f"}), "Value 0x1f written, readback matched\n", "", 0},
    });
  }
}

TEST(OneShotTools, TransferMessagesAndSuffixesAsI2ctransferDoes) {
  run_in_order({
      // Suffixes, shown as i2ctransfer -v shows them: 0p is 0x00 0x50 0xb0 ...
      {transfer({"-y", "-v", "2", "w6@0x50", "0x20", "0p"}),
       "msg 0: addr 0x50, write, len 6, buf 0x20 0x00 0x50 0xb0 0x71 0xee\n", "", 0},
      {transfer({"-y", "2", "w1@0x50", "0x20", "r5"}), "0x00 0x50 0xb0 0x71 0xee\n", "", 0},
      {transfer({"-y", "2", "w9@0x50", "0x30", "0xff-"}), "", "", 0},
      {transfer({"-y", "2", "w5@0x50", "0x38", "7", "0x10+"}), "", "", 0},
      {transfer({"-y", "2", "w1@0x50", "0x30", "r6", "w1", "0x3a", "r2"}),
       "0xff 0xfe 0xfd 0xfc 0xfb 0xfa\n0x11 0x12\n", "", 0},
      {transfer({"-y", "-b", "2", "w1@0x48", "0", "r2"}), std::string("\x19\x00", 2), "", 0},
      {transfer({"2", "w1@0x48", "0", "r2"}), "0x19 0x00\n",
       "WARNING! This program can confuse your I2C bus, cause data loss and worse!\n"
       "I will send the following messages to adapter 2:\n"
       "msg 0: addr 0x48, write, len 1, buf 0x00\nmsg 1: addr 0x48, read, len 2\n"
       "Continue? [y/N] ", 0, "y\n"},
      {transfer({"2", "w1@0x50", "0"}), "",
       "WARNING! This program can confuse your I2C bus, cause data loss and worse!\n"
       "I will send the following messages to adapter 2:\nmsg 0: addr 0x50, write, len 1, buf 0x00\n"
       "Continue? [y/N] Aborting on user request.\n", 0, "\n"},
      {transfer({"-y", "2", "w1@0x49", "0", "r2"}), "",
       "Error: Sending messages failed: No such device or address\n", 1},
      {transfer({"-y", "-a", "2", "r1@0x05"}), "", "Error: Sending messages failed: No such device or address\n", 1},
      {transfer({"-y", "2", "r?@0x50"}), "", "Error: Sending messages failed: Operation not supported\n", 1},
  });
}

TEST(OneShotTools, RefuseBadTransferWordsWithI2ctransfersMessagesAndStatusOne) {
  std::vector<std::string> too_many{"-y", "2"};
  for (int i = 0; i < 43; ++i) too_many.push_back("r1@0x50");
  run_in_order({
      {transfer({}), "", kUsage, 1},
      {transfer({"-x", "2", "r1@0x50"}), "", "Error: Unsupported option \"-x\"!\n" + kUsage, 1},
      {transfer({"-y", "2"}), "", "Error: Incomplete message\n", 1},
      {transfer({"-y", "4", "r1@0x50"}), "", "Error: I2C bus out of range!\n", 1},
      {transfer({"-y", "bus", "r1@0x50"}), "", "Error: I2C bus name doesn't match any bus present!\n", 1},
      {transfer({"-y", "2", "x1@0x50"}), "", "Error: Invalid direction\nError: faulty argument is 'x1@0x50'\n", 1},
      {transfer({"-y", "2", "r1"}), "", "Error: No address given\nError: faulty argument is 'r1'\n", 1},
      {transfer({"-y", "2", "r1@0x05"}), "",
       "Error: Chip address out of range (0x08-0x77)!\nError: faulty argument is 'r1@0x05'\n", 1},
      {transfer({"-y", "2", "r1@0x50x"}), "",
       "Error: Chip address is not a number!\nError: faulty argument is 'r1@0x50x'\n", 1},
      {transfer({"-y", "2", "r1:0x50"}), "",
       "Error: Unknown separator after length\nError: faulty argument is 'r1:0x50'\n", 1},
      {transfer({"-y", "2", "r70000@0x50"}), "", "Error: Length invalid\nError: faulty argument is 'r70000@0x50'\n", 1},
      {transfer({"-y", "2", "w?@0x50"}), "",
       "Error: variable length not allowed with write\nError: faulty argument is 'w?@0x50'\n", 1},
      {transfer({"-y", "2", "w2@0x50", "1"}), "", "Error: Incomplete message\n", 1},
      {transfer({"-y", "2", "w2@0x50", "1", "0x100"}), "", "Error: Invalid data byte\nError: faulty argument is '0x100'\n", 1},
      {transfer({"-y", "2", "w4@0x50", "1x"}), "", "Error: Invalid data byte suffix\nError: faulty argument is '1x'\n", 1},
      {transfer(too_many), "", "Error: Too many messages (max: 42)\n", 1},
  });
}

TEST(OneShotTools, GetReadsInEveryModeAsI2cgetDoes) {
  run_in_order({
      {set({"-y", "2", "0x50", "0x40", "1", "2", "3", "i"}), "", "", 0},
      {get({"-y", "2", "0x50", "0x40", "i", "3"}), "0x01 0x02 0x03\n", "", 0},
      // An SMBus block: the count byte, then the data.
      {set({"-y", "2", "0x50", "0x48", "7", "8", "s"}), "", "", 0},
      {get({"-y", "2", "0x50", "0x48", "i", "3"}), "0x02 0x07 0x08\n", "", 0},
      {get({"-y", "2", "0x50", "0x41", "w"}), "0x0302\n", "", 0},
      {get({"-y", "2", "0x50", "0x42", "c"}), "0x03\n", "", 0},
      {get({"-y", "2", "0x20"}), "0xff\n", "", 0},
      {get({"-y", "2", "0x50", "0", "s"}), "", "Error: Adapter does not have SMBus block read capability\n", 1},
      {get({"-y", "2", "0x49", "0"}), "", "Error: Read failed\n", 2},
      {get({"-y", "2", "0x49", "0", "c"}), "", "Warning - write failed\nError: Read failed\n", 2},
      {get({"2", "0x48", "1"}), "",
       "WARNING! This program can confuse your I2C bus, cause data loss and worse!\n"
       "I will read from adapter 2, chip address 0x48, data address\n0x01, using read byte data.\n"
       "Continue? [Y/n] Aborting on user request.\n", 0, "n\n"},
      {get({"2", "0x48", "0"}), "0x19\n",
       "WARNING! This program can confuse your I2C bus, cause data loss and worse!\n"
       "I will read from adapter 2, chip address 0x48, data address\n0x00, using read byte data.\n"
       "Continue? [Y/n] ", 0, "\n"},
      {get({"-y", "2"}), "", kUsage, 1},
      {get({"-y", "-i", "4", "0x48"}), "", "Error: Adapter '4' is not 1, 2 or 3!\n" + kUsage, 1},
      {get({"-y", "2", "0x90"}), "", "Error: Chip address out of range (0x08-0x77)!\n" + kUsage, 1},
      {get({"-y", "2", "0x48", "0x100"}), "", "Error: Data address invalid!\n" + kUsage, 1},
      {get({"-y", "2", "0x48", "1", "x"}), "", "Error: Invalid mode!\n" + kUsage, 1},
      {get({"-y", "2", "0x48", "1", "b", "3"}), "", "Error: Length only valid for I2C block data!\n" + kUsage, 1},
      {get({"-y", "2", "0x48", "1", "i", "33"}), "", "Error: Length invalid!\n" + kUsage, 1},
  });
}

TEST(OneShotTools, SetWritesMasksAndReadsBackAsI2csetDoes) {
  run_in_order({
      // The LM75 takes a word MSB first: the word's low byte lands in the MSB.
      {set({"-y", "-r", "2", "0x48", "2", "0x8046", "w"}), "Value 0x8046 written, readback matched\n", "", 0},
      {set({"-y", "-r", "2", "0x48", "2", "0x4600", "w"}),
       "Warning - data mismatch - wrote 0x4600, read back 0x0000\n", "", 0},
      // A fresh bench's configuration register is 0: the mask keeps its bits 7 to 4.
      {set({"-y", "-r", "-m", "0x0f", "2", "0x48", "1", "0x15"}), "Value 0x05 written, readback matched\n", "", 0},
      {set({"-y", "-r", "2", "0x20", "0x0f", "c"}), "Value 0x0f written, readback matched\n", "", 0},
      {set({"-y", "2", "0x49", "1", "1"}), "", "Error: Write failed\n", 1},
      {set({"-y", "-m", "1", "2", "0x49", "1", "1"}), "", "Error: Failed to read old value\n", 1},
      {set({"2", "0x50", "1", "2"}), "",
       "WARNING! This program can confuse your I2C bus, cause data loss and worse!\n"
       "DANGEROUS! Writing to a serial EEPROM on a memory DIMM\n"
       "may render your memory USELESS and make your system UNBOOTABLE!\n"
       "I will write to adapter 2, chip address 0x50,\ndata address 0x01, data 0x02, mode byte.\n"
       "Continue? [y/N] Aborting on user request.\n", 0, "\n"},
      {set({"-m", "0xf0", "2", "0x48", "1", "0x20"}), "",
       "WARNING! This program can confuse your I2C bus, cause data loss and worse!\n"
       "I will write to adapter 2, chip address 0x48,\ndata address 0x01, data 0x20 (masked), mode byte.\n"
       "Continue? [Y/n] Old value 0x00, write mask 0xf0, will write 0x20\n"
       "Continue? [Y/n] Aborting on user request.\n", 0, "y\n"},
      {set({"-y", "2", "0x48"}), "", kUsage, 1},
      {set({"-y", "2", "0x48", "1", "1", "2"}), "", "Error: Invalid mode '2'!\n" + kUsage, 1},
      {set({"-y", "2", "0x48", "1", "1", "w", "3"}), "", "Error: Invalid mode '3'!\n" + kUsage, 1},
      {set({"-y", "2", "0x48", "1", "0x100"}), "", "Error: Data value out of range!\n" + kUsage, 1},
      {set({"-y", "2", "0x48", "1", "-1"}), "", "Error: Data value invalid!\n" + kUsage, 1},
      {set({"-y", "-m", "0", "2", "0x48", "1", "1"}), "", "Error: Data value mask invalid!\n" + kUsage, 1},
      {set({"-y", "-m", "0x100", "2", "0x48", "1", "1"}), "", "Error: Data value mask out of range!\n" + kUsage, 1},
      {set({"-y", "-m", "3", "2", "0x48", "1", "1", "2", "i"}), "",
       "Error: Mask not supported for block writes!\n" + kUsage, 1},
      {set({"-y", "2", "0x48", "1", "1", "bp"}), "", "Error: Adapter does not have PEC capability\n", 1},
  });
}

TEST(OneShotTools, HelpAndVersionGoToStandardOutput) {
  for (const auto& [program, name] : {std::pair{TRANSFER_PROGRAM, "tarnwick-transfer"},
                                      std::pair{GET_PROGRAM, "tarnwick-get"},
                                      std::pair{SET_PROGRAM, "tarnwick-set"}}) {
    for (const char* flag : {"--help", "-h"}) {
      const test_kit::Run help = test_kit::run_program({{program, flag}});
      EXPECT_EQ(help.status(), 0);
      EXPECT_EQ(help.out.rfind(std::string("Usage: ") + name + " [-f] [-y]", 0), 0u) << help.out;
    }
    const test_kit::Run version = test_kit::run_program({{program, "-V"}});
    EXPECT_EQ(version.out, std::string(name) + " " TARNWICK_VERSION " (Tarnwick " TARNWICK_VERSION ")\n");
  }
}

}  // namespace
