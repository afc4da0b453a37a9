// SPDX-License-Identifier: MIT
#include "core/convert.h"

#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "core/entry_form.h"
#include "core/tile_size.h"
#include "tile/tile_image.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

// Every buffer of a result comes from the pool when there is one, and the
// buffers a failure leaves go back to it.
std::vector<uint8_t> new_buffer(EntryMemory* memory, size_t size) {
  if (memory != nullptr && memory->pool != nullptr) return memory->pool->take(size);
  return std::vector<uint8_t>(size);
}

void give_back(EntryMemory* memory, std::vector<uint8_t>&& buffer) {
  if (memory != nullptr && memory->pool != nullptr) memory->pool->give(std::move(buffer));
}

std::vector<uint8_t> copy_of(EntryMemory* memory, std::span<const uint8_t> data) {
  std::vector<uint8_t> out = new_buffer(memory, data.size());
  std::copy(data.begin(), data.end(), out.begin());
  return out;
}

// The entry stays as the input holds it: same bytes, same type.
EntryResult keep_entry(EntryMemory* memory, const PackEntry& e, std::span<const uint8_t> data, std::string why) {
  EntryResult r;
  r.data = copy_of(memory, data);
  r.type = e.type;
  r.action = EntryAction::Kept;
  r.status = {ENTRY_ERR_KEPT, std::move(why)};
  return r;
}

EntryResult converted(std::vector<uint8_t> data, uint8_t type, uint64_t from_size) {
  EntryResult r;
  r.data = std::move(data);
  r.type = type;
  r.from_size = from_size;
  return r;
}

// The result must still fit the 24-bit len with its EntryRect.
bool fits_entry(size_t len) { return len <= PACK_MAX_PAYLOAD; }

EntryResult compress_whole(const PackEntry& e, std::span<const uint8_t> data, EntryMemory* memory) {
  const uint64_t n = payload_len(e);
  if (e.len > PACK_MAX_LEN) return keep_entry(memory, e, data, "image too large for a pack entry");
  if (data.size() < n) return keep_entry(memory, e, data, "pixel data runs past the end of the input");
  // LZ4's worst case, so every entry compresses (the same bytes as into
  // any larger buffer).
  const int src_len = static_cast<int>(n);
  std::vector<uint8_t> dst = new_buffer(memory, static_cast<size_t>(LZ4_compressBound(src_len)));
  int out = lz4_hc_compress(data.data(), dst.data(), src_len, static_cast<int>(dst.size()));
  if (out <= 0 || !fits_entry(static_cast<size_t>(out))) {
    give_back(memory, std::move(dst));
    return keep_entry(memory, e, data, "compressed data does not fit a pack entry");
  }
  dst.resize(static_cast<size_t>(out));
  return converted(std::move(dst), compressed_type(e.type), n);
}

EntryResult compress_tiled(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
                           uint8_t codec_kind, EntryMemory* memory) {
  const uint64_t n = payload_len(e);
  const int pixel_format = pixel_format_for_type(e.type);
  const int bpp = pixel_format_bytes(pixel_format);
  char why[96];
  if (bpp == 0) {
    std::snprintf(why, sizeof why, "type %d has no tiled pixel format", e.type);
    return keep_entry(memory, e, data, why);
  }
  if (bpp != entry_bytes_per_pixel(e)) {
    // Coding it would read past the pixel array or drop part of it.
    std::snprintf(why, sizeof why, "type %d holds %d bytes per pixel, its pixel format %d", e.type,
                  entry_bytes_per_pixel(e), bpp);
    return keep_entry(memory, e, data, why);
  }
  if (e.len > PACK_MAX_LEN) return keep_entry(memory, e, data, "image too large for a pack entry");
  if (data.size() < TILE_HINT_SIZE + n) return keep_entry(memory, e, data, "pixel data runs past the end of the input");

  const TileSize tile = tile_size_for(rect, read_tile_hint(data.data()), bpp);
  int32_t check = tile_image_check(rect.width, rect.height, tile.tile_width, tile.tile_height, pixel_format,
                                   codec_kind);
  if (check < 0) {
    std::snprintf(why, sizeof why, "cannot tile %dx%d in %dx%d tiles with codec %d: %s", rect.width, rect.height,
                  tile.tile_width, tile.tile_height, codec_kind, tile_error_text(check));
    return keep_entry(memory, e, data, why);
  }
  uint64_t bound = tile_image_bound(rect.width, rect.height, tile.tile_width, tile.tile_height, pixel_format,
                                    codec_kind);
  std::vector<uint8_t> dst = new_buffer(memory, bound);
  int32_t out = encode_tile_image_jobs(memory != nullptr ? memory->jobs : nullptr, data.subspan(TILE_HINT_SIZE, n), dst, rect.width, rect.height,
                                       tile.tile_width, tile.tile_height, static_cast<uint8_t>(pixel_format),
                                       codec_kind);
  // The tile library prints nothing; its encoder's one failure left after
  // the check above, a tile that did not fit, is reported here.
  if (out == MORVANE_TILE_ERR_CAPACITY) std::printf("Failed to compress the data\n");
  if (out < 0 || !fits_entry(static_cast<size_t>(out))) {
    give_back(memory, std::move(dst));
    return keep_entry(memory, e, data, out < 0 ? "tiled encoding failed" : "tiled block does not fit a pack entry");
  }
  dst.resize(static_cast<size_t>(out));
  return converted(std::move(dst), TYPE_TILED, n);
}

