// The card driven through whole transactions, register by register, the
// way the library's adapter drives it: what the slaves see and what the
// status register shows at each step.
#include <gtest/gtest.h>

#include "card_bench.h"

namespace {

using namespace pcf8584_registers;
using card_test::CardBench;
using card_test::Events;

// The adapter's start: interface on with ACK off, bus-free test,
// placeholder address, START with that address, bus-error test.
void adapter_start(CardBench& b) {
  b.s1(kEnableNoAck);
  ASSERT_EQ(b.status() & BB, BB) << "bus should read free before START";
  b.s0(0xC0);
  b.s1(kStart);
  ASSERT_EQ(b.status() & BER, 0) << "no bus error expected after START";
}

// The adapter's stop, without the read termination.
void adapter_stop(CardBench& b) {
  b.s1(kStop);
  b.s0(0xC2);
  EXPECT_EQ(b.status() & (BER | BB), BB) << "bus free, no error after STOP";
  b.s1(kInterfaceOff);
}

TEST(Pcf8584Transactions, WriteTwoBytesToAnAddressedSlave) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();

  adapter_start(b);
  EXPECT_EQ(b.status() & BB, 0) << "BB reads busy between START and STOP";

  b.s1(kStopThenStart);
  b.s0(0xA0);
  EXPECT_EQ(b.pin_wait(), 0);
  EXPECT_EQ(b.status() & LRB, 0) << "address 0xA0 should be acknowledged";

  EXPECT_EQ(b.pin_wait(), 0);
  for (std::uint8_t byte : {0x12, 0x34}) {
    b.s0(byte);
    EXPECT_EQ(b.pin_wait(), 0);
    EXPECT_EQ(b.status() & LRB, 0) << "data byte should be acknowledged";
  }

  EXPECT_EQ(b.pin_wait(), 0);
  adapter_stop(b);

  // The placeholder START goes to 0xC0, which nobody answers; the chaining
  // command then closes it and opens the real frame.
  const Events expected{"S", "P", "S", "A0 w", "W12", "W34", "P"};
  EXPECT_EQ(b.take_events(), expected);
  EXPECT_TRUE(b.violations.empty()) << b.violations.front();
}

TEST(Pcf8584Transactions, ReadTwoBytesThenStopWithTheReadTermination) {
  CardBench b;
  b.add_slave(0xA0).first_read = 0x10;
  b.set_up();
  adapter_start(b);
  b.take_events();

  b.s1(kStopThenStart);
  b.s0(0xA1);
  EXPECT_EQ(b.pin_wait(), 0);
  EXPECT_EQ(b.status() & LRB, 0) << "address 0xA1 should be acknowledged";
  // The dummy read hands over what S0 held: the address just sent.
  EXPECT_EQ(b.s0(), 0xA1);

  EXPECT_EQ(b.pin_wait(), 0);
  std::uint8_t buffer[2] = {};
  for (std::uint8_t& byte : buffer) {
    EXPECT_EQ(b.pin_wait(), 0);
    byte = b.s0();
  }
  EXPECT_EQ(buffer[0], 0x10);
  EXPECT_EQ(buffer[1], 0x11);
  EXPECT_EQ(b.status() & LRB, 0) << "bytes so far were acknowledged";

  // Stop: PIN wait, read termination, STOP.
  EXPECT_EQ(b.pin_wait(), 0);
  b.s1(kEnableNoAck);
  EXPECT_EQ(b.s0(), 0x12) << "the termination read hands over the third byte";
  EXPECT_EQ(b.pin_wait(), 0);
  EXPECT_EQ(b.status() & LRB, LRB) << "the fourth byte is not acknowledged";
  adapter_stop(b);

  // The slave loads a byte when addressed and after each ACK: the dummy
  // read and the two buffer reads are acknowledged, the termination is not.
  const Events expected{"P", "S", "A1 r", "R", "R", "R", "R", "P"};
  EXPECT_EQ(b.take_events(), expected);
  EXPECT_TRUE(b.violations.empty()) << b.violations.front();
}

