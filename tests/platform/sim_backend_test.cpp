// The port layer over the simulated bench: which backend runs, what ports
// nothing decodes give, the access count and what reaches the terminal.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "tests/platform/portio_fixture.h"

namespace portio_test {
namespace {

using SimBackend = PortIoTest;

TEST_F(SimBackend, IsTheDefaultWithoutAnyConfigurationFile) {
  EXPECT_STREQ(portio::backend_name(), "sim");
}

TEST_F(SimBackend, IsChosenByTheBackendKeyInAnyLetterCase) {
  configure("[Port IO]\nBackend = SIM\n");
  EXPECT_STREQ(portio::backend_name(), "sim");
}

TEST_F(SimBackend, UnknownBackendValueIsReportedOnceAndTheBenchRuns) {
  configure("[Port IO]\nBackend = parallel\n");
  CapturedOutput err(2);
  EXPECT_STREQ(portio::backend_name(), "sim");
  const auto lines = lines_of(err.text());
  ASSERT_EQ(lines.size(), 1u) << err.text();
  EXPECT_NE(lines[0].find("Backend = \"parallel\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(config_path()), std::string::npos) << lines[0];
}

TEST_F(SimBackend, PortsThatNothingDecodesReadFFAndIgnoreWrites) {
  for (unsigned long port : {0x0000ul, 0x02FFul, 0x0302ul, 0x0377ul, 0x037Bul,
                             0x8000ul, 0xFFFFul}) {
    DlPortWritePortUchar(port, 0x00);
    EXPECT_EQ(DlPortReadPortUchar(port), 0xFF) << "port " << std::hex << port;
  }
}

TEST_F(SimBackend, PortNumbersWrapAtSixteenAddressLines) {
  DlPortWritePortUchar(0x10378, 0x5A);
  EXPECT_EQ(DlPortReadPortUchar(0x378), 0x5A);
  EXPECT_EQ(DlPortReadPortUchar(0xFFFF037Aul), 0x0C);
}

TEST_F(SimBackend, CountsEveryAccessUntilReconfigured) {
  EXPECT_EQ(SimBenchAccessCount(), 0u);
  for (int i = 0; i < 5; ++i) DlPortReadPortUchar(0x379);
  for (int i = 0; i < 3; ++i) DlPortWritePortUchar(0x378, 0);
  EXPECT_EQ(SimBenchAccessCount(), 8u);
  portio::restart();
  EXPECT_EQ(SimBenchAccessCount(), 0u);
  DlPortReadPortUchar(0x379);
  EXPECT_EQ(SimBenchAccessCount(), 1u);
}

TEST_F(SimBackend, RestartsFromPowerUpAfterReconfigure) {
  DlPortWritePortUchar(0x378, 0x80);
  portio::restart();
  EXPECT_EQ(DlPortReadPortUchar(0x378), 0x00);
}

TEST_F(SimBackend, SaysNothingWhenStandardErrorIsNoTerminal) {
  CapturedOutput out(1);
  CapturedOutput err(2);
  DlPortReadPortUchar(0x379);
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(out.text(), "");
}

// With a person at the terminal, one line tells which backend runs and
// where it was chosen.
TEST_F(SimBackend, NamesItselfInOneLineWhenStandardErrorIsATerminal) {
  configure("[Port IO]\nBackend = sim\n");
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  CapturedOutput out(1);
  std::fflush(nullptr);
  const int saved = ::dup(2);
  ::dup2(terminal, 2);
  DlPortReadPortUchar(0x379);
  DlPortReadPortUchar(0x379);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(terminal);

  std::string shown;
  pollfd ready{master, POLLIN, 0};
  char chunk[512];
  while (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN)) {
    const ssize_t n = ::read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    shown.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(master);
  EXPECT_EQ(shown, "tarnwick: simulated bench (Backend = sim in section \"Port IO\" of " +
                       config_path() + ")\r\n");
  EXPECT_EQ(out.text(), "");
}

}  // namespace
}  // namespace portio_test
