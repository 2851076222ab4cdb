// The console and the library on configuration files that a person got
// wrong or a disk mangled: missing, unreadable, a directory, binary garbage,
// ten megabytes, lines of 100 000 characters, keys outside any section,
// numbers too wide for their 16 or 8 bits. Defaults or the documented
// cut-down values apply, a problem the person should hear about is one
// clear line on standard error, and nothing crashes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/tarnwick_harness.h"

namespace {

const std::string kBanner =
    "Sondrel  Version 4.00\nCopyright (c) the Sondrel developers\nType '?' or 'help' for help\n\n";

// Writes the LM75's hysteresis register (32.5 degC) and reads it back
// through the adapter that is selected. The LM75 takes a write at once, so
// the script may read back straight away even on a bench whose EEPROMs keep
// their write cycle (a missing or unreadable file gives that default).
const std::string kRoundTrip =
    "start\naddress 144\nwrite 2,32,128\nclose\nstart\naddress 144\nwrite 2\nread 2\nclose\n";
const std::string kRoundTripSeen =
    "Bus opened\nI2C (0) >Address : 144\nI2C (144) >Sent to slave : 2 32 128 \n"
    "I2C (144) >Bus closed\nI2C (144) >Bus opened\nI2C (144) >Address : 144\n"
    "I2C (144) >Sent to slave : 2 \nI2C (144) >Read from slave : 32 128 \n"
    "I2C (144) >Bus closed\nI2C (144) >";

// The round trip through each of the three adapters, then QUIT.
const std::string kAllAdapters = kRoundTrip + "select 2\n" + kRoundTrip + "select 3\n" +
                                 kRoundTrip + "select 1\n" + kRoundTrip + "quit\n";

// What the round trips show. Without its line settings the Custom adapter
// drives and reads port 0, where no bus is: every bit reads 0, so every
// byte looks acknowledged and reads back as 0.
std::string all_adapters_seen(bool custom_wired) {
  // After the first round trip the prompt shows the address 144 already.
  std::string later = kRoundTripSeen;
  later.replace(later.find("I2C (0) >"), 9, "I2C (144) >");
  std::string custom = later;
  if (!custom_wired) {
    custom.replace(custom.find("Read from slave : 32 128"), 24, "Read from slave : 0 0");
  }
  return kBanner + "I2C (0) >" + kRoundTripSeen + "I2C (144) >" + later + "I2C (144) >" + custom +
         "I2C (144) >" + later;
}

// The Custom adapter wired as the Philips adapter on the bench's port.
const std::string kCustomWiring =
    "[I2C para Gen]\n" + test_kit::custom_wired_like_philips_text();

class BadConfiguration : public ::testing::Test {
 protected:
  test_kit::Run console(const std::string& configuration_path, const std::string& input,
                                bool unprivileged = false) const {
    test_kit::Program options;
    options.timeout_ms = 60000;
    options.argv = {SONDREL_PROGRAM};
    options.input = input;
    options.directory = environment_.directory();
    options.environment = {"I2C_INI=" + configuration_path};
    options.as_other_user = unprivileged;
    options.libraries = {{TARNWICK_LIBRARY_FILE, TARNWICK_SONAME},
                         {DLPORTIO_LIBRARY_FILE, DLPORTIO_SONAME},
                         {BENCH_OBJECT_FILE, BENCH_OBJECT_SONAME}};
    return test_kit::run_program(options);
  }

  // The three adapters work with what the file leaves them.
  static void expect_all_adapters_work(const test_kit::Run& run, bool custom_wired = true) {
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, all_adapters_seen(custom_wired));
  }

