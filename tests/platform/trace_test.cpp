// The port trace: one line per access in order, complete on every normal
// way out, and never written twice.
#include <unistd.h>

#include "platform/portio/trace_log.h"
#include "tests/platform/portio_fixture.h"

namespace portio_test {
namespace {

using PortTrace = PortIoTest;

TEST_F(PortTrace, RecordsEveryAccessAsOneLineInOrder) {
  configure("[Port IO]\nTrace = " + path("trace.txt") + "\n");
  DlPortWritePortUchar(0x378, 0xC0);
  DlPortReadPortUchar(0x378);
  DlPortReadPortUchar(0x37A);
  DlPortReadPortUchar(0x0042);
  DlPortWritePortUchar(0xABCD, 0x0F);
  portio::restart();
  EXPECT_EQ(read_file(path("trace.txt")),
            "W 0378 C0\n"
            "R 0378 C0\n"
            "R 037A 0C\n"
            "R 0042 FF\n"
            "W ABCD 0F\n");
}

TEST_F(PortTrace, AppendsToWhatTheFileAlreadyHolds) {
  test_kit::write_file(path("trace.txt"), "earlier run\n");
  configure("[Port IO]\nTrace = " + path("trace.txt") + "\n");
  DlPortReadPortUchar(0x0100);
  portio::restart();
  EXPECT_EQ(read_file(path("trace.txt")), "earlier run\nR 0100 FF\n");
}

TEST_F(PortTrace, IsCompleteWhenTheProcessExitsNormally) {
  configure("[Port IO]\nTrace = " + path("trace.txt") + "\n");
  constexpr int kAccesses = 20000;  // several buffers' worth
  const int status = in_child([] {
    for (int i = 0; i < kAccesses; ++i) {
      DlPortWritePortUchar(0x0200, static_cast<unsigned char>(i));
    }
  });
  ASSERT_EQ(status, 0);
  const auto lines = lines_of(read_file(path("trace.txt")));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kAccesses));
  EXPECT_EQ(lines.front(), "W 0200 00");
  EXPECT_EQ(lines.back(), "W 0200 1F");  // 19999 = 0x4E1F
}

TEST_F(PortTrace, ForkingDoesNotWriteBufferedLinesTwice) {
  configure("[Port IO]\nTrace = " + path("trace.txt") + "\n");
  DlPortWritePortUchar(0x0200, 0x01);
  DlPortWritePortUchar(0x0200, 0x02);
  ASSERT_EQ(in_child([] {}), 0);
  portio::restart();
  EXPECT_EQ(read_file(path("trace.txt")), "W 0200 01\nW 0200 02\n");
}

// Told once, naming the file: at the open, or at the first write that
// fails (a full disk), however many accesses follow.
TEST_F(PortTrace, ThatCannotBeOpenedOrWrittenIsReportedOnceAndThePortsStillWork) {
  for (const std::string& trace : {path("missing/trace.txt"), std::string("/dev/full")}) {
    SCOPED_TRACE(trace);
    configure("[Port IO]\nTrace = " + trace + "\n");
    CapturedOutput err(2);
    for (int access = 0; access < 20000; ++access) {
      DlPortWritePortUchar(0x378, 0x33);
      ASSERT_EQ(DlPortReadPortUchar(0x378), 0x33);
    }
    portio::restart();
    const auto lines = lines_of(err.text());
    ASSERT_EQ(lines.size(), 1u) << err.text();
    EXPECT_NE(lines[0].find(trace), std::string::npos) << lines[0];
  }
}

TEST_F(PortTrace, CarriesBusViolationsRightAfterTheAccessThatCausedThem) {
  configure("[Port IO]\nTrace = " + path("trace.txt") + "\n");
  DlPortWritePortUchar(0x378, 0x80);  // START
  for (int bit = 0; bit < 2; ++bit) {
    DlPortWritePortUchar(0x37A, 0x04);
    DlPortWritePortUchar(0x37A, 0x0C);
  }
  DlPortWritePortUchar(0x378, 0x00);  // STOP in the middle of the byte
  DlPortWritePortUchar(0x37A, 0x0C);
  EXPECT_EQ(SimBenchViolations(), 1u);
  portio::restart();
  const auto lines = lines_of(read_file(path("trace.txt")));
  ASSERT_EQ(lines.size(), 8u) << read_file(path("trace.txt"));
  EXPECT_EQ(lines[5], "W 0378 00");
  EXPECT_EQ(lines[6].rfind("! ", 0), 0u) << lines[6];
  EXPECT_EQ(lines[7], "W 037A 0C");
}

TEST(TraceLog, PutsEachViolationAfterTheAccessDuringWhichItWasFound) {
  const test_kit::ScratchFolder scratch("trace-log-");
  const std::string file = scratch.file("t");
  {
    std::string error;
    auto log = portio::TraceLog::open(file, error);
    ASSERT_NE(log, nullptr) << error;
    log->access('W', 0x37A, 0x04);
    log->violation("! SDA changed while SCL high");
    log->access('R', 0x379, 0xA8);
    log->access('R', 0x379, 0x28);
  }
  EXPECT_EQ(read_file(file),
            "W 037A 04\nR 0379 A8\n! SDA changed while SCL high\nR 0379 28\n");
}

}  // namespace
}  // namespace portio_test
