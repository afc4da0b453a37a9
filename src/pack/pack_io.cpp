#include "pack/pack_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

bool InputFile::open(const char* path) {
  close();
  file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  if (std::fseek(file, 0, SEEK_END) != 0) {
    close();
    return false;
  }
  long end = std::ftell(file);
  if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    close();
    return false;
  }
  size = end;
  return true;
}

void InputFile::close() {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
  size = 0;
}

size_t InputFile::read_at(uint64_t pos, std::span<uint8_t> dst) {
  if (dst.empty() || pos >= static_cast<uint64_t>(size)) return 0;
  if (std::fseek(file, static_cast<long>(pos), SEEK_SET) != 0) {
    read_error = true;
    return 0;
  }
  size_t got = std::fread(dst.data(), 1, dst.size(), file);
  if (got < dst.size() && std::ferror(file)) {
    read_error = true;
    std::clearerr(file);
  }
  return got;
}

namespace {

// Permission bits a file created by fopen(path, "wb") would get.
mode_t default_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool OutputFile::open(const char* path) {
  discard();
  failed_ = false;
  error_ = 0;
  final_path_ = path;
  struct stat st {};
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    // A device or a pipe cannot be replaced; it gets the finished output at
    // commit, so a failed run writes nothing to it.
    device_ = std::fopen(path, "wb");
    if (device_ == nullptr) return false;
    file_ = std::tmpfile();
    if (file_ == nullptr) {
      std::fclose(device_);
      device_ = nullptr;
      return false;
    }
    return true;
  }
  mode_t mode = default_mode();
  if (stat(path, &st) == 0) {
    mode = st.st_mode & 07777;
    // Replace the file a symbolic link points to, not the link.
    if (char* real = realpath(path, nullptr)) {
      final_path_ = real;
      std::free(real);
    }
  }
  std::string dir = ".";
  std::string base = final_path_;
  size_t slash = final_path_.rfind('/');
  if (slash != std::string::npos) {
    dir = slash == 0 ? "/" : final_path_.substr(0, slash);
    base = final_path_.substr(slash + 1);
  }
  std::string temp = dir + "/." + base + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return false;
  temp_path_ = name.data();
  fchmod(fd, mode);
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    ::close(fd);
    unlink(temp_path_.c_str());
    temp_path_.clear();
    return false;
  }
  return true;
}

void OutputFile::fail(int err) {
  if (!failed_) error_ = err != 0 ? err : EIO;
  failed_ = true;
}

void OutputFile::write(std::span<const uint8_t> bytes) {
  if (failed_ || file_ == nullptr) return;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    fail(errno);
    return;
  }
  position_ += bytes.size();
}

void OutputFile::write_zeros(size_t n) {
  static const uint8_t zeros[8] = {};
  while (n > 0) {
    size_t k = n < sizeof zeros ? n : sizeof zeros;
    write({zeros, k});
    n -= k;
  }
}

void OutputFile::write_at(uint64_t pos, std::span<const uint8_t> bytes) {
  if (failed_ || file_ == nullptr) return;
  if (pos + bytes.size() > position_ || std::fseek(file_, static_cast<long>(pos), SEEK_SET) != 0) {
    fail(errno);
    return;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    fail(errno);
    return;
  }
  if (std::fseek(file_, static_cast<long>(position_), SEEK_SET) != 0) fail(errno);
}

bool OutputFile::commit() {
  if (file_ == nullptr) return false;
  if (!failed_ && std::fflush(file_) != 0) fail(errno);
  if (failed_) {
    discard();
    return false;
  }
  if (device_ != nullptr) {
    std::rewind(file_);
    std::vector<uint8_t> chunk(1 << 16);
    size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file_)) > 0) {
      if (std::fwrite(chunk.data(), 1, got, device_) != got) {
        fail(errno);
        break;
      }
    }
    if (!failed_ && std::ferror(file_)) fail(EIO);
    if (!failed_ && std::fflush(device_) != 0) fail(errno);
    int rc = std::fclose(device_);
    device_ = nullptr;
    if (!failed_ && rc != 0) fail(errno);
    std::fclose(file_);
    file_ = nullptr;
    return !failed_;
  }
  // The data must be on disk before the name points at it.
  if (fsync(fileno(file_)) != 0 && errno != EINVAL) fail(errno);
  int rc = std::fclose(file_);
  file_ = nullptr;
  if (!failed_ && rc != 0) fail(errno);
  if (!failed_ && std::rename(temp_path_.c_str(), final_path_.c_str()) != 0) fail(errno);
  if (failed_) {
    unlink(temp_path_.c_str());
    temp_path_.clear();
    return false;
  }
  temp_path_.clear();
  return true;
}

void OutputFile::discard() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (device_ != nullptr) std::fclose(device_);
  device_ = nullptr;
  if (!temp_path_.empty()) unlink(temp_path_.c_str());
  temp_path_.clear();
  position_ = 0;
}
