// The built tool run as a child process, on POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "test_support.h"

namespace quillantrex::testing {

namespace {

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void start_tool(const std::string& dir, const std::string& console_path, int feed,
                             char** argv, const RunOptions& options) {
#ifdef __linux__
  // A tool left running by a test that died would run on unchecked.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  if (::chdir(dir.c_str()) != 0) _exit(120);
  // Output first: the file opened for it must not land on a closed input.
  if (options.closed == Closed::kInputAndOutput) {
    ::close(1);
  } else {
    ::dup2(::open(console_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
  }
  if (options.closed == Closed::kNone) {
    ::dup2(feed, 0);
  } else {
    ::close(0);
  }
  if (options.file_size_limit > 0) {
    const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                       static_cast<rlim_t>(options.file_size_limit)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(122);
  }
  ::execv(argv[0], argv);
  _exit(121);
}

}  // namespace

RunResult run_tool_process(const std::string& dir, const std::vector<std::string>& args,
                           const std::string& input, const RunOptions& options) {
  // Standard input is a pipe, as when a user pipes an export in.
  TempDir io;
  std::string console_path = io / "out";
  std::vector<char*> argv;
#ifdef QUILLANTREX_EMULATOR
  // A tool built for another processor runs under its emulator.
  std::string emulator = QUILLANTREX_EMULATOR;
  argv.push_back(emulator.data());
#endif
  std::string binary = QUILLANTREX_BINARY;
  argv.push_back(binary.data());
  std::vector<std::string> copies(args);
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  int feed[2];
  if (::pipe(feed) != 0) return {};
  ::signal(SIGPIPE, SIG_IGN);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(feed[1]);
    start_tool(dir, console_path, feed[0], argv.data(), options);
  }
  ::close(feed[0]);
  // The input is fed while the tool runs, which may never read it all, and
  // the tool is killed once its time is up.
  ::fcntl(feed[1], F_SETFL, O_NONBLOCK);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
  std::size_t fed = 0;
  if (input.empty()) ::close(feed[1]);
  RunResult result;
  int wstatus = 0;
  for (int pause_ms = 1; ::waitpid(pid, &wstatus, WNOHANG) == 0;
       pause_ms = std::min(2 * pause_ms, 20)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wstatus, 0);
      result.timed_out = true;
      break;
    }
    if (fed < input.size()) {
      pollfd writable{feed[1], POLLOUT, 0};
      ::poll(&writable, 1, pause_ms);
      ssize_t n = ::write(feed[1], input.data() + fed, input.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if (fed == input.size() || (n < 0 && errno != EAGAIN)) {
        fed = input.size();
        ::close(feed[1]);
      }
    } else {
      ::poll(nullptr, 0, pause_ms);
    }
  }
  if (fed < input.size()) ::close(feed[1]);
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  result.console = read_file(console_path);
  return result;
}

}  // namespace quillantrex::testing