// The LZ4 block into all of pixels: the decoded length, negative when it is
// not valid LZ4 data that fits.
int decode_whole(std::span<const uint8_t> block, std::span<uint8_t> pixels) {
  return LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()), reinterpret_cast<char*>(pixels.data()),
                             static_cast<int>(block.size()), static_cast<int>(pixels.size()));
}

// Already compressed data cannot be compressed again (it is no pixel array):
// it is copied as stored. A type-39 entry that holds no tiled block (the
// pixels a tiled decompression leaves, of a format its type does not tell)
// is copied all the same, as a failure.
EntryResult copy_compressed(const PackEntry& e, std::span<const uint8_t> data, EntryMemory* memory) {
  const uint64_t n = payload_len(e);
  if (data.size() < n) return keep_entry(memory, e, data, "stored data runs past the end of the input");
  EntryResult r = converted(copy_of(memory, data), e.type, n);
  r.action = EntryAction::Copied;
  const uint32_t magic = n >= 4 ? load_le32(data.data()) : 0;
  if (type_info(e.type).kind == TypeKind::Tiled && !is_tile_magic(magic))
    r.status = {ENTRY_ERR_NOT_A_BLOCK, "type 39 data is not a tiled block and cannot be tiled again"};
  return r;
}

// A decoder in this thread's memory, laid out afresh for the block, with
// room for one of its tiles (a larger one than the library takes is refused
// as by any decoder), so entries may decode on any thread and nothing
// outlives the block.
TileDecoder* block_decoder(const TileImage& t, std::vector<uint64_t>& words) {
  const uint64_t tile_bytes = uint64_t{t.tile_width} * t.tile_height * t.bytes_per_pixel;
  const int32_t room = int32_t(std::clamp<uint64_t>(tile_bytes, 1, TILE_BUFFER_SIZE));
  const size_t memory_size = tile_decoder_size(room);
  if (words.size() < (memory_size + 7) / 8) words.resize((memory_size + 7) / 8);
  return tile_decoder_init(words.data(), memory_size, room);
}

// The largest pixel array an entry of this rectangle decodes to: 4 bytes
// per pixel (codes without a row in the type table count 2 but may hold 3
// or 4), never beyond what an entry holds.
uint64_t largest_pixels(const EntryRect& rect) {
  return std::min<uint64_t>(uint64_t{4} * rect.width * rect.height, PACK_MAX_PAYLOAD);
}

}  // namespace

uint64_t whole_decode_capacity(const EntryRect& rect, uint64_t n) {
  // No LZ4 block expands past 256 bytes per stored byte, so a hostile
  // rectangle costs no 16 MiB buffer for a few bytes of data.
  return std::max<uint64_t>(std::min(largest_pixels(rect), uint64_t{256} * n), n);
}

uint64_t compress_read_size(const PackEntry& e, PackMode mode, std::optional<uint32_t> stored_len) {
  const uint64_t n = payload_len(e);
  const CodedAs coded = coded_as(mode, e.type);
  if (coded == CodedAs::Jpeg) return mode.tiled ? e.len : n;
  // Compressed data carries no TileHint: exactly its stored bytes.
  if (coded == CodedAs::Compressed) return n;
  uint64_t want = mode.tiled ? TILE_HINT_SIZE + n : n;
  const uint32_t stored = stored_len.value_or(e.len);
  if (coded == CodedAs::Either && stored > ENTRY_RECT_SIZE)
    want = std::max<uint64_t>(want, stored - ENTRY_RECT_SIZE);
  // An image too large for a pack entry is only ever kept; one byte more
  // than an entry can hold tells that it cannot even be kept.
  return std::min<uint64_t>(want, uint64_t{PACK_MAX_PAYLOAD} + 1);
}

