// SPDX-License-Identifier: MIT
#include "io/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/signal_cleanup.h"

Status InputFile::open(const char* path) {
  close();
  file = std::fopen(path, "rb");
  if (file == nullptr) return errno_status(errno);
  // A directory opens but cannot be read.
  struct stat st {};
  int err = 0;
  if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : errno;
  } else if (std::fseek(file, 0, SEEK_END) != 0) {
    err = errno;
  } else if (long end = std::ftell(file); end < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    err = errno;
  } else {
    size = end;
    regular = S_ISREG(st.st_mode);
    return {};
  }
  close();
  return errno_status(err);
}

void InputFile::close() {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
  size = 0;
  regular = false;
}

bool InputFile::is_same_file(const char* path) const {
  FileId in, other;
  return file != nullptr && file_id(fileno(file), in) && file_id(path, other) && in == other;
}

namespace {
FileId id_of(const struct stat& st) { return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}; }
}  // namespace

bool file_id(const std::string& path, FileId& out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  out = id_of(st);
  return true;
}

bool file_id(int fd, FileId& out) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  out = id_of(st);
  return true;
}

long process_id() { return static_cast<long>(getpid()); }

Status read_regular_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out, uint64_t& size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno_status(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return {IO_ERR_NOT_REGULAR, "not a regular file"};
  }
  size = static_cast<uint64_t>(st.st_size);
  if (size > max_size) {
    ::close(fd);
    return {IO_ERR_TOO_BIG, "too big"};
  }
  out.resize(static_cast<size_t>(size));
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
  if (done == out.size()) return {};
  return {IO_ERR_READ, err != 0 ? std::strerror(err) : "it shrank while being read"};
}

Folder::~Folder() {
  if (fd_ >= 0) ::close(fd_);
}

bool Folder::is_open() const { return fd_ >= 0; }

Status Folder::open(const std::string& path, bool& created) {
  created = true;
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    created = false;
    return errno_status(errno);
  }
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ < 0 ? errno_status(errno) : Status{};
}

Status Folder::create_new(const std::string& name, std::span<const uint8_t> bytes, bool& created) {
  // O_EXCL also refuses a symbolic link of that name: nothing is followed.
  int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  created = fd >= 0;
  if (fd < 0) return errno_status(errno);
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
  return errno_status(err);
}

Status Folder::rename(const std::string& from, const std::string& to) {
  // rename replaces a link of that name by the file; it never writes through it.
  return renameat(fd_, from.c_str(), fd_, to.c_str()) == 0 ? Status{} : errno_status(errno);
}

void Folder::remove(const std::string& name) { unlinkat(fd_, name.c_str(), 0); }

bool Folder::file_id(const std::string& name, FileId& out) const {
  struct stat st {};
  if (fd_ < 0 || fstatat(fd_, name.c_str(), &st, 0) != 0) return false;
  out = id_of(st);
  return true;
}

namespace {

// Permission bits a file created by fopen(path, "wb") would get.
mode_t default_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void split_path(const std::string& path, std::string& dir, std::string& base) {
  // assign(1, c), not = "c": g++ 12 warns falsely (-Wrestrict) on the
  // latter once inlined at -O3.
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir.assign(1, '.');
    base = path;
  } else {
    dir = slash == 0 ? std::string(1, '/') : path.substr(0, slash);
    base = path.substr(slash + 1);
  }
}

std::vector<std::string> link_chain(const std::string& path) {
  std::vector<std::string> chain = {path};
  // As many links as the kernel follows before ELOOP.
  for (int hops = 0; hops < 40; ++hops) {
    const std::string& p = chain.back();
    struct stat ls {};
    if (lstat(p.c_str(), &ls) != 0 || !S_ISLNK(ls.st_mode)) break;
    std::vector<char> target(PATH_MAX + 1);
    ssize_t n = readlink(p.c_str(), target.data(), target.size() - 1);
    if (n <= 0) break;
    std::string next(target.data(), static_cast<size_t>(n));
    if (next[0] != '/') {
      std::string dir, base;
      split_path(p, dir, base);
      next = dir + "/" + next;
    }
    chain.push_back(std::move(next));
  }
  return chain;
}

