// The card on a bus that another master shares: BB, arbitration, clock
// synchronisation and the card's own slave address.
#include <gtest/gtest.h>

#include "card_bench.h"
#include "tests/support/line_master.h"

namespace {

using namespace pcf8584_registers;
using card_test::CardBench;
using card_test::Events;

// The card set up, its interface on, at 1 us per access.
struct SharedBus {
  SharedBus() : other(b.bus) {
    b.add_slave(0xA0);
    b.set_up();
  }
  void card_start(std::uint8_t address) {
    b.s1(kEnableNoAck);
    b.s0(address);
    b.s1(kStart);
  }
  CardBench b{{}, 1};
  test_kit::BusLineMaster other;
};

TEST(Pcf8584SharedBus, BbShowsAnotherMastersTransferFromItsStartToItsStop) {
  SharedBus s;
  EXPECT_EQ(s.b.status() & BB, BB);
  s.other.start();
  EXPECT_EQ(s.b.status() & BB, 0) << "after the other master's START";
  EXPECT_TRUE(s.other.write(0xA0));
  EXPECT_EQ(s.b.status() & BB, 0) << "during its transfer";
  s.other.stop();
  EXPECT_EQ(s.b.status() & BB, BB) << "after its STOP";
}

TEST(Pcf8584SharedBus, ASentOneMeetingALowSdaLosesArbitrationAndLetsGo) {
  SharedBus s;
  s.b.bus.hold_sda_low(true);
  s.card_start(0xA0);
  const std::uint8_t status = s.b.status();
  EXPECT_EQ(status & (PIN | LAB), LAB) << "PIN clear, LAB set";
  EXPECT_EQ(status & LRB, LRB) << "nobody acknowledged the card";
  EXPECT_TRUE(s.b.bus.scl()) << "the card no longer drives the clock";
  EXPECT_EQ(s.b.take_events(), Events{}) << "no slave was addressed";
  s.b.bus.hold_sda_low(false);
  s.card_start(0xA0);
  EXPECT_EQ(s.b.pin_wait(), 99);
  EXPECT_EQ(s.b.status() & (LAB | LRB), 0) << "a new START clears LAB";
}

TEST(Pcf8584SharedBus, TheCardWaitsWhileAnotherMasterHoldsTheClockLow) {
  SharedBus s;
  s.card_start(0xA0);
  s.b.pin_wait();
  s.other.lines(true, false);  // the other master pulls SCL low
  s.b.s0(0x12);
  EXPECT_EQ(s.b.pin_wait(1000), 1000) << "the byte cannot finish";
  s.other.lines(true, true);
  EXPECT_EQ(s.b.pin_wait(), 0) << "its time is long over once SCL is free";
  EXPECT_EQ(s.b.status() & LRB, 0);
  EXPECT_EQ(s.b.take_events(), (Events{"S", "A0 w", "W12"}));
  EXPECT_TRUE(s.b.violations.empty()) << s.b.violations.front();
}

TEST(Pcf8584SharedBus, TheCardAnswersItsOwnAddressShiftedLeftAsASlaveReceiver) {
  SharedBus s;  // own address 0x55: 0xAA on the wire
  s.other.start();
  EXPECT_FALSE(s.other.write(0x55)) << "S0' itself is not the address byte";
  s.other.stop();
  EXPECT_EQ(s.b.status() & AAS, 0);
  s.other.start();
  EXPECT_TRUE(s.other.write(0xAA));
  EXPECT_EQ(s.b.status() & (AAS | PIN), AAS) << "AAS set, PIN clear";
  EXPECT_TRUE(s.other.write(0x5A)) << "a data byte, acknowledged with ACK on";
  s.other.stop();
  EXPECT_EQ(s.b.s0(), 0x5A);
  EXPECT_TRUE(s.b.violations.empty()) << s.b.violations.front();
}

}  // namespace
