// Whole console sessions on the simulated bench (the PCF8584 card, with a
// 24C02 EEPROM at 0xA0, an LM75 at 0x90, a PCF8574 at 0x40 and a DS1307 at
// 0xD0), compared byte for byte with what the person sees.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "tests/console/sondrel_process.h"

namespace {

using sondrel_test::banner;
using sondrel_test::Console;
using sondrel_test::Ending;
using sondrel_test::run_session;
using sondrel_test::Workspace;

// The scripts write the EEPROM and read it back at once, faster than any
// person types: no write cycle on their bench.
const std::string fast_card = "[I2C Card]\nNops = 0\n[Simulation]\nEEPROM Write Time = 0\n";

class ConsoleSession : public ::testing::Test {
 protected:
  // Runs `input` and compares everything after the banner; the session
  // must end by itself with `status`.
  void expect_session(const std::string& input, const std::string& expected, int status = 0) {
    const Ending ending = run_session(workspace, input);
    EXPECT_EQ(ending.output, banner + expected) << "input: " << input;
    EXPECT_EQ(ending.exit_status, status) << "input: " << input;
    EXPECT_EQ(ending.killed_by, 0);
  }

  Workspace workspace{fast_card};
};

std::string repeated(const std::string& item, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += item;
  return text;
}

const std::string help_text =
    "***************************\n"
    "**     Sondrel Help      **\n"
    "***************************\n"
    "List of commands : (commands are not case sensitive)\n"
    "Start     : Make a start condition on the bus.\n"
    "Close     : Make a close condition on the bus.\n"
    "Address x : Select slave at address 'x'.\n"
    "Write x,y,z,... : Send the data x,y,z,.. to the slave.\n"
    "Read n    : Read n bytes from the slave.\n"
    "Search    : Search all slaves on the bus ans prints its addresses\n"
    "Mode x    : Use decimal(0) or hexadecimal(1) mode to print data on screen.\n"
    "Help ou ? : Shaw this page.\n"
    "Info      : Print informations of  I2C driver in use\n"
    "Select    : Select which interface to use (1:internal, 2:parallel)\n"
    "Quit      : Close the bus and quit Sondrel.\n"
    "A command must be followed by space :\n"
    "   example : address 10 ( address10 will generate an error )\n"
    "The arguments must be separated by ',' :\n"
    "   example : write 0,5,10,1\n"
    "A line could have many commands separated bye ';' :\n"
    "   example : start ;address 10;write 1,2,5\n"
    "\n";

// ---- lines and commands ----

TEST_F(ConsoleSession, EmptyInputShowsBannerAndOnePromptAndEndsSilently) {
  expect_session("", "I2C (0) >");
  expect_session("\n \n\t \n", "I2C (0) >I2C (0) >I2C (0) >I2C (0) >");
}

TEST_F(ConsoleSession, TheCommandsOfALineRunInTurnAndTheEndClosesTheBus) {
  expect_session("start ;address 160;write 1,2,5\n",
                 "I2C (0) >Bus opened\nAddress : 160\nSent to slave : 1 2 5 \n"
                 "I2C (160) >Bus closed\n");
  expect_session("  start ;  help 1\n",
                 "I2C (0) >Bus opened\nERROR : Syntax.\nI2C (0) >Bus closed\n");
}

TEST_F(ConsoleSession, AWordThatNamesNoCommandDropsTheRestOfItsLine) {
  expect_session("start;address 10\nclose\n",
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Bus already closed.\nI2C (0) >");
  expect_session("START ;;CLOSE\nclose\n",
                 "I2C (0) >Bus opened\nERROR : Syntax.\nI2C (0) >Bus closed\nI2C (0) >");
  expect_session("address10\n", "I2C (0) >ERROR : Syntax.\nI2C (0) >");
}

TEST_F(ConsoleSession, AFailingCommandDoesNotStopTheCommandsAfterIt) {
  expect_session("close ;start\n",
                 "I2C (0) >ERROR : Bus already closed.\nBus opened\nI2C (0) >Bus closed\n");
  expect_session("START ;\n", "I2C (0) >Bus opened\nI2C (0) >Bus closed\n");
}

TEST_F(ConsoleSession, HelpInAnyCaseAndHelpWithAnArgument) {
  expect_session("help\n?\nHeLp\nhelp 1\n? 2\n",
                 "I2C (0) >" + help_text + "I2C (0) >" + help_text + "I2C (0) >" + help_text +
                     "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\nI2C (0) >");
}

TEST_F(ConsoleSession, EachCommandReadsItsNumbersInTheModeInForceWhenItIsReached) {
  expect_session("start ;mode 1;address 40\nmode 0;address 64\n",
                 "I2C (0) >Bus opened\nHexadecimal mode\nAddress : 40\n"
                 "I2C (0x40) >Decimal mode\nAddress : 64\nI2C (64) >Bus closed\n");
  expect_session("start ;mode 1;address a0\naddress 0xA0\nmode 0;address 0xA0\n",
                 "I2C (0) >Bus opened\nHexadecimal mode\nAddress : A0\n"
                 "I2C (0xa0) >Address : A0\n"
                 "I2C (0xa0) >Decimal mode\nERROR : No ACK from slave.\n"
                 "I2C (160) >Bus closed\n");
}

TEST_F(ConsoleSession, ALastLineWithoutLineEndStillRuns) {
  expect_session("start ;address 160",
                 "I2C (0) >Bus opened\nAddress : 160\nI2C (160) >Bus closed\n");
}

// ---- limits and odd input ----

TEST_F(ConsoleSession, ALineOf1023CharactersRunsAndALongerOneIsRefusedWhole) {
  const std::string head = "start ;";
  const std::string tail = "close";
  const std::string fits = head + std::string(1023 - head.size() - tail.size(), ' ') + tail;
  ASSERT_EQ(fits.size(), 1023u);
  expect_session(fits + "\n", "I2C (0) >Bus opened\nBus closed\nI2C (0) >");

  const std::string one_over = head + " " + fits.substr(head.size());
  ASSERT_EQ(one_over.size(), 1024u);
  expect_session(one_over + "\nclose\n",
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Bus already closed.\nI2C (0) >");

  // Its tail is never taken for a line of its own, even thousands of
  // characters on, nor when the input ends inside it.
  const std::string long_line = std::string(5000, ' ') + "start";
  expect_session(long_line + "\nhelp 1\n" + long_line,
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\n"
                 "I2C (0) >");
}

TEST_F(ConsoleSession, AVeryLongWordMatchesNothingAndTheConsoleGoesOn) {
  expect_session(std::string(3000, 'S') + " 1,2\nSTARTSTARTSTARTSTART\nstart\n",
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\nI2C (0) >Bus opened\n"
                 "I2C (0) >Bus closed\n");
}

TEST_F(ConsoleSession, ATwentiethNumberRefusesTheCommandBeforeItReachesTheBus) {
  std::string twenty = "write 0";
  for (int n = 1; n <= 19; ++n) twenty += "," + std::to_string(n);
  // Had the write gone out, the EEPROM would hold 1 at word address 0.
  expect_session("start ;address 160;" + twenty + ";close\nstart ;address 160;write 0;read 1\n",
                 "I2C (0) >Bus opened\nAddress : 160\nERROR : Syntax.\nBus closed\n"
                 "I2C (160) >Bus opened\nAddress : 160\nSent to slave : 0 \n"
                 "Read from slave : 255 \nI2C (160) >Bus closed\n");
}

TEST_F(ConsoleSession, NineteenNumbersGoOutInOneWriteWhateverEmptyFieldsSurroundThem) {
  std::string nineteen = "write ,0";
  std::string sent = "Sent to slave : 0 ";
  for (int n = 1; n <= 18; ++n) {
    nineteen += ",," + std::to_string(n);
    sent += std::to_string(n) + " ";
  }
  expect_session("start ;address 160;" + nineteen + ",x,\n",
                 "I2C (0) >Bus opened\nAddress : 160\n" + sent + "\nI2C (160) >Bus closed\n");
}

TEST_F(ConsoleSession, NulAndOtherBinaryBytesAreOrdinaryCharacters) {
  using namespace std::string_literals;
  expect_session("\0\nstart\0\n\x80start\nstart\x01;close\nstart\r\naddress 160;write 1,\0,\xFF,2\n"s,
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\n"
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >Bus opened\n"
                 "I2C (0) >Address : 160\nSent to slave : 1 2 \nI2C (160) >Bus closed\n");
}

TEST_F(ConsoleSession, WithoutMemoryForItsBuffersTheConsoleSaysSoAndEndsWithStatusOne) {
#if defined(__SANITIZE_ADDRESS__)
  // The refusing malloc must come before the sanitizer's runtime, which
  // otherwise insists on being the first library of the program.
  const char* inherited = std::getenv("ASAN_OPTIONS");
  const std::string options = inherited != nullptr ? inherited : "";
  setenv("ASAN_OPTIONS", (options + ":verify_asan_link_order=0").c_str(), 1);
#endif
  const Ending ending =
      run_session(workspace, "start\n", "LD_PRELOAD=" REFUSE_LINE_BUFFER_LIBRARY);
#if defined(__SANITIZE_ADDRESS__)
  if (inherited != nullptr) {
    setenv("ASAN_OPTIONS", options.c_str(), 1);
  } else {
    unsetenv("ASAN_OPTIONS");
  }
#endif
  EXPECT_EQ(ending.output, "");
  EXPECT_NE(ending.errors.find("sondrel: not enough memory"), std::string::npos) << ending.errors;
  EXPECT_EQ(ending.exit_status, 1);
}

TEST_F(ConsoleSession, InputSentAfterTheConsoleHasEndedIsLostWithoutEndingTheTest) {
  // The console can end before it reads its input (no memory, QUIT): the
  // writes that follow find no reader and must not kill the test.
  Console console(workspace);
  console.send("quit\n");
  EXPECT_FALSE(console.wait_for("never printed")) << console.output_so_far();
  console.send(repeated("start\n", 20000));  // more than a pipe holds
  const Ending ending = console.finish();
  EXPECT_EQ(ending.output, banner + "I2C (0) >");
  EXPECT_EQ(ending.exit_status, 0);
}

// ---- the bus commands ----

TEST_F(ConsoleSession, RefusalsComeInTheirOrderBeforeAnyBusCall) {
  expect_session("write 1,2,3\nwrite\nread\nread 0\nread 2\naddress\nsearch 1\nsearch\n",
                 "I2C (0) >ERROR : Bus not opened.\nI2C (0) >ERROR : Bus not opened.\n"
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\n"
                 "I2C (0) >ERROR : Bus not opened.\nI2C (0) >ERROR : Bus not opened.\n"
                 "I2C (0) >ERROR : Bus not opened.\nI2C (0) >ERROR : Bus not opened.\nI2C (0) >");
  expect_session("start\nstart\nstart 1\nclose 1\naddress 1,2\nwrite\nsearch 1\n",
                 "I2C (0) >Bus opened\nI2C (0) >ERROR : Bus already opened.\n"
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\n"
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >ERROR : Syntax.\nI2C (0) >Bus closed\n");
}

TEST_F(ConsoleSession, AReadIsCutToNineteenBytesAndACountOfZeroIsRefused) {
  expect_session("start ;address 160;read 100;read 256\nmode 1;read 100\n",
                 "I2C (0) >Bus opened\nAddress : 160\nRead from slave : " +
                     repeated("255 ", 19) +
                     "\nERROR : Syntax.\nI2C (160) >Hexadecimal mode\nERROR : Syntax.\n"
                     "I2C (0xa0) >Bus closed\n");
}

TEST_F(ConsoleSession, WrittenBytesReadBackAndShowInBothModes) {
  expect_session(
      "start ;address 160;write 16,17,-1,256;close\n"
      "start ;address 160;write 16;read 3;mode 1;write 10;read 3\n",
      "I2C (0) >Bus opened\nAddress : 160\nSent to slave : 16 17 255 0 \nBus closed\n"
      "I2C (160) >Bus opened\nAddress : 160\nSent to slave : 16 \nRead from slave : 17 255 0 \n"
      "Hexadecimal mode\nSent to slave : 10 \nRead from slave : 11 FF 0 \n"
      "I2C (0xa0) >Bus closed\n");
}

TEST_F(ConsoleSession, ARefusedAddressLeavesTheEarlierSlaveAddressedAndShown) {
  // The write after the refusal reaches the EEPROM only if it was
  // addressed again; the read-back shows it did.
  expect_session("start ;address 160;address 162\nwrite 7,99;close\n"
                 "start ;address 160;write 7;read 1\n",
                 "I2C (0) >Bus opened\nAddress : 160\nERROR : No ACK from slave.\n"
                 "I2C (160) >Sent to slave : 7 99 \nBus closed\n"
                 "I2C (160) >Bus opened\nAddress : 160\nSent to slave : 7 \n"
                 "Read from slave : 99 \nI2C (160) >Bus closed\n");
}

TEST_F(ConsoleSession, AReadTheLibraryRefusesWithANegativeResultIsNoAck) {
  // Without an address the card's read cannot re-address the placeholder
  // slave and answers -1; nothing else is printed.
  expect_session("start ;read 2\n", "I2C (0) >Bus opened\nERROR : No ACK.\nI2C (0) >Bus closed\n");
}

TEST_F(ConsoleSession, AWriteNoSlaveAcknowledgesIsNoAckAndSelectSwitchesAdapters) {
  // The Philips adapter counts only acknowledged bytes; without an address
  // the first byte is acknowledged by no one.
  expect_session("select 2\nstart ;write 1\nclose ;select 1;start ;address 160\n",
                 "I2C (0) >I2C (0) >Bus opened\nERROR : No ACK.\n"
                 "I2C (0) >Bus closed\nBus opened\nAddress : 160\nI2C (160) >Bus closed\n");
}

TEST_F(ConsoleSession, SearchListsTheSlavesInTheProbedRangeAndKeepsTheAddress) {
  expect_session("start ;address 144;search ;mode 1;search\n",
                 "I2C (0) >Bus opened\nAddress : 144\n"
                 "Slave at 64\nSlave at 144\nSlave at 160\n3 slaves on bus\n"
                 "Hexadecimal mode\n"
                 "Slave at 0x40\nSlave at 0x90\nSlave at 0xA0\n3 slaves on bus\n"
                 "I2C (0x90) >Bus closed\n");
}

TEST_F(ConsoleSession, ModeDelayAndSelectTakeExactlyOneNumber) {
  expect_session("mode 2\nmode 1\nmode 1\nmode\nmode 0,1\ndelay 5\ndelay\ndelay 1,2\n"
                 "select\nselect 1\nstart ;select 2\n",
                 "I2C (0) >ERROR : Syntax.\nI2C (0) >Hexadecimal mode\n"
                 "I2C (0x0) >Hexadecimal mode\nI2C (0x0) >ERROR : Syntax.\n"
                 "I2C (0x0) >ERROR : Syntax.\nI2C (0x0) >I2C (0x0) >ERROR : Syntax.\n"
                 "I2C (0x0) >ERROR : Syntax.\nI2C (0x0) >ERROR : Syntax.\nI2C (0x0) >"
                 "I2C (0x0) >Bus opened\nERROR : Bus already opened.\nI2C (0x0) >Bus closed\n");
}

TEST_F(ConsoleSession, QuitClosesTheBusAndRunsNothingAfterIt) {
  expect_session("start\nquit 1\nquit ;close\nhelp\n",
                 "I2C (0) >Bus opened\nI2C (0) >ERROR : Syntax.\nI2C (0) >Bus closed\n");
  expect_session("quit\nstart\n", "I2C (0) >");
}

TEST_F(ConsoleSession, InfoLeavesTheConsoleOutputAloneAndTheLibraryShowsItsBox) {
  const Ending ending = run_session(workspace, "info\ninfo 1\n");
  EXPECT_EQ(ending.output, banner + "I2C (0) >I2C (0) >ERROR : Syntax.\nI2C (0) >");
  EXPECT_NE(ending.errors.find("In use : PCF8584 card"), std::string::npos) << ending.errors;
}

// ---- the adapter shared with other processes ----

TEST_F(ConsoleSession, ABusHeldByAnotherConsoleMakesStartReportTheInterfaceBusy) {
  Console holder(workspace);
  holder.send("start\n");
  ASSERT_TRUE(holder.wait_for("Bus opened\nI2C (0) >")) << holder.output_so_far();
  // The stop that follows a failed start must not hand the holder's lock
  // to the next console.
  expect_session("start\n", "I2C (0) >ERROR : Interface is busy.\nI2C (0) >");
  expect_session("start\n", "I2C (0) >ERROR : Interface is busy.\nI2C (0) >");
  holder.send("close\n");
  ASSERT_TRUE(holder.wait_for("Bus closed\nI2C (0) >")) << holder.output_so_far();
  expect_session("start\n", "I2C (0) >Bus opened\nI2C (0) >Bus closed\n");
  EXPECT_EQ(holder.finish().exit_status, 0);
}

TEST_F(ConsoleSession, AStartThatFlagsABusErrorGivesTheCardBackForOthers) {
  // The card opens its bus but flags the error: the console reports the
  // interface busy and stops again, so that a second console can start
  // while the first is still running.
  const std::string faulty =
      workspace.add_configuration("faulty.ini", fast_card + "Bus Error = 1\n");
  Console first(workspace, Console::Input::pipe, faulty);
  first.send("start\n");
  ASSERT_TRUE(first.wait_for("ERROR : Interface is busy.\nI2C (0) >")) << first.output_so_far();
  expect_session("start\n", "I2C (0) >Bus opened\nI2C (0) >Bus closed\n");
  const Ending ending = first.finish();
  EXPECT_EQ(ending.output, banner + "I2C (0) >ERROR : Interface is busy.\nI2C (0) >");
}

// ---- ending on a signal ----

TEST_F(ConsoleSession, InterruptTerminateOrHangUpWithTheBusOpenClosesItFirst) {
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    Console console(workspace);
    console.send("start ;address 160\n");
    ASSERT_TRUE(console.wait_for("I2C (160) >")) << console.output_so_far();
    console.signal(number);
    const Ending ending = console.finish();
    EXPECT_EQ(ending.output, banner + "I2C (0) >Bus opened\nAddress : 160\nI2C (160) >Bus closed\n");
    EXPECT_EQ(ending.exit_status, 128 + number) << "signal " << number;
    EXPECT_EQ(ending.killed_by, 0);
  }
  // No lock is left behind.
  expect_session("start\n", "I2C (0) >Bus opened\nI2C (0) >Bus closed\n");
}

TEST_F(ConsoleSession, AHangUpTheStartingShellIgnoresStaysIgnored) {
  // As under nohup: the console inherits the ignored hang-up.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGHUP, &ignore, &previous);
  Console console(workspace);
  sigaction(SIGHUP, &previous, nullptr);
  ASSERT_TRUE(console.wait_for("I2C (0) >"));
  console.signal(SIGHUP);
  console.send("start\n");
  const Ending ending = console.finish();
  EXPECT_EQ(ending.output, banner + "I2C (0) >Bus opened\nI2C (0) >Bus closed\n");
  EXPECT_EQ(ending.exit_status, 0);
}

TEST_F(ConsoleSession, InterruptWithTheBusClosedEndsSilently) {
  Console console(workspace);
  ASSERT_TRUE(console.wait_for("I2C (0) >"));
  console.signal(SIGINT);
  const Ending ending = console.finish();
  EXPECT_EQ(ending.output, banner + "I2C (0) >");
  EXPECT_EQ(ending.exit_status, 130);
}

}  // namespace
