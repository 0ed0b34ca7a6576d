#include "streams/read_ahead.h"

#include <cerrno>

#include "streams/write_ring.h"

namespace quillantrex {

namespace {

// The export read ahead: the read that prefetch() announces is queued to
// the kernel's worker threads, which copy the next part of the export into
// the stream's other buffer while the conversion works through this one.
// One read is in flight at most; read() takes its result, waiting if need
// be. Anything the kernel refuses is read plainly instead.
class ReadAhead final : public SourceFile {
 public:
  ReadAhead(std::unique_ptr<SourceFile> source, int fd)
      : source_(std::move(source)), fd_(fd), ring_(kernel_ring(2)) {}
  // The buffer of a read in flight must outlive it.
  ~ReadAhead() override { settle(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  void prefetch(char* data, std::size_t n) override {
    if (in_flight_ || !ring_) return;
    io_uring_sqe* sqe = ring_->start() ? ring_->get_sqe() : nullptr;
    if (sqe == nullptr) return;
    // From the file's own position, which the read moves on, as a plain
    // read would.
    ::io_uring_prep_read(sqe, fd_, data, static_cast<unsigned>(n), static_cast<std::uint64_t>(-1));
    ::io_uring_sqe_set_flags(sqe, IOSQE_ASYNC);
    ::io_uring_sqe_set_data(sqe, this);
    if (submit_last(*ring_, sqe)) {
      in_flight_ = true;
      data_ = data;
      n_ = n;
    }
  }

  std::ptrdiff_t read(char* data, std::size_t n) override {
    if (!in_flight_) return source_->read(data, n);
    const int res = settle();
    // Bytes read elsewhere than asked are lost to the caller: a failure.
    if (data != data_ || n != n_) return -1;
    if (res == -EINTR || res == -EAGAIN) return source_->read(data, n);
    return res < 0 ? -1 : res;
  }

  bool rewind() override {
    settle();
    return source_->rewind();
  }
  bool same_file_as(const std::string& name) const override { return source_->same_file_as(name); }
  std::int64_t size() const override { return source_->size(); }

 private:
  // Waits for the read in flight, if any: its result, or -errno.
  int settle() {
    void* tag = nullptr;
    int res = 0;
    while (in_flight_ && tag == nullptr) {
      if (!next_completion(*ring_, tag, res)) {
        in_flight_ = false;
        return -EIO;
      }
    }
    in_flight_ = false;
    return res;
  }

  std::unique_ptr<SourceFile> source_;
  int fd_;
  std::unique_ptr<Ring> ring_;
  bool in_flight_ = false;
  char* data_ = nullptr;
  std::size_t n_ = 0;
};

}  // namespace

std::unique_ptr<SourceFile> read_source_ahead(std::unique_ptr<SourceFile> source, int fd) {
  if (source->size() < 0) return source;  // not a regular file
  return std::make_unique<ReadAhead>(std::move(source), fd);
}

}  // namespace quillantrex
