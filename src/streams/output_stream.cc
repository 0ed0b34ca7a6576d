#include "streams/output_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "streams/fresh_memory.h"

namespace quillantrex {

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

}  // namespace

OutputStream::OutputStream(std::unique_ptr<PageFile> file, std::size_t buffer_size)
    : file_(std::move(file)),
      full_(std::max<std::size_t>(buffer_size, 2)),
      cap_(std::min(full_, SMALL_WINDOW)),
      buf_(new char[cap_]) {}

OutputStream::~OutputStream() = default;

void OutputStream::expect_at_least(std::uint64_t bytes) {
  if (base_ == 0 && len_ == 0 && bytes >= cap_) fault_in(buf_.get(), cap_);
}

bool OutputStream::write_at(const char* data, std::size_t n, std::uint64_t offset) {
  return file_ && file_->write_at(data, n, offset);
}

bool OutputStream::read_at(char* data, std::size_t n, std::uint64_t offset) {
  return file_ && file_->read_at(data, n, offset);
}

void OutputStream::flush() {
  if (dirty_hi_ > dirty_lo_ &&
      !write_at(buf_.get() + dirty_lo_, dirty_hi_ - dirty_lo_, base_ + dirty_lo_)) {
    failed_ = true;
  }
  dirty_lo_ = SIZE_MAX;
  dirty_hi_ = 0;
}

// While the page is appended to, the window is written out only up to a
// multiple of a quarter of its size (64 KiB at most), and the rest stays in
// it, to be written with the next window. The file system's page cache then
// takes whole, aligned blocks of pages: on ext4, 21 MB written in 61 KB
// pieces at any offset took 6.4 ms, in 64 KiB pieces on 64 KiB boundaries
// 4.6. Returns where the bytes still to write begin, or UINT64_MAX when
// everything was written.
std::uint64_t OutputStream::flush_aligned(std::uint64_t offset) {
  const std::uint64_t end = base_ + len_;
  const std::uint64_t grain = write_grain();
  const std::uint64_t aligned = grain > 1 ? end / grain * grain : end;
  if (offset != end || dirty_hi_ != len_ || aligned <= base_ + dirty_lo_ || aligned == end) {
    flush();
    return UINT64_MAX;
  }
  const std::size_t from = dirty_lo_;
  dirty_lo_ = static_cast<std::size_t>(aligned - base_);
  if (!write_at(buf_.get() + from, dirty_lo_ - from, base_ + from)) failed_ = true;
  return aligned;
}

void OutputStream::move_window(std::uint64_t offset, bool backward) {
  std::uint64_t unwritten = UINT64_MAX;
  if (backward) {
    flush();
  } else {
    unwritten = flush_aligned(offset);
  }
  file_len_ = file_len();
  // A small page stays in the small window, whose memory is all it touches;
  // a larger one gets the full window, which moves less often.
  if (!backward && cap_ < full_ && offset >= SMALL_PAGE) {
    buf_ = grown_buffer(buf_.get(), len_, full_);
    cap_ = full_;
  }
  const std::uint64_t cap = cap_;
  // Keep some of the window on the side we came from, so that a short step
  // the other way does not move the window straight back. Forward, while
  // the page is being appended to, that is only the link writer's and the
  // closing step's short walks back, and every byte kept is moved again.
  std::uint64_t margin = backward ? cap / 8 : std::min<std::uint64_t>(cap / 8, 4096);
  std::uint64_t base;
  if (backward) {
    base = offset + 1 + margin > cap ? offset + 1 + margin - cap : 0;
  } else {
    base = offset > margin ? offset - margin : 0;
    // Bytes not yet written stay in the window, which the margin allows.
    base = std::min(base, unwritten);
  }
  std::uint64_t end = std::min(file_len_, base + cap);
  std::size_t len = end > base ? static_cast<std::size_t>(end - base) : 0;

  // Reuse what the old window holds of the new one; read the rest.
  std::uint64_t old_lo = base_, old_hi = base_ + len_;
  std::uint64_t keep_lo = std::max(base, old_lo), keep_hi = std::min(end, old_hi);
  if (keep_lo < keep_hi) {
    std::memmove(buf_.get() + (keep_lo - base), buf_.get() + (keep_lo - old_lo),
                 static_cast<std::size_t>(keep_hi - keep_lo));
  } else {
    keep_lo = keep_hi = end;
  }
  if (keep_lo > base && !read_at(buf_.get(), static_cast<std::size_t>(keep_lo - base), base))
    failed_ = true;
  if (end > keep_hi &&
      !read_at(buf_.get() + (keep_hi - base), static_cast<std::size_t>(end - keep_hi), keep_hi))
    failed_ = true;
  if (unwritten != UINT64_MAX) {
    dirty_lo_ = static_cast<std::size_t>(unwritten - base);
    dirty_hi_ = static_cast<std::size_t>(base_ + len_ - base);
  }
  base_ = base;
  len_ = len;
}

