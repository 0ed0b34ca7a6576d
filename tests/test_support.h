// Helpers shared by the tests: temporary directories, files, a conversion
// run on real files, and the built tool run as a process.
#ifndef QUILLANTREX_TESTS_TEST_SUPPORT_H_
#define QUILLANTREX_TESTS_TEST_SUPPORT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "convert/block_classify.h"

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

// The page's line breaks back to "\n"; fails the test if a lone LF or CR LF
// is out of place.
std::string from_crlf(const std::string& page);

// Converts `export_text` through real files with the given stream buffer
// sizes and block path and returns the page's bytes.
std::string convert_bytes(const std::string& export_text, std::size_t source_buffer,
                          std::size_t output_buffer, BlockPath path = fastest_block_path());

// The table between FIRST_ROW_OPEN and the closing TABLE_CLOSE + PAGE_FOOT,
// line breaks as "\n". Fails the test if the page around it is not exact.
std::string table_body(const std::string& page);

struct RunResult {
  int status = -1;  // exit status, or -1 if the process did not exit normally
  std::string console;
};

// Runs the built tool in `dir` with `args` and `input` on its standard input
// (closed if `close_input`).
RunResult run_tool_process(const std::string& dir, const std::vector<std::string>& args,
                           const std::string& input = "", bool close_input = false);

}  // namespace quillantrex::testing

#endif  // QUILLANTREX_TESTS_TEST_SUPPORT_H_
