/* port_access_time [PORT [SAMPLES]]
 *
 * Measures how long one read of a real I/O port takes on this machine: it
 * asks the kernel for PORT (hexadecimal, default 379, the status register
 * of the first parallel port) with ioperm, then times SAMPLES runs
 * (default 201) of 1000 inb each and prints the median time per read. All
 * bus timing of the adapters is made of such reads, so this figure turns
 * Nops into a bus clock. Needs root (or CAP_SYS_RAWIO) on an x86 PC.
 * Exit status 0 on success, 1 when the port cannot be had, 2 on bad
 * arguments. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define HAVE_PORTS 1
#else
#define HAVE_PORTS 0
#endif

enum { kReadsPerSample = 1000, kMaxSamples = 100001 };

static int parse(const char* text, int base, long low, long high, long* value) {
  char* end = NULL;
  errno = 0;
  const long parsed = strtol(text, &end, base);
  if (end == text || *end != '\0' || errno != 0 || parsed < low || parsed > high) return 0;
  *value = parsed;
  return 1;
}

static int by_value(const void* a, const void* b) {
  const double x = *(const double*)a;
  const double y = *(const double*)b;
  return (x > y) - (x < y);
}

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

int main(int argc, char** argv) {
  long port = 0x379;
  long samples = 201;
  if (argc > 3 || (argc > 1 && !parse(argv[1], 16, 0x100, 0xFFFF, &port)) ||
      (argc > 2 && !parse(argv[2], 10, 1, kMaxSamples, &samples))) {
    fprintf(stderr,
            "usage: %s [PORT [SAMPLES]]  (PORT hexadecimal, 100 to FFFF; SAMPLES 1 to %d)\n",
            argv[0], kMaxSamples);
    return 2;
  }
#if HAVE_PORTS
  if (ioperm((unsigned long)port, 1, 1) != 0) {
    fprintf(stderr, "%s: cannot reach I/O port %04lX (ioperm: %s); run as root on an x86 PC\n",
            argv[0], port, strerror(errno));
    return 1;
  }
  double* per_read = malloc((size_t)samples * sizeof *per_read);
  if (per_read == NULL) {
    fprintf(stderr, "%s: out of memory\n", argv[0]);
    return 1;
  }
  volatile unsigned char sink = 0;
  for (long sample = 0; sample < samples; ++sample) {
    const double begin = now_ns();
    for (int read = 0; read < kReadsPerSample; ++read) sink = inb((unsigned short)port);
    per_read[sample] = (now_ns() - begin) / kReadsPerSample;
  }
  (void)sink;
  qsort(per_read, (size_t)samples, sizeof *per_read, by_value);
  printf("port %04lX: median %.0f ns per read (%ld samples of %d reads, fastest %.0f ns, slowest %.0f ns)\n",
         port, per_read[samples / 2], samples, kReadsPerSample, per_read[0],
         per_read[samples - 1]);
  free(per_read);
  return 0;
#else
  fprintf(stderr, "%s: no I/O ports on this processor\n", argv[0]);
  return 1;
#endif
}