void OutputStream::put_bytes_slow(const char* data, std::size_t n) {
  while (n > 0) {
    if (pos_ < base_ || pos_ >= base_ + cap_) move_window(pos_, false);
    std::size_t i = static_cast<std::size_t>(pos_ - base_);
    std::size_t k = std::min(n, cap_ - i);
    std::memcpy(buf_.get() + i, data, k);
    wrote(i, i + k);
    data += k;
    n -= k;
  }
}

bool OutputStream::load_before(std::uint64_t at) {
  move_window(at - 1, true);
  if (base_ < at && at <= base_ + len_) return true;
  failed_ = true;
  return false;
}

char OutputStream::byte_at(std::uint64_t offset) {
  if (offset < base_ || offset >= base_ + len_) move_window(offset, offset < base_);
  if (offset < base_ || offset >= base_ + len_) return 0;  // read back failed
  return buf_[static_cast<std::size_t>(offset - base_)];
}

int OutputStream::get() {
  if (pos_ >= file_len()) return -1;
  return static_cast<unsigned char>(byte_at(pos_++));
}

void OutputStream::write_text(std::string_view text) {
  // Plain stretches go in bulk; each line break becomes CR LF.
  while (!text.empty()) {
    std::size_t lf = text.find(LF);
    std::size_t n = lf == std::string_view::npos ? text.size() : lf;
    put_bytes(text.data(), n);
    if (lf == std::string_view::npos) return;
    put_bytes("\r\n", 2);
    text.remove_prefix(n + 1);
  }
}

bool OutputStream::step_back(std::size_t n) {
  for (; n > 0; --n) {
    if (pos_ == 0) return false;
    --pos_;
    // Content never puts an LF byte into the page: every LF is the second
    // half of a stored line break, so the CR before it goes with it.
    if (pos_ > 0 && byte_at(pos_) == LF && byte_at(pos_ - 1) == CR) --pos_;
  }
  return true;
}

int OutputStream::read_char() {
  int c = get();
  if (c == CR && pos_ < file_len() && byte_at(pos_) == LF) {
    ++pos_;
    return LF;
  }
  return c;
}

void OutputStream::make_room() {
  move_window(pos_, false);
}

void OutputStream::copy_slow(std::uint64_t from, std::uint64_t to, std::uint64_t n) {
  if (from == to || n == 0) {
    pos_ = to + n;
    return;
  }
  // Chunked through a scratch buffer the size of the window, walking from
  // the end when the target lies after the source so overlaps stay intact.
  if (!scratch_) {
    scratch_size_ = cap_;
    scratch_.reset(new char[scratch_size_]);
  }
  const std::uint64_t chunk = scratch_size_;
  std::uint64_t done = 0;
  while (done < n) {
    std::uint64_t k = std::min(chunk, n - done);
    std::uint64_t off = to > from ? n - done - k : done;
    for (std::uint64_t j = 0; j < k;) {
      std::uint64_t at = from + off + j;
      byte_at(at);  // brings `at` into the window
      if (at < base_ || at >= base_ + len_) {
        failed_ = true;
        return;
      }
      std::size_t i = static_cast<std::size_t>(at - base_);
      std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(k - j, len_ - i));
      std::memcpy(scratch_.get() + j, buf_.get() + i, take);
      j += take;
    }
    pos_ = to + off;
    put_bytes(scratch_.get(), static_cast<std::size_t>(k));
    done += k;
  }
  pos_ = to + n;
}

bool OutputStream::close() {
  flush();
  if (!file_ || !file_->close()) failed_ = true;
  file_.reset();
  return !failed_;
}

std::unique_ptr<OutputStream> create_output(const std::string& name, std::size_t buffer_size) {
  std::unique_ptr<PageFile> file = create_page_file(name);
  if (!file) return nullptr;
  return std::make_unique<OutputStream>(std::move(file), buffer_size);
}

}  // namespace quillantrex
