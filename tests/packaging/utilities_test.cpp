// tarnwick-detect and tarnwick-eeprom as built, run on the bench through
// each adapter with a private configuration file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

using packaging_test::eeprom_image;
using packaging_test::kQuickBench;
using Outcome = test_kit::Run;
using packaging_test::prepare_eeprom_bench;
using test_kit::read_file;
using packaging_test::Scratch;

const std::vector<std::string> kAdapters{"1", "2", "3"};

Outcome in(const Scratch& scratch, std::vector<std::string> argv) {
  return test_kit::run_program({argv, scratch.path(), scratch.environment(), ""});
}

std::vector<std::string> detect(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), DETECT_PROGRAM);
  return arguments;
}

std::vector<std::string> eeprom(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), EEPROM_PROGRAM);
  return arguments;
}

// The grid of the four default slaves: 24C02 50, LM75 48, PCF8574 20, DS1307 68.
const std::string kDefaultGrid =
    "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n"
    "00:          -- -- -- -- -- -- -- -- -- -- -- -- -- \n"
    "10: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- \n"
    "20: 20 -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- \n"
    "30: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- \n"
    "40: -- -- -- -- -- -- -- -- 48 -- -- -- -- -- -- -- \n"
    "50: 50 -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- \n"
    "60: -- -- -- -- -- -- -- -- 68 -- -- -- -- -- -- -- \n"
    "70: -- -- -- -- -- -- -- --                         \n";

TEST(Detect, PrintsTheGridOfTheDefaultBenchThroughEachAdapterAndEachMethod) {
  for (const std::string& adapter : kAdapters) {
    for (const char* method : {"", "-q", "-r"}) {
      Scratch scratch;
      scratch.write("I2C.INI", kQuickBench);
      std::vector<std::string> argv{"-i", adapter};
      if (*method) argv.push_back(method);
      const Outcome outcome = in(scratch, detect(argv));
      EXPECT_EQ(outcome.status(), 0) << adapter << method << outcome.err;
      EXPECT_EQ(outcome.out, kDefaultGrid) << adapter << method;
      EXPECT_EQ(outcome.err, "") << adapter << method;
    }
  }
}

TEST(Detect, AllAddressesAndLargerEepromsShowEveryBlockAddress) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nDevices = 24C16@A0 PCF8574@4E\n");
  const Outcome outcome = in(scratch, detect({"-i", "2", "-a"}));
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  EXPECT_NE(outcome.out.find("\n00: -- -- -- "), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("\n20: -- -- -- -- -- -- -- 27 -- "), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("\n50: 50 51 52 53 54 55 56 57 -- "), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("\n70: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- \n"),
            std::string::npos)
      << outcome.out;
}

TEST(Detect, ExplainsABusOnWhichEveryAddressAnswers) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nSDA Stuck = 1\n");
  const Outcome outcome = in(scratch, detect({"-i", "2"}));
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  EXPECT_NE(outcome.out.find("\n10: 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f \n"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.err.find("tarnwick-detect: every address answered; this usually means that "
                             "SDA is held low or that the pull-up resistors are missing\n"),
            std::string::npos)
      << outcome.err;
}

TEST(Detect, ABusThatCannotBeOpenedIsStatusOneWithTheReason) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nBus Busy = 1\n");
  const Outcome outcome = in(scratch, detect({"-i", "1"}));
  EXPECT_EQ(outcome.status(), 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("tarnwick-detect: the bus could not be opened: the adapter is held "
                             "by another transaction or the bus is busy (bus result 2)"),
            std::string::npos)
      << outcome.err;
}

TEST(Eeprom, WritesAndVerifiesA256ByteFileThroughEachAdapter) {
  for (const std::string& adapter : kAdapters) {
    Scratch scratch;
    scratch.write("I2C.INI", kQuickBench + "[Simulation]\nEEPROM File = " +
                                 scratch.file("eeprom.bin") + "\n");
    const auto image = eeprom_image();
    scratch.write("image.bin", std::string(image.begin(), image.end()));
    const Outcome written = in(scratch, eeprom({"-i", adapter, "write", scratch.file("image.bin")}));
    EXPECT_EQ(written.status(), 0) << adapter << written.err;
    EXPECT_EQ(written.out, "wrote and verified 256 bytes at A0: " + scratch.file("image.bin") + "\n");
    EXPECT_EQ(written.err.find('\r'), std::string::npos) << "a progress bar into a pipe";
    EXPECT_EQ(read_file(scratch.file("eeprom.bin")), read_file(scratch.file("image.bin")));
    // A later process sees the part as the file left it.
    const Outcome verified = in(scratch, eeprom({"-i", adapter, "verify", scratch.file("image.bin")}));
    EXPECT_EQ(verified.status(), 0) << adapter << verified.err;
  }
}

