// The simulated PCF8584 card: the controller's S0 (with S0' and S2 behind
// it while the serial interface is off) and S1, driving the bench bus
// through its byte face.
//
// Like the real controller it moves whole bytes: a START command with PIN
// set sends the byte already in S0 as the address; a START command without
// PIN (repeated START, STOP+START chaining) sends the address when it is
// then written to S0. While the last address had the read bit, every read
// of S0 hands over the byte received and clocks in the next one, answered
// with the ACK bit in force at that read. A byte and its acknowledge take
// nine SCL periods of bench time at the rate S2 selects (S21 S20), and PIN
// reads set until then; the `pin_polls` fault keeps it set for at least that
// many status reads from the start of each byte as well.
//
// The card shares the bus with other masters: BB shows any START on the
// bus until its STOP; a byte whose 1 meets a 0 on SDA loses arbitration
// (LAB set, PIN cleared, the card lets go of the lines); a clock held low
// by another master makes the byte wait; and the card acknowledges its own
// address (S0' shifted left by one) as a slave receiver, with AAS set and
// PIN cleared.
//
// Odd sequences do what the chip does, never more: an S0 write with no
// transfer open, or in read direction, only loads the register; an S0 read
// in write direction or with no transfer open only returns it; a STOP with
// no transfer open puts nothing on the bus; switching the serial interface
// off while a transfer is open releases the lines, which the bus sees as a
// STOP. With ES0 off, S1 reads back the control bits (PIN in bit 7).
#pragma once

#include <cstdint>

#include "sim/bus/i2c_bus.h"

namespace sim {

// Faults the bench can put into the card.
struct CardFaults {
  bool bus_busy = false;   // BB reads "busy" all the time
  bool bus_error = false;  // BER reads set after every START and STOP
  int pin_polls = 0;       // status reads that still show PIN after a transfer starts
};

class Pcf8584Model {
 public:
  Pcf8584Model(Bus& bus, CardFaults faults);
  // reg 0 is S0 (base port), reg 1 is S1 (base port + 1).
  std::uint8_t read(unsigned reg);
  void write(unsigned reg, std::uint8_t value);

 private:
  void write_control(std::uint8_t value);
  void write_data(std::uint8_t value);
  std::uint8_t read_data();
  std::uint8_t read_status();
  std::uint8_t& register_behind_s0();
  void make_start();
  void make_stop();
  void transmit(std::uint8_t byte, bool is_address);
  std::uint8_t receive();
  void byte_transfer_started();
  void byte_over();
  bool byte_open() const { return byte_open_; }

  // The card as a slave: answers at its own address while the serial
  // interface is on and it is not master itself.
  class OwnAddress final : public Device {
   public:
    explicit OwnAddress(Pcf8584Model& card) : card_(card) {}
    std::uint8_t address() const override;
    void on_selected(bool read) override;
    bool on_write(std::uint8_t byte) override;
    std::uint8_t on_read() override;

   private:
    Pcf8584Model& card_;
  };

  Bus& bus_;
  OwnAddress own_face_{*this};
  CardFaults faults_;

  std::uint8_t control_ = 0;        // last value written to S1, PIN aside
  std::uint8_t data_ = 0;           // S0: data / shift register
  std::uint8_t own_address_ = 0;    // S0'
  std::uint8_t clock_ = 0;          // S2 (five bits)
  std::uint8_t vector_ = 0;         // S3, interrupt vector
  bool own_address_loaded_ = false;  // INI clears once S0' is written

  bool pin_ = true;       // no byte finished since PIN was last set
  bool byte_open_ = false;  // a byte is on the bus, PIN still set
  bool byte_received_ = false;  // that byte comes in (its value goes to S0)
  bool byte_ack_ = false;       // and the card acknowledges it
  std::uint64_t byte_end_ = 0;  // bench time its ninth clock is over
  int pin_shown_reads_ = 0;  // status reads that showed PIN during it
  // BER, LRB, AAS and LAB, in their places in S1.
  std::uint8_t flags_ = 0;
  void show(std::uint8_t bit, bool set) {
    flags_ = set ? static_cast<std::uint8_t>(flags_ | bit)
                 : static_cast<std::uint8_t>(flags_ & ~bit);
  }

  bool master_ = false;            // our START is on the bus, no STOP yet
  bool address_pending_ = false;   // START made, address awaited in S0
  bool receiving_ = false;         // last address sent had the read bit
};

}  // namespace sim
