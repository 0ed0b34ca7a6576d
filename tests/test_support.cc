#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/output_stream.h"
#include "cli/source_stream.h"
#include "convert/page_conversion.h"
#include "convert/page_texts.h"

namespace quillantrex::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillantrex.XXXXXX").string();
  path_ = ::mkdtemp(pattern.data());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool file_exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

std::string from_crlf(const std::string& page) {
  std::string text;
  for (std::size_t i = 0; i < page.size(); ++i) {
    if (page[i] == '\n') {
      ADD_FAILURE() << "lone LF at byte " << i;
    } else if (page[i] == '\r' && i + 1 < page.size() && page[i + 1] == '\n') {
      text.push_back('\n');
      ++i;
      continue;
    }
    if (page[i] != '\n') text.push_back(page[i]);
  }
  return text;
}

std::string convert_bytes(const std::string& export_text, std::size_t source_buffer,
                          std::size_t output_buffer, BlockPath path) {
  TempDir dir;
  write_file(dir / "export.csv", export_text);
  auto source = open_source(dir / "export.csv", source_buffer);
  auto output = create_output(dir / "carnet.htm", output_buffer);
  if (!source || !output) {
    ADD_FAILURE() << "cannot open the test files";
    return "";
  }
  convert_table(*source, *output, path);
  EXPECT_TRUE(output->close());
  return read_file(dir / "carnet.htm");
}

std::string table_body(const std::string& page) {
  std::string text = from_crlf(page);
  std::string head = std::string(PAGE_HEAD) + std::string(TABLE_OPEN) + std::string(FIRST_ROW_OPEN);
  std::string tail = std::string(TABLE_CLOSE) + std::string(PAGE_FOOT);
  if (text.size() < head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
    ADD_FAILURE() << "page head or foot not as expected:\n" << text;
    return "";
  }
  return text.substr(head.size(), text.size() - head.size() - tail.size());
}

RunResult run_tool_process(const std::string& dir, const std::vector<std::string>& args,
                           const std::string& input, bool close_input) {
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
    if (close_input) {
      ::close(0);
    } else {
      ::dup2(feed[0], 0);
    }
    int out = ::open(console_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    std::vector<char*> argv;
    std::string binary = QUILLANTREX_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copies(args);
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
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
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.console = read_file(console_path);
  return result;
}

}  // namespace quillantrex::testing
