// SPDX-License-Identifier: MIT
#include "tool/tool_report.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "core/entry_pixels.h"
#include "core/pipeline.h"
#include "core/progress.h"
#include "io/files.h"
#include "tile/tile_image.h"
#include "tool/export_formats.h"
#include "tool/image_files.h"
#include "tool/pixel_formats.h"
#include "tool/tool_commands.h"
#include "tool/tool_files.h"
#include "tool/tool_text.h"

using namespace morvane;
using namespace morvane::detail;

namespace {

// A JPEG is decoded for its thumbnail at a scale of at most this many pixels;
// a larger one gets none.
constexpr uint64_t kJpegDecodeLimit = uint64_t{16} << 20;

const char* form_text(EntryForm f) { return entry_form_names(f).report; }

bool make_thumbnail(std::span<const uint8_t> rgba, uint32_t width, uint32_t height, ReportEntry& x) {
  thumbnail_size(width, height, x.thumb_width, x.thumb_height);
  return write_png(x.thumb_width, x.thumb_height, 4, shrink_rgba(rgba, width, height, x.thumb_width, x.thumb_height),
                   x.thumbnail)
      .ok();
}

// Pixels of format f as RGBA.
std::vector<uint8_t> pixels_rgba(std::span<const uint8_t> pixels, const PixelFormatInfo* f) {
  std::vector<uint8_t> samples = pixels_to_samples(*f, pixels);
  const size_t count = samples.size() / static_cast<size_t>(f->channels);
  std::vector<uint8_t> rgba(count * 4);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* s = samples.data() + i * static_cast<size_t>(f->channels);
    uint8_t* d = rgba.data() + i * 4;
    d[0] = s[0];
    d[1] = f->channels >= 3 ? s[1] : s[0];
    d[2] = f->channels >= 3 ? s[2] : s[0];
    d[3] = f->channels == 4 ? s[3] : 255;
  }
  return rgba;
}

struct TjFree {
  void operator()(void* h) const { tjDestroy(h); }
};

// A JPEG file's picture, or the pack's own form ("JPEG", width, height) when
// a JPEG file follows it; false when there is none that decodes.
bool jpeg_thumbnail(std::span<const uint8_t> payload, ReportEntry& x) {
  std::span<const uint8_t> file = payload;
  if (file.size() >= 10 && std::equal(file.begin(), file.begin() + 4, "JPEG")) file = file.subspan(8);
  if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8) return false;
  std::unique_ptr<void, TjFree> tj(tjInitDecompress());
  int w = 0, h = 0, subsamp = 0, colourspace = 0;
  // The library's interface takes a non-const buffer but only reads it.
  unsigned char* bytes = const_cast<unsigned char*>(file.data());
  const auto size = static_cast<unsigned long>(file.size());
  if (!tj || tjDecompressHeader3(tj.get(), bytes, size, &w, &h, &subsamp, &colourspace) != 0 || w < 1 || h < 1)
    return false;
  // The smallest scale whose long side still reaches the thumbnail's.
  int count = 0;
  tjscalingfactor* factors = tjGetScalingFactors(&count);
  int sw = w, sh = h;
  for (int i = 0; factors != nullptr && i < count; ++i) {
    const int fw = TJSCALED(w, factors[i]), fh = TJSCALED(h, factors[i]);
    if (std::max(fw, fh) >= static_cast<int>(std::min<uint32_t>(THUMBNAIL_MAX_SIDE, std::max(w, h))) &&
        uint64_t(fw) * uint64_t(fh) < uint64_t(sw) * uint64_t(sh)) {
      sw = fw;
      sh = fh;
    }
  }
  if (uint64_t(sw) * uint64_t(sh) > kJpegDecodeLimit) return false;
  std::vector<uint8_t> rgba(size_t(sw) * size_t(sh) * 4);
  if (tjDecompress2(tj.get(), bytes, size, rgba.data(), sw, 0, sh, TJPF_RGBA, 0) != 0) return false;
  return make_thumbnail(rgba, uint32_t(sw), uint32_t(sh), x);
}

