#include "streams/read_ahead.h"

#include <algorithm>
#include <cerrno>

#include "streams/kernel_ring.h"

namespace quillantrex {

namespace {

// The export read ahead: the read that prefetch() announces is queued to
// the kernel's worker threads, which copy the next part of the export into
// the stream's other buffer while the conversion works through this one.
// One read is in flight at most; read() takes its result, waiting if need
// be. Anything the kernel refuses is read plainly instead. Every read names
// its offset: some file systems return the bytes of a read through the ring
// without moving the file's position.
class ReadAhead final : public SourceFile {
 public:
  ReadAhead(std::unique_ptr<SourceFile> source, int fd, std::unique_ptr<Ring> ring)
      : source_(std::move(source)), fd_(fd), ring_(std::move(ring)) {}
  // The buffer of a read in flight must outlive it; the stream that owns it
  // asks settle() first.
  ~ReadAhead() override { settle(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  void prefetch(char* data, std::size_t n, std::uint64_t offset) override {
    if (in_flight_ || !ring_ || !ring_->start()) return;
    io_uring_sqe* sqe = ring_->get_sqe();
    if (sqe == nullptr) return;
    // A short read is allowed, and asking for more than 4 GiB would wrap.
    ::io_uring_prep_read(sqe, fd_, data, static_cast<unsigned>(std::min(n, MAX_TRANSFER)), offset);
    ::io_uring_sqe_set_flags(sqe, IOSQE_ASYNC);
    ::io_uring_sqe_set_data(sqe, this);
    if (submit_last(*ring_, sqe)) {
      in_flight_ = true;
      data_ = data;
      n_ = n;
      offset_ = offset;
    }
  }

  std::ptrdiff_t read(char* data, std::size_t n, std::uint64_t offset) override {
    if (!in_flight_) return source_->read(data, n, offset);
    const bool announced = data == data_ && n == n_ && offset == offset_;
    if (!settle()) return -1;
    // Bytes read elsewhere than asked are lost to the caller: a failure.
    if (!announced) return -1;
    if (result_ == -EINTR || result_ == -EAGAIN) return source_->read(data, n, offset);
    return result_ < 0 ? -1 : result_;
  }

  // Waits for the read in flight, if any. Once that has failed for good, the
  // read stays in flight as far as this file knows: its buffer is the
  // kernel's, and every read fails.
  bool settle() override {
    while (in_flight_ && !lost_) {
      void* tag = nullptr;
      int result = 0;
      if (!next_completion(*ring_, tag, result)) {
        lost_ = true;
      } else if (tag != nullptr) {  // not a read turned into a no-op
        in_flight_ = false;
        result_ = result;
      }
    }
    return !lost_;
  }

  bool rewind() override { return settle() && source_->rewind(); }
  bool same_file_as(const std::string& name) const override { return source_->same_file_as(name); }
  std::int64_t size() const override { return source_->size(); }
  bool unchanged() const override { return source_->unchanged(); }
  bool reads_ahead() const override { return true; }

 private:
  std::unique_ptr<SourceFile> source_;
  int fd_;
  std::unique_ptr<Ring> ring_;
  bool in_flight_ = false;
  bool lost_ = false;
  int result_ = 0;
  char* data_ = nullptr;
  std::size_t n_ = 0;
  std::uint64_t offset_ = 0;
};

}  // namespace

std::unique_ptr<SourceFile> read_ahead(std::unique_ptr<SourceFile> source, int fd,
                                       std::unique_ptr<Ring> ring) {
  return std::make_unique<ReadAhead>(std::move(source), fd, std::move(ring));
}

std::unique_ptr<SourceFile> read_source_ahead(std::unique_ptr<SourceFile> source, int fd) {
  // A small export, or one that is not a regular file, with no size (-1).
  if (source->size() < KERNEL_HELP_FROM) return source;
  return read_ahead(std::move(source), fd, kernel_ring(2));
}

}  // namespace quillantrex
