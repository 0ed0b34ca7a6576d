// The export read ahead and the page written behind, through a ring that
// plays the kernel: refusals, short transfers, failures and completions that
// come after waiting for them failed, which a healthy kernel rarely shows,
// must leave the page as plain reads and writes do, or be reported; and no
// buffer may be freed while the kernel may still use it.
#include "streams/kernel_ring.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "convert/page_conversion.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "streams/write_behind.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

enum class Call { none, get_sqe, submit, transfer, wait };

// Every third `call` gives `result` instead: a submit or wait returns it; a
// read or write fails with it, or moves at most that many bytes. `lasting`
// makes every call after the first fault give it too.
struct Fault {
  const char* name;
  Call call;
  int result;
  bool kept;  // the page as plain reads and writes leave it, or else a failure reported
  std::uint64_t disk = UINT64_MAX;  // the most bytes the page takes, written directly
  bool lasting = false;
};

// What the kernel holds: the entries it has taken and not completed, run
// only when a completion is waited for, reading or writing the buffer then,
// so that a buffer reused while in flight shows every time. It outlives the
// rings, to carry out late what was never waited for.
class FakeKernel {
 public:
  FakeKernel(std::string_view source, std::string& page, Fault fault)
      : source_(source), page_(memory_page_file(page)), fault_(fault) {}

  bool faults(Call call) {
    if (call != fault_.call) return false;
    if (fault_.lasting && faulted_) return true;
    return faulted_ = ++calls_ % 3 == 0;
  }
  void take(const io_uring_sqe& e) { taken_.push_back(e); }
  bool empty() const { return taken_.empty(); }
  io_uring_sqe next() {
    const io_uring_sqe e = taken_.front();
    taken_.pop_front();
    return e;
  }
  int run(const io_uring_sqe& e) {
    if (e.opcode != IORING_OP_READ && e.opcode != IORING_OP_WRITE) return 0;
    unsigned n = e.len;
    if (faults(Call::transfer)) {
      if (fault_.result < 0) return fault_.result;
      n = std::min(n, static_cast<unsigned>(fault_.result));
    }
    char* bytes = reinterpret_cast<char*>(static_cast<std::uintptr_t>(e.addr));
    if (e.opcode == IORING_OP_WRITE)
      return page_->write_at(bytes, n, e.off) ? static_cast<int>(n) : -EIO;
    // Reads name their offset: the file's own position is not to be trusted.
    if (e.off == static_cast<std::uint64_t>(-1)) {
      ADD_FAILURE() << "a read at the file's own position";
      return -EINVAL;
    }
    const std::size_t at = std::min<std::size_t>(e.off, source_.size());
    n = static_cast<unsigned>(std::min<std::size_t>(n, source_.size() - at));
    std::memcpy(bytes, source_.data() + at, n);
    return static_cast<int>(n);
  }
  // Carries out what is still in flight, as the kernel would after the
  // program stopped waiting: under the address sanitizer, a buffer freed
  // before shows here.
  void finish_late() {
    while (!taken_.empty()) run(next());
  }

 private:
  std::string_view source_;
  std::unique_ptr<PageFile> page_;
  Fault fault_;
  unsigned calls_ = 0;
  bool faulted_ = false;
  std::deque<io_uring_sqe> taken_;
};

class FakeRing final : public Ring {
 public:
  explicit FakeRing(FakeKernel& kernel) : kernel_(kernel) {}

  io_uring_sqe* get_sqe() override {
    if (queued_ == sq_.size() || kernel_.faults(Call::get_sqe)) return nullptr;
    sq_[queued_] = {};
    return &sq_[queued_++];
  }
  unsigned queued() override { return queued_; }
  int submit() override {
    if (kernel_.faults(Call::submit)) return fault_result();
    for (unsigned i = 0; i < queued_; ++i) kernel_.take(sq_[i]);
    return static_cast<int>(std::exchange(queued_, 0));
  }
  int wait(io_uring_cqe** cqe) override {
    if (kernel_.faults(Call::wait)) return fault_result();
    if (kernel_.empty()) {
      ADD_FAILURE() << "waits with nothing in flight";
      return -EINVAL;
    }
    const io_uring_sqe e = kernel_.next();
    cqe_->user_data = e.user_data;
    cqe_->res = kernel_.run(e);
    *cqe = cqe_.get();
    return 0;
  }
  void seen(io_uring_cqe*) override {}
  int fault_result() const { return result_; }
  void set_result(int result) { result_ = result; }

 private:
  FakeKernel& kernel_;
  std::array<io_uring_sqe, 2> sq_;
  unsigned queued_ = 0;
  int result_ = 0;
  std::unique_ptr<io_uring_cqe> cqe_ = std::make_unique<io_uring_cqe>();
};

