#include "tool/tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool/manifest.h"
#include "tool/tool_text.h"

bool read_whole_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out,
                     std::string& error) {
  // Paths may come from a manifest: never print their bytes raw.
  const std::string shown = tool_display_name(path);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + shown + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = shown + " is not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > max_size) {
    ::close(fd);
    error = shown + " is " + std::to_string(st.st_size) + " bytes, more than the " +
            std::to_string(max_size) + " this entry can take";
    return false;
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  int err = 0;
  while (done < out.size()) {
    ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (done != out.size()) {
    error = "cannot read " + shown + ": " + (err != 0 ? std::strerror(err) : "it shrank while being read");
    return false;
  }
  return true;
}

bool read_manifest(const std::string& path, Manifest& out, std::string& error) {
  std::vector<uint8_t> text;
  if (!read_whole_file(path, MANIFEST_FILE_LIMIT, text, error)) return false;
  if (!parse_manifest({reinterpret_cast<const char*>(text.data()), text.size()}, out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string entry_path(const std::string& base, const ManifestEntry& me) {
  return me.file.empty() || me.file[0] == '/' ? me.file : base + "/" + me.file;
}
