// SPDX-License-Identifier: MIT
// Files: the input read by absolute position, and the output written so
// that a failed run never leaves a half-written file. Paths are UTF-8. The
// POSIX side is files.cpp, the Windows side files_win.cpp.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "pack/status.h"

// What the functions below give back when they fail: the errno, positive,
// when the system refused (the message its text, from strerror), or one of
// these for what io found itself.
inline constexpr int IO_ERR_NOT_REGULAR = -20;  // no regular file: a folder, a device, a pipe
inline constexpr int IO_ERR_TOO_BIG = -21;      // more bytes than the caller takes
inline constexpr int IO_ERR_READ = -22;         // an open file that could not be read to its end

// The errno err as a Status: ok for 0.
Status errno_status(int err);

// A file as the system knows it: the same for every path that leads to it,
// through symbolic and hard links.
// (Windows: the volume's serial number and the file's index on it.)
struct FileId {
  uint64_t dev = 0;
  uint64_t ino = 0;
  bool operator==(const FileId&) const = default;
};

// The file path leads to (links followed); false when there is none.
bool file_id(const std::string& path, FileId& out);
// The same for an open file (a C runtime descriptor).
bool file_id(int fd, FileId& out);

// Splits a path into its folder ("." when it has none) and its last name.
void split_path(const std::string& path, std::string& dir, std::string& base);
// The path, then the path each symbolic link on the way from it names, in
// turn, as far as the system follows links (the last may name nothing).
// Windows: the path alone.
std::vector<std::string> link_chain(const std::string& path);

// Reads the regular file path holds, of at most max_size bytes, into out;
// `size` is the file's size. Refusals to open are the errno; IO_ERR_READ's
// message is the system's text, or that the file shrank while being read.
Status read_regular_file(const std::string& path, uint64_t max_size, std::vector<uint8_t>& out, uint64_t& size);

// A folder held open, that files are created in by name (one path
// component): a new file is never an existing file or link of that name.
class Folder {
 public:
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder();

  // Opens the folder, creating it (one level) when it does not exist; on
  // failure the errno, with `created` false when creating it failed.
  Status open(const std::string& path, bool& created);
  bool is_open() const;
  // Creates name as a new file holding bytes: EEXIST when the name is taken
  // (by anything, a link too); `created` tells whether the file exists now
  // (a failed write leaves it for the caller to remove).
  Status create_new(const std::string& name, std::span<const uint8_t> bytes, bool& created);
  // Renames from over to: whatever to names is replaced, never written
  // through.
  Status rename(const std::string& from, const std::string& to);
  void remove(const std::string& name);
  // The file name leads to (links followed); false when there is none.
  bool file_id(const std::string& name, FileId& out) const;

 private:
  int fd_ = -1;       // POSIX: the folder's descriptor
  std::string path_;  // Windows: the folder's path
};

// The process's id, for names of temporary files.
long process_id();

// The input pack, opened "rb".
struct InputFile {
  FILE* file = nullptr;
  int64_t size = 0;

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { close(); }

  // The errno when the file cannot be opened, is a directory (EISDIR), or
  // its size cannot be told.
  Status open(const char* path);
  void close();
  // True when path names this open file (the same inode, also through a
  // symbolic or hard link).
  bool is_same_file(const char* path) const;
  // Reads up to dst.size() bytes at pos and returns the count read: fewer at
  // the end of the file, 0 on a read error (and sets read_error).
  size_t read_at(uint64_t pos, std::span<uint8_t> dst);
  // Up to `size` bytes at pos into out (fewer at the end of the file); false
  // on a read error, with out emptied.
  bool read_range(uint64_t pos, uint64_t size, std::vector<uint8_t>& out);
  // Bytes the file holds from pos on (0 past its end).
  uint64_t available(uint64_t pos) const {
    return pos < static_cast<uint64_t>(size) ? static_cast<uint64_t>(size) - pos : 0;
  }
  bool read_error = false;
  bool regular = false;  // a regular file, not a device or a pipe
};

// What OutputFile::open does with what the output path names now.
enum class OutputLinks {
  // A symbolic link is followed and the file it names replaced; a device or
  // pipe is written at commit. For the output the user names.
  Follow,
  // Whatever the path names (a symbolic link, a device, a pipe, a file) is
  // replaced by the new file; nothing is written through it, and a link's
  // target stays untouched. For a side file with a fixed name in a folder
  // others may write to.
  Replace,
};

// The output. A regular file (or a path that does not exist yet) is written
// to a temporary file beside it and renamed over it by commit(); anything
// else (a device, a pipe) is written only at commit(), from a spool file, and
// never replaced. Until commit() succeeds the output path is untouched, and
// a run that ends without commit() leaves no trace of the output.
struct OutputFile {
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // False (with error() set) when the output cannot be created.
  bool open(const char* path, OutputLinks links = OutputLinks::Follow);
  bool is_open() const { return file_ != nullptr; }
  // Appends bytes; a failure is remembered and reported by failed().
  void write(std::span<const uint8_t> bytes);
  void write_zeros(size_t n);
  // Overwrites bytes already written at pos (the entry table); the append
  // position is kept.
  void write_at(uint64_t pos, std::span<const uint8_t> bytes);
  uint64_t position() const { return position_; }
  // Writing at known places from several threads: flush() once the appends
  // are done, then write_shared() from any thread (the bytes at pos, through
  // no stream: 0 or the errno, recorded nowhere), then set_end() to the end
  // of what was laid out, which drops what lies past it and appends there.
  void flush();
  int write_shared(uint64_t pos, std::span<const uint8_t> bytes) const;
  void set_end(uint64_t end);
  bool failed() const { return failed_; }
  // errno of the first failure, for the message.
  int error() const { return error_; }
  // Flushes and moves the output into place; false (with error() set) when
  // anything failed, in which case the output path is left as it was.
  bool commit();
  // Drops everything written; the output path is left as it was.
  void discard();

 private:
  void fail(int err);
  // Copies the spooled bytes to the device output and closes both.
  bool commit_to_device();
  bool open_follow(const char* path);
  bool open_temp(const std::string& target, mode_t mode);

  FILE* file_ = nullptr;
  FILE* device_ = nullptr;    // the non-regular output, written at commit
  std::string temp_path_;     // the temporary file beside a regular output
  std::string final_path_;
  int cleanup_slot_ = -1;     // the signal handler's slot for temp_path_
  uint64_t position_ = 0;
  bool failed_ = false;
  int error_ = 0;
};