// The grid of a tiled block and each tile's bytes, when its TileRefs fill
// the grid inside the payload.
void read_tile_map(std::span<const uint8_t> payload, ReportEntry& x) {
  if (payload.size() < TILE_HEADER_SIZE) return;
  const TileImage t = read_tile_image(payload.data());
  x.pixel_format = t.pixel_format;
  if (t.magic == MORVANE_TILE_MAGIC_RAW) x.codec = "stored whole";
  if (t.magic == MORVANE_TILE_MAGIC_RAW || t.tile_width == 0 || t.tile_height == 0) return;
  const uint32_t across = (uint32_t{t.width} + t.tile_width - 1) / t.tile_width;
  const uint32_t down = (uint32_t{t.height} + t.tile_height - 1) / t.tile_height;
  const uint64_t count = uint64_t{across} * down;
  if (count == 0 || count != t.tile_count || (payload.size() - TILE_HEADER_SIZE) / TILE_REF_SIZE < count) return;
  x.tiles_across = across;
  x.tiles_down = down;
  x.tile_width = t.tile_width;
  x.tile_height = t.tile_height;
  const TileCodec* codec = tile_codec_of_magic(t.magic);
  x.codec = codec != nullptr && codec->tiled ? codec->name : "";
  x.tile_bytes.resize(count);
  for (uint64_t k = 0; k < count; ++k)
    x.tile_bytes[k] = read_tile_ref(payload.data() + TILE_HEADER_SIZE + k * TILE_REF_SIZE).len;
}

// One entry between its read and its row.
struct ReportWork {
  const ManifestEntry* from = nullptr;  // its record in --formats
  std::vector<uint8_t> payload;
  bool read_failed = false;
  ReportEntry entry;
};

// The report's steps but the finish: nothing is read after a failed read.
OrderedSteps<ReportWork> report_steps(PackFile& pf, ManifestMatcher& matcher) {
  const PackRecords& pack = pf.records;
  OrderedSteps<ReportWork> steps;
  // The payload, the pixels, their RGBA and samples at most.
  steps.bytes = [&pack](size_t i) {
    if (!entry_problem(pack, i).empty()) return uint64_t{0};
    const EntryRect& r = pack.entries[i].rect;
    return payload_len(pack.entries[i].entry) + uint64_t{12} * r.width * r.height;
  };
  steps.read = [&pf, &matcher](size_t i, ReportWork& w, EntryMemory&) {
    const PackEntry& e = pf.records.entries[i].entry;
    w.from = matcher.next(entry_name(e));
    if (entry_problem(pf.records, i).empty())
      w.payload = tool_pack_read(pf, entry_payload_pos(e), payload_len(e), w.read_failed);
    return !w.read_failed;
  };
  steps.work = [&pack](size_t i, ReportWork& w, EntryMemory& memory) {
    const PackEntry& e = pack.entries[i].entry;
    const std::string& problem = entry_problem(pack, i);
    if (problem.empty()) {
      w.entry = report_entry(pack_mode(pack.header), e, pack.entries[i].rect, w.payload, &memory, w.from);
      return;
    }
    w.entry.name = tool_display_name(entry_name(e));
    w.entry.type = e.type;
    w.entry.form = form_text(EntryForm::Unknown);
    w.entry.error = problem;
  };
  return steps;
}

}  // namespace

void thumbnail_size(uint32_t width, uint32_t height, uint32_t& out_width, uint32_t& out_height) {
  const uint32_t side = std::max(width, height);
  if (side <= THUMBNAIL_MAX_SIDE) {
    out_width = width;
    out_height = height;
    return;
  }
  // Rounded to the nearest pixel.
  out_width = std::max<uint32_t>(1, static_cast<uint32_t>((uint64_t{width} * THUMBNAIL_MAX_SIDE + side / 2) / side));
  out_height = std::max<uint32_t>(1, static_cast<uint32_t>((uint64_t{height} * THUMBNAIL_MAX_SIDE + side / 2) / side));
}

