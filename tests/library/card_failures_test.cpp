// What the card does when a transaction cannot go as planned: a closed bus,
// bad counts and pointers, a refused address, a busy or faulty bus, a card
// missing from its port, and a second start.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "platform/bus_semaphore.h"
#include "tests/library/card_test_support.h"

namespace card_test {
namespace {

// Slot 0 of the bus semaphores as another holder of the card sees it.
class CardSlot {
 public:
  CardSlot() : handle_(bus_semaphore::open("I2CSEMA0")) {}
  ~CardSlot() { bus_semaphore::close(handle_); }
  bool valid() const { return handle_.valid(); }
  // True when the count could be taken at once (nobody holds the card).
  bool take() { return bus_semaphore::wait(handle_, 0); }
  bool give() { return bus_semaphore::release(handle_); }

 private:
  bus_semaphore::Handle handle_;
};

const Trace kInitOnly = Accesses().init().lines();

TEST_F(CardTest, OnAClosedBusAddressSendAndReadRefuseWithoutTouchingTheCard) {
  load_and_init();
  std::array<std::uint8_t, 2> bytes{1, 2};
  EXPECT_EQ(-1, card().I2C_Address(0xA0));
  EXPECT_EQ(-1, card().I2C_Send(2, bytes.data()));
  EXPECT_EQ(-1, card().I2C_Read(2, bytes.data()));
  EXPECT_EQ(-1, card().I2C_SendByte(0x55));
  EXPECT_EQ(-1, card().I2C_GetByte());
  EXPECT_TRUE(same_accesses(kInitOnly, finish()));
}

TEST_F(CardTest, CountsBelowOneAndNullPointersAreRefusedOnAnOpenBus) {
  load_and_init();
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA0));
  std::array<std::uint8_t, 2> bytes{1, 2};
  for (const std::int16_t count : {0, -5, -32768}) {
    EXPECT_EQ(-1, card().I2C_Send(count, bytes.data())) << "send count " << count;
    EXPECT_EQ(-1, card().I2C_Read(count, bytes.data())) << "read count " << count;
  }
  EXPECT_EQ(-1, card().I2C_Send(2, nullptr));
  EXPECT_EQ(-1, card().I2C_Read(2, nullptr));
  Accesses expected;
  expected.init().start().address(0x47, 0xA0);
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, StopOnAClosedBusTouchesNothingAndKeepsAnotherHoldersSlot) {
  load_and_init();
  CardSlot slot;
  ASSERT_TRUE(slot.valid());
  ASSERT_TRUE(slot.take()) << "slot 0 should be free after init";
  // Someone else holds the card now; a stop of ours must not hand it out.
  EXPECT_EQ(0, card().I2C_Stop());
  EXPECT_FALSE(slot.take()) << "the stop gave slot 0 back";
  EXPECT_TRUE(slot.give());
  EXPECT_TRUE(same_accesses(kInitOnly, finish()));
}

