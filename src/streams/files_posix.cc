// Files through POSIX descriptors.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "streams/file_access.h"

namespace quillantrex {

// Exports and pages past 2 GiB on 32-bit systems as well (the build asks
// for 64-bit file offsets).
static_assert(sizeof(off_t) == 8, "off_t must be 64 bits: build with _FILE_OFFSET_BITS=64");

namespace {

// Exactly n bytes at `offset` through pread or pwrite, however many calls
// that takes; false on a failure, or where the file ends first.
template <typename Transfer, typename Byte>
bool transfer_fully(Transfer transfer, int fd, Byte* data, std::size_t n, std::uint64_t offset) {
  while (n > 0) {
    ssize_t done = transfer(fd, data, std::min(n, MAX_TRANSFER), static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    n -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
  return true;
}

int open_retrying(const char* name, int flags) {
  int fd;
  do {
    fd = ::open(name, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The modification time to the nanosecond, where each system keeps it.
const struct timespec& modified(const struct stat& st) {
#ifdef __APPLE__
  return st.st_mtimespec;
#else
  return st.st_mtim;
#endif
}

class PosixSource final : public SourceFile {
 public:
  // `opened` is the file as it was when opened. Only a regular file is read
  // at offsets.
  PosixSource(int fd, const struct stat& opened)
      : fd_(fd), size_(S_ISREG(opened.st_mode) ? opened.st_size : -1), opened_(opened) {}
  ~PosixSource() override { ::close(fd_); }
  PosixSource(const PosixSource&) = delete;
  PosixSource& operator=(const PosixSource&) = delete;

  std::ptrdiff_t read(char* data, std::size_t n, std::uint64_t offset) override {
    n = std::min(n, MAX_TRANSFER);
    ssize_t got;
    do {
      got = size_ >= 0 ? ::pread(fd_, data, n, static_cast<off_t>(offset)) : ::read(fd_, data, n);
    } while (got < 0 && errno == EINTR);
    return got;
  }

  // A regular file is read at offsets and needs nothing; a device may go
  // back, a pipe cannot.
  bool rewind() override { return size_ >= 0 || ::lseek(fd_, 0, SEEK_SET) == 0; }

  // Same device and inode: links and other spellings of the path included.
  bool same_file_as(const std::string& name) const override {
    struct stat mine, theirs;
    return ::fstat(fd_, &mine) == 0 && ::stat(name.c_str(), &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
  }

  std::int64_t size() const override { return size_; }

  bool unchanged() const override {
    if (size_ <= 0) return true;
    struct stat now;
    return ::fstat(fd_, &now) == 0 && now.st_size == opened_.st_size &&
           modified(now).tv_sec == modified(opened_).tv_sec &&
           modified(now).tv_nsec == modified(opened_).tv_nsec;
  }

 private:
  int fd_;
  std::int64_t size_;
  struct stat opened_;
};

class PosixPage final : public PageFile {
 public:
  explicit PosixPage(int fd) : fd_(fd) {}
  ~PosixPage() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixPage(const PosixPage&) = delete;
  PosixPage& operator=(const PosixPage&) = delete;

  bool write_at(const char* data, std::size_t n, std::uint64_t offset) override {
    return transfer_fully(::pwrite, fd_, data, n, offset);
  }

  bool read_at(char* data, std::size_t n, std::uint64_t offset) override {
    return transfer_fully(::pread, fd_, data, n, offset);
  }

  bool close() override {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) == 0;
  }

 private:
  int fd_;
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
  return std::make_unique<PosixSource>(fd, st);
}

// Holds `fd`'s file for this run alone: false if another run holds it. A
// file system that keeps no locks (some network ones) is written as it is.
bool lock_alone(int fd) {
  int r;
#ifdef LOCK_EX
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  return r == 0 || (errno != EWOULDBLOCK && errno != EAGAIN);
#else
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  do {
    r = ::fcntl(fd, F_SETLK, &whole);
  } while (r != 0 && errno == EINTR);
  return r == 0 || (errno != EACCES && errno != EAGAIN);
#endif
}

std::unique_ptr<PageFile> create_page_file(const std::string& name) {
  // Emptied only once it is this run's alone: two runs started together in
  // one folder would otherwise each empty and overwrite the other's page,
  // both saying "Done!" over a mix of the two. The page is written in
  // place, which keeps its owner, mode and links.
  int fd = open_retrying(name.c_str(), O_RDWR | O_CREAT);
  if (fd < 0) return nullptr;
  // A page that is empty already, as a new one is, is not truncated: ext4
  // takes a file truncated to nothing for one being replaced, and writes all
  // of it out when it is closed, in the closing call.
  struct stat st;
  if (!lock_alone(fd) || ::fstat(fd, &st) != 0 ||
      (S_ISREG(st.st_mode) && st.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixPage>(fd);
}

}  // namespace quillantrex
