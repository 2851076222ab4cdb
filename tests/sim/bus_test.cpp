// The bus itself: wired-AND lines, events to the slaves, and the protocol
// violations it notices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "tests/sim/faces.h"
#include "tests/support/line_master.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A slave that writes down what the bus told it and sends 0x00, 0x01, ...
class Recorder final : public sim::Device {
 public:
  Recorder(std::uint8_t address, std::string& log) : address_(address), log_(log) {}
  std::uint8_t address() const override { return address_; }
  void on_start() override { note("S"); }
  void on_selected(bool read) override { note(read ? "R" : "W"); }
  bool on_write(std::uint8_t byte) override {
    note("w" + std::to_string(byte));
    return true;
  }
  std::uint8_t on_read() override {
    note("r");
    return next_++;
  }
  void on_stop() override { note("P"); }

 private:
  void note(const std::string& event) {
    log_ += std::to_string(address_) + event + " ";
  }
  std::uint8_t address_;
  std::string& log_;
  std::uint8_t next_ = 0;
};

class BusTest : public ::testing::Test {
 protected:
  BusTest() {
    bus.attach(std::make_unique<Recorder>(0x20, log));
    bus.attach(std::make_unique<Recorder>(0x30, log));
    bus.on_violation([this](std::string_view line) { lines.emplace_back(line); });
  }
  std::string all_lines() const {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
  }

  sim::Bus bus;
  std::string log;
  std::vector<std::string> lines;
};

TEST_F(BusTest, EveryDeviceHearsStartAndStopButOnlyTheAddressedOneIsSelected) {
  test_kit::BusLineMaster master(bus);
  master.start();
  EXPECT_TRUE(master.write(0x30));
  EXPECT_TRUE(master.write(7));
  master.start();
  EXPECT_TRUE(master.write(0x31));
  EXPECT_EQ(master.read(true), 0);
  EXPECT_EQ(master.read(false), 1);
  master.stop();
  EXPECT_EQ(log, "32S 48S 48W 48w7 32S 48S 48R 48r 48r 32P 48P ");
  EXPECT_EQ(bus.device_at(0x31), bus.device_at(0x30));
  EXPECT_EQ(bus.device_at(0x40), nullptr);
  EXPECT_EQ(bus.violations(), 0u) << all_lines();
}

TEST_F(BusTest, LinesAreTheWiredAndOfEveryMaster) {
  const int a = bus.add_line_master();
  const int b = bus.add_line_master();
  EXPECT_TRUE(bus.sda());
  EXPECT_TRUE(bus.scl());
  bus.drive(a, false, true);
  bus.drive(b, true, true);
  EXPECT_FALSE(bus.sda());
  bus.drive(a, true, true);
  EXPECT_TRUE(bus.sda());
  bus.drive(b, true, false);
  EXPECT_FALSE(bus.scl());
  bus.drive(b, true, true);
  EXPECT_TRUE(bus.scl());
}

TEST_F(BusTest, BothLinesSwitchedInOneAccessMakeNoStartNobodyMeant) {
  const int a = bus.add_line_master();
  bus.drive(a, false, false);  // clock falls first, then data: no START
  bus.drive(a, true, true);    // data rises first, then the clock: no STOP
  EXPECT_EQ(log, "");
  EXPECT_EQ(bus.violations(), 0u) << all_lines();
}

TEST_F(BusTest, CleanTransactionsThroughBothFacesReportNothing) {
  test_kit::BusLineMaster line(bus);
  tw_test::ByteFace byte(bus);
  for (tw_test::Face* face : std::initializer_list<tw_test::Face*>{nullptr, &byte}) {
    if (face == nullptr) {
      line.start();
      line.write(0x20);
      line.write(1);
      line.start();
      line.write(0x21);
      line.read(true);
      line.read(false);
      line.stop();
      line.start();
      line.write(0x50);  // unknown: NACK, then STOP
      line.stop();
    } else {
      face->send(0x20, {1});
      face->read_from(0x20, 1, 2);
      face->send(0x50, {1});
    }
  }
  EXPECT_EQ(bus.violations(), 0u) << all_lines();
}

