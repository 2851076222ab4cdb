/* Transfers as Linux's i2c-dev makes them, beside the ten classic bus
   functions of <tarnwick.h>: 7-bit addresses, one transaction per call
   with a true repeated START between its messages, clock stretching on
   the bit-banged adapters, a bus speed in Hz, and bus recovery.
   Results are negative errno values. See tarnwick-i2c(3). */
#ifndef TARNWICK_I2C_H
#define TARNWICK_I2C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARNWICK_BUILD)
#define TARNWICK_I2C_API __attribute__((visibility("default")))
#else
#define TARNWICK_I2C_API
#endif

/* The layout of Linux's struct i2c_msg: a /dev/i2c-N bridge passes
   messages through unchanged. */
struct tarnwick_msg {
  uint16_t addr;  /* 7-bit slave address, 0x00 to 0x7F */
  uint16_t flags; /* TARNWICK_M_* */
  uint16_t len;   /* bytes in buf, at most TARNWICK_MAX_LEN */
  uint8_t* buf;
};

/* Flags by their Linux values. */
#define TARNWICK_M_RD 0x0001           /* read from the slave */
#define TARNWICK_M_TEN 0x0010          /* refused: -EOPNOTSUPP */
#define TARNWICK_M_RECV_LEN 0x0400     /* refused: -EOPNOTSUPP */
#define TARNWICK_M_NO_RD_ACK 0x0800    /* refused: -EOPNOTSUPP */
#define TARNWICK_M_IGNORE_NAK 0x1000   /* bit-banged adapters only */
#define TARNWICK_M_REV_DIR_ADDR 0x2000 /* refused: -EOPNOTSUPP */
#define TARNWICK_M_NOSTART 0x4000      /* bit-banged adapters only */
#define TARNWICK_M_STOP 0x8000         /* refused: -EOPNOTSUPP */

/* i2c-dev's limits of one I2C_RDWR call. */
#define TARNWICK_MAX_MESSAGES 42
#define TARNWICK_MAX_LEN 8192

/* adapter: 1 PCF8584 card, 2 Philips adapter, 3 Custom adapter; 0 the
   one selected (I2C.INI's [I2C Device] Default, or I2C_SelectInterface). */

/* One transaction: START, the messages with a repeated START before each
   after the first, STOP. The number of messages done, or -errno. */
TARNWICK_I2C_API int tarnwick_transfer(int adapter, struct tarnwick_msg* msgs, int count);

/* Sets the fastest speed not above hz (0: changes nothing) and returns
   the speed the bus achieves, in Hz, or -errno. */
TARNWICK_I2C_API long tarnwick_bus_speed(int adapter, long hz);

/* Up to 9 clocks while a slave holds SDA low, then a STOP: 0 when SDA
   is free afterwards, or -errno. */
TARNWICK_I2C_API int tarnwick_recover(int adapter);

#ifdef __cplusplus
}
#endif

#endif
