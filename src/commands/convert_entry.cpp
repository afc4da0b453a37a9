#include "commands/convert_entry.h"

#include <lz4.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "tile/tile_image.h"

namespace {

struct TypePair {
  uint8_t raw;
  uint8_t compressed;
};
constexpr TypePair kLz4Types[] = {{1, 14}, {11, 15}, {30, 31}, {32, 33}, {34, 35}, {36, 37}};

void append_line(std::string& text, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void append_line(std::string& text, const char* fmt, ...) {
  char line[256];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  if (n > 0) text.append(line, std::min<size_t>(static_cast<size_t>(n), sizeof line - 1));
}

// The entry stays as the input holds it: same bytes, same type.
EntryResult keep_entry(const PackEntry& e, std::span<const uint8_t> data, const char* why) {
  EntryResult r;
  r.data.assign(data.begin(), data.end());
  r.type = e.type;
  r.failed = true;
  r.why = why;
  append_line(r.text, "%s: %s; entry kept unchanged\r\n", entry_name_text(e).text, why);
  return r;
}

void append_progress(EntryResult& r, const PackEntry& e, uint64_t n) {
  append_line(r.text, "%s %d -> %d (%d%%)\r\n", entry_name_text(e).text, static_cast<int>(n),
              static_cast<int>(r.data.size()),
              pack_percent(static_cast<uint32_t>(r.data.size()), static_cast<uint32_t>(n)));
}

// The result must still fit the 24-bit len with its EntryRect.
bool fits_entry(size_t len) { return len <= PACK_MAX_PAYLOAD; }

EntryResult compress_whole(const PackEntry& e, std::span<const uint8_t> data) {
  const uint64_t n = e.len - uint64_t{4};
  if (e.len > PACK_MAX_LEN) return keep_entry(e, data, "image too large for a pack entry");
  if (data.size() < n) return keep_entry(e, data, "pixel data runs past the end of the input");
  // At least LZ4's worst case, so even an entry under 16 bytes compresses.
  const int src_len = static_cast<int>(n);
  std::vector<uint8_t> dst(std::max<size_t>(2 * n, static_cast<size_t>(LZ4_compressBound(src_len))));
  int out = lz4_hc_compress(data.data(), dst.data(), src_len, static_cast<int>(dst.size()));
  if (out <= 0 || !fits_entry(static_cast<size_t>(out)))
    return keep_entry(e, data, "compressed data does not fit a pack entry");
  EntryResult r;
  dst.resize(static_cast<size_t>(out));
  r.data = std::move(dst);
  r.type = compressed_type(e.type);
  append_progress(r, e, n);
  return r;
}

EntryResult compress_tiled(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
                           uint8_t codec_kind, const JobRunner* jobs) {
  const uint64_t n = e.len - uint64_t{4};
  const int pixel_format = pixel_format_for_type(e.type);
  const int bpp = pixel_format_bytes(pixel_format);
  char why[96];
  if (bpp == 0) {
    std::snprintf(why, sizeof why, "type %d has no tiled pixel format", e.type);
    return keep_entry(e, data, why);
  }
  if (bpp != entry_bytes_per_pixel(e)) {
    // Coding it would read past the pixel array or drop part of it.
    std::snprintf(why, sizeof why, "type %d holds %d bytes per pixel, its pixel format %d", e.type,
                  entry_bytes_per_pixel(e), bpp);
    return keep_entry(e, data, why);
  }
  if (e.len > PACK_MAX_LEN) return keep_entry(e, data, "image too large for a pack entry");
  if (data.size() < TILE_HINT_SIZE + n)
    return keep_entry(e, data, "pixel data runs past the end of the input");

  TileHint hint = read_tile_hint(data.data());
  TileSize tile = choose_tile_size(rect.width, rect.height, hint.hint_width, hint.hint_height);
  // A tile must fit the 1 MiB tile buffers: cut it lower if it does not.
  const uint64_t row_bytes = uint64_t(tile.tile_width) * uint64_t(bpp);
  if (row_bytes > 0 && row_bytes * uint64_t(tile.tile_height) > TILE_BUFFER_SIZE)
    tile.tile_height = static_cast<int32_t>(TILE_BUFFER_SIZE / row_bytes);

  int32_t check = tile_image_check(rect.width, rect.height, tile.tile_width, tile.tile_height,
                                   pixel_format, codec_kind);
  if (check < 0) {
    std::snprintf(why, sizeof why, "cannot tile %dx%d in %dx%d tiles with codec %d: %s", rect.width,
                  rect.height, tile.tile_width, tile.tile_height, codec_kind, tile_error_text(check));
    return keep_entry(e, data, why);
  }
  uint64_t bound = tile_image_bound(rect.width, rect.height, tile.tile_width, tile.tile_height,
                                    pixel_format, codec_kind);
  std::vector<uint8_t> dst(bound);
  int32_t out = encode_tile_image_jobs(jobs, data.subspan(TILE_HINT_SIZE, n), dst, rect.width, rect.height,
                                       tile.tile_width, tile.tile_height, static_cast<uint8_t>(pixel_format),
                                       codec_kind);
  if (out < 0) return keep_entry(e, data, "tiled encoding failed");
  if (!fits_entry(static_cast<size_t>(out)))
    return keep_entry(e, data, "tiled block does not fit a pack entry");
  EntryResult r;
  dst.resize(static_cast<size_t>(out));
  r.data = std::move(dst);
  r.type = TYPE_TILED;
  append_progress(r, e, n);
  return r;
}

// Already compressed data cannot be compressed again (it is no pixel array):
// it is copied as stored. A type-39 entry that holds no tiled block (the
// pixels a tiled decompression leaves, of a format its type does not tell)
// is copied all the same, as a failure.
EntryResult copy_compressed(const PackEntry& e, std::span<const uint8_t> data) {
  const uint64_t n = e.len - uint64_t{4};
  if (data.size() < n) return keep_entry(e, data, "stored data runs past the end of the input");
  EntryResult r;
  r.data.assign(data.begin(), data.end());
  r.type = e.type;
  const uint32_t magic = n >= 4 ? load_le32(data.data()) : 0;
  const bool block = is_tile_magic(magic);
  if (e.type == TYPE_TILED && !block) {
    r.failed = true;
    r.why = "type 39 data is not a tiled block and cannot be tiled again";
    append_line(r.text, "%s: %s; copied as stored\r\n", entry_name_text(e).text, r.why.c_str());
  } else {
    append_line(r.text, "%s: already compressed (type %d); copied as stored\r\n", entry_name_text(e).text, e.type);
  }
  append_progress(r, e, n);
  return r;
}

}  // namespace

uint8_t compressed_type(uint8_t type) {
  for (const TypePair& p : kLz4Types)
    if (p.raw == type) return p.compressed;
  return type;
}

uint8_t raw_type(uint8_t type) {
  for (const TypePair& p : kLz4Types)
    if (p.compressed == type) return p.raw;
  return type;
}

int pixel_format_for_type(uint8_t type) {
  switch (type) {
    case 1: return 1;
    case 11: return 4;
    case 30: return 5;
    case 32: return 3;
    case 34: return 2;
    case 36: return 6;
    default: return type;
  }
}

TileSize choose_tile_size(uint16_t width, uint16_t height, uint16_t tw, uint16_t th) {
  const uint64_t area = uint64_t{width} * height;
  const uint64_t hint = uint64_t{tw} * th;
  if (area <= hint) return {width, height};
  // Here width and height are at least 1.
  if (width < height) {
    if (width <= tw) return {width, static_cast<int32_t>(std::min<uint64_t>(hint / width, height))};
    return {tw, th};
  }
  if (width > height) {
    if (height <= th) return {static_cast<int32_t>(std::min<uint64_t>(hint / height, width)), height};
    return {tw, th};
  }
  return {tw, th};
}

bool keeps_code_when_compressed(uint8_t type) {
  return type != TYPE_JPEG && !is_compressed_type(type) && compressed_type(type) == type;
}

bool holds_lz4_image(const EntryRect& rect, std::span<const uint8_t> stored) {
  const uint64_t area = uint64_t{rect.width} * rect.height;
  if (area == 0 || stored.empty() || stored.size() > PACK_MAX_PAYLOAD) return false;
  // As decompress_entry decodes it: the data is taken as compressed exactly
  // when -d gives back an image of it.
  const uint64_t capacity =
      std::max<uint64_t>(std::min<uint64_t>(4 * area, PACK_MAX_PAYLOAD), stored.size());
  // Never read, so never cleared.
  std::unique_ptr<char[]> out(new char[capacity]);
  const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(stored.data()), out.get(),
                                      static_cast<int>(stored.size()), static_cast<int>(capacity));
  return got > 0 && uint64_t(got) % area == 0 && uint64_t(got) / area <= 4;
}

