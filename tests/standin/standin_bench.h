// The bench behind the stand-in devices: the simulated bus with the slaves
// of section "Simulation", and one master on its lines that the open
// device's pins or lines drive as open-drain outputs with pull-ups.
#pragma once

namespace standin {

// The first device opened powers the bench up, the last closed powers it
// down (the EEPROM file is then complete).
void attach();
void detach();

// What the device's pins do with the lines: true releases, false pulls low.
void drive(bool sda, bool scl);
// The levels on the bus now.
bool sda();
bool scl();

// One call served: the bench's clock moves on by a step.
void sampled();
void written();
// Answers of the chip fetched in one wait (synchronous bit-bang mode): a
// round trip that takes no bench time of its own, the bytes written did.
void answered();

}  // namespace standin
