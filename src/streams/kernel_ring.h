// The io_uring calls the export read ahead and the page written behind make,
// behind a seam: the kernel's ring in kernel_ring.cc, and in the tests a
// ring that plays the kernel's refusals, short transfers, failures and late
// completions, which a healthy kernel rarely shows. Entries and completions
// are liburing's own, so the usual io_uring_prep_* calls fill either ring's
// entries.
#ifndef QUILLANTREX_STREAMS_KERNEL_RING_H_
#define QUILLANTREX_STREAMS_KERNEL_RING_H_

#include <liburing.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "streams/file_access.h"

namespace quillantrex {

class Ring {
 public:
  virtual ~Ring() = default;
  // Sets the ring up the first time it is asked: false where that is
  // refused.
  virtual bool start() { return true; }
  // An entry to fill and queue; null when the queue is full.
  virtual io_uring_sqe* get_sqe() = 0;
  // Entries queued that the kernel has not taken yet.
  virtual unsigned queued() = 0;
  // Hands the queued entries to the kernel, first queued first: how many it
  // took, or -errno. Those it did not take stay queued.
  virtual int submit() = 0;
  // Waits for a completion: 0 with `*cqe` set, or -errno.
  virtual int wait(io_uring_cqe** cqe) = 0;
  // Lets the completion's place go.
  virtual void seen(io_uring_cqe* cqe) = 0;
};

// Hands `sqe`, filled and queued last, to the kernel with any entries queued
// before it (no-ops that a refused submission left): true if the kernel took
// it, which it did only if it took them all. Otherwise `sqe` becomes a
// no-op: left as it was, it would go out with a later submission, after its
// buffer had been reused.
inline bool submit_last(Ring& ring, io_uring_sqe* sqe) {
  const unsigned queued = ring.queued();
  int taken;
  do {
    taken = ring.submit();
  } while (taken == -EINTR);
  if (taken >= 0 && static_cast<unsigned>(taken) == queued) return true;
  ::io_uring_prep_nop(sqe);
  ::io_uring_sqe_set_data(sqe, nullptr);
  return false;
}

// Waits for the next completion and lets its place go: false if waiting
// failed for good, when the work in flight may still be running and its
// buffers must be kept (abandon.h). `tag` is null for a no-op. Interruptions
// are waited through; so is a kernel short of resources for a moment, a
// bounded number of times in a row, so that a ring that keeps failing cannot
// hang the tool.
inline bool next_completion(Ring& ring, void*& tag, int& result) {
  io_uring_cqe* cqe = nullptr;
  int r;
  int busy = 0;
  for (;;) {
    r = ring.wait(&cqe);
    if (r == -EINTR) continue;
    if ((r != -EAGAIN && r != -EBUSY) || ++busy > 1000) break;
    std::this_thread::yield();
  }
  if (r < 0) return false;
  tag = ::io_uring_cqe_get_data(cqe);
  result = cqe->res;
  ring.seen(cqe);
  return true;
}

// The kernel's ring with room for `entries` entries, set up by its first
// start().
std::unique_ptr<Ring> kernel_ring(unsigned entries);

// `page`, whose descriptor is `fd`, written behind through `ring`, but for
// writes that end within its first `plain_until` bytes.
std::unique_ptr<PageFile> write_behind(std::unique_ptr<PageFile> page, int fd,
                                       std::unique_ptr<Ring> ring, std::uint64_t plain_until = 0);

// `source`, whose descriptor is `fd`, read ahead through `ring`.
std::unique_ptr<SourceFile> read_ahead(std::unique_ptr<SourceFile> source, int fd,
                                       std::unique_ptr<Ring> ring);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_KERNEL_RING_H_