TEST_F(CardTest, UnacknowledgedAddressReturns3AndKeepsTheBusOpen) {
  load_and_init();
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(3, card().I2C_Address(0xB1));  // nothing answers at B0
  // The refused read address made no dummy read; the bus is still ours.
  EXPECT_EQ(3, card().I2C_Address(0xB0));
  EXPECT_EQ(0, card().I2C_Address(0xA0));
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses expected;
  expected.init().start();
  expected.write_s1(0x47).write_s0(0xB1).byte_started().pin_wait().read_s1();
  expected.write_s1(0x47).write_s0(0xB0).byte_started().pin_wait().read_s1();
  expected.write_s1(0x47).write_s0(0xA0).byte_started().pin_wait().read_s1();
  expected.pin_wait().stop();
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, SendCountsTheRefusedByteAndWritesNothingAfterIt) {
  load_and_init();
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(3, card().I2C_Address(0xB0));
  const std::array<std::uint8_t, 5> bytes{0x10, 0x20, 0x30, 0x40, 0x50};
  EXPECT_EQ(1, card().I2C_Send(5, bytes.data()));
  Accesses expected;
  expected.init().start().address(0x47, 0xB0).pin_wait().data_bytes({0x10});
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, RefusedReaddressingMakesSendAndReadReturnMinusOne) {
  load_and_init();
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(3, card().I2C_Address(0xB0));
  std::array<std::uint8_t, 2> buffer{};
  // The read re-addresses B1, refused: -1, not 3, and no data moves.
  EXPECT_EQ(-1, card().I2C_Read(2, buffer.data()));
  // The last address is B1 now, so a send re-addresses B0, refused again.
  EXPECT_EQ(-1, card().I2C_Send(2, buffer.data()));
  Accesses expected;
  expected.init().start().address(0x47, 0xB0);
  expected.pin_wait().write_s1(0x47).write_s0(0xB1).byte_started().pin_wait().read_s1();
  expected.pin_wait().write_s1(0x47).write_s0(0xB0).byte_started().pin_wait().read_s1();
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, SecondStartWithoutStopFailsAndWritesNothing) {
  load_and_init();
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(2, card().I2C_Start());  // this process holds slot 0 itself
  EXPECT_EQ(0, card().I2C_Stop());
  EXPECT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses expected;
  expected.init().start().pin_wait().stop().start().pin_wait().stop();
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, BusyBusFailsTheStartAndGivesTheCardBack) {
  load_and_init("0", {{"Simulation", {{"Bus Busy", "1"}}}});
  EXPECT_EQ(2, card().I2C_Start());
  {
    CardSlot slot;
    EXPECT_TRUE(slot.take()) << "slot 0 stayed held after the busy start";
    EXPECT_TRUE(slot.give());
  }
  // Not locked out: the next start tries the bus again.
  EXPECT_EQ(2, card().I2C_Start());
  EXPECT_EQ(-1, card().I2C_Address(0xA0)) << "the bus must count as closed";
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses expected;
  expected.init().write_s1(0x40).read_s1().write_s1(0x40).read_s1();
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, BusErrorAfterStartOpensTheBusAndStopReportsItToo) {
  load_and_init("0", {{"Simulation", {{"Bus Error", "1"}}}});
  EXPECT_EQ(1, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0xA0)) << "the bus counts as open";
  EXPECT_EQ(1, card().I2C_Stop());
  CardSlot slot;
  EXPECT_TRUE(slot.take()) << "the stop did not give slot 0 back";
  EXPECT_TRUE(slot.give());
}

TEST_F(CardTest, WithoutACardAtTheBasePortEveryStatusReadsFF) {
  // The bench's card sits at 0x200; ports 0x300 and 0x301 float.
  load_and_init("0", {{"Simulation", {{"Card Base", "200"}}}});
  EXPECT_EQ(1, card().I2C_Start()) << "BB reads free, BER reads set";
  EXPECT_EQ(3, card().I2C_Address(0xA0));
  const Trace trace = finish();
  Accesses expected;
  expected.init().start().write_s1(0x47).write_s0(0xA0);
  for (int poll = 0; poll < 99999; ++poll) {
    expected.read_s1();  // PIN never clears
  }
  expected.read_s1();  // LRB
  EXPECT_TRUE(same_accesses(expected.lines(), trace));
}

TEST_F(CardTest, PinWaitPollsUntilTheByteTimeIsOverAndThePinPollsHaveShownIt) {
  // At 90 kHz a byte takes 100 us, 100 status reads at Nops 0; the fault
  // keeps PIN set for at least its count of reads from the byte's start.
  struct Case {
    const char* pin_polls;
    int pin_reads;
  };
  for (const Case c : {Case{"0", 100}, Case{"3", 100}, Case{"150", 151}}) {
    SCOPED_TRACE(std::string("PIN Polls = ") + c.pin_polls);
    env.clear_trace();
    load_and_init("0", {{"Simulation", {{"PIN Polls", c.pin_polls}}}});
    ASSERT_EQ(0, card().I2C_Start());
    EXPECT_EQ(0, card().I2C_Address(0xA0));
    Accesses expected;
    expected.init().start().write_s1(0x47).write_s0(0xA0);
    for (int read = 0; read < c.pin_reads; ++read) expected.read_s1();
    expected.read_s1();  // LRB
    EXPECT_EQ(0, card().I2C_Stop());
    Trace trace = finish();
    trace.resize(std::min(trace.size(), expected.lines().size()));
    EXPECT_TRUE(same_accesses(expected.lines(), trace));
  }
}

}  // namespace
}  // namespace card_test
