// The built tool run on a FUSE file system mounted as network file systems
// mount with direct_io (tests/fault_fs.cc), which fails, shortens,
// interrupts or slows the export's reads and the page's writes at offsets on
// both sides of each boundary of the streams. Every case ends with the
// failure reported or the exact page, never with a hang, a runaway page or
// "Done!" over a wrong page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/console_texts.h"
#include "convert/page_conversion.h"
#include "reference_page.h"
#include "streams/file_access.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

using std::to_string;

// The export's reads, as strace shows them on a regular file: the
// read-ahead (a byte-order mark's room, SOURCE_READ_AHEAD bytes and one to
// tell that the text goes on), then DEFAULT_SOURCE_BUFFER bytes each time
// the source buffer is read into again, the first time after the
// read-ahead.
constexpr std::uint64_t kAhead = 3 + SOURCE_READ_AHEAD + 1;
constexpr std::uint64_t kSwitch = kAhead + DEFAULT_SOURCE_BUFFER;
// Enough to switch the source buffer five times and make a page of some
// 3 MB, past SMALL_PAGE and several full output windows.
constexpr std::size_t kExportSize = 1500000;
constexpr int kSeconds = 20;
// What the tool may write, and the file system hold, unless a case says less:
// a few pages.
constexpr std::uint64_t kPageLimit = 16 << 20;

bool in_ci() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

