// The program's entry on Windows: the command line taken as UTF-16 and
// handed on as UTF-8, and a console window that stays until it is read.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/console_texts.h"
#include "cli/driver.h"
#include "streams/windows_text.h"

namespace {

// Started by a double click, the tool gets a console window of its own,
// which closes the moment the tool exits. It is then the only process on
// that console; started from a command prompt, the prompt shares it.
bool alone_on_own_console() {
  DWORD mode, processes[2];
  return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
         ::GetConsoleProcessList(processes, 2) == 1;
}

void wait_for_enter() {
  std::fwrite(quillantrex::PRESS_ENTER.data(), 1, quillantrex::PRESS_ENTER.size(), stdout);
  std::fflush(stdout);
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  ::FlushConsoleInputBuffer(input);
  wchar_t line[64];
  DWORD got;
  while (::ReadConsoleW(input, line, 64, &got, nullptr) && got > 0) {
    if (line[got - 1] == L'\n') return;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(quillantrex::wide_to_utf8(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const int status = quillantrex::run_tool(argc, pointers.data());
  if (alone_on_own_console()) wait_for_enter();
  return status;
}
