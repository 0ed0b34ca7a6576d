// The page, written as text: every line break is stored as CR LF and every
// other character as one byte. Positions count characters. The stream holds a
// window of the file in memory; stepping back past the window reads the file
// again, so the conversion can revise what it wrote long ago.
#ifndef QUILLANTREX_CLI_OUTPUT_STREAM_H_
#define QUILLANTREX_CLI_OUTPUT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillantrex {

inline constexpr std::size_t DEFAULT_OUTPUT_BUFFER = 256 * 1024;

class OutputStream {
 public:
  // Takes ownership of `fd`, which must be open for reading and writing and
  // empty. `buffer_size` is a tuning knob for tests.
  explicit OutputStream(int fd, std::size_t buffer_size = DEFAULT_OUTPUT_BUFFER);
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  void write_char(int c);
  void write_text(std::string_view text);
  // Writes text known to hold no line break, in one piece.
  void write_plain(std::string_view text) { put_bytes(text.data(), text.size()); }
  // Writes `format` with its one "%s" replaced by `text`.
  void write_format(std::string_view format, std::string_view text);

  // Moves back n characters (a line break counts as one). False if that
  // would go before the start.
  bool step_back(std::size_t n = 1);

  // The character at the position, or -1 at the end of what was written.
  int read_char();

  // Stored positions, in bytes, for moving text that holds no line break.
  std::uint64_t mark() const { return pos_; }
  void seek_mark(std::uint64_t mark) { pos_ = mark; }
  // Copies the n bytes stored at `from` to `to` (the ranges may overlap) and
  // leaves the position just after the copy.
  void copy(std::uint64_t from, std::uint64_t to, std::uint64_t n);

  // Writes out everything and closes the file. False if any write, read back
  // or the close itself failed.
  bool close();
  bool failed() const { return failed_; }

 private:
  // Records that window bytes [i, i + k) were written; the position follows.
  void touch(std::size_t i, std::size_t k);
  void put_bytes(const char* data, std::size_t n);
  int get();
  char byte_at(std::uint64_t offset);
  void flush();
  // Moves the window so that it holds `offset`; `backward` places the offset
  // near the window's end, for walks towards the start of the file.
  void move_window(std::uint64_t offset, bool backward);

  int fd_;
  std::vector<char> buf_;      // the window: bytes [base_, base_ + len_) of the file
  std::vector<char> scratch_;  // for copy(), allocated on first use
  std::uint64_t base_ = 0;
  std::size_t len_ = 0;
  std::uint64_t pos_ = 0;       // current position, absolute byte offset
  std::uint64_t file_len_ = 0;  // furthest byte ever written
  std::size_t dirty_lo_ = 0;    // window-relative range not yet in the file
  std::size_t dirty_hi_ = 0;
  bool failed_ = false;
};

// Creates or empties `name` and opens it for reading and writing. Null on
// failure.
std::unique_ptr<OutputStream> create_output(const std::string& name,
                                            std::size_t buffer_size = DEFAULT_OUTPUT_BUFFER);

}  // namespace quillantrex

#endif  // QUILLANTREX_CLI_OUTPUT_STREAM_H_
