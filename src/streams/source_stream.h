// The export, read as text: CR LF and a lone LF are one line break, Ctrl-Z
// ends the text, every other byte (0xFF included) is a character. A UTF-8
// byte-order mark at the very start is not text and is skipped.
#ifndef QUILLANTREX_STREAMS_SOURCE_STREAM_H_
#define QUILLANTREX_STREAMS_SOURCE_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "streams/file_access.h"

namespace quillantrex {

// Returned by read_char() at the end of the text; distinct from all 256
// characters.
inline constexpr int END_OF_INPUT = -1;

// Small enough to stay in the processor's cache as it is read into again.
inline constexpr std::size_t DEFAULT_SOURCE_BUFFER = 64 * 1024;

// How much of the text the stream reads ahead before anything is converted,
// so that the page's head can depend on what the export holds.
inline constexpr std::size_t SOURCE_READ_AHEAD = 64 * 1024;

class SourceStream {
 public:
  // `buffer_size` is a tuning knob for tests; the stream keeps a little
  // history beyond it so that step_back never needs the file again.
  explicit SourceStream(std::unique_ptr<SourceFile> file,
                        std::size_t buffer_size = DEFAULT_SOURCE_BUFFER);
  SourceStream(const SourceStream&) = delete;
  SourceStream& operator=(const SourceStream&) = delete;

  // Next character, or END_OF_INPUT at the end of the text or on a read
  // error (see failed()).
  int read_char() {
    // Inline while the byte and the one after it (for CR LF) are buffered;
    // at_end_ always leaves the position on a Ctrl-Z or at lim_.
    if (pos_ + 1 < lim_) {
      char c = buf_[pos_];
      if (c != '\r' && c != '\x1A') {
        ++pos_;
        return static_cast<unsigned char>(c);
      }
      if (c == '\r' && buf_[pos_ + 1] == '\n') {
        pos_ += 2;
        return '\n';
      }
    }
    return read_char_slow();
  }

  // Reads up to size - 1 characters, stopping after the first line break;
  // terminates the buffer. False when not even one character could be read.
  bool read_line(char* buffer, std::size_t size);

  // Back to the start of the text. Works on a pipe as long as nothing past
  // the read-ahead has been read, which is always the case after the
  // first-line check. False when impossible.
  bool rewind();

  // The text's first bytes, as they are in the file (CR LF not translated):
  // up to SOURCE_READ_AHEAD + 1 of them, so that a caller can tell whether
  // the text goes on after SOURCE_READ_AHEAD. Ends before a Ctrl-Z.
  std::string_view start_of_text();
  // Whether the file began with a UTF-8 byte-order mark.
  bool had_byte_order_mark();

  // Moves back n characters, so that the next read_char() yields them again
  // (a line break read from CR LF included). Only the last few characters
  // can be retraced; after END_OF_INPUT it does nothing. False if refused.
  bool step_back(std::size_t n = 1) {
    if (n == 1 && pos_ >= 2 && !at_end_) {
      // A line break stored as CR LF reads as one character; a CR just
      // before an LF is always part of it, because reading a CR takes the LF
      // along.
      pos_ -= (buf_[pos_ - 1] == '\n' && buf_[pos_ - 2] == '\r') ? 2 : 1;
      return true;
    }
    return step_back_slow(n);
  }

  // The bytes buffered ahead of the read position, refilling if none are.
  // Empty at the end of the text. Lets the scan convert runs in bulk: skip()
  // may pass only bytes before the first Ctrl-Z, and never half of a CR LF.
  std::string_view buffered() {
    if (pos_ < lim_ && !at_end_) return std::string_view(buf_.get() + pos_, lim_ - pos_);
    return buffered_slow();
  }
  void skip(std::size_t n) { pos_ += n; }

  // Whether `name` is this very file, through links or another spelling of
  // the path.
  bool same_file_as(const std::string& name) const { return file_->same_file_as(name); }

  // True once a read of the file failed (as opposed to ending).
  bool failed() const { return failed_; }
  // The file's size where it tells one, otherwise -1.
  std::int64_t file_size() const { return file_->size(); }

 private:
  bool fill();
  void read_ahead();
  bool read_more();
  void reached_end(std::ptrdiff_t n);
  void reserve(std::size_t size);
  // Every read of the file goes through here: the file's next bytes, after
  // the len_ bytes of the buffer.
  std::ptrdiff_t read_file(char* data, std::size_t n) { return file_->read(data, n, base_ + len_); }
  int read_char_slow();
  bool step_back_slow(std::size_t n);
  std::string_view buffered_slow();

  // The buffer, left uninitialised (clearing what is about to be read over
  // costs a page fault per page a short export never reaches). Its first
  // fill is the read-ahead, the file's first bytes, which stay at its start
  // until the file has been read past them, so that rewind() after the
  // first-line check only moves the position, on a pipe too. Past them, it
  // is read into again.
  std::unique_ptr<SourceFile> file_;
  std::size_t step_;     // the most one fill serves: buffer_size
  std::size_t full_;     // the size the buffer grows to at most
  std::size_t cap_ = 0;  // its size now: it starts no larger than the file
  std::unique_ptr<char[]> buf_;
  std::size_t pos_ = 0;         // read position in buf_
  std::size_t lim_ = 0;         // end of the bytes served so far
  std::size_t len_ = 0;         // end of the bytes read from the file
  std::uint64_t base_ = 0;      // file offset of buf_[0]
  std::size_t text_start_ = 0;  // after a byte-order mark, while base_ is 0
  bool ahead_read_ = false;
  bool at_end_ = false;     // a read yielded END_OF_INPUT (Ctrl-Z, EOF, error)
  bool file_done_ = false;  // the file itself has no more bytes
  bool failed_ = false;
};

// Opens `name` for reading. Refuses directories, which some systems let
// one open.
// On failure returns null.
std::unique_ptr<SourceStream> open_source(const std::string& name,
                                          std::size_t buffer_size = DEFAULT_SOURCE_BUFFER);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_SOURCE_STREAM_H_
