#include "tool/export_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool/tool_text.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

void append_escape(std::string& out, uint8_t b) {
  out += '%';
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string errno_text(const char* what, const std::string& name, int err) {
  return std::string(what) + " " + name + ": " + std::strerror(err);
}

}  // namespace

std::string escape_entry_name(std::string_view name) {
  name = name.substr(0, name.find('\0'));
  if (name.empty()) return "%00";
  if (name == ".") return "%2E";
  if (name == "..") return "%2E%2E";
  std::string out;
  for (size_t i = 0; i < name.size();) {
    const uint8_t b = static_cast<uint8_t>(name[i]);
    size_t n = tool_utf8_sequence(name, i);
    // C1 controls (U+0080..U+009F) are C2 80..C2 9F.
    const bool c1 = n == 2 && b == 0xC2 && static_cast<uint8_t>(name[i + 1]) < 0xA0;
    if (n == 0 || c1 || b < 0x20 || b == 0x7F || b == '%' || b == '/') {
      append_escape(out, b);
      ++i;
    } else {
      out.append(name, i, n);
      i += n;
    }
  }
  return out;
}

bool unescape_entry_name(std::string_view stem, std::string& name) {
  size_t repeat = stem.find("%-");
  if (repeat != std::string_view::npos) {
    std::string_view count = stem.substr(repeat + 2);
    if (count.empty() || count[0] == '0' || count.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    stem = stem.substr(0, repeat);
  }
  if (stem == "%00") {
    name.clear();
    return true;
  }
  std::string out;
  for (size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] != '%') {
      out += stem[i];
      continue;
    }
    if (i + 2 >= stem.size()) return false;
    const int hi = hex_value(stem[i + 1]), lo = hex_value(stem[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  // Only the stems that escaping gives are accepted back.
  if (out.find('\0') != std::string::npos || escape_entry_name(out) != stem) return false;
  name = std::move(out);
  return true;
}

std::string ExportNames::take(std::string_view name, std::string_view extension) {
  const std::string stem = escape_entry_name(name);
  const std::string plain = stem + std::string(extension);
  if (used_.insert(plain).second) return plain;
  // Counted per file name, so a pack of one name repeated 65535 times
  // costs no more than 65535 different names.
  unsigned& n = repeats_[plain];
  if (n < 2) n = 2;
  std::string file;
  do {
    file = stem + "%-" + std::to_string(n++) + std::string(extension);
  } while (!used_.insert(file).second);
  return file;
}

ExportDir::~ExportDir() {
  if (fd_ >= 0) ::close(fd_);
}

bool ExportDir::open(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    error = errno_text("cannot create", path, errno);
    return false;
  }
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) {
    error = errno_text("cannot open folder", path, errno);
    return false;
  }
  return true;
}

bool ExportDir::write_file(const std::string& name, std::span<const uint8_t> bytes, std::string& error) {
  if (fd_ < 0 || name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    error = "refused to write " + name + ": not a file name inside the export folder";
    return false;
  }
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = ".morvane-" + std::to_string(getpid()) + "-" + std::to_string(counter_++) + ".tmp";
    // O_EXCL also refuses a symbolic link of that name: nothing is followed.
    fd = openat(fd_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = errno_text("cannot create a file for", name, errno);
    return false;
  }
  size_t done = 0;
  int err = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  // rename replaces a link of that name by the file; it never writes through it.
  if (err == 0 && renameat(fd_, temp.c_str(), fd_, name.c_str()) != 0) err = errno;
  if (err != 0) {
    unlinkat(fd_, temp.c_str(), 0);
    error = errno_text("cannot write", name, err);
    return false;
  }
  return true;
}

bool ExportDir::file_id(const std::string& name, FileId& out) const {
  return fd_ >= 0 && file_id_at(fd_, name, out);
}
