// The simulated PCF8584 card: the controller's S0 (with S0' and S2 behind
// it while the serial interface is off) and S1, driving the bench bus
// through its byte face.
#pragma once

#include <cstdint>

namespace sim {

class Bus;

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
  Bus& bus_;
  CardFaults faults_;
  // The implementation adds the controller's registers and state here.
};

}  // namespace sim
