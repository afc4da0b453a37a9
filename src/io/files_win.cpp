// SPDX-License-Identifier: MIT
// The Windows side of files.h: the wide calls with UTF-8 paths, files
// opened in binary mode, 64-bit positions, and replacing a file with
// MoveFileExW (rename() does not replace an existing file there).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "io/files.h"
#include "io/signal_cleanup.h"
#include "io/win_path.h"

std::wstring wide_from_utf8(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string utf8_from_wide(const wchar_t* s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

int errno_from_windows(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

namespace {

int last_errno() { return errno_from_windows(GetLastError()); }

bool id_of(HANDLE h, FileId& out) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return false;
  out.dev = info.dwVolumeSerialNumber;
  out.ino = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

// A C runtime stream over a handle; the handle is closed on failure.
FILE* stream_of(HANDLE h, int flags, const char* mode) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* f = _fdopen(fd, mode);
  if (f == nullptr) _close(fd);
  return f;
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// A name for a temporary file, different for every call in this process.
std::string temp_suffix() {
  static LONG counter = 0;
  return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(InterlockedIncrement(&counter));
}

// A spool file for a device output, in the user's temporary folder (tmpfile()
// would write in the drive's root), removed when closed.
FILE* spool_file() {
  wchar_t dir[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring path = std::wstring(dir) + wide_from_utf8("morvane-" + temp_suffix() + ".tmp");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) return stream_of(h, 0, "w+b");
    if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
  }
  return nullptr;
}

// Whether the path names something that is not a file on disk (NUL, CON, a
// pipe): such an output is written at commit and never replaced.
bool is_device(const std::string& path) {
  const std::wstring w = wide_from_utf8(path);
  HANDLE h = CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  return type != FILE_TYPE_DISK && type != FILE_TYPE_UNKNOWN;
}

// The open inputs: Windows refuses to replace a file that is open (even
// shared for deletion), so converting a file in place closes the input,
// read to the end by then, just before its name is replaced.
std::mutex g_inputs_mutex;
std::vector<InputFile*> g_inputs;

void close_inputs_named(const std::string& path) {
  FileId target;
  if (!file_id(path, target)) return;
  std::lock_guard<std::mutex> lock(g_inputs_mutex);
  for (InputFile* in : g_inputs) {
    FileId id;
    if (in->file != nullptr && file_id(_fileno(in->file), id) && id == target) {
      std::fclose(in->file);
      in->file = nullptr;
    }
  }
}

}  // namespace

long process_id() { return static_cast<long>(GetCurrentProcessId()); }

void split_path(const std::string& path, std::string& dir, std::string& base) {
  const size_t sep = path.find_last_of("/\\");
  if (sep != std::string::npos) {
    dir = path.substr(0, sep == 0 ? 1 : sep);
    base = path.substr(sep + 1);
  } else if (path.size() >= 2 && path[1] == ':') {
    dir = path.substr(0, 2);
    base = path.substr(2);
  } else {
    dir = std::string(1, '.');
    base = path;
  }
}

// Links are not read here: the path alone.
std::vector<std::string> link_chain(const std::string& path) { return {path}; }

Status InputFile::open(const char* path) {
  close();
  const std::wstring w = wide_from_utf8(path);
  // Shared for deletion too, so the output may replace the input's name
  // while it is open (converting a file in place).
  HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return errno_status(last_errno());
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    return errno_status(EISDIR);
  }
  const bool disk_file = GetFileType(h) == FILE_TYPE_DISK;
  file = stream_of(h, _O_RDONLY, "rb");
  if (file == nullptr) return errno_status(EMFILE);
  const int64_t end = _fseeki64(file, 0, SEEK_END) != 0 ? -1 : _ftelli64(file);
  if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) {
    const int err = errno;
    close();
    return errno_status(err);
  }
  size = end;
  regular = disk_file;
  std::lock_guard<std::mutex> lock(g_inputs_mutex);
  g_inputs.push_back(this);
  return {};
}

void InputFile::close() {
  {
    std::lock_guard<std::mutex> lock(g_inputs_mutex);
    std::erase(g_inputs, this);
  }
  if (file != nullptr) std::fclose(file);
  file = nullptr;
  size = 0;
  regular = false;
}

bool InputFile::is_same_file(const char* path) const {
  FileId in, other;
  return file != nullptr && file_id(_fileno(file), in) && file_id(path, other) && in == other;
}

bool file_id(const std::string& path, FileId& out) {
  const std::wstring w = wide_from_utf8(path);
  HANDLE h = CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = id_of(h, out);
  CloseHandle(h);
  return ok;
}

bool file_id(int fd, FileId& out) {
  const intptr_t h = _get_osfhandle(fd);
  return h != -1 && id_of(reinterpret_cast<HANDLE>(h), out);
}

Status read_regular_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out, uint64_t& size) {
  const std::wstring w = wide_from_utf8(path);
  HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return errno_status(last_errno());
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER length{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(h, &length)) {
    CloseHandle(h);
    return {IO_ERR_NOT_REGULAR, "not a regular file"};
  }
  size = static_cast<uint64_t>(length.QuadPart);
  if (size > max_size) {
    CloseHandle(h);
    return {IO_ERR_TOO_BIG, "too big"};
  }
  out.resize(static_cast<size_t>(size));
  size_t done = 0;
  int err = 0;
  while (done < out.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1u << 30));
    if (!ReadFile(h, out.data() + done, want, &got, nullptr)) {
      err = last_errno();
      break;
    }
    if (got == 0) break;
    done += got;
  }
  CloseHandle(h);
  if (done == out.size()) return {};
  return {IO_ERR_READ, err != 0 ? std::strerror(err) : "it shrank while being read"};
}