std::vector<uint8_t> shrink_rgba(std::span<const uint8_t> rgba, uint32_t width, uint32_t height, uint32_t out_width,
                                 uint32_t out_height) {
  std::vector<uint8_t> out(size_t{out_width} * out_height * 4);
  for (uint32_t oy = 0; oy < out_height; ++oy) {
    const uint32_t y0 = static_cast<uint32_t>(uint64_t{oy} * height / out_height);
    const uint32_t y1 = std::max(y0 + 1, static_cast<uint32_t>(uint64_t{oy + 1} * height / out_height));
    for (uint32_t ox = 0; ox < out_width; ++ox) {
      const uint32_t x0 = static_cast<uint32_t>(uint64_t{ox} * width / out_width);
      const uint32_t x1 = std::max(x0 + 1, static_cast<uint32_t>(uint64_t{ox + 1} * width / out_width));
      // Colours weighted by alpha, so transparent pixels lend none of theirs.
      uint64_t sum[3] = {0, 0, 0}, alpha = 0;
      for (uint32_t y = y0; y < y1; ++y)
        for (uint32_t x = x0; x < x1; ++x) {
          const uint8_t* p = rgba.data() + (size_t{y} * width + x) * 4;
          for (int c = 0; c < 3; ++c) sum[c] += uint64_t{p[c]} * p[3];
          alpha += p[3];
        }
      const uint64_t n = uint64_t{y1 - y0} * (x1 - x0);
      uint8_t* d = out.data() + (size_t{oy} * out_width + ox) * 4;
      for (int c = 0; c < 3; ++c) d[c] = alpha != 0 ? static_cast<uint8_t>((sum[c] + alpha / 2) / alpha) : 0;
      d[3] = static_cast<uint8_t>((alpha + n / 2) / n);
    }
  }
  return out;
}

ReportEntry report_entry(PackMode mode, const PackEntry& e, const EntryRect& rect, std::span<const uint8_t> payload,
                         EntryMemory* memory, const ManifestEntry* from) {
  ReportEntry x;
  x.name = tool_display_name(entry_name(e));
  x.type = e.type;
  x.rect = rect;
  x.stored = e.len >= ENTRY_RECT_SIZE ? payload_len(e) : 0;
  const uint64_t area = uint64_t{rect.width} * rect.height;
  if (payload.size() < x.stored) {
    x.form = form_text(classify_entry(mode, e, rect, payload, x.stored));
    x.error = "its data (offset " + std::to_string(e.offset) + ", len " + std::to_string(e.len) +
              ") lies outside the file";
    return x;
  }
  payload = payload.first(x.stored);
  EntryPixels px;
  const Status s = entry_pixels(mode, e, rect, payload, px, memory);
  x.form = form_text(px.form);
  if (px.form == EntryForm::TiledBlock) read_tile_map(payload, x);
  if (px.form == EntryForm::Jpeg) {
    if (!jpeg_thumbnail(payload, x)) x.thumbnail.clear();
    return x;
  }
  if (!s.ok()) {
    x.error = s.message;
    const int bpp = px.form == EntryForm::TiledBlock ? read_tile_image(payload.data()).bytes_per_pixel
                                                    : px.bytes_per_pixel;
    x.raw = bpp >= 1 && bpp <= 4 ? area * uint64_t(bpp) : 0;
    return x;
  }
  x.raw = area * uint64_t(px.bytes_per_pixel);
  // Only a manifest tells the formats that share a pixel size apart.
  const ExportFormat f = choose_export_format(from, px.bytes_per_pixel);
  x.format = f.format->name;
  x.format_assumed = px.bytes_per_pixel > 1 && (f.assumed || from == nullptr);
  if (area != 0 && !make_thumbnail(pixels_rgba(px.pixels, f.format), rect.width, rect.height, x))
    x.thumbnail.clear();
  return x;
}

std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string ratio_text(uint64_t stored, uint64_t raw) {
  if (raw == 0) return "-";
  const double percent = static_cast<double>(stored) * 100 / static_cast<double>(raw);
  std::string text;
  for (int decimals = 1; decimals <= 4; ++decimals) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f%%", decimals, percent);
    text = buffer;
    // 16 bytes more than 76,800 is 100.02%, not 100.0%.
    const bool shows_100 = text.rfind("100.", 0) == 0 && text.find_first_not_of('0', 4) == text.size() - 1;
    if (stored == raw || !shows_100) break;
  }
  return text;
}

