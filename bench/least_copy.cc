// The least any converter must do to write a page: open a file, create
// carnet.htm, copy the bytes across through one 64 KiB buffer and say so on
// one line. bench/run.sh gives it the page the tool made from an export, so
// that it writes as many bytes as the tool, and times the tool against it.
//
//     least_copy FILE
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

char buffer[64 * 1024];

// Writes all of [data, data + size) to fd; false on any failure.
bool write_all(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    ssize_t done = write(fd, data, size);
    if (done < 0) return false;
    data += done;
    size -= done;
  }
  return true;
}

// Copies everything from in to out; false on any failure.
bool copy(int in, int out) {
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0 || !write_all(out, buffer, got)) return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: least_copy FILE\n");
    return 2;
  }
  int in = open(argv[1], O_RDONLY);
  if (in < 0) {
    std::perror(argv[1]);
    return 1;
  }
  int out = open("carnet.htm", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    std::perror("carnet.htm");
    return 1;
  }
  bool copied = copy(in, out);
  if (close(out) != 0 || !copied) {
    std::perror("copy");
    return 1;
  }
  std::puts("Done!");
  return 0;
}
