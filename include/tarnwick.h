/* Tarnwick: an I2C bus through a PC adapter, behind ten functions.
 *
 * Adapters, chosen with I2C_SelectInterface or key "Default" of section
 * "I2C Device" in I2C.INI: 1 the PCF8584 card, 2 the Philips parallel
 * adapter, 3 the Custom parallel adapter.
 *
 * Every function returns a 16-bit bus result. The bus functions pass on the
 * selected adapter's codes:
 *
 *            PCF8584 card                    Philips and Custom adapters
 *   init     0                               0
 *   start    0 opened, 1 opened but the      0 opened, 2 adapter held by
 *            card flags a bus error, 2 not   another transaction
 *            opened (adapter held by another
 *            transaction, or bus busy)
 *   stop     0, 1 bus error flagged          0
 *   address  0 acknowledged, 3 not,          0 acknowledged, 3 not,
 *            -1 bus not open                 2 bus not open
 *   send     bytes written, counting a       bytes acknowledged, 2 bus not
 *            refused one; -1 refused         open, -1 refused
 *   read     the count asked for; -1 refused the count, 2 bus not open,
 *                                            -1 refused
 *
 * Send and read refuse (-1) a null pointer with a positive count, and a
 * slave that does not answer when they turn the direction of the last
 * address. Counts: the card refuses any count below 1; the parallel
 * adapters refuse a read count below 1 and a send count below 0, and send
 * nothing for a count of 0.
 * Call from one thread at a time. */
#ifndef TARNWICK_H
#define TARNWICK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARNWICK_BUILD)
#define TARNWICK_API __attribute__((visibility("default")))
#else
#define TARNWICK_API
#endif

/* Reads the selected adapter's configuration and sets it idle. */
TARNWICK_API int16_t I2C_Init(void);
/* Takes the adapter for this process and makes a START on the bus. */
TARNWICK_API int16_t I2C_Start(void);
/* Makes a STOP and gives the adapter back. */
TARNWICK_API int16_t I2C_Stop(void);
/* Sends an address byte: slave address in bits 7..1, bit 0 set to read. */
TARNWICK_API int16_t I2C_Address(int16_t address);
/* Writes `count` bytes to the addressed slave. */
TARNWICK_API int16_t I2C_Send(int16_t count, const uint8_t* data);
/* Reads `count` bytes from the addressed slave into `buffer`. */
TARNWICK_API int16_t I2C_Read(int16_t count, uint8_t* buffer);
/* I2C_Send of one byte. */
TARNWICK_API int16_t I2C_SendByte(uint8_t byte);
/* I2C_Read of one byte: the byte (0..255); a negative read result as it
 * came; -1 for any other result, when no byte was read. */
TARNWICK_API int16_t I2C_GetByte(void);
/* Shows the library's version and the adapter in use. */
TARNWICK_API int16_t I2C_Info(void);
/* Selects the adapter by interface number (1, 2, 3; others select 1). */
TARNWICK_API int16_t I2C_SelectInterface(int16_t number);

#ifdef __cplusplus
}
#endif

#endif
