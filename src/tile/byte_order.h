// SPDX-License-Identifier: MIT
/* Little-endian fields, read and written byte by byte so that neither the
   host's byte order nor its alignment rules matter. The lowest layer: the
   tile codec and the pack records both use it, from C99 and from C++. */
#ifndef MORVANE_TILE_BYTE_ORDER_H
#define MORVANE_TILE_BYTE_ORDER_H

#include <stdint.h>

static inline uint16_t load_le16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static inline uint32_t load_le32(const uint8_t *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline void store_le16(uint8_t *p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
static inline void store_le32(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

#endif /* MORVANE_TILE_BYTE_ORDER_H */
