// SPDX-License-Identifier: MIT
/* The vector table and the reset handler for any Cortex-M: the core loads
   the stack pointer and the reset handler's address from the table at
   address 0; the handler copies .data from flash, clears .bss, runs main
   and ends the run with its result. A fault ends the run as a failure. */
#include <stdint.h>
#include <string.h>

#include "semihost.h"

/* From the linker script (cortex_m.ld). */
extern uint8_t __data_load[], __data_start[], __data_end[], __bss_start[], __bss_end[], __stack_top[];

int main(void);

void reset_handler(void);
void reset_handler(void) {
  memcpy(__data_start, __data_load, (size_t)(__data_end - __data_start));
  memset(__bss_start, 0, (size_t)(__bss_end - __bss_start));
  semihost_exit(main() == 0);
}

static void fault_handler(void) {
  semihost_write("fault\n");
  semihost_exit(0);
}

/* The stack's top, then the handlers of the 15 system exceptions. */
struct vector_table {
  const void *stack_top;
  void (*handler[15])(void);
};
__attribute__((section(".vectors"), used)) static const struct vector_table vectors = {
    __stack_top,
    {reset_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler,
     fault_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler,
     fault_handler}};
