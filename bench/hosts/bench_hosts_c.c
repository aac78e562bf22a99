/* A 20-line receipt through the C interface on one driver object:
 *   bench_hosts_c RECEIPTS      prints the seconds per receipt
 * (a first receipt, not counted, connects and warms up). */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "varn/varn.h"

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int receipt(varn_driver* d) {
  int rc = 0, bad = 0;
  char line[64];
  if (varn_call(d, "GetECRStatus", &rc) != 0 || rc != 0) ++bad;
  for (int i = 1; i <= 20; ++i) {
    snprintf(line, sizeof line, "Строка %02d            1 x 10.00", i);
    if (varn_set_text(d, "StringForPrinting", line) != 0) ++bad;
    if (varn_call(d, "PrintString", &rc) != 0 || rc != 0) ++bad;
  }
  return bad;
}

int main(int argc, char** argv) {
  const int receipts = argc > 1 ? atoi(argv[1]) : 5;
  varn_driver* d = varn_open(NULL);
  if (!d) {
    fprintf(stderr, "bench_hosts_c: %s\n", varn_open_error());
    return 1;
  }
  int bad = receipt(d);
  const double start = now();
  for (int i = 0; i < receipts; ++i) bad += receipt(d);
  const double seconds = (now() - start) / receipts;
  varn_close(d);
  if (bad) {
    fprintf(stderr, "bench_hosts_c: %d calls failed\n", bad);
    return 1;
  }
  printf("%.6f\n", seconds);
  return 0;
}