bool OutputFile::open(const char* path, OutputLinks links) {
  static const bool signals_installed = install_signal_cleanup();
  (void)signals_installed;
  discard();
  failed_ = false;
  error_ = 0;
  if (links == OutputLinks::Follow) return open_follow(path);
  final_path_ = path;
  mode_t mode = default_mode();
  struct stat st {};
  if (lstat(path, &st) == 0) {
    // A folder cannot be replaced by a file.
    if (S_ISDIR(st.st_mode)) {
      error_ = EISDIR;
      return false;
    }
    // A file of ours keeps its permission bits; one planted by someone else
    // does not choose them.
    if (S_ISREG(st.st_mode) && st.st_uid == geteuid()) mode = st.st_mode & 0777;
  }
  return open_temp(final_path_, mode);
}

bool OutputFile::open_follow(const char* path) {
  final_path_ = path;
  struct stat st {};
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    // A device or a pipe cannot be replaced; it gets the finished output at
    // commit, so a failed run writes nothing to it.
    device_ = std::fopen(path, "wb");
    if (device_ == nullptr) {
      error_ = errno;
      return false;
    }
    file_ = std::tmpfile();
    if (file_ == nullptr) {
      error_ = errno;
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
  return open_temp(final_path_, mode);
}

// The temporary file beside target, to be renamed over it by commit().
bool OutputFile::open_temp(const std::string& target, mode_t mode) {
  std::string dir, base;
  split_path(target, dir, base);
  std::string temp = dir + "/." + base + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  {
    CleanupSignalsBlocked blocked;
    // mkstemp creates the name exclusively (O_CREAT | O_EXCL): never an
    // existing file or link.
    int fd = mkstemp(name.data());
    if (fd < 0) {
      error_ = errno;
      return false;
    }
    temp_path_ = name.data();
    cleanup_slot_ = arm_signal_cleanup(temp_path_);
    fchmod(fd, mode);
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
      error_ = errno;
      ::close(fd);
    }
  }
  if (file_ == nullptr) {
    unlink(temp_path_.c_str());
    disarm_signal_cleanup(cleanup_slot_);
    temp_path_.clear();
    return false;
  }
  return true;
}

int OutputFile::write_shared(uint64_t pos, std::span<const uint8_t> bytes) const {
  if (file_ == nullptr) return EBADF;
  const int fd = fileno(file_);
  while (!bytes.empty()) {
    const ssize_t n = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(pos));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    bytes = bytes.subspan(static_cast<size_t>(n));
    pos += static_cast<uint64_t>(n);
  }
  return 0;
}

void OutputFile::set_end(uint64_t end) {
  if (failed_ || file_ == nullptr) return;
  if (std::fflush(file_) != 0 || ftruncate(fileno(file_), static_cast<off_t>(end)) != 0 ||
      fseeko(file_, static_cast<off_t>(end), SEEK_SET) != 0) {
    fail(errno);
    return;
  }
  position_ = end;
}

bool OutputFile::commit() {
  if (file_ == nullptr) return false;
  if (!failed_ && std::fflush(file_) != 0) fail(errno);
  if (failed_) {
    discard();
    return false;
  }
  if (device_ != nullptr) return commit_to_device();
  // The data must be on disk before the name points at it.
  if (fsync(fileno(file_)) != 0 && errno != EINVAL) fail(errno);
  int rc = std::fclose(file_);
  file_ = nullptr;
  if (!failed_ && rc != 0) fail(errno);
  if (!failed_ && std::rename(temp_path_.c_str(), final_path_.c_str()) != 0) fail(errno);
  // Disarmed only once the name is gone: renamed or removed.
  if (failed_) unlink(temp_path_.c_str());
  disarm_signal_cleanup(cleanup_slot_);
  temp_path_.clear();
  return !failed_;
}

void OutputFile::discard() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (device_ != nullptr) std::fclose(device_);
  device_ = nullptr;
  if (!temp_path_.empty()) {
    unlink(temp_path_.c_str());
    disarm_signal_cleanup(cleanup_slot_);
  }
  temp_path_.clear();
  position_ = 0;
}
