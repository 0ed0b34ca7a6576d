// A FUSE file system for the fault tests: two files, as a network file
// system mounted with direct_io shows them. "export.csv" is a real file
// served read-only; "carnet.htm" is created, emptied, written and read back
// by the tool and kept in a real file. Every open is direct_io, so each read
// and write reaches this program as the kernel sends it, and the faults set
// on the command line reach the tool unsoftened by the page cache:
//
//   fault_fs MOUNTPOINT --export=FILE --page=FILE [FAULT...] [-f] [-s] [-o ...]
//
//   --read-eio=K       export reads fail with EIO from byte K on: a read that
//                      covers K returns the bytes before it, as a short read
//   --read-max=N       export reads return at most N bytes
//   --read-eintr=N     every Nth export read fails with EINTR
//   --read-delay=MS    each export read takes MS milliseconds more
//   --write-eio=K      page writes fail with EIO from byte K on (a write that
//   --write-enospc=K   covers K writes the bytes before it and says so), or
//                      with ENOSPC, as on a full disk
//   --write-max=N      page writes take at most N bytes
//   --page-limit=B     the page may not grow past B bytes (EFBIG); 64 MiB
//                      unless given, so that a runaway tool cannot fill the
//                      disk
//   --log=FILE         each read and write, one a line: "read|write FILE
//                      OFFSET SIZE RESULT", RESULT a count or -errno
//
// The rest goes to libfuse: the mount point, -f to stay in the foreground,
// -s for one thread, which keeps "every Nth" exact.
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint64_t NONE = UINT64_MAX;
constexpr const char* EXPORT = "/export.csv";
constexpr const char* PAGE = "/carnet.htm";

struct FaultFs {
  // Set from the command line.
  const char* export_path = nullptr;
  const char* page_path = nullptr;
  const char* log_path = nullptr;
  std::uint64_t read_error_at = NONE;
  std::uint64_t read_max = NONE;
  std::uint64_t read_eintr = 0;
  unsigned read_delay_ms = 0;
  std::uint64_t write_error_at = NONE;
  int write_error = EIO;
  std::uint64_t write_max = NONE;
  std::uint64_t page_limit = 64 << 20;
  // While mounted.
  int export_fd = -1;
  int page_fd = -1;
  bool page_exists = false;
  std::uint64_t export_reads = 0;
  std::FILE* log = nullptr;
};

FaultFs& fs() {
  return *static_cast<FaultFs*>(fuse_get_context()->private_data);
}

void note(FaultFs& f, const char* what, const char* path, off_t offset, std::size_t size,
          long result) {
  if (f.log) {
    std::fprintf(f.log, "%s %s %" PRId64 " %zu %ld\n", what, path + 1,
                 static_cast<std::int64_t>(offset), size, result);
    // A test may watch the log to act while the tool runs.
    std::fflush(f.log);
  }
}

// What lies before `limit` of a transfer of `size` bytes at `offset`: all
// of it, some (a short transfer), or none (0).
std::size_t before(std::uint64_t limit, off_t offset, std::size_t size) {
  const auto at = static_cast<std::uint64_t>(offset);
  if (at >= limit) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(size, limit - at));
}

void* init(fuse_conn_info*, fuse_config* config) {
  // Nothing kept by the kernel: sizes, names and bytes all come from here.
  config->direct_io = 1;
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  return fuse_get_context()->private_data;
}

int get_attributes(const char* path, struct stat* st, fuse_file_info*) {
  FaultFs& f = fs();
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  int fd = std::strcmp(path, EXPORT) == 0                  ? f.export_fd
           : std::strcmp(path, PAGE) == 0 && f.page_exists ? f.page_fd
                                                           : -1;
  if (fd < 0) return -ENOENT;
  struct stat real;
  if (::fstat(fd, &real) != 0) return -errno;
  st->st_mode = S_IFREG | (fd == f.export_fd ? 0444 : 0644);
  st->st_nlink = 1;
  st->st_size = real.st_size;
  st->st_blocks = real.st_blocks;
  st->st_mtim = real.st_mtim;
  st->st_ctim = real.st_ctim;
  st->st_atim = real.st_atim;
  return 0;
}

int read_directory(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                   fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOTDIR;
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
  fill(buffer, EXPORT + 1, nullptr, 0, fuse_fill_dir_flags{});
  if (fs().page_exists) fill(buffer, PAGE + 1, nullptr, 0, fuse_fill_dir_flags{});
  return 0;
}

int resize_page(FaultFs& f, off_t size) {
  if (static_cast<std::uint64_t>(size) > f.page_limit) return -EFBIG;
  return ::ftruncate(f.page_fd, size) == 0 ? 0 : -errno;
}

int open_file(const char* path, fuse_file_info* fi) {
  FaultFs& f = fs();
  fi->direct_io = 1;
  if (std::strcmp(path, EXPORT) == 0) return (fi->flags & O_ACCMODE) == O_RDONLY ? 0 : -EACCES;
  if (std::strcmp(path, PAGE) != 0 || !f.page_exists) return -ENOENT;
  return fi->flags & O_TRUNC ? resize_page(f, 0) : 0;
}

int create_file(const char* path, mode_t, fuse_file_info* fi) {
  FaultFs& f = fs();
  if (std::strcmp(path, PAGE) != 0) return -EACCES;
  fi->direct_io = 1;
  f.page_exists = true;
  return resize_page(f, 0);
}

int truncate_file(const char* path, off_t size, fuse_file_info*) {
  FaultFs& f = fs();
  if (std::strcmp(path, PAGE) != 0 || !f.page_exists) return -EACCES;
  return resize_page(f, size);
}

