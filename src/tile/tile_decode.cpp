// SPDX-License-Identifier: MIT
// The region decoder for tiled image blocks, working in a decoder that its
// caller lays out in memory of its own.
//
// Nothing here allocates, touches files or keeps state outside the decoder
// it is given. A tile is decoded into the decoder's room and its rows copied
// out from there, except that a whole tile whose rows lie back to back in the
// output (a region one tile column wide, rows packed) is decoded straight
// into the output.
#include <lz4.h>

#include <algorithm>
#include <cstring>

#include "tile/byte_order.h"
#include "tile/tile_image.h"

namespace {

constexpr uint32_t kMaxTileBytes = 1u << 20;

// Decodes tile `index` (tile_bytes pixel bytes once decoded) into dst, which
// has room for `room` bytes, at least tile_bytes; when there is more room, a
// payload that decodes to too much shows. Returns 0, TILE_ERR_PAYLOAD for a
// TileRef of length 0 or one that reaches outside the block, or
// TILE_ERR_CORRUPT when the payload does not decode to exactly tile_bytes.
// Anywhere in the room may have been written, also on success (LZ4 copies in
// whole words).
int32_t decode_tile(std::span<const uint8_t> block, uint32_t magic, uint32_t bpp, uint32_t index,
                    uint32_t tile_bytes, uint8_t* dst, uint32_t room, uint32_t* stored_len) {
  const uint8_t* ref = block.data() + TILE_HEADER_SIZE + size_t{index} * TILE_REF_SIZE;
  const uint32_t offset = load_le32(ref);
  const uint32_t len = load_le32(ref + 4);
  // A payload never exceeds what a signed length can say: checked so the
  // codecs' int arguments cannot wrap on a block above 2 GiB.
  if (len == 0 || offset > block.size() || len > block.size() - offset || len > 0x7FFFFFFFu)
    return TILE_ERR_PAYLOAD;
  const uint8_t* payload = block.data() + offset;
  const int32_t got =
      magic == TILE_MAGIC_LZ4
          ? LZ4_decompress_safe(reinterpret_cast<const char*>(payload), reinterpret_cast<char*>(dst),
                                static_cast<int>(len), static_cast<int>(room))
          : decode_rle_pixels(payload, dst, static_cast<int32_t>(len), static_cast<int32_t>(room),
                              static_cast<int32_t>(bpp));
  if (got < 0 || static_cast<uint32_t>(got) != tile_bytes) return TILE_ERR_CORRUPT;
  *stored_len = len;
  return 0;
}

// Rows of exactly kRow bytes, both sides on 4-byte boundaries: each row in
// one run of word loads and stores, no loop inside the row. rows >= 1.
template <size_t kRow>
void copy_word_rows_of(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, uint32_t rows) {
  do {
    if constexpr (kRow <= 64) {
      std::memcpy(__builtin_assume_aligned(dst, 4), __builtin_assume_aligned(src, 4), kRow);
    } else {
      for (size_t i = 0; i < kRow; i += 32)
        std::memcpy(__builtin_assume_aligned(dst + i, 4), __builtin_assume_aligned(src + i, 4), 32);
    }
    dst += dst_stride;
    src += src_stride;
  } while (--rows != 0);
}

// Rows of n bytes, n a multiple of kPiece, both sides on 4-byte boundaries:
// moved in pieces of kPiece bytes, which a 32-bit target loads and stores as
// whole words (several registers at once). rows >= 1.
template <size_t kPiece>
void copy_word_rows(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, size_t n,
                    uint32_t rows) {
  const size_t dst_gap = dst_stride - n, src_gap = src_stride - n;
  do {
    uint8_t* const end = dst + n;
    do {
      std::memcpy(__builtin_assume_aligned(dst, 4), __builtin_assume_aligned(src, 4), kPiece);
      dst += kPiece;
      src += kPiece;
    } while (dst != end);
    dst += dst_gap;
    src += src_gap;
  } while (--rows != 0);
}

// Copies `rows` rows of n bytes (rows >= 1, n >= 1). Where the rows lie back
// to back on both sides, in one piece. Otherwise row by row, in pieces that
// suit the target's registers: on 64-bit targets fixed-size pieces of 4 to 32
// bytes (the last one overlapping the one before) that compile to plain loads
// and stores; on 32-bit ones, rows that start and step on 4-byte boundaries
// in pieces of whole words, others by the library's memcpy. A build for size
// (-Os) takes memcpy for every row.
void copy_rows(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, size_t n, uint32_t rows) {
  if (n == dst_stride && n == src_stride) {
    std::memcpy(dst, src, n * rows);
    return;
  }
#ifdef __OPTIMIZE_SIZE__
  constexpr bool kForSize = true;
#else
  constexpr bool kForSize = false;
#endif
  if constexpr (kForSize) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) std::memcpy(dst, src, n);
  } else if constexpr (sizeof(void*) < 8) {
    if (((uintptr_t(dst) | uintptr_t(src) | dst_stride | src_stride | n) & 3) != 0) {
      for (; rows > 0; --rows, dst += dst_stride, src += src_stride) std::memcpy(dst, src, n);
    } else if (n == 32) {  // the rows of the usual tiles at 1 and 2 bytes per pixel
      copy_word_rows_of<32>(dst, dst_stride, src, src_stride, rows);
    } else if (n == 64) {
      copy_word_rows_of<64>(dst, dst_stride, src, src_stride, rows);
    } else if (n == 128) {
      copy_word_rows_of<128>(dst, dst_stride, src, src_stride, rows);
    } else if (n % 32 == 0) {
      copy_word_rows<32>(dst, dst_stride, src, src_stride, n, rows);
    } else if (n % 16 == 0) {
      copy_word_rows<16>(dst, dst_stride, src, src_stride, n, rows);
    } else {
      copy_word_rows<4>(dst, dst_stride, src, src_stride, n, rows);
    }
  } else if (n >= 32) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      size_t i = 0;
      for (; i + 32 <= n; i += 32) std::memcpy(dst + i, src + i, 32);
      if (i < n) std::memcpy(dst + n - 32, src + n - 32, 32);
    }
  } else if (n >= 16) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      std::memcpy(dst, src, 16);
      std::memcpy(dst + n - 16, src + n - 16, 16);
    }
  } else if (n >= 8) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      std::memcpy(dst, src, 8);
      std::memcpy(dst + n - 8, src + n - 8, 8);
    }
  } else if (n >= 4) {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride) {
      std::memcpy(dst, src, 4);
      std::memcpy(dst + n - 4, src + n - 4, 4);
    }
  } else {
    for (; rows > 0; --rows, dst += dst_stride, src += src_stride)
      for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

}  // namespace

