/* Tarnwick: an I2C bus through a PC adapter, behind ten functions.
 *
 * Adapters, chosen with I2C_SelectInterface or key "Default" of section
 * "I2C Device" in I2C.INI: 1 the PCF8584 card, 2 the Philips parallel
 * adapter, 3 the Custom parallel adapter.
 *
 * Every function returns a 16-bit bus result; the codes of each adapter are
 * listed in tarnwick(3). Call from one thread at a time. */
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
/* I2C_Read of one byte: the byte (0..255), or a negative failure code. */
TARNWICK_API int16_t I2C_GetByte(void);
/* Shows the library's version and the adapter in use. */
TARNWICK_API int16_t I2C_Info(void);
/* Selects the adapter by interface number (1, 2, 3; others select 1). */
TARNWICK_API int16_t I2C_SelectInterface(int16_t number);

#ifdef __cplusplus
}
#endif

#endif
