/* SPDX-License-Identifier: MIT */
/* A Cortex-M0 with 256 KiB of flash and 16 KiB of RAM (nRF51822: qemu's
   microbit machine). */
MEMORY
{
  FLASH (rx) : ORIGIN = 0x00000000, LENGTH = 256K
  RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 16K
}
INCLUDE cortex_m.ld
