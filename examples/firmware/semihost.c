// SPDX-License-Identifier: MIT
/* Semihosting calls: BKPT 0xAB with the operation in r0 and its argument in
   r1, on every Cortex-M. */
#include "semihost.h"

enum {
  SYS_WRITE0 = 0x04,                      /* a NUL-terminated string */
  SYS_EXIT = 0x18,                        /* the reason in r1 */
  ADP_STOPPED_APPLICATION_EXIT = 0x20026, /* a normal end: status 0 */
  ADP_STOPPED_RUN_TIME_ERROR = 0x20023    /* anything else: status 1 */
};

static void semihost(uint32_t op, const void *arg) {
  register uint32_t r0 __asm__("r0") = op;
  register const void *r1 __asm__("r1") = arg;
  __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
}

void semihost_write(const char *text) { semihost(SYS_WRITE0, text); }

void semihost_write_number(int32_t n) {
  char text[12];
  char *p = text + sizeof text - 1;
  uint32_t u = n < 0 ? 0u - (uint32_t)n : (uint32_t)n;
  *p = '\0';
  do {
    *--p = (char)('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (n < 0) *--p = '-';
  semihost_write(p);
}

void semihost_exit(int ok) {
  semihost(SYS_EXIT, (const void *)(uintptr_t)(ok ? ADP_STOPPED_APPLICATION_EXIT : ADP_STOPPED_RUN_TIME_ERROR));
  for (;;) {
  }
}
