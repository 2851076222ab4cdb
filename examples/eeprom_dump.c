/* eeprom_dump: prints the 256 bytes of the 24C02 EEPROM at bus address
 * 0xA0 through the Tarnwick library, 16 bytes a line.
 *
 *   eeprom_dump [INTERFACE]
 *
 * INTERFACE 1 is the PCF8584 card, 2 the Philips parallel adapter, 3 the
 * Custom adapter; without it the adapter named by key "Default" of section
 * "I2C Device" in I2C.INI is used. With no hardware configured the library
 * runs on its simulated bench, which has a 24C02 at 0xA0.
 *
 * Build against an installed Tarnwick:
 *   cc eeprom_dump.c $(pkg-config --cflags --libs tarnwick) -o eeprom_dump
 * or with CMake, find_package(Tarnwick) and Tarnwick::tarnwick (see
 * CMakeLists.txt beside this file).
 *
 * It uses all ten functions: byte 0 is read the way a host reads one
 * register (I2C_SendByte, I2C_GetByte), the other 255 as one block
 * (I2C_Send, I2C_Read). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <tarnwick.h>

enum { EEPROM_WRITE_ADDRESS = 0xA0, EEPROM_SIZE = 256, LINE_BYTES = 16 };
/* An EEPROM does not acknowledge its address during its write cycle (up to
 * 5 ms after a write, by another program too), so the first address is
 * tried again, as real host code does, this many times at most. */
enum { ADDRESS_TRIES = 100, NOT_ACKNOWLEDGED = 3 };

static int fail(const char* what, int result) {
  fprintf(stderr, "eeprom_dump: %s (bus result %d)\n", what, result);
  I2C_Stop();
  return 1;
}

/* Addresses the EEPROM for writing and sets its word address pointer; the
 * reads that follow turn the direction themselves (a repeated start with
 * the read address 0xA1). */
static int point_at(uint8_t word_address, int as_single_byte) {
  int16_t result = NOT_ACKNOWLEDGED;
  for (int tries = 0; tries < ADDRESS_TRIES && result == NOT_ACKNOWLEDGED; ++tries) {
    result = I2C_Address(EEPROM_WRITE_ADDRESS);
  }
  if (result == NOT_ACKNOWLEDGED) {
    fprintf(stderr, "eeprom_dump: no EEPROM acknowledges address A0 (bus result %d) in %d tries\n",
            result, ADDRESS_TRIES);
    I2C_Stop();
    return 1;
  }
  if (result != 0) return fail("no EEPROM acknowledges address A0", result);
  result = as_single_byte ? I2C_SendByte(word_address) : I2C_Send(1, &word_address);
  if (result != 1) return fail("the EEPROM refused its word address", result);
  return 0;
}

int main(int argc, char** argv) {
  uint8_t memory[EEPROM_SIZE];

  long interface = 0;
  char* end = NULL;
  if (argc == 2) interface = strtol(argv[1], &end, 10);
  if (argc > 2 || (argc == 2 && (end == argv[1] || *end != '\0'))) {
    fprintf(stderr, "usage: eeprom_dump [INTERFACE]  (1 card, 2 Philips, 3 Custom)\n");
    return 2;
  }
  if (argc == 2) I2C_SelectInterface((int16_t)interface);
  I2C_Init();
  I2C_Info(); /* which adapter is in use, on standard error */

  int16_t result = I2C_Start();
  if (result != 0) {
    fprintf(stderr, "eeprom_dump: the bus could not be opened (bus result %d)\n", result);
    return 1;
  }

  if (point_at(0, 1) != 0) return 1;
  result = I2C_GetByte();
  if (result < 0) return fail("reading byte 0 failed", result);
  memory[0] = (uint8_t)result;

  if (point_at(1, 0) != 0) return 1;
  result = I2C_Read(EEPROM_SIZE - 1, memory + 1);
  if (result != EEPROM_SIZE - 1) return fail("reading bytes 1 to 255 failed", result);
  I2C_Stop();

  for (int line = 0; line < EEPROM_SIZE; line += LINE_BYTES) {
    printf("%02x:", line);
    for (int i = 0; i < LINE_BYTES; ++i) printf(" %02x", memory[line + i]);
    printf("\n");
  }
  return 0;
}
