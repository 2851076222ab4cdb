// The console on the real-hardware backends of the port layer, on a machine
// without the hardware or the rights to reach it: one line says what failed
// and what to do, and the console goes on answering every command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "tests/hardening/hardening_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/tarnwick_harness.h"

namespace {

// Help, then a START that the card cannot honour (every port reads FF, so
// its status shows a bus error), a DELAY, a MODE and QUIT.
const std::string kInput = "help\nstart\ndelay 5\nmode 1\nquit\n";

class PortBackends : public ::testing::Test {
 protected:
  test_kit::Run console(const std::string& port_io, bool unprivileged = false) const {
    // Nops 0: with no card the status never shows a finished byte, and each
    // of the card's waits for one polls it 99999 times.
    test_kit::Program options = sondrel("[I2C Card]\nNops = 0\n[Port IO]\n" + port_io, kInput);
    options.as_other_user = unprivileged;
    return test_kit::run_program(options);
  }

  // The console on the bench's libraries, with I2C.INI holding `configuration`.
  test_kit::Program sondrel(const std::string& configuration, const std::string& input) const {
    const std::string file = environment_.file("I2C.INI");
    test_kit::write_file(file, configuration);
    test_kit::Program options;
    options.timeout_ms = 60000;
    options.argv = {SONDREL_PROGRAM};
    options.input = input;
    options.directory = environment_.directory();
    options.environment = {"I2C_INI=" + file};
    options.libraries = {{TARNWICK_LIBRARY_FILE, TARNWICK_SONAME},
                         {DLPORTIO_LIBRARY_FILE, DLPORTIO_SONAME},
                         {BENCH_OBJECT_FILE, BENCH_OBJECT_SONAME}};
    return options;
  }

  static void expect_console_answers(const test_kit::Run& run) {
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.out.find("**     Sondrel Help      **\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("I2C (0) >ERROR : Interface is busy.\nI2C (0) >I2C (0) >"
                              "Hexadecimal mode\nI2C (0x0) >"),
              std::string::npos)
        << run.out;
  }

  std::string path(const std::string& name) const { return environment_.file(name); }

  harness::Environment environment_;
};

TEST_F(PortBackends, DirectPortsWithoutTheRightToUseThemGiveOneLineAndAConsoleThatAnswers) {
  // Root may reach the ports; the console must not touch the machine's
  // real ones here, so it runs as an ordinary user.
  if (::geteuid() == 0 && !test_kit::can_switch_user()) {
    GTEST_SKIP() << "running as root and cannot run the console as another user";
  }
  ASSERT_EQ(::chmod(environment_.directory().c_str(), 0777), 0);
  const auto run = console("Backend = direct\n", true);
  expect_console_answers(run);
  const auto lines = test_kit::lines_of(run.err, true);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind("tarnwick: cannot reach I/O port 0301 directly (ioperm: ", 0),
            0u)
      << lines[0];
  // A kernel without ioperm (ENOSYS, as in some sandboxes) is told apart
  // from missing rights.
  const bool no_ioperm = lines[0].find(std::strerror(ENOSYS)) != std::string::npos;
  EXPECT_NE(lines[0].find(std::string(no_ioperm ? "; use Backend = ppdev for a parallel port, or "
                                                : "; run as root (or with CAP_SYS_RAWIO) on an x86 "
                                                  "PC, or ") +
                          "set Backend = sim in section \"Port IO\" of " + path("I2C.INI")),
            std::string::npos)
      << lines[0];
}

TEST_F(PortBackends, AParallelPortDeviceThatDoesNotExistGivesOneLineAndAConsoleThatAnswers) {
  const auto run = console("Backend = ppdev\nParport = " + path("parport9") + "\n");
  expect_console_answers(run);
  const auto lines = test_kit::lines_of(run.err, true);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0], "tarnwick: cannot open parallel port " + path("parport9") +
                          " (No such file or directory); check key Parport in section \"Port "
                          "IO\" of " + path("I2C.INI") +
                          " (or set Backend = sim there); until then port reads give FF and "
                          "writes are ignored");
}

TEST_F(PortBackends, ADeviceThatIsNoParallelPortGivesOneLineAndAConsoleThatAnswers) {
  const auto run = console("Backend = ppdev\nParport = /dev/null\n");
  expect_console_answers(run);
  const auto lines = test_kit::lines_of(run.err, true);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind("tarnwick: cannot claim parallel port /dev/null for this process alone (",
                           0),
            0u)
      << lines[0];
}