namespace {

std::string base64(std::span<const uint8_t> bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    const uint32_t v = uint32_t{bytes[i]} << 16 | (n > 1 ? uint32_t{bytes[i + 1]} << 8 : 0) | (n > 2 ? bytes[i + 2] : 0);
    out += digits[v >> 18 & 63];
    out += digits[v >> 12 & 63];
    out += n > 1 ? digits[v >> 6 & 63] : '=';
    out += n > 2 ? digits[v & 63] : '=';
  }
  return out;
}

std::string html_text(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// The tiles as a picture, a pixel per tile: pale for the cheapest, dark red
// for the dearest.
std::vector<uint8_t> tile_heat_png(const ReportEntry& x) {
  const uint32_t most = std::max<uint32_t>(1, *std::max_element(x.tile_bytes.begin(), x.tile_bytes.end()));
  std::vector<uint8_t> rgb(x.tile_bytes.size() * 3);
  for (size_t k = 0; k < x.tile_bytes.size(); ++k) {
    const double f = static_cast<double>(x.tile_bytes[k]) / most;
    rgb[k * 3] = static_cast<uint8_t>(255 - 95 * f);
    rgb[k * 3 + 1] = static_cast<uint8_t>(240 - 220 * f);
    rgb[k * 3 + 2] = static_cast<uint8_t>(200 - 180 * f);
  }
  std::vector<uint8_t> png;
  if (!write_png(x.tiles_across, x.tiles_down, 3, rgb, png).ok()) png.clear();
  return png;
}

std::string tile_map_html(const ReportEntry& x) {
  if (x.tile_bytes.empty()) return "";
  // One tile has no map to show.
  if (x.tile_bytes.size() == 1)
    return "<div class=\"note\">1 tile of " + std::to_string(x.tile_width) + "x" + std::to_string(x.tile_height) +
           ", " + grouped(x.tile_bytes[0]) + " bytes</div>";
  const std::vector<uint8_t> png = tile_heat_png(x);
  if (png.empty()) return "";
  const auto [least, most] = std::minmax_element(x.tile_bytes.begin(), x.tile_bytes.end());
  // Shown as large as the thumbnail, over the picture the tiles cover.
  uint32_t width = 0, height = 0;
  thumbnail_size(x.tiles_across * x.tile_width, x.tiles_down * x.tile_height, width, height);
  std::string list;
  for (uint32_t b : x.tile_bytes) list += (list.empty() ? "" : ",") + std::to_string(b);
  return "<img class=\"tiles\" src=\"data:image/png;base64," + base64(png) + "\" width=\"" +
         std::to_string(std::max(width, x.tiles_across)) + "\" height=\"" +
         std::to_string(std::max(height, x.tiles_down)) + "\" data-across=\"" + std::to_string(x.tiles_across) +
         "\" data-down=\"" + std::to_string(x.tiles_down) + "\" data-tiles=\"" + list + "\" alt=\"tile map\">" +
         "<div class=\"note\">" + std::to_string(x.tiles_across) + " x " + std::to_string(x.tiles_down) +
         " tiles of " + std::to_string(x.tile_width) + "x" + std::to_string(x.tile_height) + ", " +
         grouped(*least) + " to " + grouped(*most) + " bytes<span class=\"tile\"></span></div>";
}

struct Total {
  uint64_t entries = 0, stored = 0, raw = 0, stored_with_raw = 0;
  void add(const ReportEntry& x) {
    ++entries;
    stored += x.stored;
    raw += x.raw;
    stored_with_raw += x.raw != 0 ? x.stored : 0;
  }
};

std::string key_text(const std::string& form) { return html_text(form); }
std::string key_text(int type) { return std::to_string(type); }

// The ratio over the entries that have raw bytes, and says so when others
// are in the row.
std::string total_ratio(const Total& t) {
  if (t.raw == 0 || t.stored_with_raw == t.stored) return ratio_text(t.stored, t.raw);
  return ratio_text(t.stored_with_raw, t.raw) + " of the " + grouped(t.stored_with_raw) + " bytes with pixels";
}

template <class Key>
std::string totals_html(const char* heading, const char* what, const std::map<Key, Total>& totals) {
  std::string out = std::string("<h2>") + heading + "</h2>\n<table class=\"totals\"><thead><tr><th>" + what +
                    "</th><th>entries</th><th>stored bytes</th><th>raw bytes</th><th>ratio</th></tr></thead><tbody>\n";
  for (const auto& [key, t] : totals)
    out += "<tr><td>" + key_text(key) + "</td><td>" + grouped(t.entries) + "</td><td>" + grouped(t.stored) +
           "</td><td>" + grouped(t.raw) + "</td><td>" + total_ratio(t) + "</td></tr>\n";
  return out + "</tbody></table>\n";
}

// TILED_FLAG and CODEC_KIND in words.
std::string mode_html(const PackHeader& h) {
  if (!pack_is_tiled(h)) return "whole-entry (TILED_FLAG 0): each image one LZ4 block";
  const uint8_t k = pack_codec_kind(h);
  const TileCodec* c = tile_codec_of_kind(k);
  return "tiled (TILED_FLAG " + std::to_string(h.bytes[TILED_FLAG]) + "), codec " +
         (c != nullptr ? std::string(c->name) + " (CODEC_KIND " + std::to_string(k) + "): " + c->what
                       : "CODEC_KIND " + std::to_string(k) + ", none known");
}

// What the page's head tells of all the entries, gathered as they pass.
struct ReportTotals {
  uint64_t entries = 0;
  std::map<std::string, Total> by_form;
  std::map<int, Total> by_type;
  Total images, jpeg, other;  // images: entries with raw bytes
  void add(const ReportEntry& x) {
    ++entries;
    by_form[x.form].add(x);
    by_type[x.type].add(x);
    (x.type == TYPE_JPEG ? jpeg : x.raw != 0 ? images : other).add(x);
  }
};

// Images (their stored bytes over their raw pixels) and JPEG data apart.
std::string summary_html(const ReportTotals& t) {
  const Total &images = t.images, &jpeg = t.jpeg, &other = t.other;
  auto count = [](uint64_t n) { return grouped(n) + (n == 1 ? " entry" : " entries"); };
  std::string out = "<p id=\"summary\">Images: " + count(images.entries) + ", " + grouped(images.stored) +
                    " bytes stored for " + grouped(images.raw) + " bytes of raw pixels (" +
                    ratio_text(images.stored, images.raw) + "). JPEG: " + count(jpeg.entries) + ", " +
                    grouped(jpeg.stored) + " bytes.";
  if (other.entries != 0)
    out += " Without pixels to weigh (empty or not decoded): " + count(other.entries) + ", " +
           grouped(other.stored) + " bytes.";
  return out + "</p>\n";
}

// A thumbnail, a small one scaled up by a whole factor.
std::string thumbnail_html(const ReportEntry& x) {
  if (x.thumbnail.empty()) return "";
  const uint32_t side = std::max(x.thumb_width, x.thumb_height);
  const uint32_t k = side != 0 && side < THUMBNAIL_MIN_SIDE ? THUMBNAIL_MIN_SIDE / side : 1;
  return std::string("<img class=\"thumb") + (k > 1 ? " scaled\" title=\"shown " + std::to_string(k) + " times its size" : "") +
         "\" src=\"data:image/png;base64," + base64(x.thumbnail) + "\" width=\"" + std::to_string(x.thumb_width * k) +
         "\" height=\"" + std::to_string(x.thumb_height * k) + "\" alt=\"\">";
}

std::string format_html(const ReportEntry& x) {
  if (x.type == TYPE_JPEG) return "JPEG";
  std::string out = html_text(x.format);
  if (x.format_assumed) out += " <span class=\"note\">(assumed)</span>";
  if (x.pixel_format != 0) out += "<div class=\"note\">PixelFormat " + std::to_string(x.pixel_format) + "</div>";
  return out;
}

// What the filter box matches: name, type, format, form and codec.
std::string filter_key(const ReportEntry& x) {
  std::string key = x.name + " " + std::to_string(x.type) + " " + x.format + " " + x.form + " " + x.codec;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return html_text(key);
}

std::string entry_row(size_t i, const ReportEntry& x) {
  const uint64_t area = uint64_t{x.rect.width} * x.rect.height;
  std::string tiles = tile_map_html(x);
  if (std::string_view(x.codec) == "stored whole")
    tiles = "<div class=\"note\">stored whole, untiled: " + grouped(x.stored) + " bytes with its 16-byte header</div>";
  return "<tr data-key=\"" + filter_key(x) + "\"><td data-v=\"" + std::to_string(i) + "\">" + std::to_string(i) +
         "</td><td class=\"pic\">" + thumbnail_html(x) + "</td><td class=\"name\">" + html_text(x.name) +
         (x.error.empty() ? "" : "<div class=\"error\">" + html_text(x.error) + "</div>") + "</td><td>" +
         std::to_string(x.type) + "</td><td class=\"form\">" + format_html(x) + "</td><td class=\"form\">" +
         x.form + (*x.codec != '\0' ? "<div class=\"note\">" + std::string(x.codec) + "</div>" : "") +
         "</td><td data-v=\"" + std::to_string(area) + "\">" + std::to_string(x.rect.width) + "x" +
         std::to_string(x.rect.height) + "</td><td data-v=\"" + std::to_string(x.stored) + "\">" + grouped(x.stored) +
         "</td><td data-v=\"" + std::to_string(x.raw) + "\">" + (x.raw != 0 ? grouped(x.raw) : "-") +
         "</td><td data-v=\"" +
         (x.raw != 0 ? std::to_string(static_cast<double>(x.stored) / static_cast<double>(x.raw)) : "-1") + "\">" +
         ratio_text(x.stored, x.raw) + "</td><td>" + tiles + "</td></tr>\n";
}

constexpr const char* kStyle = R"(<style>
body{font-family:sans-serif;margin:1.5em;color:#222}
table{border-collapse:collapse;margin-bottom:1.5em}
th,td{border:1px solid #ccc;padding:3px 8px;text-align:right;vertical-align:middle}
td.name,td.form{text-align:left}
td.pic{text-align:center}
th[data-sort]{cursor:pointer;background:#eef}
img.thumb{background:repeating-conic-gradient(#ccc 0% 25%,#fff 0% 50%) 0 0/16px 16px}
img.tiles,img.scaled{image-rendering:pixelated}
img.tiles{border:1px solid #999}
.swatch{display:inline-block;width:1em;height:1em;vertical-align:middle;border:1px solid #999}
.note{font-size:small;color:#555}
.error{color:#b00;text-align:left}
</style>
)";

// Sorting by a column's data-v numbers (a second click reverses), and the
// bytes of the tile under the pointer on a tile map.
constexpr const char* kScript = R"(<script>
for (const th of document.querySelectorAll('#entries th[data-sort]')) {
  th.addEventListener('click', () => {
    const body = document.querySelector('#entries tbody');
    const col = th.cellIndex, dir = th.dataset.dir === 'up' ? -1 : 1;
    th.dataset.dir = dir === 1 ? 'up' : 'down';
    const rows = Array.from(body.rows);
    rows.sort((a, b) => dir * (Number(a.cells[col].dataset.v) - Number(b.cells[col].dataset.v)));
    for (const r of rows) body.appendChild(r);
  });
}
for (const map of document.querySelectorAll('img.tiles')) {
  const bytes = map.dataset.tiles.split(',');
  const across = Number(map.dataset.across), down = Number(map.dataset.down);
  const label = map.parentNode.querySelector('span.tile');
  map.addEventListener('mousemove', (ev) => {
    const k = Math.floor(ev.offsetY * down / map.height) * across + Math.floor(ev.offsetX * across / map.width);
    if (k >= 0 && k < bytes.length) label.textContent = '; tile ' + k + ': ' + bytes[k] + ' bytes';
  });
}
// The filter: rows whose name, type, format, form and codec hold every word.
const filter = document.getElementById('filter'), shown = document.getElementById('shown');
const entryRows = Array.from(document.querySelectorAll('#entries tbody tr'));
filter.addEventListener('input', () => {
  const words = filter.value.toLowerCase().split(/\s+/).filter((w) => w !== '');
  let n = 0;
  for (const r of entryRows) {
    r.hidden = !words.every((w) => r.dataset.key.includes(w));
    n += r.hidden ? 0 : 1;
  }
  shown.textContent = n.toLocaleString('en-US') + ' of ' + entryRows.length.toLocaleString('en-US') + ' entries';
});
</script>
)";

}  // namespace

namespace {

// The page up to the first entry row.
std::string report_head(const std::string& title, const PackHeader& header, int64_t size, const ReportTotals& t) {
  const std::string name = html_text(tool_display_name(title));
  const std::string count = grouped(t.entries);
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" + name +
                    "</title>\n" + kStyle + "</head><body>\n<h1>" + name + "</h1>\n<p>" + grouped(uint64_t(size)) +
                    " bytes, " + count + " entries. Mode: " + mode_html(header) + ".</p>\n" + summary_html(t);
  out += totals_html("Totals by form", "form", t.by_form);
  out += totals_html("Totals by type", "type", t.by_type);
  out += "<h2>Entries</h2>\n<p class=\"note\">Click a column with a blue heading to sort by it. Tile maps: one "
         "cell per tile, from <span class=\"swatch\" style=\"background:rgb(255,240,200)\"></span> the image's "
         "cheapest to <span class=\"swatch\" style=\"background:rgb(160,20,20)\"></span> its dearest tile; point "
         "at a cell for its bytes.</p>\n<p><label>Filter <input id=\"filter\" type=\"search\" placeholder=\"name, "
         "type, format or form\"></label> <span id=\"shown\">" + count + " of " + count + " entries</span></p>\n"
         "<table id=\"entries\"><thead><tr><th data-sort>#</th><th>picture</th><th>name</th><th>type</th>"
         "<th>format</th><th>form</th><th data-sort>size</th><th data-sort>stored bytes</th><th data-sort>raw bytes"
         "</th><th data-sort>ratio</th><th>tiles</th></tr></thead><tbody>\n";
  return out;
}

// The page after the last entry row.
std::string report_tail() { return std::string("</tbody></table>\n") + kScript + "</body></html>\n"; }

// The entry rows as they are made, in a temporary file (in memory when none
// can be made), so that a page of any length is written in the order read
// after its head, whose totals are known only at the end.
class RowSpool {
 public:
  RowSpool() : file_(std::tmpfile()) {}
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;
  ~RowSpool() {
    if (file_ != nullptr) std::fclose(file_);
  }
  void add(const std::string& row) {
    if (file_ == nullptr) {
      held_ += row;
    } else if (std::fwrite(row.data(), 1, row.size(), file_) != row.size() && error_ == 0) {
      error_ = errno != 0 ? errno : EIO;
    }
  }
  // Appends the rows to out; false with error() set when the spool failed.
  bool copy_to(OutputFile& out) {
    if (file_ == nullptr) {
      out.write({reinterpret_cast<const uint8_t*>(held_.data()), held_.size()});
      return true;
    }
    std::vector<uint8_t> chunk(size_t{1} << 20);
    if (error_ == 0 && (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)) error_ = errno;
    while (error_ == 0 && !out.failed()) {
      const size_t n = std::fread(chunk.data(), 1, chunk.size(), file_);
      out.write(std::span<const uint8_t>(chunk).first(n));
      if (n < chunk.size()) {
        if (std::ferror(file_)) error_ = errno != 0 ? errno : EIO;
        break;
      }
    }
    return error_ == 0;
  }
  int error() const { return error_; }

 private:
  std::FILE* file_;
  std::string held_;
  int error_ = 0;
};

// Writes the page: its head, the spooled rows and its tail; false after one
// line on err.
bool write_page(const std::string& out_path, std::FILE* err, const std::string& head, RowSpool& rows) {
  // A link or anything else already at OUT is replaced, never written through.
  OutputFile file;
  if (!file.open(out_path.c_str(), OutputLinks::Replace)) {
    std::fprintf(err, "report: cannot create %s: %s\n", tool_display_name(out_path).c_str(),
                 std::strerror(file.error()));
    return false;
  }
  auto write_text = [&](const std::string& text) {
    file.write({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  };
  write_text(head);
  const bool spooled = rows.copy_to(file);
  write_text(report_tail());
  if (!spooled || !file.commit()) {
    std::fprintf(err, "report: cannot write %s: %s\n", tool_display_name(out_path).c_str(),
                 std::strerror(spooled ? file.error() : rows.error()));
    return false;
  }
  return true;
}

}  // namespace

std::string report_html(const std::string& title, const PackHeader& header, int64_t size,
                        const std::vector<ReportEntry>& entries) {
  ReportTotals totals;
  for (const ReportEntry& x : entries) totals.add(x);
  std::string out = report_head(title, header, size, totals);
  for (size_t i = 0; i < entries.size(); ++i) out += entry_row(i, entries[i]);
  return out + report_tail();
}

int run_report(const std::string& pack_path, const std::string& out_path, std::FILE* out, std::FILE* err,
               const std::string& formats_path) {
  PackFile pf;
  if (Status s = tool_pack_load(pf, pack_path, false); !s.ok())
    return tool_load_failed(err, "report", pack_path, s.message);
  Manifest formats;
  if (Status s = formats_path.empty() ? Status{} : read_manifest(formats_path, formats); !s.ok()) {
    std::fprintf(err, "report: %s\n", s.message.c_str());
    return 1;
  }
  ManifestMatcher matcher = formats_path.empty() ? ManifestMatcher() : ManifestMatcher(formats);
  FileId pack_id, out_id;
  if (file_id(fileno(pf.in.file), pack_id) && file_id(out_path, out_id) && pack_id == out_id) {
    std::fprintf(err, "report: %s is the pack being reported; refusing to overwrite it\n",
                 tool_display_name(out_path).c_str());
    return 1;
  }
  const PackRecords& pack = pf.records;
  // Each row goes to the spool as its entry is done; only the totals stay.
  ReportTotals totals;
  RowSpool rows;
  size_t failed = 0;
  bool read_failed = false;
  // Entries read here in table order, reported on side by side and gathered
  // in table order.
  OrderedSteps<ReportWork> steps = report_steps(pf, matcher);
  steps.finish = [&](size_t i, ReportWork& w, Progress&) {
    read_failed = w.read_failed;
    if (read_failed) return false;
    totals.add(w.entry);
    rows.add(entry_row(i, w.entry));
    failed += w.entry.error.empty() ? 0 : 1;
    return true;
  };
  steps.done_bytes = [&](size_t i, const ReportWork&) { return uint64_t{pack.entries[i].entry.len}; };
  // Each thread its own tile decoder; the pixels pass to the thumbnail and
  // are freed, not pooled.
  run_in_order(pack.entries.size(), std::move(steps),
               {.progress_name = "report", .progress_total = static_cast<uint64_t>(pack.size), .pool_work = false});
  if (read_failed) {
    std::fprintf(err, "report: reading %s failed\n", tool_display_name(pack_path).c_str());
    return 1;
  }
  if (!write_page(out_path, err, report_head(pack_path, pack.header, pack.size, totals), rows)) return 1;
  if (failed > 0) {
    std::fprintf(err, "report: %s: %zu of %zu entries do not decode; %s shows why\n",
                 tool_display_name(pack_path).c_str(), failed, pack.entries.size(),
                 tool_display_name(out_path).c_str());
    return 1;
  }
  std::fprintf(out, "report: %s: %zu entries reported in %s\n", tool_display_name(pack_path).c_str(),
               pack.entries.size(), tool_display_name(out_path).c_str());
  return std::fflush(out) == 0 ? 0 : 1;
}

int tool_report(const std::string& pack_path, const std::string& out_path, const std::string& formats) {
  return run_report(pack_path, out_path, stdout, stderr, formats);
}
