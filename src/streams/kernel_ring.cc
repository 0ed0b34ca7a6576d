// The kernel's ring, the one implementation of the seam outside the tests.
#include "streams/kernel_ring.h"

namespace quillantrex {

namespace {

class KernelRing final : public Ring {
 public:
  explicit KernelRing(unsigned entries) : entries_(entries) {}
  // Completions are taken only when the program asks for them, rather than
  // by interrupting the conversion as each write ends, which costs more than
  // the writes' own system time here. Older kernels (before 6.1) refuse
  // that, and get the ring as it always was. Too old a kernel, or a seccomp
  // filter, refuses io_uring altogether.
  bool start() override {
    if (tried_) return ready_;
    tried_ = true;
    for (unsigned flags : {IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN, 0u}) {
      if (::io_uring_queue_init(entries_, &ring_, flags) == 0) return ready_ = true;
    }
    return false;
  }
  ~KernelRing() override {
    if (ready_) ::io_uring_queue_exit(&ring_);
  }
  KernelRing(const KernelRing&) = delete;
  KernelRing& operator=(const KernelRing&) = delete;

  io_uring_sqe* get_sqe() override { return ::io_uring_get_sqe(&ring_); }
  unsigned queued() override { return ::io_uring_sq_ready(&ring_); }
  int submit() override { return ::io_uring_submit(&ring_); }
  int wait(io_uring_cqe** cqe) override { return ::io_uring_wait_cqe(&ring_, cqe); }
  void seen(io_uring_cqe* cqe) override { ::io_uring_cqe_seen(&ring_, cqe); }

 private:
  unsigned entries_;
  io_uring ring_{};
  bool tried_ = false;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<Ring> kernel_ring(unsigned entries) {
  return std::make_unique<KernelRing>(entries);
}

}  // namespace quillantrex
