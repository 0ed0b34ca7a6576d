// The page, written as text: every line break is stored as CR LF and every
// other character as one byte. Positions count characters. The stream holds a
// window of the file in memory; stepping back past the window reads the file
// again, so the conversion can revise what it wrote long ago.
#ifndef QUILLANTREX_STREAMS_OUTPUT_STREAM_H_
#define QUILLANTREX_STREAMS_OUTPUT_STREAM_H_

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "streams/file_access.h"

namespace quillantrex {

inline constexpr std::size_t DEFAULT_OUTPUT_BUFFER = 256 * 1024;
// The window while the page is small (SMALL_PAGE): memory first touched
// costs a page fault a page, which an everyday export's conversion feels.
inline constexpr std::size_t SMALL_WINDOW = 64 * 1024;

// A fixed text as the stream stores it, line breaks already turned into CR LF,
// so that writing it is one copy with no search for line breaks.
template <std::size_t N>
struct StoredText {
  std::array<char, N> bytes;
};

consteval std::size_t stored_size(std::string_view text) {
  std::size_t n = text.size();
  for (char c : text) n += c == '\n';
  return n;
}

// Writes `text` as the stream stores it to `out`, which has room for
// stored_size(text) bytes; returns that size.
constexpr std::size_t store_into(std::string_view text, char* out) {
  std::size_t i = 0;
  for (char c : text) {
    if (c == '\n') out[i++] = '\r';
    out[i++] = c;
  }
  return i;
}

template <const std::string_view& Text>
consteval StoredText<stored_size(Text)> store_text() {
  StoredText<stored_size(Text)> stored{};
  store_into(Text, stored.bytes.data());
  return stored;
}

class OutputStream {
 public:
  // `file` must be empty. `buffer_size` is a tuning knob for tests.
  explicit OutputStream(std::unique_ptr<PageFile> file,
                        std::size_t buffer_size = DEFAULT_OUTPUT_BUFFER);
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  void write_char(int c) {
    if (c == '\n') {
      put_bytes("\r\n", 2);
    } else {
      char b = static_cast<char>(c);
      put_bytes(&b, 1);
    }
  }
  void write_text(std::string_view text);
  // Writes text known to hold no line break, in one piece.
  void write_plain(std::string_view text) { put_bytes(text.data(), text.size()); }
  // Writes a text already in its stored form.
  template <std::size_t N>
  void write_stored(const StoredText<N>& text) {
    put_bytes(text.bytes.data(), N);
  }

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
  void copy(std::uint64_t from, std::uint64_t to, std::uint64_t n) {
    // The link writer's copies are short and near the end of the page. Like
    // a write, a copy may start past the end of the page; the caller fills
    // the gap.
    if (from >= base_ && to >= base_ && from + n <= base_ + len_ && to + n <= base_ + cap_) {
      const std::size_t src = static_cast<std::size_t>(from - base_);
      const std::size_t dst = static_cast<std::size_t>(to - base_);
      std::memmove(buf_.get() + dst, buf_.get() + src, static_cast<std::size_t>(n));
      wrote(dst, dst + static_cast<std::size_t>(n));
    } else {
      copy_slow(from, to, n);
    }
  }
  // Stored bytes that end at mark `at`, as many as the window holds (it is
  // moved back when it holds none): for walking back through the page a
  // window at a time. Empty at the start of the file or when the file cannot
  // give its bytes back. The position stays.
  std::string_view held_before(std::uint64_t at) {
    if (at == 0 || (!(base_ < at && at <= base_ + len_) && !load_before(at))) return {};
    return std::string_view(buf_.get(), static_cast<std::size_t>(at - base_));
  }

  // The end of the page as the window holds it, for writing in place: `at`
  // is where the position is stored, `held` how many bytes of the page the
  // window holds before it and `room` how many may be written from it. `at`
  // is null unless the position is at the end of the page. With a `want`
  // and a window at least twice that large, the room ends `want` bytes past
  // the window's last write boundary (flush_aligned) that leaves that much
  // after it, and once the page has passed that boundary the window is
  // moved forward first, keeping a little of the page before the position.
  struct EndWindow {
    char* at;
    std::size_t held;
    std::size_t room;
  };
  EndWindow end_window(std::size_t want) {
    if (pos_ - base_ != len_ || file_len_ > pos_) return EndWindow{nullptr, 0, 0};
    // A window too small to ever give `want` is left where it is: moving it
    // costs a write to the file.
    if (want == 0 || cap_ < 2 * want) return EndWindow{buf_.get() + len_, len_, cap_ - len_};
    // What lies past the boundary when the window moves stays unwritten and
    // is moved with it: stopping the bulk writes just past a boundary
    // leaves less than `want` to move, not up to a whole grain.
    std::uint64_t boundary = last_boundary(want);
    if (pos_ >= boundary) {
      make_room();
      boundary = last_boundary(want);
    }
    return EndWindow{buf_.get() + len_, len_, static_cast<std::size_t>(boundary + want - pos_)};
  }
  // Takes the bytes written in the end window from `from` to `to`, where
  // `from` lies in it and `to` at or after the page's old end; bytes written
  // past `to` are not part of the page. The page and the position then end
  // at `to`.
  void commit(const char* from, const char* to) {
    wrote(static_cast<std::size_t>(from - buf_.get()), static_cast<std::size_t>(to - buf_.get()));
  }

