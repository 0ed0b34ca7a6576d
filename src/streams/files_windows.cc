// Files through Win32 handles. Names arrive as UTF-8 and are opened as
// UTF-16, so names in any letters work whatever the system's code page.
#include <windows.h>

#include <climits>

#include "streams/file_access.h"
#include "streams/windows_text.h"

namespace quillantrex {

namespace {

OVERLAPPED at_offset(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

// Exactly n bytes at `offset` through ReadFile or WriteFile, however many
// calls that takes; false on a failure, or where the file ends first.
template <typename Transfer, typename Byte>
bool transfer_fully(Transfer transfer, HANDLE file, Byte* data, std::size_t n,
                    std::uint64_t offset) {
  while (n > 0) {
    OVERLAPPED where = at_offset(offset);
    DWORD done = 0;
    if (!transfer(file, data, static_cast<DWORD>(n < MAX_TRANSFER ? n : MAX_TRANSFER), &done,
                  &where) ||
        done == 0)
      return false;
    data += done;
    n -= done;
    offset += done;
  }
  return true;
}

// Volume serial number and file index: the same pair is the same file,
// whatever the spelling, case or link that led to it.
struct FileIdentity {
  DWORD volume;
  DWORD index_high;
  DWORD index_low;
  bool operator==(const FileIdentity&) const = default;
};

bool identify(HANDLE file, FileIdentity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return false;
  id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

class WindowsSource final : public SourceFile {
 public:
  // A file on disk is read at offsets; anything else (a pipe, a console)
  // reads on. `opened` is the file as it was when opened, for a file on
  // disk.
  WindowsSource(HANDLE file, const BY_HANDLE_FILE_INFORMATION& opened)
      : file_(file), disk_(::GetFileType(file) == FILE_TYPE_DISK), opened_(opened) {}
  ~WindowsSource() override { ::CloseHandle(file_); }
  WindowsSource(const WindowsSource&) = delete;
  WindowsSource& operator=(const WindowsSource&) = delete;

  std::ptrdiff_t read(char* data, std::size_t n, std::uint64_t offset) override {
    DWORD got = 0;
    OVERLAPPED where = at_offset(offset);
    if (::ReadFile(file_, data, static_cast<DWORD>(n < MAX_TRANSFER ? n : MAX_TRANSFER), &got,
                   disk_ ? &where : nullptr))
      return got;
    // Reading at or past the end of a file, and the writer of a pipe
    // closing, are the end, not a failure.
    const DWORD error = ::GetLastError();
    return error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE ? 0 : -1;
  }

  bool rewind() override { return disk_; }

  bool same_file_as(const std::string& name) const override {
    // No access asked for: enough to read the identity, and it works on a
    // file that others hold open, or on a directory.
    HANDLE other = ::CreateFileW(utf8_to_wide(name).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    FileIdentity mine, theirs;
    const bool same = identify(file_, mine) && identify(other, theirs) && mine == theirs;
    ::CloseHandle(other);
    return same;
  }

  std::int64_t size() const override {
    LARGE_INTEGER size;
    return disk_ && ::GetFileSizeEx(file_, &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
  }

  bool unchanged() const override {
    if (!disk_ || (opened_.nFileSizeHigh == 0 && opened_.nFileSizeLow == 0)) return true;
    BY_HANDLE_FILE_INFORMATION now;
    return ::GetFileInformationByHandle(file_, &now) &&
           now.nFileSizeHigh == opened_.nFileSizeHigh && now.nFileSizeLow == opened_.nFileSizeLow &&
           ::CompareFileTime(&now.ftLastWriteTime, &opened_.ftLastWriteTime) == 0;
  }

 private:
  HANDLE file_;
  bool disk_;
  BY_HANDLE_FILE_INFORMATION opened_;
};

class WindowsPage final : public PageFile {
 public:
  explicit WindowsPage(HANDLE file) : file_(file) {}
  ~WindowsPage() override {
    if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
  }
  WindowsPage(const WindowsPage&) = delete;
  WindowsPage& operator=(const WindowsPage&) = delete;

  bool write_at(const char* data, std::size_t n, std::uint64_t offset) override {
    return transfer_fully(::WriteFile, file_, data, n, offset);
  }

  bool read_at(char* data, std::size_t n, std::uint64_t offset) override {
    return transfer_fully(::ReadFile, file_, data, n, offset);
  }

  bool close() override {
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    return file != INVALID_HANDLE_VALUE && ::CloseHandle(file);
  }

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<SourceFile> open_source_file(const std::string& name) {
  if (name.empty()) return nullptr;
  // Others may go on reading and writing the export while it is read, as
  // with any file opened for reading on a POSIX system.
  HANDLE file = ::CreateFileW(utf8_to_wide(name).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) == FILE_TYPE_DISK &&
      (!::GetFileInformationByHandle(file, &info) ||
       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
    ::CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<WindowsSource>(file, info);
}

std::unique_ptr<PageFile> create_page_file(const std::string& name) {
  const std::wstring wide = utf8_to_wide(name);
  // Windows refuses to replace a read-only file, whoever asks; Wine run by
  // root would not, and the program behaves the same on both.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    return nullptr;
  HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WindowsPage>(file);
}

}  // namespace quillantrex