uint64_t compress_read_size(const PackEntry& e, bool tiled, std::optional<uint32_t> stored_len) {
  const uint64_t n = e.len - uint64_t{4};
  if (e.type == TYPE_JPEG) return tiled ? e.len : n;
  // Compressed data carries no TileHint: exactly its stored bytes.
  if (is_compressed_type(e.type)) return n;
  uint64_t want = tiled ? TILE_HINT_SIZE + n : n;
  const uint32_t stored = stored_len.value_or(e.len);
  if (!tiled && keeps_code_when_compressed(e.type) && stored > ENTRY_RECT_SIZE)
    want = std::max<uint64_t>(want, stored - ENTRY_RECT_SIZE);
  // An image too large for a pack entry is only ever kept; one byte more
  // than an entry can hold tells that it cannot even be kept.
  return std::min<uint64_t>(want, uint64_t{PACK_MAX_PAYLOAD} + 1);
}

EntryResult compress_entry(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
                           bool tiled, uint8_t codec_kind, const JobRunner* jobs,
                           std::optional<uint32_t> stored_len) {
  const uint64_t n = e.len - uint64_t{4};
  if (is_compressed_type(e.type)) return copy_compressed(e, data);
  if (!tiled && keeps_code_when_compressed(e.type)) {
    // Its code does not say whether -c already compressed it: its stored
    // bytes do. Raw pixels pass only by a freak, and are then copied, never
    // lost.
    PackEntry stored = e;
    stored.len = stored_len.value_or(e.len);
    const uint64_t stored_n = stored.len > ENTRY_RECT_SIZE ? stored.len - ENTRY_RECT_SIZE : 0;
    if (stored_n > 0 && data.size() >= stored_n && holds_lz4_image(rect, data.first(stored_n)))
      return copy_compressed(stored, data.first(stored_n));
    // Otherwise the pixel array, which may be shorter than what was read.
    return compress_whole(e, data.first(std::min<uint64_t>(data.size(), n)));
  }
  if (e.type != TYPE_JPEG) return tiled ? compress_tiled(e, rect, data, codec_kind, jobs) : compress_whole(e, data);
  if (data.size() < n) return keep_entry(e, data, "JPEG data runs past the end of the input");
  EntryResult r;
  r.type = e.type;
  if (!tiled && n >= 8 && std::equal(data.begin(), data.begin() + 4, "JPEG")) {
    append_line(r.text, "entry->name %s len %x  w %d h %d \r\n", entry_name_text(e).text,
                static_cast<unsigned>(n), load_le16(data.data() + 4), load_le16(data.data() + 6));
  }
  // Tiled packs copy the len bytes after the EntryRect; the last entry of a
  // file may hold fewer, and only what was read is written.
  r.data.assign(data.begin(), data.end());
  append_progress(r, e, n);
  return r;
}

