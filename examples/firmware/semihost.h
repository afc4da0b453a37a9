// SPDX-License-Identifier: MIT
/* Output and exit through semihosting: the debugger (or qemu with
   -semihosting-config enable=on) prints the text and ends the run. */
#ifndef FIRMWARE_SEMIHOST_H
#define FIRMWARE_SEMIHOST_H

#include <stdint.h>

void semihost_write(const char *text);
/* The number in decimal. */
void semihost_write_number(int32_t n);
/* Ends the run: qemu exits with status 0 when ok is not 0, else 1. */
void semihost_exit(int ok);

#endif
