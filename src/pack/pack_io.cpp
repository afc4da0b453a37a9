#include "pack/pack_io.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

bool InputFile::open(const char* path) {
  close();
  file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  // A directory opens but cannot be read.
  struct stat st {};
  if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
    close();
    return false;
  }
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

bool InputFile::is_same_file(const char* path) const {
  struct stat in {}, other {};
  if (file == nullptr || fstat(fileno(file), &in) != 0 || stat(path, &other) != 0) return false;
  return in.st_dev == other.st_dev && in.st_ino == other.st_ino;
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

// An interrupted run (Ctrl-C, kill, a closed terminal) removes its temporary
// file before it dies. The handler may run on any thread and uses only
// async-signal-safe calls: it reads a path kept in static storage, written
// only while the handler is not armed. The spool file of a device output is
// tmpfile()'s, which has no name to remove.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
char g_signal_temp_path[PATH_MAX + 1];
std::atomic<bool> g_signal_temp_armed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void remove_temp_and_die(int sig) {
  if (g_signal_temp_armed.load(std::memory_order_acquire)) unlink(g_signal_temp_path);
  // The default action of the same signal: the caller sees the interruption.
  signal(sig, SIG_DFL);
  raise(sig);
}

bool install_signal_cleanup() {
  for (int sig : kCleanupSignals) {
    struct sigaction old {};
    // A signal the caller ignores (nohup) stays ignored.
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = remove_temp_and_die;
    sigemptyset(&sa.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
    sigaction(sig, &sa, nullptr);
  }
  return true;
}

// Blocks the cleanup signals in this thread while the temporary file is made
// and armed, so none lands between the two.
struct CleanupSignalsBlocked {
  sigset_t old;
  CleanupSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &old);
  }
  ~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

void arm_signal_cleanup(const std::string& path) {
  if (path.size() > PATH_MAX) return;
  std::memcpy(g_signal_temp_path, path.c_str(), path.size() + 1);
  g_signal_temp_armed.store(true, std::memory_order_release);
}

void disarm_signal_cleanup() { g_signal_temp_armed.store(false, std::memory_order_release); }

// Permission bits a file created by fopen(path, "wb") would get.
mode_t default_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool OutputFile::open(const char* path) {
  static const bool signals_installed = install_signal_cleanup();
  (void)signals_installed;
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
  {
    CleanupSignalsBlocked blocked;
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    temp_path_ = name.data();
    arm_signal_cleanup(temp_path_);
    fchmod(fd, mode);
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) ::close(fd);
  }
  if (file_ == nullptr) {
    unlink(temp_path_.c_str());
    disarm_signal_cleanup();
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
  // Disarmed only once the name is gone: renamed or removed.
  if (failed_) unlink(temp_path_.c_str());
  disarm_signal_cleanup();
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
    disarm_signal_cleanup();
  }
  temp_path_.clear();
  position_ = 0;
}
