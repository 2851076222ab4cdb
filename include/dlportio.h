/* Port I/O: single-byte reads and writes of PC I/O ports.
 *
 * The backend is chosen by key "Backend" of section "Port IO" in the
 * configuration file, read once at the first access:
 *   sim     the simulated bench (default): a PCF8584 card, a parallel port
 *           and an I2C bus with slave devices, in a shared object of its
 *           own (libdlportio-sim.so) loaded from beside this library;
 *   direct  real x86 port instructions, each port asked of the kernel
 *           (ioperm) when it is first used;
 *   ppdev   a real parallel port through the Linux parport device;
 *   ftdi    an FTDI USB chip in bit-bang mode (libftdi1), its eight pins
 *           seen as two ports;
 *   gpio    GPIO lines of a Linux GPIO chip (libgpiod), seen as two ports.
 * Key "Trace" names a file to which every access is appended. */
#ifndef DLPORTIO_H
#define DLPORTIO_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(DLPORTIO_BUILD)
#define DLPORTIO_API __attribute__((visibility("default")))
#else
#define DLPORTIO_API
#endif

DLPORTIO_API unsigned char DlPortReadPortUchar(unsigned long port);
DLPORTIO_API void DlPortWritePortUchar(unsigned long port, unsigned char value);

#ifdef __cplusplus
}
#endif

#endif
