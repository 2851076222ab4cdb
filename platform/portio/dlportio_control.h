/* Control of the port layer for tests, benchmarks and tools. Hosts that
 * only drive a bus never need these. */
#ifndef DLPORTIO_CONTROL_H
#define DLPORTIO_CONTROL_H

#include "platform/portio/dlportio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Finishes the current backend (trace and waveform flushed and closed,
 * EEPROM contents saved) and forgets it: the next access reads the
 * configuration file again and starts from power-up. */
DLPORTIO_API void DlPortReconfigure(void);

/* Port accesses (reads and writes) made since the backend started. */
DLPORTIO_API unsigned long long DlPortAccessCount(void);

/* Protocol violations the simulated bus has noticed since it started
 * (always 0 on real hardware). */
DLPORTIO_API unsigned long long DlPortBusViolations(void);

/* Name of the backend in use: "sim", "direct" or "ppdev". Starts the
 * backend if no access has been made yet. */
DLPORTIO_API const char* DlPortBackendName(void);

#ifdef __cplusplus
}
#endif

#endif
