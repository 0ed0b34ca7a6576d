// The built tool run as a child process, on Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include "streams/windows_text.h"
#include "test_support.h"

namespace quillantrex::testing {

namespace {

// One argument as the C runtime splits the command line: in quotes, with
// backslashes doubled where a quote follows them.
std::wstring quoted(const std::string& argument) {
  std::wstring text = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : utf8_to_wide(argument)) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    text.push_back(c);
  }
  text.append(2 * backslashes, L'\\');
  text.push_back(L'"');
  return text;
}

// The console's line breaks back to "\n"; each must have been CR LF.
std::string from_console(const std::string& console) {
  std::string text;
  for (std::size_t i = 0; i < console.size(); ++i) {
    if (console[i] == '\n' && (i == 0 || console[i - 1] != '\r')) {
      ADD_FAILURE() << "console line break without CR at byte " << i;
    }
    if (console[i] == '\r' && i + 1 < console.size() && console[i + 1] == '\n') continue;
    text.push_back(console[i]);
  }
  return text;
}

}  // namespace

RunResult run_tool_process(const std::string& dir, const std::vector<std::string>& args,
                           const std::string& input, const RunOptions& options) {
  const Closed closed = options.closed;
  // Standard input is a pipe, as when a user pipes an export in.
  TempDir io;
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE feed_read, feed_write;
  if (!::CreatePipe(&feed_read, &feed_write, &inherited, 0)) return {};
  ::SetHandleInformation(feed_write, HANDLE_FLAG_INHERIT, 0);
  HANDLE out = ::CreateFileW(utf8_to_wide(io / "out").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = closed == Closed::kNone ? feed_read : nullptr;
  start.hStdOutput = closed == Closed::kInputAndOutput ? nullptr : out;
  start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  const std::string binary = QUILLANTREX_BINARY;
  std::wstring command_line = quoted(binary);
  for (const std::string& argument : args) command_line += L" " + quoted(argument);
  PROCESS_INFORMATION process{};
  const bool started =
      ::CreateProcessW(utf8_to_wide(binary).c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, utf8_to_wide(dir).c_str(), &start, &process);
  ::CloseHandle(feed_read);
  ::CloseHandle(out);
  RunResult result;
  if (started) {
    for (std::size_t done = 0; done < input.size();) {
      DWORD n = 0;
      if (!::WriteFile(feed_write, input.data() + done, static_cast<DWORD>(input.size() - done), &n,
                       nullptr) ||
          n == 0)
        break;
      done += n;
    }
    ::CloseHandle(feed_write);
    // The file-size limit is POSIX's; the time limit holds here too.
    if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(options.seconds) * 1000) ==
        WAIT_TIMEOUT) {
      ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, INFINITE);
      result.timed_out = true;
    }
    DWORD code;
    if (!result.timed_out && ::GetExitCodeProcess(process.hProcess, &code))
      result.status = static_cast<int>(code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
  } else {
    ADD_FAILURE() << "cannot start " << binary;
    ::CloseHandle(feed_write);
  }
  result.console = from_console(read_file(io / "out"));
  return result;
}

}  // namespace quillantrex::testing
