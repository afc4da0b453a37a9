#include "tool/tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool read_whole_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out,
                     std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path + " is not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > max_size) {
    ::close(fd);
    error = path + " is " + std::to_string(st.st_size) + " bytes, more than the " +
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
    error = "cannot read " + path + ": " + (err != 0 ? std::strerror(err) : "it shrank while being read");
    return false;
  }
  return true;
}
