// The MMA8452Q takes its register number for a read that follows with a
// repeated START; a STOP between sends the pointer back to STATUS.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/device_list.h"
#include "sim/devices/mma8452q.h"
#include "tests/sim/faces.h"

namespace {

using tw_test::FaceKind;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSensor = 0x3A;

struct Case {
  const char* name;
  std::uint8_t pointer;
  bool stop_between;  // STOP, then START; otherwise a repeated START
  std::size_t count;
  Bytes expected;
};

const Case kCases[] = {
    {"WhoAmIAcrossRepeatedStart", 0x0D, false, 1, {0x2A}},
    {"WhoAmIAfterStopGivesStatus", 0x0D, true, 1, {0x00}},
    {"OutputsAcrossRepeatedStart", 0x01, false, 6, {0x00, 0x00, 0x00, 0x00, 0x40, 0x00}},
    {"OutputsAfterStopStartAtStatus", 0x01, true, 6, {0x00, 0x00, 0x00, 0x00, 0x00, 0x40}},
    {"ReadsWrapAfterTheLastRegister", 0x31, false, 2, {0x00, 0x00}},
};

class RegisterPointer : public ::testing::TestWithParam<FaceKind> {
 protected:
  RegisterPointer() {
    bus.attach(std::make_unique<sim::Mma8452q>(kSensor));
    bus.on_violation([this](std::string_view line) { violations.emplace_back(line); });
    face = tw_test::make_face(GetParam(), bus);
  }
  void TearDown() override { EXPECT_TRUE(violations.empty()) << violations.front(); }

  sim::Bus bus;
  std::unique_ptr<tw_test::Face> face;
  std::vector<std::string> violations;
};

TEST_P(RegisterPointer, ReadsFromThePointerOnlyAcrossARepeatedStart) {
  for (const Case& c : kCases) {
    ASSERT_TRUE(face->send(kSensor, {c.pointer}, c.stop_between)) << c.name;
    EXPECT_EQ(face->receive(kSensor, c.count), c.expected) << c.name;
  }
}

TEST_P(RegisterPointer, WritesReachTheWritableRegistersOnly) {
  ASSERT_TRUE(face->send(kSensor, {0x2A, 0x01, 0x02}));  // CTRL_REG1, CTRL_REG2
  ASSERT_TRUE(face->send(kSensor, {0x0D, 0x55}));        // WHO_AM_I is read-only
  EXPECT_EQ(face->read_from(kSensor, 0x2A, 2), (Bytes{0x01, 0x02}));
  EXPECT_EQ(face->read_from(kSensor, 0x0D, 1), Bytes{0x2A});
}

INSTANTIATE_TEST_SUITE_P(BothFaces, RegisterPointer,
                         ::testing::Values(FaceKind::line, FaceKind::byte),
                         [](const auto& info) { return tw_test::face_name(info.param); });

TEST(RegisterPointerList, TheDeviceListBuildsIt) {
  const auto devices = sim::make_devices("MMA8452Q@38 mma8452q@3A", "", nullptr);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1]->address(), 0x3A);
}

}  // namespace