  // The value of `key` in section "Debug", as the adapters write it.
  static std::string debug_record(const std::string& path, const char* key) {
    const auto lines = test_kit::lines_of(test_kit::read_file(path), true);
    bool in_debug = false;
    for (const auto& line : lines) {
      if (!line.empty() && line[0] == '[') in_debug = line == "[Debug]";
      const std::string prefix = std::string(key) + "=";
      if (in_debug && line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    return "(none)";
  }

  std::string path(const std::string& name) const { return environment_.file(name); }

  harness::Environment environment_;
};

TEST_F(BadConfiguration, AMissingFileGivesEveryDefaultSilentlyAndTheDebugRecordCreatesIt) {
  const std::string missing = path("absent.ini");
  const auto run = console(missing, kAllAdapters);
  expect_all_adapters_work(run, false);
  EXPECT_EQ(run.err, "");
  // The parallel adapters' defaults: base port 378, Nops 100 (hexadecimal).
  EXPECT_EQ(debug_record(missing, "Bastion"), "Base:0x378 Nops:0x100");
  EXPECT_EQ(debug_record(missing, "Barbican"), "Base:0x378 Nops:0x100");
}

TEST_F(BadConfiguration, AnUnreadableFileGivesTheDefaultsOneLineSayingWhyAndStaysUntouched) {
  if (!test_kit::can_switch_user()) GTEST_SKIP() << "cannot run the console as another user";
  // The file would move the card where nothing answers, were it read.
  const std::string file = path("I2C.INI");
  const std::string text = "[I2C Card]\nBase = 2F0\n" + kCustomWiring;
  test_kit::write_file(file, text);
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  ASSERT_EQ(::chmod(environment_.directory().c_str(), 0777), 0);

  // As root the permission bits would not stop the console: it runs as
  // an ordinary user.
  const auto run = console(file, kRoundTrip + "quit\n", ::geteuid() == 0);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, kBanner + "I2C (0) >" + kRoundTripSeen);
  const auto lines = test_kit::lines_of(run.err, true);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0], "tarnwick: cannot read the configuration file " + file +
                          " (Permission denied); every setting takes its default");
  ::chmod(file.c_str(), 0600);
  EXPECT_EQ(test_kit::read_file(file), text);
}

TEST_F(BadConfiguration, ADirectoryWhereTheFileShouldBeGivesTheDefaultsAndOneLine) {
  const std::string folder = path("I2C.INI");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const auto run = console(folder, kAllAdapters);
  expect_all_adapters_work(run, false);
  const auto lines = test_kit::lines_of(run.err, true);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0], "tarnwick: cannot read the configuration file " + folder +
                          " (Is a directory); every setting takes its default");
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode)) << "the directory was replaced by a file";
}

TEST_F(BadConfiguration, BinaryGarbageGivesTheDefaultsAndKeepsEveryByteWhenTheRecordIsAdded) {
  std::mt19937 random(20240607);
  std::string garbage(64 * 1024, '\0');
  for (char& byte : garbage) byte = static_cast<char>(random() & 0xFF);
  // Now and then something that looks like structure.
  for (std::size_t at = 0; at + 8 < garbage.size(); at += 997) garbage.replace(at, 3, "[\r=");
  const std::string file = path("I2C.INI");
  test_kit::write_file(file, garbage + "\n" + kCustomWiring);

  const auto run = console(file, kAllAdapters);
  expect_all_adapters_work(run);
  EXPECT_EQ(run.err, "");
  const std::string after = test_kit::read_file(file);
  EXPECT_EQ(after.substr(0, garbage.size()), garbage);
  EXPECT_EQ(debug_record(file, "Barbican"), "Base:0x378 Nops:0x100");
}

// A file of many sections up to the largest read is read to its end and
// kept whole; a larger one is refused with one line, every setting takes
// its default, and the file is left as it was.
TEST_F(BadConfiguration, LargeFilesAreReadToTheirEndAndKeptWholeUpToOneMebibyte) {
  struct Case {
    std::size_t size;
    bool read;
  };
  // Room under the bound for the debug records the adapters add.
  const Case cases[] = {{(1u << 20) - 4096, true}, {10u << 20, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes");
    const std::string tail = "[I2C para]\nNops = 3\n" + kCustomWiring + "Nops = 4\n";
    std::string text;
    text.reserve(c.size + 4096);
    for (int section = 0; text.size() + 2048 + tail.size() < c.size; ++section) {
      text += "; rig " + std::to_string(section) + " was calibrated on the old bench\n";
      text += "[Rig " + std::to_string(section) + "]\n";
      for (int key = 0; key < 20; ++key) {
        text += "Base = " + std::to_string(key) + "\nNops = " + std::to_string(section) + "\n";
      }
    }
    // The settings that count come last of all.
    text += tail;
    const std::string file = path("I2C.INI");
    test_kit::write_file(file, text);

    const auto run = console(file, kAllAdapters);
    expect_all_adapters_work(run, c.read);
    if (c.read) {
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(debug_record(file, "Bastion"), "Base:0x378 Nops:0x3");
      EXPECT_EQ(debug_record(file, "Barbican"), "Base:0x378 Nops:0x4");
      const std::string after = test_kit::read_file(file);
      EXPECT_EQ(after.substr(0, text.size()), text);
      continue;
    }
    const std::string refused =
        "cannot read the configuration file " + file + " (larger than 1 MiB)";
    const auto first = run.err.find(refused);
    EXPECT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(refused, first + 1), std::string::npos) << "told once: " << run.err;
    EXPECT_EQ(test_kit::read_file(file), text);
  }
}