int unlink_file(const char* path) {
  FaultFs& f = fs();
  if (std::strcmp(path, PAGE) != 0 || !f.page_exists) return -EACCES;
  f.page_exists = false;
  return resize_page(f, 0);
}

// pread or pwrite of exactly n bytes, or -errno.
template <typename Transfer, typename Byte>
long transfer(Transfer call, int fd, Byte* data, std::size_t n, off_t offset) {
  std::size_t done = 0;
  while (done < n) {
    ssize_t k = call(fd, data + done, n - done, offset + static_cast<off_t>(done));
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return -errno;
    if (k == 0) break;
    done += static_cast<std::size_t>(k);
  }
  return static_cast<long>(done);
}

long read_export(FaultFs& f, char* data, std::size_t size, off_t offset) {
  if (f.read_delay_ms > 0) {
    timespec delay{static_cast<time_t>(f.read_delay_ms / 1000),
                   static_cast<long>(f.read_delay_ms % 1000) * 1000000};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
  }
  if (f.read_eintr > 0 && ++f.export_reads % f.read_eintr == 0) return -EINTR;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, f.read_max));
  const std::size_t good = before(f.read_error_at, offset, size);
  if (good == 0 && size > 0) {
    // Past the end of the file, a read finds nothing rather than the bad spot.
    struct stat st;
    if (::fstat(f.export_fd, &st) == 0 && offset >= st.st_size) return 0;
    return -EIO;
  }
  return transfer(::pread, f.export_fd, data, good, offset);
}

int read_file(const char* path, char* data, std::size_t size, off_t offset, fuse_file_info*) {
  FaultFs& f = fs();
  long result = std::strcmp(path, EXPORT) == 0 ? read_export(f, data, size, offset)
                                               : transfer(::pread, f.page_fd, data, size, offset);
  note(f, "read", path, offset, size, result);
  return static_cast<int>(result);
}

int write_file(const char* path, const char* data, std::size_t size, off_t offset,
               fuse_file_info*) {
  FaultFs& f = fs();
  if (std::strcmp(path, PAGE) != 0) return -EACCES;
  const std::size_t asked = size;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, f.write_max));
  // The fault first where it comes first; the limit's EFBIG where it does.
  const std::uint64_t stop = std::min(f.write_error_at, f.page_limit);
  const std::size_t good = before(stop, offset, size);
  long result = good == 0 && size > 0 ? -(stop == f.write_error_at ? f.write_error : EFBIG)
                                      : transfer(::pwrite, f.page_fd, data, good, offset);
  note(f, "write", path, offset, asked, result);
  return static_cast<int>(result);
}

int done_with(const char*, fuse_file_info*) {
  return 0;
}
int sync_file(const char*, int, fuse_file_info*) {
  return 0;
}

bool number(std::string_view text, std::uint64_t& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text.data(), &end, 10);
  return !text.empty() && errno == 0 && *end == '\0';
}

// Takes this program's own options out of argv; false on a bad one.
bool parse(FaultFs& f, std::vector<char*>& rest, int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (i == 0 || !arg.starts_with("--")) {
      rest.push_back(argv[i]);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const char* value = equals == std::string_view::npos ? nullptr : argv[i] + equals + 1;
    std::uint64_t n = 0;
    const bool numeric = value != nullptr && number(value, n);
    if (name == "--export" && value) {
      f.export_path = value;
    } else if (name == "--page" && value) {
      f.page_path = value;
    } else if (name == "--log" && value) {
      f.log_path = value;
    } else if (name == "--read-eintr" && numeric && n > 0) {
      f.read_eintr = n;
    } else if (name == "--read-eio" && numeric) {
      f.read_error_at = n;
    } else if (name == "--read-max" && numeric && n > 0) {
      f.read_max = n;
    } else if (name == "--read-delay" && numeric && n < 60000) {
      f.read_delay_ms = static_cast<unsigned>(n);
    } else if ((name == "--write-eio" || name == "--write-enospc") && numeric) {
      f.write_error_at = n;
      f.write_error = name == "--write-eio" ? EIO : ENOSPC;
    } else if (name == "--write-max" && numeric && n > 0) {
      f.write_max = n;
    } else if (name == "--page-limit" && numeric) {
      f.page_limit = n;
    } else {
      std::fprintf(stderr, "fault_fs: bad option %s\n", argv[i]);
      return false;
    }
  }
  return f.export_path != nullptr && f.page_path != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  FaultFs f;
  std::vector<char*> rest;
  if (!parse(f, rest, argc, argv)) {
    std::fprintf(stderr, "usage: fault_fs MOUNTPOINT --export=FILE --page=FILE [FAULT...]\n");
    return 2;
  }
  f.export_fd = ::open(f.export_path, O_RDONLY | O_CLOEXEC);
  f.page_fd = ::open(f.page_path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (f.export_fd < 0 || f.page_fd < 0) {
    std::perror("fault_fs");
    return 1;
  }
  if (f.log_path != nullptr && (f.log = std::fopen(f.log_path, "w")) == nullptr) {
    std::perror(f.log_path);
    return 1;
  }
  fuse_operations ops{};
  ops.init = init;
  ops.getattr = get_attributes;
  ops.readdir = read_directory;
  ops.open = open_file;
  ops.create = create_file;
  ops.truncate = truncate_file;
  ops.unlink = unlink_file;
  ops.read = read_file;
  ops.write = write_file;
  ops.flush = done_with;
  ops.release = done_with;
  ops.fsync = sync_file;
  rest.push_back(nullptr);
  const int status = fuse_main(static_cast<int>(rest.size()) - 1, rest.data(), &ops, &f);
  if (f.log) std::fclose(f.log);
  return status;
}
