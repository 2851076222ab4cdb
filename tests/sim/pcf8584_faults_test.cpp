// The faults the bench can put into the card.
#include <gtest/gtest.h>

#include "card_bench.h"

namespace {

using namespace pcf8584_registers;
using card_test::CardBench;
using card_test::Events;

sim::CardFaults busy() { sim::CardFaults f; f.bus_busy = true; return f; }
sim::CardFaults error() { sim::CardFaults f; f.bus_error = true; return f; }
sim::CardFaults slow(int polls) { sim::CardFaults f; f.pin_polls = polls; return f; }

TEST(Pcf8584Faults, BusBusyKeepsBbLowWhateverTheBusDoes) {
  CardBench b(busy());
  b.add_slave(0xA0);
  b.set_up();
  b.s1(kEnableNoAck);
  EXPECT_EQ(b.status() & BB, 0);
  b.s0(0xA0);
  b.s1(kStart);
  b.s1(kStop);
  EXPECT_EQ(b.status() & BB, 0);
  EXPECT_EQ(b.take_events(), (Events{"S", "A0 w", "P"})) << "only the status lies";
}

TEST(Pcf8584Faults, BusErrorShowsBerAfterEveryStartAndStop) {
  CardBench b(error());
  b.add_slave(0xA0);
  b.set_up();
  b.s1(kEnableNoAck);
  EXPECT_EQ(b.status() & BER, 0) << "no START or STOP yet";
  b.s0(0xC0);
  b.s1(kStart);
  EXPECT_EQ(b.status() & BER, BER);
  b.s1(kStopThenStart);
  b.s0(0xA0);
  EXPECT_EQ(b.status() & (BER | LRB), BER) << "address still acknowledged";
  b.s0(0x12);
  b.s1(kStop);
  b.s0(0xC2);
  EXPECT_EQ(b.status() & (BER | BB), BER | BB);
  EXPECT_EQ(b.take_events(), (Events{"S", "P", "S", "A0 w", "W12", "P"}));
}

TEST(Pcf8584Faults, PinPollsHoldPinForThatManyStatusReadsAfterEachTransfer) {
  CardBench b(slow(3));
  b.add_slave(0xA0);
  b.set_up();
  b.s1(kEnableNoAck);
  b.s0(0xC0);
  b.s1(kStart);
  EXPECT_EQ(b.pin_wait(), 3) << "after START and address";
  b.s1(kStopThenStart);
  b.s0(0xA1);
  EXPECT_EQ(b.pin_wait(), 3) << "after the address";
  EXPECT_EQ(b.pin_wait(), 0) << "PIN stays clear until the next transfer";
  b.s0();
  EXPECT_EQ(b.pin_wait(), 3) << "after a reception started by reading S0";
  b.s1(kRepeatedStart);
  EXPECT_EQ(b.pin_wait(), 0) << "a START alone moves no byte";
  b.s0(0xA0);
  b.s0(0x55);
  EXPECT_EQ(b.pin_wait(), 3) << "the last of two quick writes restarts the count";
}

TEST(Pcf8584Faults, PinStaysSetForNineSclPeriodsAtTheS2RateAndAtLeastThePinPolls) {
  // 1 us per access: a poll k accesses after the byte's start shows PIN
  // until k reaches the byte time and n polls have shown it.
  struct Case {
    std::uint8_t s2;
    int pin_polls;
    int shown;
  };
  for (const Case c : {Case{0x1C, 0, 99}, Case{0x1D, 0, 199}, Case{0x1E, 0, 817},
                       Case{0x1F, 0, 5999}, Case{0x1C, 3, 99}, Case{0x1C, 150, 150},
                       Case{0x1F, 7000, 7000}}) {
    SCOPED_TRACE("S2 " + std::to_string(c.s2) + ", PIN Polls " + std::to_string(c.pin_polls));
    CardBench b(slow(c.pin_polls), 1);
    b.add_slave(0xA0);
    b.set_up();
    b.s1(kSelectClock);
    b.s0(c.s2);
    b.s1(kIdle);
    b.s1(kEnableNoAck);
    b.s0(0xC0);
    b.s1(kStart);
    b.s1(kStopThenStart);
    b.s0(0xA0);
    EXPECT_EQ(b.pin_wait(), c.shown);
    EXPECT_EQ(b.status() & LRB, 0);
    b.s0(0x12);
    EXPECT_EQ(b.pin_wait(), c.shown) << "and again for a data byte";
  }
}

TEST(Pcf8584Faults, PinPollsDoNotChangeWhatMovesOnTheBus) {
  CardBench plain;
  CardBench slowed(slow(5));
  for (CardBench* b : {&plain, &slowed}) {
    b->add_slave(0xA0);
    b->set_up();
    b->s1(kEnableNoAck);
    b->s0(0xC0);
    b->s1(kStart);
    b->s1(kStopThenStart);
    b->s0(0xA1);
    b->pin_wait();
    b->s0();
    b->pin_wait();
    EXPECT_EQ(b->s0(), 0x10);
  }
  EXPECT_EQ(plain.take_events(), slowed.take_events());
}

}  // namespace
