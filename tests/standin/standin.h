/* What the stand-in of libftdi1 and libgpiod tells a test or benchmark that
 * loads it (LD_PRELOAD, or linked into the program so that its calls come
 * before the real libraries'): the calls it has served to the backends. */
#ifndef TARNWICK_STANDIN_H
#define TARNWICK_STANDIN_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARNWICK_STANDIN_BUILD)
#define TARNWICK_STANDIN_API __attribute__((visibility("default")))
#else
#define TARNWICK_STANDIN_API
#endif

/* Pin or line samples served, and reads of synchronous bit-bang answers
 * (each one round trip to a real device), and writes taken (bytes and
 * control requests), since the process started. */
TARNWICK_STANDIN_API unsigned long long TwStandInRoundTrips(void);
TARNWICK_STANDIN_API unsigned long long TwStandInWrites(void);
/* Protocol violations the bench's bus noticed while a stand-in device was
 * open. */
TARNWICK_STANDIN_API unsigned long long TwStandInViolations(void);

#ifdef __cplusplus
}
#endif

#endif
