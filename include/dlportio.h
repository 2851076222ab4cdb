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
 * Key "Trace" names a file to which every access is appended. Line
 * programs (below) are the one call beside the two port calls. */
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

/* Line programs: a run of port accesses known in advance, which a backend
 * that talks to its device over USB (ftdi) can send whole instead of
 * waiting for the device at every read. Both calls are resolved at run
 * time by their users (dlsym), so that a port-I/O library with only the
 * two calls above still serves them access by access.
 *
 * Run access by access, a program makes exactly the accesses its steps
 * name, in order, through the two calls above; a backend that sends it
 * whole makes the same line changes and samples on its device, in chunks
 * of what the device buffers, and holds every state at least as long as
 * the program's longest delay. */
enum {
  DLPORT_STEP_WRITE = 1,  /* write value to port */
  DLPORT_STEP_MODIFY = 2, /* read port, set (value != 0) or clear the mask bits, write it back */
  DLPORT_STEP_READ = 3,   /* read port */
  DLPORT_STEP_DELAY = 4,  /* count reads of port, lasting at least ns */
  /* Up to count looks at port, each one read, until the mask bits are all
   * set (value != 0) or not all set (value 0); after a look that fails,
   * one read of aux. Non-zero ns: the wait also fails once ns of real time
   * have passed since its first look (where a look costs more than the
   * access time the count was reckoned in, as a USB round trip does). A
   * wait of one look that a backend sends whole is a sample it tests
   * afterwards. */
  DLPORT_STEP_WAIT = 5,
  /* No access: tests the result of the READ step at index count (within
   * the program) as a WAIT tests a look. */
  DLPORT_STEP_CHECK = 6
};

typedef struct DlPortStep {
  unsigned char kind;   /* DLPORT_STEP_* */
  unsigned char mask;
  unsigned char value;
  unsigned char cut;    /* non-zero: a chunk may end after this step */
  unsigned short port;
  unsigned short aux;
  unsigned int count;
  unsigned int ns;
} DlPortStep;

/* Runs `count` steps; results[i] receives what step i read (READ), wrote
 * (WRITE, MODIFY), 1 or 0 for a WAIT or CHECK that held or failed, 0 for a
 * DELAY. A failed WAIT or CHECK ends the program: access by access right
 * after that step, sent whole at the end of the chunk it was in. Gives the
 * number of steps carried out (count when none failed), -1 for bad
 * arguments. */
DLPORTIO_API long DlPortRunProgram(const DlPortStep* steps, long count, unsigned char* results);
/* Non-zero when the backend in use sends programs whole: a caller then
 * builds a transaction ahead and reads its outcome from the results. */
DLPORTIO_API int DlPortSendsProgramsWhole(void);

#ifdef __cplusplus
}
#endif

#endif
