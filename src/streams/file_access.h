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

// Read in one direction, as a pipe allows.
class SourceFile {
 public:
  virtual ~SourceFile() = default;
  // Up to n next bytes into `data`: how many were read, 0 at the end of the
  // file, -1 on a failure.
  virtual std::ptrdiff_t read(char* data, std::size_t n) = 0;
  // Says that the next read will be read(data, n), so that it may start
  // now, on another core where the system can: until that read, `data`
  // must stay untouched. rewind() drops what was asked for.
  virtual void prefetch(char* data, std::size_t n) {
    (void)data;
    (void)n;
  }
  // Back to the first byte. False where the file cannot go back (a pipe).
  virtual bool rewind() = 0;
  // Whether `name` is this very file, whatever the spelling or link that
  // leads to it.
  virtual bool same_file_as(const std::string& name) const = 0;
  // The file's size in bytes where it has one, -1 where it has none (a
  // pipe). Only a hint for sizing buffers: the file may still grow.
  virtual std::int64_t size() const { return -1; }
};

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
// which the output stream holds in a smaller window and writes plainly,
// without setting up the kernel's help.
inline constexpr std::uint64_t SMALL_PAGE = 1 << 20;

// The platform's files. Null when `name` cannot be opened or is a
// directory, which some systems let one open for reading.
std::unique_ptr<SourceFile> open_source_file(const std::string& name);
// How the page's writes reach the file. `behind` lets the kernel copy them
// while the conversion goes on, where the system offers that (io_uring on
// Linux) and does not refuse it; elsewhere it is `plain`, one write call at
// a time. Both leave the same bytes; tests ask for each.
enum class PageWrites { plain, behind };

// Creates `name` or empties it, for reading and writing.
std::unique_ptr<PageFile> create_page_file(const std::string& name,
                                           PageWrites writes = PageWrites::behind);

// Files in memory. The source reads `bytes`, which must outlive it. The page
// is `page` itself, which must outlive it; writes that would make it longer
// than `limit` fail, as on a full disk.
std::unique_ptr<SourceFile> memory_source_file(std::string_view bytes);
std::unique_ptr<PageFile> memory_page_file(std::string& page, std::uint64_t limit = UINT64_MAX);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_FILE_ACCESS_H_
