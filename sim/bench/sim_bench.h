/* What tests, benchmarks and tools may ask of the simulated bench itself,
 * beside the two port calls that every host uses. These live in the bench
 * object (libdlportio-sim.so), which the port layer loads when the bench is
 * the backend; a program that links the object shares that one bench. */
#ifndef SIM_BENCH_H
#define SIM_BENCH_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(SIM_BENCH_BUILD)
#define SIM_BENCH_API __attribute__((visibility("default")))
#else
#define SIM_BENCH_API
#endif

/* Port accesses the bench has served since it last powered up (0 while it
 * is not running). */
SIM_BENCH_API unsigned long long SimBenchAccessCount(void);

/* Bench time in microseconds since it last powered up (0 while it is not
 * running). */
SIM_BENCH_API unsigned long long SimBenchTime(void);

/* Protocol violations its bus has noticed since it last powered up. */
SIM_BENCH_API unsigned long long SimBenchViolations(void);

/* Phases of the bus that were shorter than the I2C-bus standard allows
 * ([Simulation] Timing Check) since it last powered up; 0 with the checker
 * off. */
SIM_BENCH_API unsigned long long SimBenchTimingViolations(void);

/* Programmed EEPROM pages that did not reach the EEPROM File in this
 * process: the save failed (full disk, a folder it may not write), or the
 * file was left alone because it could not be loaded. A tool that wrote
 * the part fails when this grew, since the image it wrote is lost. */
SIM_BENCH_API unsigned long long SimBenchUnsavedPages(void);

/* Violation line `index` (from 0) of those kept since power-up, the first
 * 1000 protocol and timing violations as the trace shows them ("! ..."),
 * copied into `buffer` (cut to `size` - 1 characters, terminated); gives
 * its length, or 0 for a line not kept. The counts above go on beyond. */
SIM_BENCH_API unsigned long SimBenchViolationLine(unsigned long long index, char* buffer,
                                                  unsigned long size);

/* The state of the running bench's parts, set from outside the bus as a
 * test sets a part's surroundings. `address` is the part's 8-bit write
 * address, as in the device list. Each gives 0, or -1 (nothing changed)
 * when the bench is not running or no part of that type answers there.
 * Call them between transfers: a transfer in another thread is not
 * stopped for them. */

/* The LM75's temperature in degC, rounded to 0.5 and held within -55 to
 * +125 (-1 for NaN). */
SIM_BENCH_API int SimBenchSetTemperature(unsigned char address, double celsius);

/* The PCF8574's pins as the outside circuit drives them: a 0 bit pulls
 * that pin low, whatever the part's latch holds. */
SIM_BENCH_API int SimBenchSetInputs(unsigned char address, unsigned char levels);

/* The DS1307's time: seconds since 1970-01-01 00:00:00 of local
 * wall-clock time, a date of 2000 to 2099 (-1 otherwise). The clock runs
 * on from it; the day register follows the calendar (1 = Sunday). */
SIM_BENCH_API int SimBenchSetTime(unsigned char address, long long local_seconds);

/* The contents of the EEPROM answering at `address` (any address of a
 * larger part): copies up to `size` bytes into `buffer` (which may be null
 * to ask the size) and gives the part's size in bytes. */
SIM_BENCH_API long SimBenchEepromImage(unsigned char address, unsigned char* buffer,
                                       unsigned long size);

/* Programs that EEPROM with the `size` bytes at `file`: its image, either
 * binary (exactly the part's size) or the text i2cdump prints (every byte
 * given once). A part kept in an EEPROM File saves it there. On -1
 * `error` (capacity `error_size`) tells why in a few words. */
SIM_BENCH_API int SimBenchLoadEepromImage(unsigned char address, const char* file,
                                          unsigned long size, char* error,
                                          unsigned long error_size);

/* Powers the running bench down (waveform closed, EEPROM contents saved)
 * and up again with section "Simulation" read anew; nothing when it is not
 * running, since it reads its settings when it starts. */
SIM_BENCH_API void SimBenchRestart(void);

#ifdef __cplusplus
}
#endif

#endif
