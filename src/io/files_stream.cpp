// SPDX-License-Identifier: MIT
// The reading and writing both systems do alike, through the C stream each
// side opens: positioned reads of the input, the output's writes with their
// first failure kept, and the copy of a spooled output to its device.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "io/files.h"

namespace {

// 64-bit positions on every system (long is 32 bits on Windows).
bool seek_to(std::FILE* f, uint64_t pos) {
#if defined(_WIN32)
  return _fseeki64(f, static_cast<int64_t>(pos), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
#endif
}

}  // namespace

Status errno_status(int err) { return err == 0 ? Status{} : Status{err, std::strerror(err)}; }

size_t InputFile::read_at(uint64_t pos, std::span<uint8_t> dst) {
  if (dst.empty() || pos >= static_cast<uint64_t>(size)) return 0;
  if (file == nullptr || !seek_to(file, pos)) {
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

bool InputFile::read_range(uint64_t pos, uint64_t size, std::vector<uint8_t>& out) {
  out.resize(static_cast<size_t>(std::min(size, available(pos))));
  if (read_at(pos, out) == out.size()) return true;
  out.clear();
  return false;
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
  if (pos + bytes.size() > position_ || !seek_to(file_, pos)) {
    fail(errno);
    return;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    fail(errno);
    return;
  }
  if (!seek_to(file_, position_)) fail(errno);
}

void OutputFile::flush() {
  if (!failed_ && file_ != nullptr && std::fflush(file_) != 0) fail(errno);
}

bool OutputFile::commit_to_device() {
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
