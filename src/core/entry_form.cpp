// SPDX-License-Identifier: MIT
#include "core/entry_form.h"

#include <lz4.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

struct FormRow {
  EntryForm form;
  EntryFormNames names;
};

constexpr FormRow kForms[] = {
    {EntryForm::Raw, {"raw", "raw pixels", "raw"}},
    {EntryForm::RawAfterHint, {"raw_hinted", "raw + hint", "raw + hint"}},
    {EntryForm::Lz4, {"lz4", "LZ4", "LZ4"}},
    {EntryForm::TiledBlock, {"tiled_block", "tiled block", "tiled block"}},
    {EntryForm::DecodedTiled, {"tiled_pixels", "tiled pixels", "tiled pixels"}},
    {EntryForm::Jpeg, {"jpeg", "JPEG", "JPEG"}},
    {EntryForm::Unknown, {"unknown", "unknown", "unknown"}},
};

}  // namespace

const EntryFormNames& entry_form_names(EntryForm f) {
  for (const FormRow& r : kForms)
    if (r.form == f) return r.names;
  return kForms[std::size(kForms) - 1].names;
}

CodedAs coded_as(PackMode mode, uint8_t type) {
  const TypeInfo t = type_info(type);
  switch (t.kind) {
    case TypeKind::Jpeg: return CodedAs::Jpeg;
    case TypeKind::Lz4:
    case TypeKind::Tiled: return CodedAs::Compressed;
    case TypeKind::Raw: break;
  }
  return !mode.tiled && t.other_form == type ? CodedAs::Either : CodedAs::Pixels;
}

EntryForm classify_entry(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                         uint64_t n, KeptCodes kept, BufferPool* pool) {
  const CodedAs coded = coded_as(mode, e.type);
  if (coded == CodedAs::Jpeg) return EntryForm::Jpeg;
  const TypeKind kind = type_info(e.type).kind;
  const uint64_t area = uint64_t{rect.width} * rect.height;
  const uint64_t size = area * uint64_t(entry_bytes_per_pixel(e));
  if (mode.tiled) {
    if (is_tile_block(rect, payload)) return EntryForm::TiledBlock;
    if (kind == TypeKind::Tiled) {
      for (uint64_t k = 1; k <= 4; ++k)
        if (n == area * k) return EntryForm::DecodedTiled;
    }
    if (n >= TILE_HINT_SIZE + size) return EntryForm::RawAfterHint;
    return n == size ? EntryForm::Raw : EntryForm::Unknown;
  }
  if (kind == TypeKind::Lz4) return EntryForm::Lz4;
  if (coded == CodedAs::Pixels) return EntryForm::Raw;
  // A code without an LZ4 form, or a block's code in a whole-entry pack.
  if (kept == KeptCodes::BySize) return n == size ? EntryForm::Raw : EntryForm::Lz4;
  return n > 0 && payload.size() >= n && holds_lz4_image(rect, payload.first(n), pool) ? EntryForm::Lz4 : EntryForm::Raw;
}

EntryForm declared_form(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> head,
                        std::optional<uint64_t> n) {
  if (!mode.tiled || coded_as(mode, e.type) == CodedAs::Jpeg) return classify_entry(mode, e, rect, {}, n.value_or(0));
  if (type_info(e.type).kind != TypeKind::Tiled) return EntryForm::RawAfterHint;
  return n && classify_entry(mode, e, rect, head, *n) == EntryForm::DecodedTiled ? EntryForm::DecodedTiled
                                                                                : EntryForm::TiledBlock;
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