TEST_F(BadConfiguration, LinesOfAHundredThousandCharactersAreCutToTheValueBuffer) {
  const std::string long_run(100'000, 'J');
  const std::string file = path("I2C.INI");
  // A value is read into 80 characters: 79 zeros of the long Nops remain,
  // which make Nops 0.
  const std::string text = "; " + long_run + "\n[" + long_run + "]\n" + long_run + " = 1\n" +
                           "[I2C para]\n; " + long_run + "\n" + long_run + " = 5\n" +
                           "Nops = " + std::string(100'000, '0') + "7\n" +
                           "Base = 378" + std::string(100'000, ' ') + "\n" + kCustomWiring +
                           long_run;
  test_kit::write_file(file, text);

  const auto run = console(file, kAllAdapters);
  expect_all_adapters_work(run);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(debug_record(file, "Bastion"), "Base:0x378 Nops:0x0");
  EXPECT_EQ(debug_record(file, "Barbican"), "Base:0x378 Nops:0x100");
  const std::string after = test_kit::read_file(file);
  EXPECT_EQ(after.substr(0, text.size()), text);
}

TEST_F(BadConfiguration, KeysBeforeAnySectionBelongToNoneAndChangeNothing) {
  const std::string file = path("I2C.INI");
  const std::string text = "Default = 2\nBase = 2F8\nNops = 5\n" + kCustomWiring;
  test_kit::write_file(file, text);
  const auto run = console(file, kAllAdapters);
  expect_all_adapters_work(run);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(debug_record(file, "Bastion"), "Base:0x378 Nops:0x100");
}

TEST_F(BadConfiguration, NumbersTooWideForTheirBitsKeepTheirLowBitsAndTheBenchSaysWhatItRefuses) {
  const std::string file = path("I2C.INI");
  test_kit::write_file(
      file,
      // Interface 65538 is interface 2; the other numbers are hexadecimal
      // and keep their low 16 bits (ports, Nops) or 8 bits (masks,
      // polarities). Nops 8000 is negative as 16 bits: no delay at all.
      "[I2C Device]\nDefault = 65538\n"
      "[I2C Card]\nBase = 10300\nNops = 30000\n"
      "[I2C para]\nBase = 10378\nNops = 18000\n"
      "[I2C para Gen]\nBase = FFFF0378\nNops = 123450000\n"
      "SDA IN Port = 10379\nSDA IN Bit = 180\nSDA IN Pol = 301\n"
      "SDA OUT Port = 10378\nSDA OUT Bit = 780\nSDA OUT Pol = 1FF\n"
      "SCL OUT Port = 1037A\nSCL OUT Bit = 208\nSCL OUT Pol = 100\n"
      "SCL IN Port = 123456789\nSCL IN Bit = 12345\nSCL IN Pol = 999\n"
      "[Simulation]\nCard Base = 10300\n");

  // Interface 2 came from Default, so the first round trip is the Philips
  // adapter's; "select 1" later reaches the card.
  const auto run = console(file, kAllAdapters);
  expect_all_adapters_work(run);
  EXPECT_EQ(debug_record(file, "Bastion"), "Base:0x378 Nops:0xFFFF8000");
  EXPECT_EQ(debug_record(file, "Barbican"), "Base:0x378 Nops:0x0");
  const auto lines = test_kit::lines_of(run.err, true);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0], "tarnwick: Card Base = \"10300\" in section \"Simulation\" of " + file +
                          " is not a hexadecimal port from 0 to FFFE; using 300");
}

}  // namespace