std::unique_ptr<Ring> fake_ring(FakeKernel& kernel, const Fault& f) {
  auto ring = std::make_unique<FakeRing>(kernel);
  ring->set_result(f.result);
  return ring;
}

const Fault kRingFaults[] = {
    {"submit refused", Call::submit, -EBUSY, true},
    {"submit interrupted", Call::submit, -EINTR, true},
    {"no free entry", Call::get_sqe, 0, true},
    {"short transfer", Call::transfer, 10, true},
    {"transfer again", Call::transfer, -EAGAIN, true},
    {"transfer interrupted", Call::transfer, -EINTR, true},
    {"transfer failed", Call::transfer, -EIO, false},
    {"wait interrupted", Call::wait, -EINTR, true},
    {"wait busy", Call::wait, -EBUSY, true},
    {"wait failed", Call::wait, -EIO, false},
    {"wait failed for good", Call::wait, -EIO, false, UINT64_MAX, true},
    {"wait busy for good", Call::wait, -EAGAIN, false, UINT64_MAX, true},
};

TEST(WriteBehind, KernelFaultsLeaveThePageOrAreReported) {
  const std::string text = read_file(QUILLANTREX_EXAMPLES "/contacts.csv");
  const std::string plain = convert_bytes(text, 64, 64);
  std::vector<Fault> faults(std::begin(kRingFaults), std::end(kRingFaults));
  faults.push_back({"no free entry, disk full", Call::get_sqe, 0, false, 100});
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    std::string page;
    FakeKernel kernel("", page, f);
    {
      SourceStream source(memory_source_file(text), 64);
      OutputStream output(write_behind(memory_page_file(page, f.disk), -1, fake_ring(kernel, f)),
                          64);
      convert_table(source, output);
      EXPECT_EQ(output.close(), f.kept);
    }
    if (f.kept) {
      EXPECT_EQ(page, plain);
    }
    kernel.finish_late();
  }
}

// A page larger than SMALL_PAGE, its small window and then its full one
// written behind, with the stream's default buffers: the ring runs each
// write late, so a slot written again while in flight shows.
TEST(WriteBehind, LargePageLeftAsPlainWritesLeaveIt) {
  const std::string example = read_file(QUILLANTREX_EXAMPLES "/contacts.csv");
  std::string text = example;
  while (text.size() < SMALL_PAGE) text += example.substr(example.find('\n') + 1);
  const std::string plain = convert_bytes(text, DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER);
  std::string page;
  FakeKernel kernel("", page, Fault{"none", Call::none, 0, true});
  {
    SourceStream source(memory_source_file(text));
    OutputStream output(
        write_behind(memory_page_file(page), -1, std::make_unique<FakeRing>(kernel)));
    convert_table(source, output);
    EXPECT_TRUE(output.close());
  }
  EXPECT_TRUE(page == plain);  // not EXPECT_EQ, which would print megabytes
}

TEST(ReadAhead, KernelFaultsLeaveThePageOrAreReported) {
  // Past the stream's first read, which is plain.
  std::string text;
  while (text.size() <= 2 * SOURCE_READ_AHEAD)
    text += read_file(QUILLANTREX_EXAMPLES "/contacts.csv");
  const std::string plain = convert_bytes(text, 64, 64);
  for (const Fault& f : kRingFaults) {
    SCOPED_TRACE(f.name);
    std::string page, unused;
    FakeKernel kernel(text, unused, f);
    {
      SourceStream source(read_ahead(memory_source_file(text), -1, fake_ring(kernel, f)), 64);
      OutputStream output(memory_page_file(page), 64);
      convert_table(source, output);
      EXPECT_TRUE(output.close());
      EXPECT_EQ(source.failed(), !f.kept);
    }
    if (f.kept) {
      EXPECT_EQ(page, plain);
    }
    kernel.finish_late();
  }
}

// A read as large as a buffer of 4 GiB or more must not ask the kernel for
// its size cut to 32 bits, 0, which reads as the end of the export.
TEST(ReadAhead, ReadsPastFourGiBAskForSomething) {
  if (sizeof(std::size_t) < 8) GTEST_SKIP() << "no buffer of 4 GiB here";
  const std::string text = "Nom;Mail\n";
  std::string unused;
  FakeKernel kernel(text, unused, Fault{"none", Call::none, 0, true});
  auto file = read_ahead(memory_source_file(text), -1, std::make_unique<FakeRing>(kernel));
  char bytes[16];
  const std::size_t huge = std::size_t{1} << 32;
  file->prefetch(bytes, huge, 0);
  EXPECT_EQ(file->read(bytes, huge, 0), static_cast<std::ptrdiff_t>(text.size()));
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
