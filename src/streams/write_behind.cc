#include "streams/write_behind.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "streams/abandon.h"
#include "streams/fresh_memory.h"
#include "streams/kernel_ring.h"

namespace quillantrex {

namespace {

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
class WriteBehind final : public PageFile {
 public:
  WriteBehind(std::unique_ptr<PageFile> page, int fd, std::unique_ptr<Ring> ring,
              std::uint64_t plain_until)
      : page_(std::move(page)), fd_(fd), ring_(std::move(ring)), plain_until_(plain_until) {}
  // The buffers must outlive every write that reads them.
  ~WriteBehind() override { stop(); }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // False once any write has failed: the failure of a write in flight shows
  // at a later call, at close() at the latest.
  bool write_at(const char* data, std::size_t n, std::uint64_t offset) override {
    if (!page_) return false;
    // A small page, as an everyday export's is, is written plainly and never
    // pays for a ring: the ring is set up for the first write past it.
    if (offset + n <= plain_until_ || !behind()) {
      if (!failed_ && !page_->write_at(data, n, offset)) failed_ = true;
      return !failed_;
    }
    while (n > 0 && !failed_) {
      if (overlaps_flight(offset, n) && !finish()) break;
      Slot* slot = free_slot();
      if (slot == nullptr) break;
      // Left uninitialised: it is written over at once.
      if (!slot->bytes) slot->bytes = fresh_buffer(WRITE_BEHIND_BYTES);
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

  bool read_at(char* data, std::size_t n, std::uint64_t offset) override {
    return finish() && page_ && page_->read_at(data, n, offset);
  }

  // Whether writes go through the ring: false where the kernel refused it.
  bool behind() {
    if (ring_ && !ring_->start()) ring_.reset();
    return ring_ != nullptr;
  }

  bool close() override {
    if (!page_) return false;
    const bool written = stop();
    const bool closed = page_->close();
    page_.reset();
    return written && closed;
  }

 private:
  struct Slot {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::size_t done = 0;
    std::uint64_t offset = 0;
    bool busy = false;
  };

  // Waits for every write and lets the ring go; false if any write failed.
  // A write that could not be waited for keeps its buffer to the process's
  // end: closing the ring does not wait for work the kernel has begun.
  bool stop() {
    if (!ring_) return !failed_;
    const bool written = finish();
    for (Slot& s : slots_) {
      if (s.busy) abandon(std::move(s.bytes));
    }
    ring_.reset();
    return written;
  }

  // Waits until every queued write has reached the file; false if any failed.
  bool finish() {
    while (in_flight() && wait_one()) {
    }
    return !failed_ && !in_flight();
  }

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
    io_uring_sqe* sqe = ring_->get_sqe();
    if (sqe != nullptr) {
      ::io_uring_prep_write(sqe, fd_, s.bytes.get() + s.done,
                            static_cast<unsigned>(s.size - s.done), s.offset + s.done);
      // Straight to a worker: done inline, the copy would hold up the
      // conversion just as a plain write does.
      ::io_uring_sqe_set_flags(sqe, IOSQE_ASYNC);
      ::io_uring_sqe_set_data(sqe, &s);
      if (submit_last(*ring_, sqe)) {
        s.busy = true;
        return;
      }
    }
    if (!page_->write_at(s.bytes.get() + s.done, s.size - s.done, s.offset + s.done))
      failed_ = true;
  }

  // Takes one completion. A short write queues its rest again. Once waiting
  // has failed for good, the writes in flight stay busy: their slots are the
  // kernel's.
  bool wait_one() {
    void* tag;
    int res;
    if (lost_ || !next_completion(*ring_, tag, res)) {
      failed_ = lost_ = true;
      return false;
    }
    Slot* slot = static_cast<Slot*>(tag);
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

  std::unique_ptr<PageFile> page_;  // null once closed
  int fd_;
  std::array<Slot, WRITE_BEHIND_SLOTS> slots_;
  std::unique_ptr<Ring> ring_;  // null once stopped; goes before the slots
  std::uint64_t plain_until_;
  bool failed_ = false;
  bool lost_ = false;  // waiting for the ring failed for good
};

}  // namespace

std::unique_ptr<PageFile> write_page_behind(std::unique_ptr<PageFile> page, int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return page;
  return write_behind(std::move(page), fd, kernel_ring(WRITE_BEHIND_SLOTS), WRITE_BEHIND_FROM);
}

std::unique_ptr<PageFile> write_behind(std::unique_ptr<PageFile> page, int fd,
                                       std::unique_ptr<Ring> ring, std::uint64_t plain_until) {
  return std::make_unique<WriteBehind>(std::move(page), fd, std::move(ring), plain_until);
}

bool page_written_behind(PageFile& page) {
  auto* behind = dynamic_cast<WriteBehind*>(&page);
  return behind != nullptr && behind->behind();
}

}  // namespace quillantrex