Folder::~Folder() = default;

bool Folder::is_open() const { return !path_.empty(); }

Status Folder::open(const std::string& path, bool& created) {
  created = true;
  const std::wstring w = wide_from_utf8(path);
  if (!CreateDirectoryW(w.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    created = false;
    return errno_status(last_errno());
  }
  const DWORD attributes = GetFileAttributesW(w.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return errno_status(last_errno());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return errno_status(ENOTDIR);
  path_ = path.empty() || is_separator(path.back()) ? path : path + "/";
  return {};
}

Status Folder::create_new(const std::string& name, std::span<const uint8_t> bytes, bool& created) {
  const std::wstring w = wide_from_utf8(path_ + name);
  // CREATE_NEW refuses any existing name, a link too; the link itself is
  // never opened through.
  HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  created = h != INVALID_HANDLE_VALUE;
  if (!created) return errno_status(last_errno());
  size_t done = 0;
  int err = 0;
  while (done < bytes.size()) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    if (!WriteFile(h, bytes.data() + done, want, &put, nullptr) || put == 0) {
      err = put == 0 && GetLastError() == ERROR_SUCCESS ? EIO : last_errno();
      break;
    }
    done += put;
  }
  if (!CloseHandle(h) && err == 0) err = last_errno();
  return errno_status(err);
}

Status Folder::rename(const std::string& from, const std::string& to) {
  const std::wstring a = wide_from_utf8(path_ + from), b = wide_from_utf8(path_ + to);
  // Replaces the name itself, a link of that name too, never its target.
  return MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? Status{}
             : errno_status(last_errno());
}

void Folder::remove(const std::string& name) { DeleteFileW(wide_from_utf8(path_ + name).c_str()); }

bool Folder::file_id(const std::string& name, FileId& out) const {
  return is_open() && ::file_id(path_ + name, out);
}

bool OutputFile::open(const char* path, OutputLinks links) {
  static const bool handler_installed = install_signal_cleanup();
  (void)handler_installed;
  discard();
  failed_ = false;
  error_ = 0;
  if (links == OutputLinks::Replace) {
    final_path_ = path;
    const DWORD attributes = GetFileAttributesW(wide_from_utf8(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      error_ = EISDIR;
      return false;
    }
    return open_temp(final_path_, 0);
  }
  return open_follow(path);
}

bool OutputFile::open_follow(const char* path) {
  final_path_ = path;
  if (is_device(path)) {
    // NUL, CON or a pipe cannot be replaced; it gets the finished output at
    // commit, so a failed run writes nothing to it.
    const std::wstring w = wide_from_utf8(path);
    HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      error_ = last_errno();
      return false;
    }
    device_ = stream_of(h, 0, "wb");
    if (device_ == nullptr) {
      error_ = EMFILE;
      return false;
    }
    file_ = spool_file();
    if (file_ == nullptr) {
      error_ = last_errno();
      std::fclose(device_);
      device_ = nullptr;
      return false;
    }
    return true;
  }
  const DWORD attributes = GetFileAttributesW(wide_from_utf8(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error_ = EISDIR;
    return false;
  }
  return open_temp(final_path_, 0);
}

// The temporary file beside target, to be moved over it by commit().
bool OutputFile::open_temp(const std::string& target, mode_t) {
  std::string dir, base;
  split_path(target, dir, base);
  const std::string prefix = dir + "/." + base + ".";
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp_path_ = prefix + temp_suffix();
    // Shared for deletion: the console handler removes it while it is open
    // (it goes when the last handle closes).
    h = CreateFileW(wide_from_utf8(temp_path_).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    error_ = last_errno();
    temp_path_.clear();
    return false;
  }
  cleanup_slot_ = arm_signal_cleanup(temp_path_);
  file_ = stream_of(h, 0, "w+b");
  if (file_ == nullptr) {
    error_ = EMFILE;
    DeleteFileW(wide_from_utf8(temp_path_).c_str());
    disarm_signal_cleanup(cleanup_slot_);
    temp_path_.clear();
    return false;
  }
  return true;
}

int OutputFile::write_shared(uint64_t pos, std::span<const uint8_t> bytes) const {
  if (file_ == nullptr) return EBADF;
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
  while (!bytes.empty()) {
    // An offset of its own: no file position shared between the threads.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(pos);
    at.OffsetHigh = static_cast<DWORD>(pos >> 32);
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(h, bytes.data(), ask, &n, &at) || n == 0) return GetLastError() == ERROR_DISK_FULL ? ENOSPC : EIO;
    bytes = bytes.subspan(n);
    pos += n;
  }
  return 0;
}

void OutputFile::set_end(uint64_t end) {
  if (failed_ || file_ == nullptr) return;
  if (std::fflush(file_) != 0 || _chsize_s(_fileno(file_), static_cast<int64_t>(end)) != 0 ||
      _fseeki64(file_, static_cast<int64_t>(end), SEEK_SET) != 0) {
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
  if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_))))) fail(last_errno());
  int rc = std::fclose(file_);
  file_ = nullptr;
  if (!failed_ && rc != 0) fail(errno);
  const std::wstring temp = wide_from_utf8(temp_path_);
  if (!failed_) close_inputs_named(final_path_);
  if (!failed_ && !MoveFileExW(temp.c_str(), wide_from_utf8(final_path_).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    fail(last_errno());
  // Disarmed only once the name is gone: moved or removed.
  if (failed_) DeleteFileW(temp.c_str());
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
    DeleteFileW(wide_from_utf8(temp_path_).c_str());
    disarm_signal_cleanup(cleanup_slot_);
  }
  temp_path_.clear();
  position_ = 0;
}