// The lines of one sample wiring in I2C.INI.example, without their mark.
std::string sample_wiring(const std::string& mark) {
  std::ifstream sample(INI_EXAMPLE);
  std::string wiring;
  for (std::string line; std::getline(sample, line);) {
    if (line.rfind(mark, 0) == 0) wiring += line.substr(mark.size()) + "\n";
  }
  return wiring;
}

struct Wired {
  const char* name;
  const char* mark;
};

const Wired kWired[] = {{"Ftdi", ";ftdi> "}, {"Gpio", ";gpio> "}};

// SEARCH, a page of the 24C02 written and read back, the LM75's
// temperature: through the Custom adapter, the backend, the stand-in of its
// library and the bench, as on the bench's Philips adapter.
const std::string kSession =
    "mode 1\nstart\nsearch\nclose\n"
    "start\naddress a0\nwrite 8,11,22,33,44,55,66,77,88\nclose\n"
    "start\naddress a0\nwrite 8\naddress a1\nread 8\nclose\n"
    "start\naddress 90\nwrite 0\naddress 91\nread 2\nclose\nquit\n";

class SampleWiring : public PortBackends, public ::testing::WithParamInterface<Wired> {
 protected:
  test_kit::Run session(const std::string& configuration, const std::string& input,
                                bool stand_in) const {
    test_kit::Program options = sondrel(configuration, input);
    if (stand_in) {
      options.environment.push_back(std::string("LD_PRELOAD=") + STANDIN_LIBRARY);
      // In the sanitizer build the preloaded stand-in comes before the
      // sanitizer runtime in the load order, which the runtime would refuse.
      const char* asan = std::getenv("ASAN_OPTIONS");
      options.environment.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                                    ":verify_asan_link_order=0");
    }
    return test_kit::run_program(options);
  }
};

TEST_P(SampleWiring, AConsoleSessionGivesWhatThePhilipsAdapterGivesOnTheBench) {
  const std::string wiring = sample_wiring(GetParam().mark);
  ASSERT_NE(wiring.find("[I2C para Gen]"), std::string::npos) << "no sample wiring";
  // The page is read back at once: no write cycle. The card stays
  // uninitialised, as on the Custom adapter's bench, so that it does not
  // answer SEARCH at its own address 0xAA.
  const std::string at_once = "[Simulation]\nEEPROM Write Time = 0\n";
  const auto philips = session("[Port IO]\nBackend = sim\n[I2C Device]\nDefault = 2\n" + at_once,
                               "select 2\n" + kSession, false);
  const auto custom = session(wiring + at_once, "select 3\n" + kSession, true);
  ASSERT_EQ(philips.exit_status, 0) << philips.err;
  EXPECT_NE(philips.out.find("Slave at 0x90\nSlave at 0xA0\n3 slaves on bus\n"),
            std::string::npos)
      << philips.out;
  EXPECT_NE(philips.out.find("Read from slave : 11 22 33 44 55 66 77 88 \n"), std::string::npos)
      << philips.out;
  EXPECT_EQ(custom.out, philips.out);
  EXPECT_EQ(custom.exit_status, 0);
  // No bus protocol violation and no word from the port layer.
  EXPECT_EQ(custom.err, "");
}

INSTANTIATE_TEST_SUITE_P(Backends, SampleWiring, ::testing::ValuesIn(kWired),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortBackends, AMissingFtdiChipOrGpioChipGivesOneLineAndAConsoleThatAnswers) {
  const struct {
    std::string port_io;
    std::string line_start;
  } missing[] = {
      {"Backend = ftdi\nFTDI Device = i:0x0403:0x6010\n",
       "tarnwick: cannot "},
      {"Backend = gpio\nGPIO Chip = " + path("gpiochip3") + "\nGPIO Lines = 2 3\n",
       "tarnwick: cannot open GPIO chip " + path("gpiochip3") +
           " (No such file or directory); check that the chip exists"},
  };
  for (const auto& m : missing) {
    // The real libraries here: no such chip on a machine without one.
    const auto run = console(m.port_io);
    expect_console_answers(run);
    const auto lines = test_kit::lines_of(run.err, true);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_EQ(lines[0].rfind(m.line_start, 0), 0u) << lines[0];
    // Without USB access libftdi cannot start at all; either way the line
    // names the device and what to check.
    EXPECT_NE(lines[0].find(m.port_io.find("ftdi") != std::string::npos
                                ? "FTDI device i:0x0403:0x6010"
                                : "the group that owns it"),
              std::string::npos)
        << lines[0];
  }
}

}  // namespace
