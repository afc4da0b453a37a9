// SPDX-License-Identifier: MIT
#include "tool/image_files.h"

#include <spng.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "pack/pack_format.h"

namespace {

struct SpngFree {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using SpngCtx = std::unique_ptr<spng_ctx, SpngFree>;

struct TjFree {
  void operator()(void* h) const { tjDestroy(h); }
};

// Ancillary chunks bigger than this are refused, and all the chunks kept in
// memory together may not pass the cache limit.
constexpr size_t kChunkLimit = size_t{16} << 20;
constexpr size_t kChunkCacheLimit = size_t{64} << 20;

Status failed(std::string why) { return {TOOL_ERR_PICTURE, std::move(why)}; }

// The library's result rc as a Status.
Status spng_status(int rc, const char* what) {
  if (rc == 0) return {};
  if (rc == SPNG_EUSER_WIDTH || rc == SPNG_EUSER_HEIGHT)
    return failed("PNG more than 65535 pixels wide or high; an entry holds at most 65535 x 65535");
  return failed(std::string(what) + ": " + spng_strerror(rc));
}

// A decoder for `file` with the limits for hostile files set, its header read.
SpngCtx open_png(std::span<const uint8_t> file, spng_ihdr& ihdr, Status& s) {
  SpngCtx ctx(spng_ctx_new(0));
  if (!ctx) {
    s = failed("out of memory");
    return ctx;
  }
  spng_set_image_limits(ctx.get(), PICTURE_MAX_SIDE, PICTURE_MAX_SIDE);
  spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkCacheLimit);
  s = spng_status(spng_set_png_buffer(ctx.get(), file.data(), file.size()), "not a PNG");
  if (s.ok()) s = spng_status(spng_get_ihdr(ctx.get(), &ihdr), "not a PNG");
  if (!s.ok()) ctx.reset();
  return ctx;
}

}  // namespace

Status png_size(std::span<const uint8_t> file, uint32_t& width, uint32_t& height) {
  spng_ihdr ihdr{};
  Status s;
  if (!open_png(file, ihdr, s)) return s;
  width = ihdr.width;
  height = ihdr.height;
  return {};
}

Status read_png(std::span<const uint8_t> file, uint64_t max_pixels, Picture& out) {
  spng_ihdr ihdr{};
  Status s;
  SpngCtx ctx = open_png(file, ihdr, s);
  if (!ctx) return s;
  if (uint64_t{ihdr.width} * ihdr.height > max_pixels)
    return failed("PNG of " + std::to_string(ihdr.width) + " x " + std::to_string(ihdr.height) +
                  " pixels is larger than a pack entry holds");
  size_t size = 0;
  if (s = spng_status(spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size), "bad PNG"); !s.ok()) return s;
  std::vector<uint8_t> rgba(size);
  s = spng_status(spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS), "bad PNG");
  if (!s.ok()) return s;
  spng_trns trns{};
  out.width = ihdr.width;
  out.height = ihdr.height;
  out.kind.has_alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                       spng_get_trns(ctx.get(), &trns) == 0;
  out.kind.grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                  ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
  out.rgba = std::move(rgba);
  return {};
}

Status write_png(uint32_t width, uint32_t height, int channels, std::span<const uint8_t> samples,
                 std::vector<uint8_t>& out, const PngSettings& settings) {
  uint8_t colour = 0;
  switch (channels) {
    case 1: colour = SPNG_COLOR_TYPE_GRAYSCALE; break;
    case 3: colour = SPNG_COLOR_TYPE_TRUECOLOR; break;
    case 4: colour = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA; break;
    default: return failed("no PNG colour type for " + std::to_string(channels) + " channels");
  }
  if (uint64_t{width} * height * uint64_t(channels) != samples.size())
    return failed("picture size does not match its samples");
  SpngCtx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return failed("out of memory");
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, settings.level);
  spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, settings.strategy);
  spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, settings.filters);
  spng_ihdr ihdr{};
  ihdr.width = width;
  ihdr.height = height;
  ihdr.bit_depth = 8;
  ihdr.color_type = colour;
  if (Status s = spng_status(spng_set_ihdr(ctx.get(), &ihdr), "PNG header"); !s.ok()) return s;
  if (Status s =
          spng_status(spng_encode_image(ctx.get(), samples.data(), samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE),
                      "PNG encoding");
      !s.ok())
    return s;
  size_t len = 0;
  int rc = 0;
  void* png = spng_get_png_buffer(ctx.get(), &len, &rc);
  if (png == nullptr) return spng_status(rc != 0 ? rc : SPNG_EINTERNAL, "PNG encoding");
  const uint8_t* bytes = static_cast<const uint8_t*>(png);
  out.assign(bytes, bytes + len);
  std::free(png);
  return {};
}

Status jpeg_size(std::span<const uint8_t> file, uint16_t& width, uint16_t& height) {
  if (file.size() >= 8 && std::equal(file.begin(), file.begin() + 4, "JPEG")) {
    width = load_le16(file.data() + 4);
    height = load_le16(file.data() + 6);
    return {};
  }
  if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8) return failed("not a JPEG (no start-of-image marker)");
  std::unique_ptr<void, TjFree> tj(tjInitDecompress());
  if (!tj) return failed("cannot start the JPEG decoder");
  int w = 0, h = 0, subsamp = 0, colourspace = 0;
  // The library's interface takes a non-const buffer but only reads it.
  if (tjDecompressHeader3(tj.get(), const_cast<unsigned char*>(file.data()), static_cast<unsigned long>(file.size()),
                          &w, &h, &subsamp, &colourspace) != 0)
    return failed(std::string("not a JPEG: ") + tjGetErrorStr2(tj.get()));
  // The library reports a stream that ends before its frame header as a
  // picture of no pixels.
  if (w < 1 || h < 1 || w > 65535 || h > 65535)
    return failed("not a JPEG: no frame header with a size from 1 to 65535");
  width = static_cast<uint16_t>(w);
  height = static_cast<uint16_t>(h);
  return {};
}
