// SPDX-License-Identifier: MIT
/* Writes the pack morvane_add_pack linked in to the file argv[1], so the
   test compares it with the pack morvane -c wrote; fails when the array is
   not aligned to 8 or an entry's macro does not name that entry. */
#include <morvane/pack.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "demo.h"

int main(int argc, char **argv) {
  morvane_pack_entry e;
  FILE *f;
  if (argc != 2 || (uintptr_t)demo % 8 != 0) return 1;
  if (morvane_pack_entry_at(demo, (int32_t)demo_size, demo_bg_grad, &e) != 0 || strcmp(e.name, "bg_grad") != 0 ||
      morvane_pack_entry_at(demo, (int32_t)demo_size, demo_splash, &e) != 0 || strcmp(e.name, "splash") != 0)
    return 1;
  f = fopen(argv[1], "wb");
  if (f == NULL || fwrite(demo, 1, demo_size, f) != demo_size) return 1;
  return fclose(f) == 0 ? 0 : 1;
}
