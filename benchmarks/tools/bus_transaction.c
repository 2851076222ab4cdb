/* bus_transaction [INTERFACE]
 *
 * One bus transaction through the ten functions, as any host makes it:
 * select the adapter (1 card, 2 Philips, 3 Custom; default 2), init,
 * start, address 0xA0, write the two bytes 00 01, read one byte, stop.
 * Prints each call's bus result, one a line, so that a run on a real port
 * can be set beside a run on the bench. Exit status 0, 2 on bad arguments. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tarnwick.h"

int main(int argc, char** argv) {
  int interface_number = 2;
  if (argc > 2 || (argc == 2 && (strlen(argv[1]) != 1 || argv[1][0] < '1' || argv[1][0] > '3'))) {
    fprintf(stderr, "usage: %s [1|2|3]\n", argv[0]);
    return 2;
  }
  if (argc == 2) interface_number = argv[1][0] - '0';
  const uint8_t bytes[2] = {0x00, 0x01};
  uint8_t read_back[1] = {0};
  printf("select %d: %d\n", interface_number, I2C_SelectInterface((int16_t)interface_number));
  printf("init: %d\n", I2C_Init());
  printf("start: %d\n", I2C_Start());
  printf("address A0: %d\n", I2C_Address(0xA0));
  printf("send 2: %d\n", I2C_Send(2, bytes));
  const int16_t got = I2C_Read(1, read_back);
  printf("read 1: %d (%02X)\n", got, got == 1 ? read_back[0] : 0u);
  printf("stop: %d\n", I2C_Stop());
  return 0;
}