// The part held the bytes only while the program ran when the bench could
// not save its image: the write did not do what it was asked.
TEST(Eeprom, AWriteWhoseImageTheBenchCouldNotSaveFails) {
  struct Case {
    std::string eeprom_file;  // below the scratch folder
    int status;
  };
  const Case cases[] = {
      {"no such folder/eeprom.bin", 1},
      {"plain/eeprom.bin", 1},  // "plain" is a file
      {"eeprom.bin", 0},
  };
  for (const Case& c : cases) {
    for (const std::string adapter : {"1", "2"}) {
      SCOPED_TRACE(c.eeprom_file + " through adapter " + adapter);
      Scratch scratch;
      scratch.write("plain", "");
      scratch.write("I2C.INI", kQuickBench + "[Simulation]\nEEPROM File = " +
                                   scratch.file(c.eeprom_file) + "\n");
      const auto image = eeprom_image();
      scratch.write("image.bin", std::string(image.begin(), image.end()));
      const Outcome written =
          in(scratch, eeprom({"-i", adapter, "write", scratch.file("image.bin")}));
      EXPECT_EQ(written.status(), c.status) << written.err;
      if (c.status == 0) {
        EXPECT_EQ(written.out,
                  "wrote and verified 256 bytes at A0: " + scratch.file("image.bin") + "\n");
        continue;
      }
      EXPECT_EQ(written.out, "");
      EXPECT_NE(written.err.find(scratch.file(c.eeprom_file)), std::string::npos) << written.err;
      EXPECT_NE(written.err.find("tarnwick-eeprom: the bench could not save the EEPROM image"),
                std::string::npos)
          << written.err;
    }
  }
}

TEST(Eeprom, WritesVerifiesAndDumpsEverySizeAtItsBlockAddresses) {
  struct Size {
    std::string part;
    std::size_t bytes;
    std::string last_row;
    std::string settings;  // where the bench puts the part
    std::string address;
  };
  const Size sizes[] = {
      {"24C01", 128, "70: ", "Devices = 24C01@A0", "0xA0"},
      {"24C04", 512, "1f0: ", "Devices = 24C04@A0", "0xA0"},
      {"24C08", 1024, "3f0: ", "Devices = 24C08@A0", "0xA0"},
      {"24C16", 2048, "7f0: ", "Devices = 24C16@A0", "0xA0"},
      // Two word address bytes, at the addresses key Large EEPROMs gives.
      {"24C32", 4096, "ff0: ", "Large EEPROMs = 24C32 24C64", "0xA8"},
      {"24C64", 8192, "1ff0: ", "Large EEPROMs = 24C32 24C64", "0xAA"},
  };
  for (const Size& size : sizes) {
    Scratch scratch;
    scratch.write("I2C.INI", kQuickBench + "[Simulation]\n" + size.settings + "\n");
    std::string image;
    for (std::size_t i = 0; i < size.bytes; ++i) image += static_cast<char>(i * 13 + i / 256);
    scratch.write("image.bin", image);
    const std::string at = size.address.substr(2);
    const Outcome written = in(scratch, eeprom({"-i", "2", "-a", size.address, "-s", size.part,
                                                "write", scratch.file("image.bin")}));
    EXPECT_EQ(written.status(), 0) << size.part << written.err;
    EXPECT_EQ(written.out, "wrote and verified " + std::to_string(size.bytes) + " bytes at " + at +
                               ": " + scratch.file("image.bin") + "\n");
    const Outcome dumped =
        in(scratch, eeprom({"-i", "1", "-a", size.address, "-s", size.part, "dump"}));
    EXPECT_EQ(dumped.status(), 0) << dumped.err;
    EXPECT_EQ(std::count(dumped.out.begin(), dumped.out.end(), '\n'),
              static_cast<long>(size.bytes / 16 + 1));
    EXPECT_NE(dumped.out.find("\n" + size.last_row), std::string::npos) << dumped.out;
  }
}