TEST(Pcf8584Transactions, EachReceptionIsAnsweredWithTheAckBitInForceAtItsRead) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  adapter_start(b);
  b.s1(kStopThenStart);
  b.s0(0xA1);

  b.s0();  // dummy read, ACK set by the chaining command
  EXPECT_EQ(b.status() & LRB, 0);
  b.s1(kEnableNoAck);
  b.s0();
  EXPECT_EQ(b.status() & LRB, LRB);
  b.s1(kRepeatedStart);  // ACK back on; the repeated START waits for its address
  EXPECT_EQ(b.status() & LRB, LRB) << "a command without PIN keeps the status";
}

TEST(Pcf8584Transactions, TheTerminationByteIsNackedSoTheSlaveStopsSending) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  adapter_start(b);
  b.s1(kStopThenStart);
  b.s0(0xA1);
  b.s0();  // dummy read: first byte clocked in, acknowledged
  b.s0();  // second byte clocked in, acknowledged
  b.s1(kEnableNoAck);
  b.s0();  // termination: third byte clocked in, not acknowledged
  b.take_events();

  // After a NACK the slave has let go of the bus: a further reception
  // no longer reaches it and reads the released line.
  b.s0();
  EXPECT_EQ(b.s0(), 0xFF);
  EXPECT_TRUE(b.take_events().empty());
}

TEST(Pcf8584Transactions, ChainingCommandMakesStopThenStartAndWaitsForTheAddress) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  adapter_start(b);
  b.take_events();

  b.s1(kStopThenStart);
  EXPECT_EQ(b.take_events(), (Events{"P", "S"}));
  EXPECT_EQ(b.status() & BB, 0) << "the new frame keeps the bus busy";
  b.s0(0xA0);
  EXPECT_EQ(b.take_events(), (Events{"A0 w"}));
}

TEST(Pcf8584Transactions, RepeatedStartMakesNoStopAndWaitsForTheAddress) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  adapter_start(b);
  b.s1(kStopThenStart);
  b.s0(0xA0);
  b.s0(0x00);
  b.take_events();

  b.s1(kRepeatedStart);
  EXPECT_EQ(b.take_events(), (Events{"S"}));
  b.s0(0xA1);
  const Events events = b.take_events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "A1 r");
  EXPECT_EQ(b.status() & LRB, 0);
}

TEST(Pcf8584Transactions, AddressThatNobodyAnswersSetsLrb) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  adapter_start(b);
  EXPECT_EQ(b.status() & LRB, LRB) << "placeholder 0xC0 has no slave";

  b.s1(kStopThenStart);
  b.s0(0x42);
  EXPECT_EQ(b.pin_wait(), 0);
  EXPECT_EQ(b.status() & LRB, LRB);

  b.s1(kStopThenStart);
  b.s0(0xA0);
  EXPECT_EQ(b.status() & LRB, 0) << "an answered address clears LRB again";
}

TEST(Pcf8584Transactions, NackedDataByteSetsLrbAndTheNextByteStillGoesOut) {
  CardBench b;
  b.add_slave(0xA0).nack_at = 2;
  b.set_up();
  adapter_start(b);
  b.s1(kStopThenStart);
  b.s0(0xA0);

  b.s0(0x01);
  EXPECT_EQ(b.status() & LRB, 0);
  b.s0(0x02);
  EXPECT_EQ(b.status() & LRB, LRB) << "second byte was refused";
  // Like the real controller, the card sends whatever it is given; it is
  // the adapter that stops after a refused byte.
  b.take_events();
  b.s0(0x03);
  EXPECT_EQ(b.take_events(), (Events{"W03"}));
}

TEST(Pcf8584Transactions, StopLeavesTheBusFreeAndAStartWorksAgainFromInterfaceOff) {
  CardBench b;
  b.add_slave(0xA0);
  b.set_up();
  adapter_start(b);
  adapter_stop(b);
  b.take_events();

  // The 0xC2 written to S0 after the STOP only loaded the register.
  adapter_start(b);
  b.s1(kStopThenStart);
  b.s0(0xA0);
  EXPECT_EQ(b.status() & LRB, 0);
  EXPECT_EQ(b.take_events(), (Events{"S", "P", "S", "A0 w"}));
}

}  // namespace
