// The built tool run as a child process, on POSIX systems.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "test_support.h"

namespace quillantrex::testing {

RunResult run_tool_process(const std::string& dir, const std::vector<std::string>& args,
                           const std::string& input, Closed closed) {
  // Standard input is a pipe, as when a user pipes an export in.
  TempDir io;
  std::string console_path = io / "out";
  int feed[2];
  if (::pipe(feed) != 0) return {};
  ::signal(SIGPIPE, SIG_IGN);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(120);
    ::close(feed[1]);
    // Output first: the file opened for it must not land on a closed input.
    if (closed == Closed::kInputAndOutput) {
      ::close(1);
    } else {
      ::dup2(::open(console_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    }
    if (closed == Closed::kNone) {
      ::dup2(feed[0], 0);
    } else {
      ::close(0);
    }
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
    ::execv(argv[0], argv.data());
    _exit(121);
  }
  ::close(feed[0]);
  for (std::size_t done = 0; done < input.size();) {
    ssize_t n = ::write(feed[1], input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(feed[1]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  RunResult result;
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  result.console = read_file(console_path);
  return result;
}

}  // namespace quillantrex::testing