// A range of the bench's own 24C02, whose image lasts from one run to the
// next: each command's output and what the part then holds.
TEST(Eeprom, ReadsErasesAndFillsARangeFromAnOffset) {
  Scratch scratch;
  prepare_eeprom_bench(scratch, kQuickBench);
  const auto image = eeprom_image();
  std::vector<std::uint8_t> holds(image.begin(), image.end());
  struct Step {
    std::vector<std::string> arguments;
    std::string out;
    unsigned from, count;  // what the step changes in the part
    int value;             // to this byte; -1: nothing changes
  };
  const std::string out = scratch.file("out.bin");
  const Step steps[] = {
      {{"--offset", "0x10", "--count", "32", "read", out},
       "read 32 bytes at A0 from byte address 0x10 into " + out + "\n", 0, 0, -1},
      {{"--offset", "5", "--count", "20", "erase"},
       "erased and verified 20 bytes at A0 from byte address 0x05\n", 5, 20, 0xFF},
      {{"--offset", "250", "fill", "0x3c"},
       "filled and verified 6 bytes at A0 from byte address 0xfa with 0x3C\n", 250, 6, 0x3C},
      {{"--count", "3", "fill", "7"}, "filled and verified 3 bytes at A0 with 0x07\n", 0, 3, 7},
      {{"read", out}, "read 256 bytes at A0 into " + out + "\n", 0, 0, -1},
  };
  for (const Step& step : steps) {
    std::vector<std::string> argv{"-i", "2"};
    argv.insert(argv.end(), step.arguments.begin(), step.arguments.end());
    const Outcome outcome = in(scratch, eeprom(argv));
    SCOPED_TRACE(step.out);
    EXPECT_EQ(outcome.status(), 0) << outcome.err;
    EXPECT_EQ(outcome.out, step.out);
    if (step.value >= 0) {
      std::fill_n(holds.begin() + step.from, step.count, static_cast<std::uint8_t>(step.value));
    }
  }
  EXPECT_EQ(read_file(out), std::string(holds.begin(), holds.end()));
  // Rows labelled from the offset on, up to the part's end.
  const Outcome range = in(scratch, eeprom({"--offset", "0xf8", "dump"}));
  EXPECT_EQ(range.out.rfind("     0  1  2  3", 0), 0u) << range.out;
  EXPECT_NE(range.out.find("\nf8: "), std::string::npos) << range.out;
  EXPECT_NE(range.out.find(" 3c 3c 3c 3c 3c 3c    "), std::string::npos) << range.out;
  EXPECT_EQ(std::count(range.out.begin(), range.out.end(), '\n'), 2) << range.out;
}

TEST(Eeprom, DumpsAsI2cdumpDoes) {
  Scratch scratch;
  prepare_eeprom_bench(scratch, kQuickBench);
  scratch.write("tarnwick.bin", "Tarnwick\x01\x7f");
  ASSERT_EQ(in(scratch, eeprom({"write", scratch.file("tarnwick.bin")})).status(), 0);
  const Outcome outcome = in(scratch, eeprom({"dump"}));
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  const auto image = eeprom_image();
  char row[128];
  std::snprintf(row, sizeof row, "00: 54 61 72 6e 77 69 63 6b 01 7f %02x %02x %02x %02x %02x %02x ",
                image[10], image[11], image[12], image[13], image[14], image[15]);
  EXPECT_EQ(outcome.out.rfind(
                "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n" +
                    std::string(row) + "   Tarnwick??",
                0),
            0u)
      << outcome.out;
}

TEST(Eeprom, FailsWithTheByteAddressOnARefusedByteAMismatchOrNoPart) {
  struct Case {
    std::string settings;
    std::string command;
    std::string message;
  };
  const std::vector<Case> cases{
      // The fifth data byte after the address: the word address, then bytes 0 to 3.
      {"[Simulation]\nNACK Byte = 5\n", "write",
       "tarnwick-eeprom: the EEPROM refused the byte at byte address 0x03 (no acknowledge)\n"},
      {"[Simulation]\nDevices = LM75@90\n", "write",
       "tarnwick-eeprom: no acknowledge to address 0xA0 when writing byte address 0x00\n"},
      {"[Simulation]\nDevices = LM75@90\n", "verify",
       "tarnwick-eeprom: no acknowledge to address 0xA0 when reading byte address 0x00\n"},
      {"", "verify", "tarnwick-eeprom: mismatch at byte address 0x00 reads 0xFF, "},
  };
  for (const Case& c : cases) {
    for (const std::string& adapter : kAdapters) {
      Scratch scratch;
      scratch.write("I2C.INI", kQuickBench + c.settings);
      const auto image = eeprom_image();
      scratch.write("image.bin", std::string(image.begin(), image.end()));
      const Outcome outcome =
          in(scratch, eeprom({"-i", adapter, c.command, scratch.file("image.bin")}));
      EXPECT_EQ(outcome.status(), 1) << c.settings << adapter;
      EXPECT_EQ(outcome.out, "");
      EXPECT_EQ(outcome.err.rfind(c.message, 0), 0u) << adapter << ": " << outcome.err;
    }
  }
}

