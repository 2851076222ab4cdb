// A user-space model of the Linux kernel's i2c-algo-bit (drivers/i2c/
// algos/i2c-algo-bit.c): its bit routines in their order of line calls and
// delays, for counting what one transaction costs in port accesses. Every
// setsda, setscl, getsda and getscl is one port access; udelay(n) is n us of
// port delays, n / access_us reads of a delay port. The adapter reads SCL
// back (getscl), as i2c-parport's Philips-like wirings and i2c-gpio do, and
// no slave stretches, so each wait for SCL is one getscl.
#pragma once

#include <cstdint>

namespace bench::algo_bit {

struct Count {
  std::uint64_t line_accesses = 0;  // setsda, setscl, getsda, getscl
  std::uint64_t delay_us = 0;       // the sum of every udelay
};

// The kernel's udelay field for a bus of `hz`: half a clock period in whole
// us, at least 1 (i2c-gpio's rule: 5 us for 100 kHz).
int udelay_for(long hz);

// One transaction as i2c_outb and i2c_start/i2c_stop make it: START, the
// address byte and `data_bytes` bytes written, STOP.
Count write_transaction(int udelay, int data_bytes);

}  // namespace bench::algo_bit
