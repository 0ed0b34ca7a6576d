#include "streams/source_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

}  // namespace

SourceStream::SourceStream(std::unique_ptr<SourceFile> file, std::size_t buffer_size)
    : file_(std::move(file)),
      cap_(HISTORY + (buffer_size == 0 ? 1 : buffer_size)),
      buf_(new char[cap_]) {}

SourceStream::~SourceStream() = default;

// Reads the file's first bytes into ahead_, once: enough for a byte-order
// mark and SOURCE_READ_AHEAD + 1 bytes of text after it, or the whole file
// if it is shorter. A pipe hands them over in pieces, hence the loop. The
// buffer grows as the file proves longer, so a short export does not pay
// for the whole read-ahead.
void SourceStream::read_ahead() {
  if (ahead_read_) return;
  ahead_read_ = true;
  past_ahead_ = false;
  ahead_ends_file_ = false;
  text_start_ = 0;
  constexpr std::size_t full = BYTE_ORDER_MARK.size() + SOURCE_READ_AHEAD + 1;
  if (!ahead_) {
    ahead_cap_ = std::min(full, cap_);
    ahead_.reset(new char[ahead_cap_]);
  }
  std::size_t got = 0;
  while (got < full) {
    if (got == ahead_cap_) {
      ahead_cap_ = std::min(full, 4 * ahead_cap_);
      std::unique_ptr<char[]> grown(new char[ahead_cap_]);
      std::memcpy(grown.get(), ahead_.get(), got);
      ahead_ = std::move(grown);
    }
    std::ptrdiff_t n = read_file(ahead_.get() + got, ahead_cap_ - got);
    if (n <= 0) {
      if (n < 0) failed_ = true;
      ahead_ends_file_ = true;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  ahead_len_ = got;
  if (std::string_view(ahead_.get(), got).starts_with(BYTE_ORDER_MARK))
    text_start_ = BYTE_ORDER_MARK.size();
  ahead_used_ = text_start_;
}

// Makes at least one more byte available after pos_, keeping HISTORY bytes
// before it. False at the end of the file or on an error.
bool SourceStream::fill() {
  if (file_done_) return false;
  if (len_ == cap_) {
    std::size_t keep = pos_ < HISTORY ? pos_ : HISTORY;
    std::size_t drop = pos_ - keep;
    std::memmove(buf_.get(), buf_.get() + drop, len_ - drop);
    len_ -= drop;
    pos_ -= drop;
    base_ += drop;
  }
  read_ahead();
  if (ahead_used_ < ahead_len_) {
    std::size_t n = std::min(cap_ - len_, ahead_len_ - ahead_used_);
    std::memcpy(buf_.get() + len_, ahead_.get() + ahead_used_, n);
    ahead_used_ += n;
    len_ += n;
    return true;
  }
  if (!ahead_ends_file_) {
    past_ahead_ = true;
    std::ptrdiff_t got = read_file(buf_.get() + len_, cap_ - len_);
    if (got > 0) {
      len_ += static_cast<std::size_t>(got);
      return true;
    }
    if (got < 0) failed_ = true;
  }
  file_done_ = true;
  return false;
}

int SourceStream::read_char_slow() {
  if (at_end_) return END_OF_INPUT;
  if (pos_ == len_ && !fill()) {
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
    if (pos_ == len_) fill();
    if (pos_ < len_ && buf_[pos_] == LF) {
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
  if (base_ != 0) {
    // The text starts again from the read-ahead. A file that has gone past
    // it goes back to its start and gives it again.
    if (past_ahead_ && !file_->rewind()) {
      // A pipe that has moved on: what it gave is gone, so is the export.
      // The position goes to len_ too, as read_char's inline path expects.
      failed_ = true;
      at_end_ = true;
      pos_ = len_;
      return false;
    }
    if (past_ahead_) {
      ahead_read_ = false;
      read_ahead();
    }
    ahead_used_ = text_start_;
    base_ = 0;
    len_ = 0;
    file_done_ = false;
  }
  pos_ = 0;
  at_end_ = false;
  return true;
}

std::string_view SourceStream::start_of_text() {
  read_ahead();
  std::string_view text(ahead_.get() + text_start_, ahead_len_ - text_start_);
  text = text.substr(0, std::min(text.find(CTRL_Z), SOURCE_READ_AHEAD + 1));
  return text;
}

bool SourceStream::had_byte_order_mark() {
  read_ahead();
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
  if (pos_ == len_ && !fill()) return {};
  return std::string_view(buf_.get() + pos_, len_ - pos_);
}

std::unique_ptr<SourceStream> open_source(const std::string& name, std::size_t buffer_size) {
  std::unique_ptr<SourceFile> file = open_source_file(name);
  if (!file) return nullptr;
  return std::make_unique<SourceStream>(std::move(file), buffer_size);
}

}  // namespace quillantrex