TEST(Utilities, RefuseBadArgumentsWithStatusTwoBeforeTouchingTheBus) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench);
  scratch.write("big.bin", std::string(257, 'x'));
  scratch.write("empty.bin", "");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {detect({"-i", "4"}), "adapter '4' is not 1, 2 or 3"},
      {detect({"-i"}), "-i needs an adapter number"},
      {detect({"-q", "-r"}), "-q and -r exclude each other"},
      {detect({"1"}), "unexpected argument '1'"},
      {eeprom({}), "no command (dump, read, write, verify, erase or fill)"},
      {eeprom({"format"}), "unknown command 'format'"},
      {eeprom({"write"}), "write needs a FILE"},
      {eeprom({"read"}), "read needs a FILE"},
      {eeprom({"fill"}), "fill needs a BYTE"},
      {eeprom({"fill", "0x100"}), "byte '0x100' is not a byte value (0 to 0xFF)"},
      {eeprom({"--offset", "256", "dump"}),
       "the range from byte address 256 runs past the end of a 24C02 (256 bytes)"},
      {eeprom({"--offset", "250", "--count", "7", "erase"}),
       "the range from byte address 250, 7 bytes, runs past the end of a 24C02 (256 bytes)"},
      {eeprom({"--count", "0", "dump"}), "--count '0' is not a byte address or count"},
      {eeprom({"--offset", "200", "write", scratch.file("big.bin")}),
       "big.bin holds more than the 56 bytes from byte address 0xc8 to the end of a 24C02"},
      {eeprom({"--count", "300", "verify", scratch.file("big.bin")}),
       "big.bin holds 257 bytes, fewer than the 300 of --count"},
      {eeprom({"-a", "0xA1", "dump"}), "address '0xA1' is not an even 8-bit address byte"},
      {eeprom({"-a", "0x1A0", "dump"}), "address '0x1A0' is not an even 8-bit address byte"},
      {eeprom({"-s", "24C1024", "dump"}),
       "part '24C1024' is not 24C01, 24C02, 24C04, 24C08, 24C16, 24C32, 24C64, 24C128, 24C256 "
       "or 24C512"},
      {eeprom({"-s", "24C16", "-a", "0xA2", "dump"}),
       "a 24C16 takes the block number in bits 3 to 1 of its address byte, so its address has "
       "them clear (0xA0, not 0xA2)"},
      {eeprom({"write", scratch.file("big.bin")}), "big.bin holds more than the 256 bytes of a 24C02"},
      {eeprom({"verify", scratch.file("empty.bin")}), "empty.bin is empty"},
      {eeprom({"verify", scratch.file("missing.bin")}), "missing.bin (No such file or directory)"},
  };
  for (const auto& [argv, message] : cases) {
    const Outcome outcome = in(scratch, argv);
    EXPECT_EQ(outcome.status(), 2) << argv.back();
    EXPECT_EQ(outcome.out, "") << argv.back();
    EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
  }
  // Nothing reached the bench's parallel port, so no adapter wrote its record.
  EXPECT_EQ(read_file(scratch.file("I2C.INI")), kQuickBench);
}

TEST(Utilities, HelpAndVersionGoToStandardOutput) {
  Scratch scratch;
  for (const auto& [program, name] : {std::pair{DETECT_PROGRAM, "tarnwick-detect"},
                                      std::pair{EEPROM_PROGRAM, "tarnwick-eeprom"}}) {
    const Outcome help = in(scratch, {program, "--help"});
    EXPECT_EQ(help.status(), 0);
    EXPECT_EQ(help.out.rfind(std::string("Usage: ") + name + " [-i N]", 0), 0u) << help.out;
    const Outcome version = in(scratch, {program, "--version"});
    EXPECT_EQ(version.status(), 0);
    EXPECT_EQ(version.out, std::string(name) + " " TARNWICK_VERSION " (Tarnwick " TARNWICK_VERSION ")\n");
  }
}

}  // namespace