TEST_F(BusTest, StartInTheMiddleOfAByteIsReported) {
  test_kit::BusLineMaster master(bus);
  master.start();
  master.write(0x20);
  for (int bit = 0; bit < 3; ++bit) {
    master.sda(true);
    master.scl(true);
    master.scl(false);
  }
  master.start();
  ASSERT_EQ(lines.size(), 1u) << all_lines();
  EXPECT_EQ(lines[0].rfind("! START in the middle of a byte, after 3 of 9 clocks", 0), 0u)
      << lines[0];
  EXPECT_EQ(bus.violations(), 1u);
  // The START still counts: the next address goes through.
  EXPECT_TRUE(master.write(0x30));
}

TEST_F(BusTest, StopInTheMiddleOfAByteIsReportedAndStillEndsTheTransfer) {
  test_kit::BusLineMaster master(bus);
  master.start();
  master.write(0x20);
  master.sda(false);
  master.scl(true);
  master.scl(false);
  master.stop();
  ASSERT_EQ(lines.size(), 1u) << all_lines();
  EXPECT_EQ(lines[0].rfind("! STOP in the middle of a byte", 0), 0u) << lines[0];
  EXPECT_NE(log.find("32P"), std::string::npos);
}

TEST_F(BusTest, MasterHoldingSdaLowWhileTheSlaveSendsIsReported) {
  test_kit::BusLineMaster master(bus);
  master.start();
  master.write(0x31);
  // Reads the first byte (0x00 from the recorder) but keeps SDA low.
  master.sda(false);
  master.scl(true);
  master.scl(false);
  ASSERT_EQ(lines.size(), 1u) << all_lines();
  EXPECT_EQ(lines[0].rfind("! master holding SDA low while the slave sends read bit 7", 0), 0u)
      << lines[0];
}

TEST_F(BusTest, MasterHoldingSdaLowInTheAcknowledgeClockIsReported) {
  test_kit::BusLineMaster master(bus);
  master.start();
  for (int bit = 0; bit < 8; ++bit) {  // 0x00: nobody there
    master.sda(false);
    master.scl(true);
    master.scl(false);
  }
  master.scl(true);  // SDA still held: it reads as an ACK
  EXPECT_FALSE(bus.sda());
  master.scl(false);
  master.stop();
  ASSERT_EQ(lines.size(), 1u) << all_lines();
  EXPECT_EQ(lines[0].rfind("! master holding SDA low during the acknowledge clock", 0), 0u)
      << lines[0];
}

TEST_F(BusTest, StopAfterAnAcknowledgedLastReadByteIsReportedAndStillStops) {
  tw_test::ByteFace face(bus);
  face.start();
  ASSERT_TRUE(face.write(0x31));
  EXPECT_EQ(face.read(true), 0);  // ACK: the slave starts on the next byte
  face.stop();
  ASSERT_EQ(lines.size(), 1u) << all_lines();
  EXPECT_EQ(lines[0].rfind("! STOP while the slave sends: the last byte read must "
                           "be answered with NACK", 0), 0u)
      << lines[0];
  EXPECT_TRUE(bus.sda());
  EXPECT_TRUE(bus.scl());
  EXPECT_EQ(log.substr(log.size() - 8), "32P 48P ");
}

TEST_F(BusTest, ControllerFindingSclHeldByAnotherMasterReportsIt) {
  const int other = bus.add_line_master();
  bus.drive(other, true, false);
  bus.start();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("! SCL held low by another master", 0), 0u) << lines[0];
  EXPECT_EQ(log, "") << "no START can be made under a held clock";
}

TEST_F(BusTest, StuckSdaReadsLowAndNoSlaveSeesAStart) {
  tw_test::ByteFace face(bus);
  test_kit::BusLineMaster master(bus);
  bus.hold_sda_low(true);
  EXPECT_FALSE(bus.sda());
  face.start();
  // The byte face's first 1 meets the stuck 0: it loses arbitration and
  // finds no slave, where it once took the stuck line for an acknowledge.
  EXPECT_FALSE(face.write(0x20));
  EXPECT_TRUE(bus.arbitration_lost());
  EXPECT_EQ(face.read(false), 0x00);
  face.stop();
  master.start();
  master.write(0x31);
  master.stop();
  EXPECT_EQ(log, "");
  bus.hold_sda_low(false);
  EXPECT_TRUE(bus.sda());
  EXPECT_TRUE(face.send(0x20, {9}));
  EXPECT_EQ(log, "32S 48S 32W 32w9 32P 48P ");
}

}  // namespace