// Runs a program and waits for it: its exit status, or -1.
int run_program(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The faults file system mounted on a directory of its own, serving
// `export_path` with `faults`; unmounted, and its daemon reaped, however the
// case ends.
class FaultMount {
 public:
  FaultMount(const std::string& export_path, const std::vector<std::string>& faults) {
    ::mkdir(mount_point().c_str(), 0755);
    std::vector<std::string> args = {QUILLANTREX_FAULT_FS,
                                     mount_point(),
                                     "-f",
                                     "-s",
                                     "--export=" + export_path,
                                     "--page=" + page_path(),
                                     "--log=" + (work_ / "log")};
    args.insert(args.end(), faults.begin(), faults.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string output = work_ / "daemon";
    daemon_ = ::fork();
    if (daemon_ == 0) {
      // A test that dies takes the daemon, and so the mount, with it.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::execv(argv[0], argv.data());
      _exit(127);
    }
    struct stat parent;
    ::stat(work_.path().c_str(), &parent);
    for (int i = 0; i < 1000 && daemon_ > 0; ++i) {
      struct stat st;
      if (::stat(mount_point().c_str(), &st) == 0 && st.st_dev != parent.st_dev) {
        mounted_ = true;
        return;
      }
      int status;
      if (::waitpid(daemon_, &status, WNOHANG) == daemon_) daemon_ = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    unmount();
    why_not_ = "cannot mount " QUILLANTREX_FAULT_FS ": " + read_file(output);
  }
  ~FaultMount() { unmount(); }
  FaultMount(const FaultMount&) = delete;
  FaultMount& operator=(const FaultMount&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why_not() const { return why_not_; }
  std::string mount_point() const { return work_ / "mnt"; }
  std::string page_path() const { return work_ / "page"; }
  // The daemon's log of reads and writes, whole once unmounted.
  std::string log() const { return read_file(work_ / "log"); }

  // As root, umount; otherwise, or where the mount is still busy (the
  // kernel may hold a killed tool's files a moment longer), fusermount3,
  // and at last a lazy unmount, which lets the daemon go once they close.
  void unmount() {
    const bool was_mounted = mounted_;
    if (mounted_) {
      const std::string at = mount_point();
      if (::umount2(at.c_str(), 0) != 0 && run_program({"fusermount3", "-u", at}) != 0 &&
          run_program({"fusermount3", "-uz", at}) != 0)
        ::umount2(at.c_str(), MNT_DETACH);
      mounted_ = false;
    }
    if (daemon_ <= 0) return;
    // The daemon leaves once its mount is gone; one that never mounted is
    // stopped.
    int status;
    for (int i = 0; was_mounted && i < 500; ++i) {
      if (::waitpid(daemon_, &status, WNOHANG) == daemon_) {
        daemon_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (was_mounted) ADD_FAILURE() << "the faults file system did not leave when unmounted";
    ::kill(daemon_, SIGKILL);
    ::waitpid(daemon_, &status, 0);
    daemon_ = -1;
  }

 private:
  TempDir work_;  // first made, last removed
  pid_t daemon_ = -1;
  bool mounted_ = false;
  std::string why_not_;
};

// The export all cases read, its page, and where the page's writes fall.
struct Subject {
  Subject();
  TempDir dir;
  std::string export_path = dir / "export.csv";
  std::string export_text;
  std::string page;
  // The first two writes that end past SMALL_PAGE, from the window that
  // grew there.
  std::uint64_t large_first = 0;
  std::uint64_t large_second = 0;
};

Subject::Subject() {
  export_text = "Nom;Pr\xE9nom;Adresse;E-mail;Notes\r\n";
  for (int i = 0; export_text.size() < kExportSize; ++i) {
    const std::string n = to_string(i);
    export_text += "Dupont" + n + ";Fran\xE7ois;\"" + n + " rue des \xC9" +
                   "coles\r\nB\xE2timent " + n + "\";f.dupont" + n +
                   "@example.fr;\"Rappeler; avant " + to_string(i % 24) + "h\"\r\n";
  }
  write_file(export_path, export_text);
  page = reference_page(export_text);
  // The tool's own streams, with its buffers, on files in memory.
  std::string copy;
  std::vector<PageWrite> writes;
  SourceStream source(memory_source_file(export_text));
  OutputStream output(noted_page_file(copy, writes));
  convert_table(source, output);
  output.close();
  for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
    if (writes[i].offset + writes[i].size > SMALL_PAGE) {
      large_first = writes[i].offset;
      large_second = writes[i + 1].offset;
      break;
    }
  }
}

const Subject& subject() {
  static const Subject made;
  return made;
}

enum class Outcome {
  kConverts,
  kReadFails,
  kWriteFails,
};

struct Case {
  std::string what;
  std::vector<std::string> faults;
  Outcome outcome;
  // The most bytes the tool may write to a file, if less than a few pages.
  std::uint64_t file_size_limit = 0;
};

std::string at(const char* fault, std::uint64_t offset) {
  return std::string("--") + fault + "=" + to_string(offset);
}

std::vector<Case> export_cases() {
  const std::uint64_t size = subject().export_text.size();
  const std::uint64_t later = kSwitch + 2 * DEFAULT_SOURCE_BUFFER + 1000;
  return {
      {"read error inside the first read", {at("read-eio", 1000)}, Outcome::kReadFails},
      {"read error at the read-ahead's last byte",
       {at("read-eio", kAhead - 1)},
       Outcome::kReadFails},
      {"read error just past the read-ahead", {at("read-eio", kAhead)}, Outcome::kReadFails},
      {"read error before the buffer's switch", {at("read-eio", kSwitch - 1)}, Outcome::kReadFails},
      {"read error at the buffer's switch", {at("read-eio", kSwitch)}, Outcome::kReadFails},
      {"read error past the switch", {at("read-eio", later)}, Outcome::kReadFails},
      {"read error at the last byte", {at("read-eio", size - 1)}, Outcome::kReadFails},
      {"short reads inside the read-ahead", {at("read-max", 1000)}, Outcome::kConverts},
      {"short reads one less than the read-ahead",
       {at("read-max", kAhead - 1)},
       Outcome::kConverts},
      {"short reads across the buffer", {at("read-max", 100000)}, Outcome::kConverts},
      {"every other read interrupted", {at("read-eintr", 2)}, Outcome::kConverts},
      {"every third read interrupted", {at("read-eintr", 3)}, Outcome::kConverts},
      {"slowed reads", {at("read-delay", 20)}, Outcome::kConverts},
  };
}

std::vector<Case> page_cases() {
  const Subject& s = subject();
  const std::uint64_t last = s.page.size() - 1;
  return {
      {"write error at the first byte", {at("write-eio", 0)}, Outcome::kWriteFails},
      {"write error inside the first write", {at("write-eio", 1000)}, Outcome::kWriteFails},
      {"write error before the small page's end",
       {at("write-eio", SMALL_PAGE - 1)},
       Outcome::kWriteFails},
      {"write error at the small page's end", {at("write-eio", SMALL_PAGE)}, Outcome::kWriteFails},
      {"write error before the large window's first write",
       {at("write-eio", s.large_first - 1)},
       Outcome::kWriteFails},
      {"write error at the large window's first write",
       {at("write-eio", s.large_first)},
       Outcome::kWriteFails},
      {"write error before the large window's second write",
       {at("write-eio", s.large_second - 1)},
       Outcome::kWriteFails},
      {"write error at the large window's second write",
       {at("write-eio", s.large_second)},
       Outcome::kWriteFails},
      {"write error at the last byte", {at("write-eio", last)}, Outcome::kWriteFails},
      {"disk full at the small page's end", {at("write-enospc", SMALL_PAGE)}, Outcome::kWriteFails},
      {"disk full at the large window's first write",
       {at("write-enospc", s.large_first)},
       Outcome::kWriteFails},
      {"disk full at the last byte", {at("write-enospc", last)}, Outcome::kWriteFails},
      {"page one byte over the file system's limit",
       {at("page-limit", last)},
       Outcome::kWriteFails},
      // The tool's own limit on the files it writes, as a shell's ulimit -f
      // sets it.
      {"file-size limit at the small page's end", {}, Outcome::kWriteFails, SMALL_PAGE},
      {"file-size limit one byte short of the page", {}, Outcome::kWriteFails, last},
      {"short writes inside the first write", {at("write-max", 1000)}, Outcome::kConverts},
      {"short writes of a small window", {at("write-max", SMALL_WINDOW)}, Outcome::kConverts},
      {"short writes across the window", {at("write-max", 100000)}, Outcome::kConverts},
  };
}

std::string how_it_ended(const RunResult& r) {
  if (r.timed_out) return "killed after " + to_string(kSeconds) + " s";
  if (r.signal == SIGXFSZ) return "killed by SIGXFSZ: the page ran past the file-size limit";
  if (r.signal != 0) return "killed by signal " + to_string(r.signal);
  return "exited with " + to_string(r.status);
}

class Faults : public ::testing::Test {
 protected:
  // Skips the test where FUSE cannot be mounted, but fails it in CI.
  void SetUp() override {
    FaultMount probe(subject().export_path, {});
    if (probe.mounted()) return;
    if (in_ci()) FAIL() << probe.why_not();
    GTEST_SKIP() << probe.why_not();
  }

  // Runs the tool on a mount with the case's faults; the page and what
  // the file system saw are left in `mount`.
  RunResult run(FaultMount& mount, std::uint64_t file_size_limit = 0) {
    EXPECT_TRUE(mount.mounted()) << mount.why_not();
    RunOptions options{.seconds = kSeconds,
                       .file_size_limit = file_size_limit > 0 ? file_size_limit : kPageLimit};
    return run_tool_process(mount.mount_point(), {"export.csv"}, "", options);
  }

  void check(const Case& c) {
    SCOPED_TRACE(c.what);
    // A case's own limit comes after, and wins.
    std::vector<std::string> faults = {at("page-limit", kPageLimit)};
    faults.insert(faults.end(), c.faults.begin(), c.faults.end());
    FaultMount mount(subject().export_path, faults);
    const RunResult r = run(mount, c.file_size_limit);
    const std::string head = std::string(BANNER) + "export.csv -> ";
    const std::string converted = head + std::string(DONE) + std::string(CLOSING_BANNER);
    const std::string read_failed = head + std::string(READ_ERROR);
    const std::string write_failed =
        head + "Error while writing the destination file: carnet.htm\n";
    if (c.outcome == Outcome::kConverts) {
      EXPECT_EQ(r.status, 0) << how_it_ended(r);
      EXPECT_EQ(r.console, converted);
      EXPECT_TRUE(read_file(mount.page_path()) == subject().page)
          << "carnet.htm is not the page expected";
    } else {
      EXPECT_EQ(r.status, FAILED_EXIT) << how_it_ended(r);
      EXPECT_EQ(r.console, c.outcome == Outcome::kReadFails ? read_failed : write_failed);
    }
  }
};

// Where nothing fails, the page is exact, and the reads and writes fall
// where the cases expect the streams' boundaries.
TEST_F(Faults, Boundaries) {
  const Subject& s = subject();
  FaultMount mount(s.export_path, {at("page-limit", kPageLimit)});
  const RunResult r = run(mount);
  EXPECT_EQ(r.status, 0) << how_it_ended(r);
  EXPECT_TRUE(read_file(mount.page_path()) == s.page) << "carnet.htm is not the page expected";
  mount.unmount();
  std::istringstream log(mount.log());
  std::set<std::uint64_t> reads, writes;
  std::string call, file;
  std::uint64_t offset;
  long size, result;
  while (log >> call >> file >> offset >> size >> result) {
    if (call == "read" && file == "export.csv") reads.insert(offset);
    if (call == "write") writes.insert(offset);
  }
  for (std::uint64_t at : {std::uint64_t{0}, kAhead, kSwitch, kSwitch + DEFAULT_SOURCE_BUFFER})
    EXPECT_TRUE(reads.contains(at)) << "no read of the export at " << at;
  for (std::uint64_t at : {std::uint64_t{0}, s.large_first, s.large_second})
    EXPECT_TRUE(writes.contains(at)) << "no write of the page at " << at;
}

// Someone cuts the export short while the tool reads it, slowly: the tool
// has its size from the open, and reports the change rather than convert
// what is left.
TEST_F(Faults, ExportCutShortWhileRead) {
  TempDir dir;
  const std::string copy = dir / "export.csv";
  write_file(copy, subject().export_text);
  FaultMount mount(copy, {at("page-limit", kPageLimit), at("read-delay", 50)});
  std::thread cut([&] {
    // Once the tool has read something, it has opened the export.
    for (int i = 0; i < 2000 && mount.log().find("read export.csv") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::filesystem::resize_file(copy, 1000);
  });
  const RunResult r = run(mount);
  cut.join();
  EXPECT_EQ(r.status, FAILED_EXIT) << how_it_ended(r);
  EXPECT_EQ(r.console, std::string(BANNER) + "export.csv -> " + std::string(READ_ERROR));
}

TEST_F(Faults, Export) {
  for (const Case& c : export_cases()) check(c);
}

TEST_F(Faults, Page) {
  for (const Case& c : page_cases()) check(c);
}

}  // namespace
}  // namespace quillantrex::testing
