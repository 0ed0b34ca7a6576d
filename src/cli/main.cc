#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "cli/driver.h"

namespace {

// Started with standard input or output closed, the tool would get that
// descriptor back for the export or the page, and its console messages would
// then be written into carnet.htm. /dev/null stands in for any of the three
// that is missing; opening in ascending order lands each on its own number.
void hold_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
}

}  // namespace

int main(int argc, char** argv) {
  hold_standard_descriptors();
  // A page that reaches the file-size limit (ulimit -f) is a write that
  // fails, reported as any other, rather than a process killed in silence.
  ::signal(SIGXFSZ, SIG_IGN);
  return quillantrex::run_tool(argc, argv);
}
