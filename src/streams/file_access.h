// The only way the streams reach files: the export read from start to end,
// and the page read and written at offsets. One implementation per platform
// (files_posix.cc, files_windows.cc) and one in memory (files_memory.cc) for
// tests and the fuzzer. Each call moves a whole buffer, so the streams keep
// their per-character work inline and call through here once per refill or
// flush. Failures are returned, never thrown.
#ifndef QUILLANTREX_STREAMS_FILE_ACCESS_H_
#define QUILLANTREX_STREAMS_FILE_ACCESS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillantrex {

// The export, read from start to end. A file that can be read at an offset
// (a regular file) is read at the offset the stream names: the stream keeps
// count of what it has read, and nothing depends on the file's own position,
// which some file systems do not move as a read would (FUSE with direct_io,
// for one). A pipe cannot, and reads on; the stream asks for its bytes in
// order, so the offset named is then where the pipe stands.
class SourceFile {
 public:
  virtual ~SourceFile() = default;
  // Up to n bytes from `offset` into `data`: how many were read, 0 at the
  // end of the file, -1 on a failure. Fewer than n is no failure.
  virtual std::ptrdiff_t read(char* data, std::size_t n, std::uint64_t offset) = 0;
  // Makes the first byte the next to read again: nothing to do for a file
  // read at offsets. False where the file cannot go back (a pipe).
  virtual bool rewind() = 0;
  // Whether `name` is this very file, whatever the spelling or link that
  // leads to it.
  virtual bool same_file_as(const std::string& name) const = 0;
  // The file's size in bytes where it has one, -1 where it has none (a
  // pipe). Only a hint for sizing buffers: the file may still grow.
  virtual std::int64_t size() const { return -1; }
  // Asked once its reads have ended: false if the file is no longer what was
  // opened, its size or modification time changed since (cut short,
  // appended to or rewritten by someone else meanwhile), so that what was
  // read is no one version of it. A file that told no size, or a size of 0
  // (a pipe, /proc and /sys files), is taken as it came.
  virtual bool unchanged() const { return true; }
};

// The most one read or write call is asked to move: a 32-bit count, or a
// buffer of 4 GiB, must not wrap to 0, which reads as the end of the file.
inline constexpr std::size_t MAX_TRANSFER = std::size_t{1} << 30;

class PageFile {
 public:
  virtual ~PageFile() = default;
  // Exactly n bytes at `offset`; false on any failure, a short read (the
  // file no longer holds what was written) included.
  virtual bool write_at(const char* data, std::size_t n, std::uint64_t offset) = 0;
  virtual bool read_at(char* data, std::size_t n, std::uint64_t offset) = 0;
  // False if the file could not be closed cleanly; nothing is possible after.
  virtual bool close() = 0;
};

// The most a page may hold to count as small: an everyday export's page,
// which the output stream holds in a smaller window.
inline constexpr std::uint64_t SMALL_PAGE = 1 << 20;

// The platform's files. Null when `name` cannot be opened or is a
// directory, which some systems let one open for reading.
std::unique_ptr<SourceFile> open_source_file(const std::string& name);
// Creates `name` or empties it, for reading and writing.
std::unique_ptr<PageFile> create_page_file(const std::string& name);

// Files in memory. The source reads `bytes`, which must outlive it. The
// page is `page` itself, which must outlive it; writes that would make it
// longer than `limit` fail, as on a full disk.
std::unique_ptr<SourceFile> memory_source_file(std::string_view bytes);
std::unique_ptr<PageFile> memory_page_file(std::string& page, std::uint64_t limit = UINT64_MAX);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_FILE_ACCESS_H_
