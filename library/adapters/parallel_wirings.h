// The two bit-driven adapters on I/O ports: the Philips adapter on a PC
// parallel port, and the Custom adapter whose four lines sit wherever the
// configuration file says. Each is a wiring row and an init of its own;
// every other operation is the bus engine's, run over the adapter's row
// (parallel_bus.h), and both share the engine's bus state. Both read
// their base port and Nops the same way and leave the same debug record.
#pragma once

#include <cstdint>

#include "library/adapters/parallel_bus.h"

namespace philips {

// Ports from the base port: data (+0), status (+1), control (+2).
//   SDA OUT  data bit 7, a set bit pulls SDA low; the data port is written
//            whole (0x7F releases SDA, 0x80 drives it)
//   SDA IN   status bit 7, set while SDA is high
//   SCL OUT  control bit 3, set while SCL is high; the other control bits
//            drive printer lines and keep their values
//   SCL IN   status bit 3, set while SCL is high (the Linux kernel's
//            i2c-parport "philips" row reads the clock there); only the
//            transfer interface reads it, to follow a stretched clock
inline constexpr wiring::Wiring kWiring{
    true,
    {{
        {1, 0x80, 1, wiring::Write::kReadModifyWrite},  // SDA IN (read only)
        {0, 0x80, 1, wiring::Write::kWhole},            // SDA OUT
        {1, 0x08, 1, wiring::Write::kReadModifyWrite},  // SCL IN (read only)
        {2, 0x08, 0, wiring::Write::kReadModifyWrite},  // SCL OUT
    }}};

std::int16_t init();

// "Base" of section "I2C para", as init reads it, without touching the
// library-wide base port.
std::uint16_t configured_base();

}  // namespace philips

namespace custom {

// Read from section "I2C para Gen" by each init.
extern wiring::Wiring configured_wiring;

std::int16_t init();

// "Base" and the twelve line keys of section "I2C para Gen", as init reads
// them, without touching the library-wide base port or configured_wiring.
std::uint16_t configured_base();
wiring::Wiring configured_row();

}  // namespace custom
