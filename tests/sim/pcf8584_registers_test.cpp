// Register selection, the status register's idle values and the odd
// register sequences a host may produce.
#include <gtest/gtest.h>

#include "card_bench.h"

namespace {

using namespace pcf8584_registers;
using card_test::CardBench;
using card_test::Events;

static_assert(kStart == 0xC5 && kRepeatedStart == 0x45 && kStopThenStart == 0x47 &&
              kStop == 0xC2 && kIdle == 0xC1 && kEnableNoAck == 0x40 &&
              kSelectOwnAddress == 0x80 && kSelectClock == 0xA0 && kInterfaceOff == 0x00);

TEST(Pcf8584Registers, WithTheInterfaceOffS0ReachesOwnAddressOrClockByEs1) {
  CardBench b;
  b.s1(kSelectOwnAddress);
  b.s0(0x55);
  b.s1(kSelectClock);
  b.s0(0x1C);
  EXPECT_EQ(b.s0(), 0x1C);
  b.s1(kSelectOwnAddress);
  EXPECT_EQ(b.s0(), 0x55) << "S0' kept apart from S2";
  b.s1(kSelectClock);
  b.s0(0xFC);
  EXPECT_EQ(b.s0(), 0x1C) << "S2 keeps only its five clock bits";

  b.s1(kIdle);
  b.s0(0x99);
  EXPECT_EQ(b.s0(), 0x99) << "with ES0 on, S0 is the data register";
  b.s1(kSelectOwnAddress);
  EXPECT_EQ(b.s0(), 0x55);
  EXPECT_TRUE(b.take_events().empty()) << "register set-up makes no bus activity";
}

TEST(Pcf8584Registers, WithTheInterfaceOffS1ReadsBackTheControlBits) {
  CardBench b;
  b.s1(kSelectOwnAddress);
  EXPECT_EQ(b.status() & 0x7F, 0);
  b.s1(kSelectClock);
  EXPECT_EQ(b.status() & 0x7F, ES1);
}

TEST(Pcf8584Registers, StatusAfterSetUpIsIdleWithTheBusFree) {
  CardBench b;
  b.s1(kIdle);
  EXPECT_EQ(b.status(), PIN | INI | BB) << "own address not yet loaded";
  b.set_up();
  EXPECT_EQ(b.status(), PIN | BB);
  b.s1(kEnableNoAck);
  EXPECT_EQ(b.status(), PIN | BB) << "0x40 alone changes nothing on the bus";
  EXPECT_TRUE(b.take_events().empty());
}

TEST(Pcf8584Registers, StartWithPinSendsTheByteAlreadyInS0AndClearsPin) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  b.s1(kEnableNoAck);
  b.s0(0xA0);
  EXPECT_TRUE(b.take_events().empty()) << "loading S0 before a START sends nothing";
  b.s1(kStart);
  EXPECT_EQ(b.take_events(), (Events{"S", "A0 w"}));
  EXPECT_EQ(b.status(), 0) << "PIN clear, LRB clear, bus busy";
}

TEST(Pcf8584Registers, WritingPinResetsTheStatusBits) {
  CardBench b;
  b.set_up();
  b.s1(kEnableNoAck);
  b.s0(0x42);
  b.s1(kStart);  // nobody at 0x42
  EXPECT_EQ(b.status(), LRB);
  b.s1(kStop);
  EXPECT_EQ(b.status(), PIN | BB);
}

TEST(Pcf8584Registers, OddSequencesOnlyTouchTheRegister) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();

  // Data written and read while no transfer is open.
  b.s0(0x12);
  EXPECT_EQ(b.s0(), 0x12);
  // STOP with no transfer open.
  b.s1(kStop);
  EXPECT_TRUE(b.take_events().empty());
  EXPECT_EQ(b.status() & BB, BB);

  // A read of S0 in write direction returns the byte last sent.
  b.s0(0xA0);
  b.s1(kStart);
  b.s0(0x77);
  b.take_events();
  EXPECT_EQ(b.s0(), 0x77);
  // So does a read between a repeated START and its address.
  b.s1(kRepeatedStart);
  EXPECT_EQ(b.s0(), 0x77);
  EXPECT_EQ(b.take_events(), (Events{"S"}));

  // A write of S0 in read direction only loads the register.
  b.s0(0xA1);
  b.take_events();
  b.s0(0x33);
  EXPECT_TRUE(b.take_events().empty());
  EXPECT_EQ(b.s0(), 0x33) << "next read hands over the loaded byte";
  EXPECT_EQ(b.take_events(), (Events{"R"}));

  // Registers the card does not decode float.
  EXPECT_EQ(b.card.read(2), 0xFF);
  b.card.write(2, 0x00);
  EXPECT_TRUE(b.take_events().empty());
}

TEST(Pcf8584Registers, SwitchingTheInterfaceOffMidTransferReleasesTheBus) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  b.s0(0xA0);
  b.s1(kStart);
  b.take_events();

  b.s1(kInterfaceOff);
  EXPECT_EQ(b.take_events(), (Events{"P"}));
  b.s1(kEnableNoAck);
  EXPECT_EQ(b.status() & BB, BB);
}

TEST(Pcf8584Registers, ChainingWithNoFrameOpenMakesOnlyTheStart) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  b.s1(kStopThenStart);
  EXPECT_EQ(b.take_events(), (Events{"S"}));
  b.s0(0xA0);
  EXPECT_EQ(b.take_events(), (Events{"A0 w"}));
}

}  // namespace