uint64_t compress_work_bytes(const PackEntry& e, const EntryRect& rect, PackMode mode, uint64_t read_size) {
  // Whole entries: the read bytes and LZ4's worst case, and for a code that
  // compression keeps the trial decoding of its stored bytes; tiled LZ4
  // images also code their tiles into a scratch buffer first; a little more
  // for the block's header and table.
  const uint64_t n = read_size + read_size / 128 + (64u << 10);
  const CodedAs coded = coded_as(mode, e.type);
  if (coded == CodedAs::Jpeg || coded == CodedAs::Compressed) return 2 * read_size;
  if (coded == CodedAs::Either)
    return read_size + n + largest_pixels(rect);
  return read_size + (mode.tiled && mode.codec_kind == CODEC_KIND_LZ4 ? 2 * n : n);
}

uint64_t decompress_work_bytes(const PackEntry& e, const EntryRect& rect, PackMode mode) {
  const uint64_t n = payload_len(e);
  if (coded_as(mode, e.type) == CodedAs::Jpeg) return 2 * n;
  // As decompress_entry sizes its pixels.
  return n + (mode.tiled ? largest_pixels(rect) : whole_decode_capacity(rect, n));
}

EntryResult compress_entry(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
                           PackMode mode, EntryMemory* memory, std::optional<uint32_t> stored_len) {
  const uint64_t n = payload_len(e);
  const CodedAs coded = coded_as(mode, e.type);
  if (coded == CodedAs::Compressed) return copy_compressed(e, data, memory);
  if (coded == CodedAs::Either) {
    // Its code does not say whether -c already compressed it: its stored
    // bytes do. Raw pixels pass only by a freak, and are then copied, never
    // lost.
    PackEntry stored = e;
    stored.len = stored_len.value_or(e.len);
    const uint64_t stored_n = stored.len > ENTRY_RECT_SIZE ? payload_len(stored) : 0;
    if (classify_entry(mode, stored, rect, data, stored_n, KeptCodes::ByDecoding,
                       memory != nullptr ? memory->pool : nullptr) == EntryForm::Lz4)
      return copy_compressed(stored, data.first(stored_n), memory);
    // Otherwise the pixel array, which may be shorter than what was read.
    return compress_whole(e, data.first(std::min<uint64_t>(data.size(), n)), memory);
  }
  if (coded == CodedAs::Pixels)
    return mode.tiled ? compress_tiled(e, rect, data, mode.codec_kind, memory) : compress_whole(e, data, memory);
  if (data.size() < n) return keep_entry(memory, e, data, "JPEG data runs past the end of the input");
  // Tiled packs copy the len bytes after the EntryRect; the last entry of a
  // file may hold fewer, and only what was read is written.
  EntryResult r = converted(copy_of(memory, data), e.type, n);
  r.action = EntryAction::Jpeg;
  return r;
}

EntryResult decompress_entry(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data,
                             PackMode mode, EntryMemory* memory) {
  const uint64_t n = payload_len(e);
  if (data.size() < n) return keep_entry(memory, e, data, "stored data runs past the end of the input");

  if (coded_as(mode, e.type) == CodedAs::Jpeg) {
    EntryResult r = converted(copy_of(memory, data), e.type, n);
    r.action = EntryAction::Jpeg;
    return r;
  }

  if (mode.tiled) {
    if (data.size() < TILE_HEADER_SIZE) return keep_entry(memory, e, data, tile_error_text(MORVANE_TILE_ERR_HEADER));
    TileImage t = read_tile_image(data.data());
    if (t.width != rect.width || t.height != rect.height)
      return keep_entry(memory, e, data, "tiled block size differs from the entry's rectangle");
    const uint64_t size = uint64_t{t.width} * t.height * t.bytes_per_pixel;
    if (size > PACK_MAX_PAYLOAD) return keep_entry(memory, e, data, "decoded image too large for a pack entry");
    std::vector<uint8_t> pixels = new_buffer(memory, size);
    std::vector<uint64_t> own;
    TileDecoder* dec = block_decoder(t, memory != nullptr ? memory->decoder : own);
    int32_t got = decode_tile_region(dec, data, pixels, 0, 0, t.width, t.height, t.width * t.bytes_per_pixel);
    if (got < 0) {
      give_back(memory, std::move(pixels));
      return keep_entry(memory, e, data, tile_error_text(got));
    }
    pixels.resize(static_cast<size_t>(got));
    return converted(std::move(pixels), TYPE_TILED, n);
  }

  std::vector<uint8_t> pixels = new_buffer(memory, whole_decode_capacity(rect, n));
  const int got = decode_whole(data.first(n), pixels);
  if (got < 0 || !fits_entry(static_cast<size_t>(got))) {
    give_back(memory, std::move(pixels));
    return keep_entry(memory, e, data,
                      got < 0 ? "not valid LZ4 data for its image" : "decoded image too large for a pack entry");
  }
  pixels.resize(static_cast<size_t>(got));
  return converted(std::move(pixels), raw_type(e.type), n);
}

