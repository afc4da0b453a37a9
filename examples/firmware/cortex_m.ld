/* SPDX-License-Identifier: MIT */
/* The sections of the firmware, for the MEMORY of m0_microbit.ld or
   m4_mps2.ld: code, read-only data and the packs in FLASH, .data copied to
   RAM by the reset handler, .bss cleared by it, the stack at RAM's end. */
ENTRY(reset_handler)
SECTIONS
{
  .text : {
    KEEP(*(.vectors))
    *(.text .text.*)
    *(.rodata .rodata.*)
    . = ALIGN(8);
  } > FLASH
  .ARM.exidx : { *(.ARM.exidx*) } > FLASH
  .data : ALIGN(4) {
    __data_start = .;
    *(.data .data.*)
    . = ALIGN(4);
    __data_end = .;
  } > RAM AT > FLASH
  __data_load = LOADADDR(.data);
  .bss (NOLOAD) : ALIGN(4) {
    __bss_start = .;
    *(.bss .bss.* COMMON)
    . = ALIGN(4);
    __bss_end = .;
  } > RAM
  __stack_top = ORIGIN(RAM) + LENGTH(RAM);
}
