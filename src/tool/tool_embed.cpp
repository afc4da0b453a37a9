// SPDX-License-Identifier: MIT
// morvane-tool embed PACK OUT.c: the pack as a C array in OUT.c, declared
// with a macro per entry in OUT.h, for firmware that links its packs.
#include "tool/tool_embed.h"

#include <morvane/pack.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "io/files.h"
#include "pack/pack_format.h"
#include "tool/tool_commands.h"
#include "tool/tool_text.h"
#include "tool/tool_files.h"

namespace {

bool is_alnum(unsigned char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

// Runs of bytes outside `keep` become one '_'.
template <class Keep>
std::string squeeze(const std::string& s, Keep keep) {
  std::string out;
  for (unsigned char c : s) {
    if (keep(c)) {
      out += static_cast<char>(c);
    } else if (out.empty() || out.back() != '_') {
      out += '_';
    }
  }
  return out;
}

std::string file_name(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// OUT.h beside OUT.c; OUT with ".h" appended when it does not end in ".c".
std::string header_path(const std::string& out_path) {
  const size_t n = out_path.size();
  if (n > 2 && out_path.compare(n - 2, 2, ".c") == 0) return out_path.substr(0, n - 2) + ".h";
  return out_path + ".h";
}

// The name in a comment: letters, digits and " _.-" as they are, every
// other byte as \xHH, so no comment ever ends early.
std::string comment_name(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (is_alnum(c) || std::strchr(" _.-", c) != nullptr) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string header_text(const std::string& symbol, const std::string& pack_name, size_t size,
                        const std::vector<std::string>& names) {
  const std::vector<std::string> ids = embed_entry_ids(names);
  std::string guard = "MORVANE_EMBED_" + symbol + "_H";
  std::string h = "/* " + symbol + ": the pack " + comment_name(pack_name) + " (" + std::to_string(size) +
                  " bytes, " + std::to_string(names.size()) +
                  " entries), written by morvane-tool embed. */\n"
                  "#ifndef " + guard + "\n#define " + guard + "\n\n#include <stdint.h>\n\n"
                  "#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n"
                  "extern const uint8_t " + symbol + "[];\nextern const uint32_t " + symbol + "_size;\n\n"
                  "/* Entry indexes, for morvane_pack_entry_at. */\n";
  for (size_t i = 0; i < names.size(); ++i)
    h += "#define " + symbol + "_" + ids[i] + " " + std::to_string(i) + " /* " + comment_name(names[i]) + " */\n";
  h += "\n#ifdef __cplusplus\n}\n#endif\n\n#endif\n";
  return h;
}

// The array's head: aligned and placed with GCC and Clang attributes.
std::string source_head(const std::string& symbol, const std::string& header, size_t size, unsigned align,
                        const std::string& section) {
  const std::string attrs =
      "aligned(" + std::to_string(align) + ")" + (section.empty() ? "" : ", section(\"" + section + "\")");
  return "/* The pack declared in " + header + ", written by morvane-tool embed. */\n#include \"" + header + "\"\n\n" +
         "/* Other compilers: for IAR, put\n     #pragma data_alignment = " + std::to_string(align) + "\n" +
         (section.empty() ? "" : "     #pragma location = \"" + section + "\"\n") +
         "   on the lines before the array; Keil's compilers take the attribute as GCC does\n   (armcc with --gnu). */\n" +
         "#if defined(__GNUC__) || defined(__clang__)\n__attribute__((" + attrs + "))\n#endif\n" +
         "const uint8_t " + symbol + "[" + std::to_string(size) + "] = {\n";
}

// The bytes in decimal ("82,"), sixteen a line: 3.6 characters a byte on
// average against 5 for "0x52,", which the disk and the compiler feel on a
// large pack. Through a table into one buffer: printf per byte would be
// twenty times slower.
struct ByteText {
  char table[256][4];
  uint8_t length[256];
  std::vector<uint8_t> buf;

  ByteText() {
    for (int b = 0; b < 256; ++b) {
      char t[4] = {0, 0, 0, 0};
      const int n = std::snprintf(t, sizeof t, "%d", b);
      t[n] = ',';
      std::memcpy(table[b], t, 4);
      length[b] = static_cast<uint8_t>(n + 1);
    }
  }

  // `bytes` as lines of sixteen (the last one of the array may be shorter):
  // every call but the last must pass a multiple of 16 bytes.
  void write(OutputFile& out, std::span<const uint8_t> bytes) {
    buf.resize((bytes.size() + 15) / 16 * (16 * 4 + 1) + 4);  // + 4: a whole entry copied at the end
    uint8_t* p = buf.data();
    for (size_t i = 0; i < bytes.size();) {
      const size_t end = std::min(bytes.size(), i + 16);
      for (; i < end; ++i) {
        std::memcpy(p, table[bytes[i]], 4);
        p += length[bytes[i]];
      }
      *p++ = '\n';
    }
    out.write({buf.data(), static_cast<size_t>(p - buf.data())});
  }
};

// The pack read a piece at a time: its header and table first, for the
// checks and the names, then its bytes in order as they are written out, so
// that no pack is ever held whole.
struct PackStream {
  InputFile in;
  std::string path;
  uint64_t size = 0;
  std::vector<uint8_t> head;  // the header and as much of a table as a pack can hold

  // False with one line printed, as reading the whole file would say it.
  bool open(const std::string& pack_path) {
    path = pack_path;
    Status s = in.open(path.c_str());
    if (s.code == EISDIR || s.code == ESPIPE || (s.ok() && !in.regular)) s = {IO_ERR_NOT_REGULAR, ""};
    size = static_cast<uint64_t>(in.size);
    if (s.ok() && size > uint64_t(PACK_MAX_FILE_SIZE)) s = {IO_ERR_TOO_BIG, ""};
    if (!s.ok()) return say(s);
    return read(0, std::min<uint64_t>(size, PACK_HEADER_SIZE + uint64_t{PACK_ENTRY_SIZE} * 0xFFFF), head);
  }

  // Exactly `count` bytes at pos, or false with the line printed.
  bool read(uint64_t pos, uint64_t count, std::vector<uint8_t>& out) {
    if (in.read_range(pos, count, out) && out.size() == count) return true;
    const int err = errno;  // the failed read's, before anything else runs
    return say({IO_ERR_READ, in.read_error && err != 0 ? std::strerror(err) : "it shrank while being read"});
  }

  bool say(Status s) const {
    std::fprintf(stderr, "embed: %s\n", file_read_failure(path, std::move(s), size, PACK_MAX_FILE_SIZE).message.c_str());
    return false;
  }
};

std::span<const uint8_t> text(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

// The entries' names, or false with one line printed. The device's reader
// checks each entry; with no entry to fill it reads the header and the
// table alone, all that `head` holds of the pack's `size` bytes.
bool entry_names(const std::string& pack_path, const std::vector<uint8_t>& head, uint64_t size,
                 std::vector<std::string>& names) {
  const int32_t len = static_cast<int32_t>(size);
  const int32_t count = morvane_pack_count(head.data(), len);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t rc = morvane_pack_entry_at(head.data(), len, i, nullptr);
    if (rc < 0) {
      std::fprintf(stderr, "embed: %s: entry %d: %s\n", tool_display_name(pack_path).c_str(), int(i) + 1, morvane_pack_error_text(rc));
      return false;
    }
    const PackEntry e = read_pack_entry(head.data() + PACK_HEADER_SIZE + size_t(i) * PACK_ENTRY_SIZE);
    names.emplace_back(entry_name(e));
  }
  if (count < 0) std::fprintf(stderr, "embed: %s: %s\n", tool_display_name(pack_path).c_str(), morvane_pack_error_text(count));
  return count >= 0;
}

bool writes_over(const std::string& pack_path, const std::string& out_path) {
  FileId in, out;
  if (!file_id(out_path, out) || !file_id(pack_path, in) || !(in == out)) return false;
  std::fprintf(stderr, "embed: %s is the pack; refusing to overwrite it\n", tool_display_name(out_path).c_str());
  return true;
}

bool open_output(OutputFile& f, const std::string& path) {
  if (f.open(path.c_str())) return true;
  std::fprintf(stderr, "embed: cannot create %s: %s\n", tool_display_name(path).c_str(), std::strerror(f.error()));
  return false;
}

bool commit_output(OutputFile& f, const std::string& path) {
  if (f.commit()) return true;
  std::fprintf(stderr, "embed: cannot write %s: %s\n", tool_display_name(path).c_str(), std::strerror(f.error()));
  return false;
}

}  // namespace

std::string embed_symbol_error(const std::string& s) {
  bool ok = !s.empty() && !(s[0] >= '0' && s[0] <= '9');
  for (unsigned char c : s) ok = ok && (is_alnum(c) || c == '_');
  return ok ? "" : "not a C identifier: " + s;
}

std::string embed_section_error(const std::string& s) {
  for (unsigned char c : s)
    if (!is_alnum(c) && c != '.' && c != '_' && c != '-') return "not a section name: " + s;
  return "";
}

std::string embed_align_error(const std::string& s) {
  const unsigned long n = std::strtoul(s.c_str(), nullptr, 10);
  const bool ok = s.find_first_not_of("0123456789") == std::string::npos && n >= 1 && n <= 4096 && (n & (n - 1)) == 0;
  return ok ? "" : "not a power of 2 from 1 to 4096: " + s;
}

std::string embed_symbol_from_path(const std::string& out_path) {
  std::string stem = file_name(out_path);
  if (stem.size() > 2 && stem.compare(stem.size() - 2, 2, ".c") == 0) stem.resize(stem.size() - 2);
  std::string id = squeeze(stem, [](unsigned char c) { return is_alnum(c) || c == '_'; });
  return id.empty() || (id[0] >= '0' && id[0] <= '9') ? "pack_" + id : id;
}

std::vector<std::string> embed_entry_ids(const std::vector<std::string>& names) {
  std::set<std::string> taken = {"size"};
  std::vector<std::string> ids;
  for (size_t i = 0; i < names.size(); ++i) {
    std::string id = squeeze(names[i], is_alnum);
    const size_t first = id.find_first_not_of('_'), last = id.find_last_not_of('_');
    id = first == std::string::npos ? std::to_string(i) : id.substr(first, last - first + 1);
    while (taken.count(id) != 0) id.append(1, '_').append(std::to_string(i));
    taken.insert(id);
    ids.push_back(id);
  }
  return ids;
}

int tool_embed(const std::string& pack_path, const std::string& out_path, const EmbedOptions& opt) {
  PackStream pack;
  std::vector<std::string> names;
  if (!pack.open(pack_path) || !entry_names(pack_path, pack.head, pack.size, names)) return 1;
  const std::string h_path = header_path(out_path);
  if (file_name(h_path).find_first_of(std::string("\"\\\0", 3)) != std::string::npos ||
      std::any_of(h_path.begin(), h_path.end(), [](unsigned char c) { return c < 0x20; })) {
    std::fprintf(stderr, "embed: %s: OUT.c's file name must not hold quotes, backslashes or control bytes\n",
                 tool_display_name(out_path).c_str());
    return 1;
  }
  if (writes_over(pack_path, out_path) || writes_over(pack_path, h_path)) return 1;
  const std::string symbol = opt.symbol.empty() ? embed_symbol_from_path(out_path) : opt.symbol;
  OutputFile c_out, h_out;
  if (!open_output(c_out, out_path) || !open_output(h_out, h_path)) return 1;
  const size_t size = static_cast<size_t>(pack.size);
  h_out.write(text(header_text(symbol, file_name(pack_path), size, names)));
  c_out.write(text(source_head(symbol, file_name(h_path), size, opt.align, opt.section)));
  // 1 MiB at a time, a whole number of lines.
  constexpr uint64_t kPiece = uint64_t{1} << 20;
  ByteText bytes;
  std::vector<uint8_t> piece;
  for (uint64_t at = 0; at < pack.size; at += kPiece) {
    if (!pack.read(at, std::min(kPiece, pack.size - at), piece)) return 1;
    bytes.write(c_out, piece);
  }
  c_out.write(text("};\nconst uint32_t " + symbol + "_size = " + std::to_string(size) + ";\n"));
  if (!commit_output(c_out, out_path) || !commit_output(h_out, h_path)) return 1;
  std::printf("embed: %s: %zu bytes, %zu entries, symbol %s\n", tool_display_name(out_path).c_str(), size, names.size(),
              symbol.c_str());
  return 0;
}