namespace {

// A band of `size` bytes: in the thread's own buffer, kept for the next
// entry so its pages are touched once per thread, up to `own` bytes; a
// larger one comes from the pool into `large` and goes back, as a buffer of
// the whole image would, so no thread keeps one.
std::span<uint8_t> band_buffer(EntryMemory& memory, uint64_t size, uint64_t own, std::vector<uint8_t>& large) {
  if (size > own) {
    large = new_buffer(&memory, static_cast<size_t>(size));
    return large;
  }
  if (memory.band.size() < size) memory.band.resize(static_cast<size_t>(size));
  return std::span<uint8_t>(memory.band).first(static_cast<size_t>(size));
}

uint64_t whole_band(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data, EntryMemory& memory,
                    const BandSink& band) {
  const uint64_t n = payload_len(e);
  std::vector<uint8_t> large;
  // Up to 256 KiB: the room is for 4 bytes a pixel, and every thread's
  // buffer is cleared to its size once.
  const std::span<uint8_t> pixels = band_buffer(memory, whole_decode_capacity(rect, n), uint64_t{256} << 10, large);
  const int got = decode_whole(data.first(n), pixels);
  const bool ok = got > 0 && fits_entry(static_cast<size_t>(got));
  if (ok) band(0, pixels.first(static_cast<size_t>(got)));
  give_back(&memory, std::move(large));
  return ok ? static_cast<uint64_t>(got) : 0;
}

uint64_t tiled_bands(const EntryRect& rect, std::span<const uint8_t> data, EntryMemory& memory, const BandSink& band) {
  if (data.size() < TILE_HEADER_SIZE) return 0;
  const TileImage t = read_tile_image(data.data());
  const uint64_t row = uint64_t{t.width} * t.bytes_per_pixel;
  const uint64_t size = row * t.height;
  if (t.width != rect.width || t.height != rect.height || size == 0 || size > PACK_MAX_PAYLOAD) return 0;
  // Whole rows of tiles, as many as fit kBandBytes: each tile is decoded
  // once, and the band stays in the cache from its decoding to its write.
  // Stored images have no tiles: any rows.
  constexpr uint64_t kBandBytes = uint64_t{64} << 10;
  const uint64_t tile_rows = t.magic != MORVANE_TILE_MAGIC_RAW && t.tile_height != 0 ? t.tile_height : 1;
  const uint64_t rows = std::min<uint64_t>(t.height, tile_rows * std::max<uint64_t>(1, kBandBytes / (row * tile_rows)));
  std::vector<uint8_t> large;
  const std::span<uint8_t> pixels = band_buffer(memory, rows * row, uint64_t{1} << 20, large);
  TileDecoder* dec = block_decoder(t, memory.decoder);
  uint64_t done = 0;
  for (uint64_t y = 0; y < t.height; y += rows) {
    const uint64_t h = std::min<uint64_t>(rows, t.height - y);
    const int32_t got = decode_tile_region(dec, data, pixels, 0, int32_t(y), t.width, int32_t(h), int32_t(row));
    if (got < 0 || uint64_t(got) != h * row) break;
    band(done, std::span<const uint8_t>(pixels.data(), static_cast<size_t>(got)));
    done += uint64_t(got);
  }
  give_back(&memory, std::move(large));
  return done == size ? size : 0;
}

}  // namespace

BandsOut decompress_bands(const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> data, PackMode mode,
                          EntryMemory& memory, const BandSink& band) {
  // Only what decompress_entry decodes to a pixel array of its own.
  if (coded_as(mode, e.type) == CodedAs::Jpeg || data.size() < payload_len(e)) return {};
  if (!mode.tiled) return {whole_band(e, rect, data, memory, band), raw_type(e.type)};
  return {tiled_bands(rect, data, memory, band), TYPE_TILED};
}
