// Files through POSIX descriptors, the page written behind the conversion
// through io_uring where Linux offers it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#if defined(QUILLANTREX_IO_URING)
#include <liburing.h>
#endif

#include "cli/file_access.h"

namespace quillantrex {

namespace {

// Exactly n bytes at `offset` through pread or pwrite, however many calls
// that takes; false on a failure, or where the file ends first.
template <typename Transfer, typename Byte>
bool transfer_fully(Transfer transfer, int fd, Byte* data, std::size_t n, std::uint64_t offset) {
  while (n > 0) {
    ssize_t done = transfer(fd, data, n, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    n -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
  return true;
}

bool write_fully(int fd, const char* data, std::size_t n, std::uint64_t offset) {
  return transfer_fully(::pwrite, fd, data, n, offset);
}

#if defined(QUILLANTREX_IO_URING)

// Writes in flight at once, and the most each carries. The output stream
// flushes a little less than DEFAULT_OUTPUT_BUFFER at a time. One write
// copied while the next is filled keeps the kernel's worker busy; four
// measured no faster and cost twice the memory.
constexpr std::size_t WRITE_BEHIND_SLOTS = 2;
constexpr std::size_t WRITE_BEHIND_BYTES = 256 * 1024;

// The page written behind the conversion: each write is copied into a buffer
// of its own and queued to the kernel's worker threads, which copy it into
// the file on another core while the conversion goes on. The program itself
// stays one thread. A write over bytes still in flight, and any read, first
// waits for what is in flight, so the file always ends as plain writes in
// the same order would leave it.
class WriteBehind {
 public:
  // Null where the kernel refuses io_uring (too old, or a seccomp filter)
  // and for anything but a regular file: io_uring writes a pipe or a
  // device as a stream, where pwrite refuses it or fails at once.
  static std::unique_ptr<WriteBehind> start(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    std::unique_ptr<WriteBehind> writer(new WriteBehind(fd));
    // Completions are taken only when the program asks for them, rather
    // than by interrupting the conversion as each write ends, which costs
    // more than the writes' own system time here. Older kernels (before
    // 6.1) refuse that, and get the ring as it always was.
    for (unsigned flags : {IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN, 0u}) {
      if (::io_uring_queue_init(WRITE_BEHIND_SLOTS, &writer->ring_, flags) == 0) {
        writer->ring_ready_ = true;
        return writer;
      }
    }
    return nullptr;
  }
  // The buffers must outlive every write that reads them.
  ~WriteBehind() {
    if (!ring_ready_) return;
    finish();
    ::io_uring_queue_exit(&ring_);
  }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // False once any write has failed: the failure of a write in flight shows
  // at a later call, at close() at the latest.
  bool write(const char* data, std::size_t n, std::uint64_t offset) {
    while (n > 0 && !failed_) {
      if (overlaps_flight(offset, n) && !finish()) break;
      Slot* slot = free_slot();
      if (slot == nullptr) break;
      if (!slot->bytes) slot->bytes = std::make_unique<char[]>(WRITE_BEHIND_BYTES);
      const std::size_t k = std::min(n, WRITE_BEHIND_BYTES);
      std::memcpy(slot->bytes.get(), data, k);
      slot->size = k;
      slot->done = 0;
      slot->offset = offset;
      submit(*slot);
      data += k;
      n -= k;
      offset += k;
    }
    return !failed_;
  }

  // Waits until every queued write has reached the file; false if any failed.
  bool finish() {
    while (in_flight() && wait_one()) {
    }
    return !failed_ && !in_flight();
  }

 private:
  struct Slot {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::size_t done = 0;
    std::uint64_t offset = 0;
    bool busy = false;
  };

  explicit WriteBehind(int fd) : fd_(fd) {}

  bool in_flight() const {
    for (const Slot& s : slots_) {
      if (s.busy) return true;
    }
    return false;
  }

  bool overlaps_flight(std::uint64_t offset, std::size_t n) const {
    for (const Slot& s : slots_) {
      if (s.busy && offset < s.offset + s.size && s.offset < offset + n) return true;
    }
    return false;
  }

  Slot* free_slot() {
    for (;;) {
      for (Slot& s : slots_) {
        if (!s.busy) return &s;
      }
      if (!wait_one()) return nullptr;
    }
  }

  // Queues what is left of the slot's bytes. Where the ring will not take
  // it, the bytes are written here and now instead.
  void submit(Slot& s) {
    io_uring_sqe* sqe = ::io_uring_get_sqe(&ring_);
    if (sqe != nullptr) {
      ::io_uring_prep_write(sqe, fd_, s.bytes.get() + s.done,
                            static_cast<unsigned>(s.size - s.done), s.offset + s.done);
      // Straight to a worker: done inline, the copy would hold up the
      // conversion just as a plain write does.
      ::io_uring_sqe_set_flags(sqe, IOSQE_ASYNC);
      ::io_uring_sqe_set_data(sqe, &s);
      int taken;
      do {
        taken = ::io_uring_submit(&ring_);
      } while (taken == -EINTR);
      if (taken == 1) {
        s.busy = true;
        return;
      }
      // Left in the ring, the entry would go out with the next submission
      // and write the slot's bytes again after they were replaced.
      ::io_uring_prep_nop(sqe);
      ::io_uring_sqe_set_data(sqe, nullptr);
    }
    if (!write_fully(fd_, s.bytes.get() + s.done, s.size - s.done, s.offset + s.done))
      failed_ = true;
  }

  // Takes one completion. A short write queues its rest again.
  bool wait_one() {
    io_uring_cqe* cqe = nullptr;
    int r;
    do {
      r = ::io_uring_wait_cqe(&ring_, &cqe);
    } while (r == -EINTR);
    if (r < 0) {
      failed_ = true;
      return false;
    }
    Slot* slot = static_cast<Slot*>(::io_uring_cqe_get_data(cqe));
    const int res = cqe->res;
    ::io_uring_cqe_seen(&ring_, cqe);
    if (slot == nullptr) return true;  // a write turned into a no-op
    Slot& s = *slot;
    s.busy = false;
    if (res == -EINTR || res == -EAGAIN) {
      submit(s);
    } else if (res <= 0) {
      failed_ = true;
    } else {
      s.done += static_cast<std::size_t>(res);
      if (s.done < s.size) submit(s);
    }
    return true;
  }

  int fd_;
  io_uring ring_{};
  bool ring_ready_ = false;
  std::array<Slot, WRITE_BEHIND_SLOTS> slots_;
  bool failed_ = false;
};

#endif  // QUILLANTREX_IO_URING

int open_retrying(const char* name, int flags) {
  int fd;
  do {
    fd = ::open(name, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

class PosixSource final : public SourceFile {
 public:
  explicit PosixSource(int fd) : fd_(fd) {}
  ~PosixSource() override { ::close(fd_); }
  PosixSource(const PosixSource&) = delete;
  PosixSource& operator=(const PosixSource&) = delete;

  std::ptrdiff_t read(char* data, std::size_t n) override {
    ssize_t got;
    do {
      got = ::read(fd_, data, n);
    } while (got < 0 && errno == EINTR);
    return got;
  }

  bool rewind() override { return ::lseek(fd_, 0, SEEK_SET) == 0; }

  // Same device and inode: links and other spellings of the path included.
  bool same_file_as(const std::string& name) const override {
    struct stat mine, theirs;
    return ::fstat(fd_, &mine) == 0 && ::stat(name.c_str(), &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
  }

 private:
  int fd_;
};

class PosixPage final : public PageFile {
 public:
  PosixPage(int fd, PageWrites writes) : fd_(fd) {
#if defined(QUILLANTREX_IO_URING)
    if (writes == PageWrites::behind) behind_ = WriteBehind::start(fd);
#else
    (void)writes;
#endif
  }
  ~PosixPage() override {
    if (fd_ >= 0) close();
  }
  PosixPage(const PosixPage&) = delete;
  PosixPage& operator=(const PosixPage&) = delete;

  bool write_at(const char* data, std::size_t n, std::uint64_t offset) override {
#if defined(QUILLANTREX_IO_URING)
    if (behind_) return behind_->write(data, n, offset);
#endif
    return write_fully(fd_, data, n, offset);
  }

  bool read_at(char* data, std::size_t n, std::uint64_t offset) override {
    return settled() && transfer_fully(::pread, fd_, data, n, offset);
  }

  bool close() override {
    if (fd_ < 0) return false;
    const bool written = settled();
#if defined(QUILLANTREX_IO_URING)
    behind_.reset();
#endif
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 && written;
  }

 private:
  // Every write made so far is in the file; false if one failed.
  bool settled() {
#if defined(QUILLANTREX_IO_URING)
    if (behind_) return behind_->finish();
#endif
    return true;
  }

  int fd_;
#if defined(QUILLANTREX_IO_URING)
  std::unique_ptr<WriteBehind> behind_;
#endif
};

}  // namespace

std::unique_ptr<SourceFile> open_source_file(const std::string& name) {
  if (name.empty()) return nullptr;
  int fd = open_retrying(name.c_str(), O_RDONLY);
  if (fd < 0) return nullptr;
  // Checked on the open file, so the answer is about the file being read.
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSource>(fd);
}

std::unique_ptr<PageFile> create_page_file(const std::string& name, PageWrites writes) {
  int fd = open_retrying(name.c_str(), O_RDWR | O_CREAT | O_TRUNC);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixPage>(fd, writes);
}

}  // namespace quillantrex
