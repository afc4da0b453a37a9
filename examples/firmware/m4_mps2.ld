/* SPDX-License-Identifier: MIT */
/* A Cortex-M4 board with code memory at 0 and RAM at 0x20000000 (qemu's
   mps2-an386); 64 KiB of its RAM is used. */
MEMORY
{
  FLASH (rx) : ORIGIN = 0x00000000, LENGTH = 4M
  RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 64K
}
INCLUDE cortex_m.ld