  // Says that the page will be about `bytes` long at least, before the
  // first write: a window the page is sure to fill is faulted in at once,
  // with one call where the system allows, not a page fault at a time.
  void expect_at_least(std::uint64_t bytes);

  // Writes out everything and closes the file. False if any write, read back
  // or the close itself failed.
  bool close();
  bool failed() const { return failed_; }

 private:
  // The common case, writing inside the window, stays inline; the rest
  // (moving the window) is out of line.
  void put_bytes(const char* data, std::size_t n) {
    std::uint64_t i = pos_ - base_;  // wraps far beyond cap_ when pos_ < base_
    if (i <= cap_ && n <= cap_ - i) {
      std::size_t at = static_cast<std::size_t>(i);
      std::memcpy(buf_.get() + at, data, n);
      wrote(at, at + n);
    } else {
      put_bytes_slow(data, n);
    }
  }
  // Records that window bytes [i, end) were written; the position follows.
  void wrote(std::size_t i, std::size_t end) {
    if (i < dirty_lo_) dirty_lo_ = i;
    if (end > dirty_hi_) dirty_hi_ = end;
    if (end > len_) len_ = end;
    pos_ = base_ + end;
  }
  void put_bytes_slow(const char* data, std::size_t n);
  void copy_slow(std::uint64_t from, std::uint64_t to, std::uint64_t n);
  // Moves the window forward so that it ends in free room after the
  // position, which is at the end of the page.
  void make_room();
  // Brings the byte before `at` into the window; false if the file could not
  // give it back.
  bool load_before(std::uint64_t at);
  std::uint64_t file_len() const { return file_len_ > base_ + len_ ? file_len_ : base_ + len_; }
  int get();
  char byte_at(std::uint64_t offset);
  void flush();
  // The size the page's writes are aligned to while it is appended to.
  std::uint64_t write_grain() const {
    return std::bit_floor(std::min<std::uint64_t>(64 * 1024, cap_ / 4));
  }
  // The last multiple of write_grain() in the window with `want` bytes of
  // the window after it.
  std::uint64_t last_boundary(std::size_t want) const {
    const std::uint64_t grain = write_grain();
    return (base_ + cap_ - want) / grain * grain;
  }
  std::uint64_t flush_aligned(std::uint64_t offset);
  // Every access to the file goes through these two; false on a failure or
  // once the file is closed.
  bool write_at(const char* data, std::size_t n, std::uint64_t offset);
  bool read_at(char* data, std::size_t n, std::uint64_t offset);
  // Moves the window so that it holds `offset`; `backward` places the offset
  // near the window's end, for walks towards the start of the file.
  void move_window(std::uint64_t offset, bool backward);

  std::unique_ptr<PageFile> file_;  // null once closed
  // The window, bytes [base_, base_ + len_) of the file, and its size. Left
  // uninitialised, as is the scratch buffer: clearing memory that is about
  // to be written costs a page fault per page the page never reaches.
  std::size_t full_;  // the window's size once the page is no longer small
  std::size_t cap_;   // its size now
  std::unique_ptr<char[]> buf_;
  std::unique_ptr<char[]> scratch_;  // for copy(), allocated on first use
  std::size_t scratch_size_ = 0;
  std::uint64_t base_ = 0;
  std::size_t len_ = 0;
  std::uint64_t pos_ = 0;  // current position, absolute byte offset
  // Furthest byte ever written outside the window; file_len() adds the
  // window's own extent.
  std::uint64_t file_len_ = 0;
  std::size_t dirty_lo_ = SIZE_MAX;  // window-relative range not yet in the file
  std::size_t dirty_hi_ = 0;
  bool failed_ = false;
};

// Creates or empties `name` and opens it for reading and writing. Null on
// failure.
std::unique_ptr<OutputStream> create_output(const std::string& name,
                                            std::size_t buffer_size = DEFAULT_OUTPUT_BUFFER);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_OUTPUT_STREAM_H_
