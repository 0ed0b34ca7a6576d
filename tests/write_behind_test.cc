// The page written behind, through a ring that plays the kernel: refusals,
// short writes and failures, which a healthy kernel never shows, must leave
// the page as plain writes do, or be reported.
#include "streams/write_behind.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "convert/page_conversion.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "streams/write_ring.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

enum class Call { get_sqe, submit, write, wait };

// Every third `call` gives `result` instead: a submit or wait returns it; a
// write fails with it, or writes at most that many bytes.
struct Fault {
  const char* name;
  Call call;
  int result;
  bool kept;                        // the page as plain writes leave it, or else a failure reported
  std::uint64_t disk = UINT64_MAX;  // the most bytes the page takes, written directly
};

// Runs a write only when its completion is waited for, reading the slot
// then, so a slot reused while its write is in flight shows every time.
class FakeRing final : public Ring {
 public:
  FakeRing(std::string& page, Fault fault) : page_(memory_page_file(page)), fault_(fault) {}

  io_uring_sqe* get_sqe() override {
    if (queued_ == sq_.size() || faults(Call::get_sqe)) return nullptr;
    sq_[queued_] = {};
    return &sq_[queued_++];
  }
  unsigned queued() override { return queued_; }
  int submit() override {
    if (faults(Call::submit)) return fault_.result;
    taken_.insert(taken_.end(), sq_.begin(), sq_.begin() + queued_);
    return static_cast<int>(std::exchange(queued_, 0));
  }
  int wait(io_uring_cqe** cqe) override {
    if (faults(Call::wait)) return fault_.result;
    if (taken_.empty()) {
      ADD_FAILURE() << "waits with nothing in flight";
      return -EINVAL;
    }
    const io_uring_sqe e = taken_.front();
    taken_.pop_front();
    cqe_->user_data = e.user_data;
    cqe_->res = e.opcode == IORING_OP_WRITE ? run(e) : 0;
    *cqe = cqe_.get();
    return 0;
  }
  void seen(io_uring_cqe*) override {}

 private:
  int run(const io_uring_sqe& e) {
    unsigned n = e.len;
    if (faults(Call::write)) {
      if (fault_.result < 0) return fault_.result;
      n = std::min(n, static_cast<unsigned>(fault_.result));
    }
    const char* bytes = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(e.addr));
    return page_->write_at(bytes, n, e.off) ? static_cast<int>(n) : -EIO;
  }
  bool faults(Call call) { return call == fault_.call && ++calls_ % 3 == 0; }

  std::unique_ptr<PageFile> page_;
  Fault fault_;
  unsigned calls_ = 0;
  std::array<io_uring_sqe, 2> sq_;
  unsigned queued_ = 0;
  std::deque<io_uring_sqe> taken_;
  std::unique_ptr<io_uring_cqe> cqe_ = std::make_unique<io_uring_cqe>();
};

TEST(WriteBehind, KernelFaultsLeaveThePageOrAreReported) {
  const std::string text = read_file(QUILLANTREX_EXAMPLES "/contacts.csv");
  const std::string plain = convert_bytes(text, 64, 64);
  for (const Fault& f : {
           Fault{"submit refused", Call::submit, -EBUSY, true},
           Fault{"submit interrupted", Call::submit, -EINTR, true},
           Fault{"no free entry", Call::get_sqe, 0, true},
           Fault{"no free entry, disk full", Call::get_sqe, 0, false, 100},
           Fault{"short write", Call::write, 10, true},
           Fault{"write again", Call::write, -EAGAIN, true},
           Fault{"write interrupted", Call::write, -EINTR, true},
           Fault{"write failed", Call::write, -EIO, false},
           Fault{"wait interrupted", Call::wait, -EINTR, true},
           Fault{"wait failed", Call::wait, -EIO, false},
       }) {
    SCOPED_TRACE(f.name);
    std::string page;
    auto ring = std::make_unique<FakeRing>(page, f);
    SourceStream source(memory_source_file(text), 64);
    OutputStream output(write_behind(memory_page_file(page, f.disk), -1, std::move(ring)), 64);
    convert_table(source, output);
    EXPECT_EQ(output.close(), f.kept);
    if (f.kept) {
      EXPECT_EQ(page, plain);
    }
  }
}

// io_uring would write a pipe or a device as a stream: it is written plainly.
TEST(WriteBehind, OnlyARegularFileIsWrittenBehind) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string page;
  EXPECT_FALSE(page_written_behind(*write_page_behind(memory_page_file(page), fds[1])));
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace quillantrex::testing
