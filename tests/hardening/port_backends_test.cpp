// The console on the real-hardware backends of the port layer, on a machine
// without the hardware or the rights to reach it: one line says what failed
// and what to do, and the console goes on answering every command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/hardening/hardening_support.h"
#include "tests/support/tarnwick_harness.h"

namespace {

// Help, then a START that the card cannot honour (every port reads FF, so
// its status shows a bus error), a DELAY, a MODE and QUIT.
const std::string kInput = "help\nstart\ndelay 5\nmode 1\nquit\n";

class PortBackends : public ::testing::Test {
 protected:
  hardening::ProgramRun console(const std::string& port_io, bool unprivileged = false) const {
    const std::string file = environment_.file("I2C.INI");
    // Nops 0: with no card the status never shows a finished byte, and each
    // of the card's waits for one polls it 99999 times.
    hardening::write_file(file, "[I2C Card]\nNops = 0\n[Port IO]\n" + port_io);
    hardening::ProgramOptions options;
    options.program = SONDREL_PROGRAM;
    options.input = kInput;
    options.directory = environment_.directory();
    options.environment = {"I2C_INI=" + file};
    options.unprivileged = unprivileged;
    options.libraries = {{TARNWICK_LIBRARY_FILE, TARNWICK_SONAME},
                         {DLPORTIO_LIBRARY_FILE, DLPORTIO_SONAME},
                         {BENCH_OBJECT_FILE, BENCH_OBJECT_SONAME}};
    return hardening::run_program(options);
  }

  static void expect_console_answers(const hardening::ProgramRun& run) {
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_NE(run.output.find("**     Sondrel Help      **\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("I2C (0) >ERROR : Interface is busy.\nI2C (0) >I2C (0) >"
                              "Hexadecimal mode\nI2C (0x0) >"),
              std::string::npos)
        << run.output;
  }

  std::string path(const std::string& name) const { return environment_.file(name); }

  harness::Environment environment_;
};

TEST_F(PortBackends, DirectPortsWithoutTheRightToUseThemGiveOneLineAndAConsoleThatAnswers) {
  // Root may reach the ports; the console must not touch the machine's
  // real ones here, so it runs as an ordinary user.
  if (::geteuid() == 0 && !hardening::can_drop_privileges()) {
    GTEST_SKIP() << "running as root and cannot run the console as another user";
  }
  ASSERT_EQ(::chmod(environment_.directory().c_str(), 0777), 0);
  const auto run = console("Backend = direct\n", true);
  expect_console_answers(run);
  const auto lines = hardening::lines_of(run.errors);
  ASSERT_EQ(lines.size(), 1u) << run.errors;
  EXPECT_EQ(lines[0].rfind("tarnwick: cannot reach I/O port 0301 directly (ioperm: ", 0),
            0u)
      << lines[0];
  EXPECT_NE(lines[0].find("; run as root (or with CAP_SYS_RAWIO) on an x86 PC, or set Backend = "
                          "sim in section \"Port IO\" of " +
                          path("I2C.INI")),
            std::string::npos)
      << lines[0];
}

TEST_F(PortBackends, AParallelPortDeviceThatDoesNotExistGivesOneLineAndAConsoleThatAnswers) {
  const auto run = console("Backend = ppdev\nParport = " + path("parport9") + "\n");
  expect_console_answers(run);
  const auto lines = hardening::lines_of(run.errors);
  ASSERT_EQ(lines.size(), 1u) << run.errors;
  EXPECT_EQ(lines[0], "tarnwick: cannot open parallel port " + path("parport9") +
                          " (No such file or directory); check key Parport in section \"Port "
                          "IO\" of " + path("I2C.INI") +
                          " (or set Backend = sim there); until then port reads give FF and "
                          "writes are ignored");
}

TEST_F(PortBackends, ADeviceThatIsNoParallelPortGivesOneLineAndAConsoleThatAnswers) {
  const auto run = console("Backend = ppdev\nParport = /dev/null\n");
  expect_console_answers(run);
  const auto lines = hardening::lines_of(run.errors);
  ASSERT_EQ(lines.size(), 1u) << run.errors;
  EXPECT_EQ(lines[0].rfind("tarnwick: cannot claim parallel port /dev/null for this process alone (",
                           0),
            0u)
      << lines[0];
}

}  // namespace
