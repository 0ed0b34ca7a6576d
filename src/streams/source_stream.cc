#include "streams/source_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "streams/fresh_memory.h"

namespace quillantrex {

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';
constexpr char CTRL_Z = '\x1A';
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// Bytes kept in front of the read position across refills: enough for
// step_back to retrace a few characters, CR LF pairs included, even when a
// pair straddles two fills.
constexpr std::size_t HISTORY = 64;

// The read-ahead: a byte-order mark and SOURCE_READ_AHEAD + 1 bytes of text
// after it, so that a caller can tell whether the text goes on.
constexpr std::size_t AHEAD = BYTE_ORDER_MARK.size() + SOURCE_READ_AHEAD + 1;
// Where the file's size is not known (a pipe), the buffer starts at this
// and grows fourfold as the read-ahead proves the file longer; a file known
// to be larger than the buffer gets the whole buffer at once.
constexpr std::size_t FIRST_GUESS = 16 * 1024;

}  // namespace

SourceStream::SourceStream(std::unique_ptr<SourceFile> file, std::size_t buffer_size)
    : file_(std::move(file)),
      step_(buffer_size == 0 ? 1 : buffer_size),
      full_(std::max(AHEAD, HISTORY + step_)) {}

// Makes the buffer `size` bytes large, keeping what it holds. Each size it
// is given is one the file's bytes are about to fill.
void SourceStream::reserve(std::size_t size) {
  buf_ = grown_buffer(buf_.get(), std::min(len_, size), size);
  cap_ = size;
}

// Reads the file's first bytes to the start of the buffer: AHEAD of them,
// or the whole file if it is shorter. A pipe hands them over in pieces,
// hence the loop. Where the file tells its size and fits the buffer, all of
// it is read here, and the buffer is made no larger than the file, one byte
// more for the read that finds its end: an everyday export then needs no
// second read.
void SourceStream::read_ahead() {
  ahead_read_ = true;
  const std::int64_t size = file_->size();
  const bool fits = size >= 0 && static_cast<std::uint64_t>(size) < full_;
  const std::size_t want = fits ? std::max(AHEAD, static_cast<std::size_t>(size) + 1) : AHEAD;
  if (cap_ == 0) {
    reserve(fits        ? static_cast<std::size_t>(size) + 1
            : size >= 0 ? full_
                        : std::min(FIRST_GUESS, full_));
  }
  base_ = 0;
  pos_ = lim_ = len_ = 0;
  file_done_ = false;
  while (len_ < want) {
    if (len_ == cap_) reserve(std::min(full_, 4 * cap_));
    std::ptrdiff_t n = read_file(buf_.get() + len_, std::min(cap_, want) - len_);
    if (n <= 0) {
      reached_end(n);
      break;
    }
    len_ += static_cast<std::size_t>(n);
  }
  text_start_ =
      std::string_view(buf_.get(), len_).starts_with(BYTE_ORDER_MARK) ? BYTE_ORDER_MARK.size() : 0;
  pos_ = lim_ = text_start_;
  // A longer file's buffer is read into again and again, and stays in the
  // processor's cache.
  if (!file_done_ && cap_ < full_) reserve(full_);
}

// Reads the file's next bytes after len_, with the HISTORY bytes before
// pos_ moved to the buffer's start in front of them. False at the end of
// the file or on a failure.
bool SourceStream::read_more() {
  // Every read here comes after at least a whole read-ahead, so HISTORY
  // bytes are there to keep.
  std::memmove(buf_.get(), buf_.get() + pos_ - HISTORY, HISTORY);
  base_ += pos_ - HISTORY;
  pos_ = lim_ = len_ = HISTORY;
  const std::ptrdiff_t got = read_file(buf_.get() + HISTORY, step_);
  if (got <= 0) {
    reached_end(got);
    return false;
  }
  len_ += static_cast<std::size_t>(got);
  return true;
}

// The file's reads have ended, with `n`, 0 or a failure. An export that
// changed while it was read ends in a failure too: what was read of it is
// no one version of it.
void SourceStream::reached_end(std::ptrdiff_t n) {
  if (n < 0 || !file_->unchanged()) failed_ = true;
  file_done_ = true;
}

// Serves at least one more byte after pos_, at most step_ more: the bytes
// already read first, then the file's next ones.
bool SourceStream::fill() {
  if (!ahead_read_) read_ahead();
  if (lim_ == len_ && (file_done_ || !read_more())) return false;
  lim_ = std::min(len_, lim_ + step_);
  return true;
}

int SourceStream::read_char_slow() {
  if (at_end_) return END_OF_INPUT;
  if (pos_ == lim_ && !fill()) {
    at_end_ = true;
    return END_OF_INPUT;
  }
  char c = buf_[pos_];
  if (c == CTRL_Z) {
    at_end_ = true;
    return END_OF_INPUT;
  }
  ++pos_;
  if (c == CR) {
    if (pos_ == lim_) fill();
    if (pos_ < lim_ && buf_[pos_] == LF) {
      ++pos_;
      return LF;
    }
  }
  return static_cast<unsigned char>(c);
}

bool SourceStream::read_line(char* buffer, std::size_t size) {
  std::size_t n = 0;
  while (n + 1 < size) {
    int c = read_char();
    if (c == END_OF_INPUT) break;
    buffer[n++] = static_cast<char>(c);
    if (c == LF) break;
  }
  if (size > 0) buffer[n] = '\0';
  return n > 0;
}

bool SourceStream::rewind() {
  at_end_ = false;
  if (!ahead_read_) return true;
  if (base_ == 0) {
    // The read-ahead is still at the start of the buffer.
    pos_ = text_start_;
    return true;
  }
  // The file has been read past it: a file starts again from its first
  // byte; a pipe that has moved on has lost what it gave, and so the
  // export. The position then goes to lim_, as read_char's inline path
  // expects.
  if (!file_->rewind()) {
    failed_ = true;
    at_end_ = true;
    pos_ = lim_;
    return false;
  }
  read_ahead();
  return true;
}

std::string_view SourceStream::start_of_text() {
  if (!ahead_read_) read_ahead();
  if (base_ != 0) return {};
  std::string_view text(buf_.get() + text_start_, len_ - text_start_);
  return text.substr(0, std::min(text.find(CTRL_Z), SOURCE_READ_AHEAD + 1));
}

bool SourceStream::had_byte_order_mark() {
  if (!ahead_read_) read_ahead();
  return text_start_ != 0;
}

bool SourceStream::step_back_slow(std::size_t n) {
  if (at_end_) return true;
  for (; n > 0; --n) {
    if (pos_ == 0) return false;
    // A line break stored as CR LF reads as one character; a CR just before
    // an LF is always part of it, because reading a CR takes the LF along.
    std::size_t width = (buf_[pos_ - 1] == LF && pos_ >= 2 && buf_[pos_ - 2] == CR) ? 2 : 1;
    pos_ -= width;
  }
  return true;
}

std::string_view SourceStream::buffered_slow() {
  if (at_end_) return {};
  if (pos_ == lim_ && !fill()) return {};
  return std::string_view(buf_.get() + pos_, lim_ - pos_);
}

std::unique_ptr<SourceStream> open_source(const std::string& name, std::size_t buffer_size) {
  std::unique_ptr<SourceFile> file = open_source_file(name);
  if (!file) return nullptr;
  return std::make_unique<SourceStream>(std::move(file), buffer_size);
}

}  // namespace quillantrex
