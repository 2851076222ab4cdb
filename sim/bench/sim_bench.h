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

/* Powers the running bench down (waveform closed, EEPROM contents saved)
 * and up again with section "Simulation" read anew; nothing when it is not
 * running, since it reads its settings when it starts. */
SIM_BENCH_API void SimBenchRestart(void);

#ifdef __cplusplus
}
#endif

#endif