EntryResult decompress_entry(const PackEntry& e, const EntryRect& rect,
                             std::span<const uint8_t> data, bool tiled) {
  const uint64_t n = e.len - uint64_t{4};
  EntryResult r;
  if (e.offset & 1) append_line(r.text, "%s: odd offset %u\r\n", entry_name_text(e).text, e.offset);
  auto keep = [&](const char* why) {
    EntryResult k = keep_entry(e, data, why);
    k.text.insert(0, r.text);
    return k;
  };
  if (data.size() < n) return keep("stored data runs past the end of the input");

  if (e.type == TYPE_JPEG) {
    r.type = e.type;
    if (n >= 8) append_line(r.text, "jpeg_head: %x \n", load_le32(data.data() + 4));
    r.data.assign(data.begin(), data.end());
    append_progress(r, e, n);
    return r;
  }

  if (tiled) {
    if (data.size() < TILE_HEADER_SIZE) return keep(tile_error_text(TILE_ERR_HEADER));
    TileImage t = read_tile_image(data.data());
    if (t.width != rect.width || t.height != rect.height)
      return keep("tiled block size differs from the entry's rectangle");
    const uint64_t size = uint64_t{t.width} * t.height * t.bytes_per_pixel;
    if (size > PACK_MAX_PAYLOAD) return keep("decoded image too large for a pack entry");
    r.data.resize(size);
    // A decoder of its own, with room for one of this block's tiles (a
    // larger one than the library takes is refused as by any decoder), so
    // entries may decode on any thread and nothing outlives the block.
    const uint64_t tile_bytes = uint64_t{t.tile_width} * t.tile_height * t.bytes_per_pixel;
    const int32_t room = int32_t(std::clamp<uint64_t>(tile_bytes, 1, TILE_BUFFER_SIZE));
    const size_t memory_size = tile_decoder_size(room);
    std::unique_ptr<uint64_t[]> memory(new uint64_t[(memory_size + 7) / 8]);
    TileDecoder* dec = tile_decoder_init(memory.get(), memory_size, room);
    int32_t got = decode_tile_region(dec, data, r.data, 0, 0, t.width, t.height, t.width * t.bytes_per_pixel);
    if (got < 0) return keep(tile_error_text(got));
    r.data.resize(static_cast<size_t>(got));
    r.type = TYPE_TILED;
    append_progress(r, e, n);
    return r;
  }

  // Whole-entry LZ4 data may decode to any length up to the entry's pixel
  // array at 4 bytes per pixel: codes without a row in the type table count
  // 2 bytes per pixel but may hold 3 or 4. The capacity never goes below the
  // stored size, nor above what a 24-bit len holds.
  const uint64_t capacity = std::max<uint64_t>(
      std::min<uint64_t>(uint64_t{4} * rect.width * rect.height, PACK_MAX_PAYLOAD), n);
  r.data.resize(capacity);
  int got = LZ4_decompress_safe(reinterpret_cast<const char*>(data.data()),
                                reinterpret_cast<char*>(r.data.data()), static_cast<int>(n),
                                static_cast<int>(capacity));
  if (got < 0) return keep("not valid LZ4 data for its image");
  if (!fits_entry(static_cast<size_t>(got))) return keep("decoded image too large for a pack entry");
  r.data.resize(static_cast<size_t>(got));
  r.type = raw_type(e.type);
  append_progress(r, e, n);
  return r;
}
