// SPDX-License-Identifier: MIT
#include "core/entry_form.h"

#include <lz4.h>

#include <algorithm>
#include <memory>

#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

EntryForm classify_entry(bool tiled, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                         uint64_t n, KeptCodes kept, BufferPool* pool) {
  if (e.type == TYPE_JPEG) return EntryForm::Jpeg;
  const uint64_t area = uint64_t{rect.width} * rect.height;
  const uint64_t size = area * uint64_t(entry_bytes_per_pixel(e));
  if (tiled) {
    if (is_tile_block(rect, payload)) return EntryForm::TiledBlock;
    if (e.type == TYPE_TILED) {
      for (uint64_t k = 1; k <= 4; ++k)
        if (n == area * k) return EntryForm::DecodedTiled;
    }
    if (n >= TILE_HINT_SIZE + size) return EntryForm::RawAfterHint;
    return n == size ? EntryForm::Raw : EntryForm::Unknown;
  }
  const TypeInfo t = type_info(e.type);
  if (t.kind == TypeKind::Lz4) return EntryForm::Lz4;
  if (t.kind == TypeKind::Raw && t.other_form != e.type) return EntryForm::Raw;
  if (kept == KeptCodes::BySize) return n == size ? EntryForm::Raw : EntryForm::Lz4;
  return n > 0 && payload.size() >= n && holds_lz4_image(rect, payload.first(n), pool) ? EntryForm::Lz4 : EntryForm::Raw;
}

bool is_tile_block(const EntryRect& rect, std::span<const uint8_t> payload) {
  if (payload.size() < TILE_HEADER_SIZE) return false;
  TileImage t = read_tile_image(payload.data());
  return is_tile_magic(t.magic) && t.width == rect.width && t.height == rect.height;
}

bool holds_lz4_image(const EntryRect& rect, std::span<const uint8_t> stored, BufferPool* pool) {
  const uint64_t area = uint64_t{rect.width} * rect.height;
  if (area == 0 || stored.empty() || stored.size() > PACK_MAX_PAYLOAD) return false;
  // As decompress_entry decodes it: the data is taken as compressed exactly
  // when -d gives back an image of it.
  const uint64_t capacity =
      std::max<uint64_t>(std::min<uint64_t>(4 * area, PACK_MAX_PAYLOAD), stored.size());
  // Never read, so never cleared (but by a pool's resize).
  std::unique_ptr<char[]> own;
  std::vector<uint8_t> pooled;
  char* out = nullptr;
  if (pool != nullptr) {
    pooled = pool->take(capacity);
    out = reinterpret_cast<char*>(pooled.data());
  } else {
    own.reset(new char[capacity]);
    out = own.get();
  }
  const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(stored.data()), out,
                                      static_cast<int>(stored.size()), static_cast<int>(capacity));
  if (pool != nullptr) pool->give(std::move(pooled));
  return got > 0 && uint64_t(got) % area == 0 && uint64_t(got) / area <= 4;
}