TileCache* tile_cache_lookup(TileDecoder* dec, std::span<const uint8_t> block, uint16_t index) {
  TileCache* slot = &dec->slot;
  if (slot->valid == 0) return slot;
  if (slot->owner == block.data() && slot->owner_length == block.size() && slot->tile_index == index) {
    ++slot->use_count;  // wraps at 65536
    return slot;
  }
  slot->valid = 0;
  return slot;
}

// The slot's valid field; 0 for no slot.
uint16_t tile_cache_is_valid(const TileCache* slot) { return slot != nullptr ? slot->valid : 0; }

int32_t tile_cache_fill(TileCache* slot, std::span<const uint8_t> block, uint16_t index, uint16_t length_tag) {
  if (slot == nullptr) return TILE_ERR_NO_SLOT;
  slot->owner = block.data();
  slot->owner_length = static_cast<uint32_t>(block.size());
  slot->tile_index = index;
  slot->length_tag = length_tag;
  slot->valid = 1;
  slot->use_count = 1;
  return 0;
}

extern "C" {

size_t morvane_tile_decoder_size(int32_t max_tile_bytes) {
  if (max_tile_bytes < 1 || uint32_t(max_tile_bytes) > kMaxTileBytes) return 0;
  return TILE_DECODER_HEAD + size_t(max_tile_bytes);
}

// The key starts empty (owner null, invalid); the room is not touched.
morvane_tile_decoder* morvane_tile_decoder_init(void* memory, size_t memory_size, int32_t max_tile_bytes) {
  const size_t need = morvane_tile_decoder_size(max_tile_bytes);
  if (memory == nullptr || reinterpret_cast<uintptr_t>(memory) % 8 != 0 || need == 0 || memory_size < need)
    return nullptr;
  TileDecoder* dec = static_cast<TileDecoder*>(memory);
  std::memset(dec, 0, sizeof *dec);
  dec->max_tile_bytes = uint32_t(max_tile_bytes);
  return dec;
}

// Clears valid when the decoder holds a tile of `block`; any other tile stays.
void morvane_tile_decoder_forget(morvane_tile_decoder* dec, const uint8_t* block) {
  if (dec != nullptr && dec->slot.owner == block) dec->slot.valid = 0;
}

// Results, in the order of the checks, all made before anything is written:
//   TILE_ERR_NO_SLOT  no decoder
//   TILE_ERR_HEADER, TILE_ERR_MAGIC, TILE_ERR_PAYLOAD (untiled block short of
//     its pixels): see tile_image_read, with the decoder's max_tile_bytes
//   TILE_ERR_REGION   x, y, w or h negative, x + w above the width, y + h
//                     above the height, or w x h x bpp above 2^31 - 1 bytes
//                     (more than a result can count)
//   TILE_ERR_OUTPUT   stride below w x bpp, or out shorter than the last
//                     row's end
// then, while the tiles are walked (rows of tiles already written stay in
// out):
//   TILE_ERR_PAYLOAD  a TileRef of length 0 or reaching outside the block
//   TILE_ERR_CORRUPT  a payload that does not decode to exactly its tile's
//                     width x height x bpp bytes; the slot is left invalid
// An empty region (w or h 0) inside a sound block returns 0 and writes and
// decodes nothing. Sizes fit 32 bits throughout: a region inside the image
// has fewer than 2^16 rows of fewer than 2^18 bytes.
int32_t morvane_tile_decode(morvane_tile_decoder* dec, const uint8_t* block_data, int32_t block_len, int32_t x,
                            int32_t y, int32_t w, int32_t h, uint8_t* out, int32_t stride, int32_t out_capacity) {
  if (dec == nullptr) return TILE_ERR_NO_SLOT;
  // A null pointer or a negative length is a buffer of no bytes.
  const std::span<const uint8_t> block(block_data, block_data != nullptr && block_len > 0 ? size_t(block_len) : 0);
  const uint32_t capacity = out != nullptr && out_capacity > 0 ? uint32_t(out_capacity) : 0;
  TileImage t;
  if (const int32_t rc = tile_image_read(block, &t, dec->max_tile_bytes); rc != 0) return rc;
  const uint32_t width = t.width, height = t.height, bpp = t.bytes_per_pixel;
  if (x < 0 || y < 0 || w < 0 || h < 0 || uint32_t(x) > width || uint32_t(w) > width - uint32_t(x) ||
      uint32_t(y) > height || uint32_t(h) > height - uint32_t(y))
    return TILE_ERR_REGION;
  const uint32_t pixels_in = uint32_t(w) * uint32_t(h);  // below 2^32
  if (pixels_in > 0x7FFFFFFFu / bpp) return TILE_ERR_REGION;
  const uint32_t size = pixels_in * bpp, row = uint32_t(w) * bpp;
  if (stride < 0 || uint32_t(stride) < row) return TILE_ERR_OUTPUT;
  if (size == 0) return 0;
  // The last row ends at (h - 1) x stride + row; stride >= row > 0.
  const uint32_t pitch = uint32_t(stride);
  if (capacity < row || uint32_t(h - 1) > (capacity - row) / pitch) return TILE_ERR_OUTPUT;

  if (t.magic == TILE_MAGIC_RAW) {
    // Untiled: rows of the image straight from the block; the slot is not
    // touched.
    const size_t image_row = size_t{width} * bpp;
    copy_rows(out, pitch, block.data() + TILE_HEADER_SIZE + size_t(y) * image_row + size_t(x) * bpp, image_row,
              row, uint32_t(h));
    return int32_t(size);
  }

  // Tiled: every tile that the region overlaps, row of tiles by row of tiles,
  // each looked up in the slot; x1 and y1 are the region's ends, exclusive.
  const uint32_t tw = t.tile_width, th = t.tile_height;
  const uint32_t across = (width + tw - 1) / tw;
  const uint32_t x1 = uint32_t(x + w), y1 = uint32_t(y + h);
  const uint32_t col_first = uint32_t(x) / tw, col_last = (x1 - 1) / tw;
  const uint32_t row_first = uint32_t(y) / th, row_last = (y1 - 1) / th;
  uint8_t* const pixels = tile_decoder_pixels(dec);
  for (uint32_t r = row_first; r <= row_last; ++r) {
    const uint32_t ty = r * th, tile_h = std::min(th, height - ty);
    const uint32_t py = std::max(uint32_t(y), ty), rows = std::min(y1, ty + tile_h) - py;
    for (uint32_t c = col_first; c <= col_last; ++c) {
      const uint32_t tx = c * tw, tile_w = std::min(tw, width - tx);
      const uint32_t px = std::max(uint32_t(x), tx);
      const uint32_t n = (std::min(x1, tx + tile_w) - px) * bpp;
      const uint32_t tile_row = tile_w * bpp, tile_bytes = tile_row * tile_h;
      const uint32_t index = r * across + c;  // below tile_count, so below 2^16
      const size_t at = size_t(py - uint32_t(y)) * pitch + size_t(px - uint32_t(x)) * bpp;

      TileCache* slot = tile_cache_lookup(dec, block, uint16_t(index));
      if (tile_cache_is_valid(slot) == 0) {
        uint32_t stored_len = 0;
        // A whole tile whose rows lie back to back in the output (so the
        // region is one column of tiles, rows packed) is decoded in place.
        // Only the last tile of the walk must be in the slot afterwards (a
        // request that starts where this one ended finds it there), so the
        // others skip the slot and leave it invalid. The room runs to the end
        // of the region: whatever the codec writes past the tile lies in
        // tiles that are written after it.
        const bool last = r == row_last && c == col_last;
        if (!last && n == tile_row && rows == tile_h && pitch == tile_row) {
          const int32_t rc = decode_tile(block, t.magic, bpp, index, tile_bytes, out + at, size - uint32_t(at),
                                         &stored_len);
          if (rc != 0) return rc;
          continue;
        }
        const int32_t rc = decode_tile(block, t.magic, bpp, index, tile_bytes, pixels, dec->max_tile_bytes,
                                       &stored_len);
        if (rc != 0) return rc;  // the slot stays invalid
        tile_cache_fill(slot, block, uint16_t(index), uint16_t(stored_len));
      }
      copy_rows(out + at, pitch, pixels + (py - ty) * tile_row + (px - tx) * bpp, tile_row, n, rows);
    }
  }
  return int32_t(size);
}

}  // extern "C"
