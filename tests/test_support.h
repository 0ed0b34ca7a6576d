// Helpers shared by the tests: temporary directories, files, a conversion
// run on real files, and the built tool run as a process.
#ifndef QUILLANTREX_TESTS_TEST_SUPPORT_H_
#define QUILLANTREX_TESTS_TEST_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/block_classify.h"
#include "streams/file_access.h"

namespace quillantrex::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// A small, repeatable random generator: each call gives a number below n.
struct Random {
  unsigned seed;
  unsigned operator()(unsigned n) { return ((seed = seed * 1103515245u + 12345u) >> 16) % n; }
};

// The page's line breaks back to "\n"; fails the test if a lone LF or CR LF
// is out of place.
std::string from_crlf(const std::string& page);

// Converts `export_text` through files in memory with the given stream
// buffer sizes and block path and returns the page's bytes.
std::string convert_bytes(const std::string& export_text, std::size_t source_buffer,
                          std::size_t output_buffer, BlockPath path = fastest_block_path());

// Where a write of the page fell.
struct PageWrite {
  std::uint64_t offset;
  std::size_t size;
};
// A page in memory, as memory_page_file() makes, that notes each write in
// `writes`.
std::unique_ptr<PageFile> noted_page_file(std::string& page, std::vector<PageWrite>& writes);

// The table between FIRST_ROW_OPEN and the closing TABLE_CLOSE + PAGE_FOOT,
// line breaks as "\n". Fails the test if the page around it is not exact,
// with the head for a UTF-8 export if `utf8`.
std::string table_body(const std::string& page, bool utf8 = false);

// The exit status of a failed run as the parent sees it: the tool's -1,
// cut to eight bits on POSIX systems, whole on Windows.
#ifdef _WIN32
inline constexpr int FAILED_EXIT = -1;
#else
inline constexpr int FAILED_EXIT = 255;
#endif
inline constexpr int DID_NOT_EXIT = -1000;

struct RunResult {
  int status = DID_NOT_EXIT;  // exit status, if the process exited normally
  int signal = 0;             // the signal that ended it, if one did (POSIX)
  bool timed_out = false;     // killed for overrunning its time limit
  std::string console;        // line breaks as "\n"
};

// Which of its standard input and output the tool starts without.
enum class Closed { kNone, kInput, kInputAndOutput };

struct RunOptions {
  Closed closed = Closed::kNone;
  // A run that could run away is cut short rather than hang or fill the
  // disk: the tool is killed after `seconds`, and no file it writes may grow
  // past `file_size_limit` bytes (0: no limit; POSIX only).
  int seconds = 60;
  std::uint64_t file_size_limit = 0;
};

// Runs the built tool in `dir` with `args` and `input` on its standard input.
// On Windows the console's line breaks must be CR LF, as a Windows program
// writes them, and are returned as "\n". One implementation per system:
// tool_process_posix.cc, _windows.cc.
RunResult run_tool_process(const std::string& dir, const std::vector<std::string>& args,
                           const std::string& input = "", const RunOptions& options = {});

}  // namespace quillantrex::testing

#endif  // QUILLANTREX_TESTS_TEST_SUPPORT_H_
