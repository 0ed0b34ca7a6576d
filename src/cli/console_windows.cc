// A Windows console holds UTF-16 text: read and written as bytes, a name
// would pass through the console's code page and lose every letter that
// page lacks. Redirected, the tool reads and writes UTF-8 bytes instead.
#include <io.h>
#include <windows.h>

#include <cwctype>

#include "cli/console.h"
#include "streams/windows_text.h"

namespace quillantrex {

namespace {

// The console behind `file`, or null when it is a pipe or a file.
HANDLE console_of(std::FILE* file) {
  // Started without standard handles, the runtime's stream has no
  // descriptor at all.
  const int descriptor = ::_fileno(file);
  if (descriptor < 0) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
  DWORD mode;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

}  // namespace

std::string read_console_word(std::FILE* in) {
  HANDLE console = console_of(in);
  if (console == nullptr) return read_word_bytes(in);
  // The console hands over a line at a time; the rest of the line after the
  // word is read and dropped with it.
  std::wstring wide;
  wchar_t chunk[256];
  DWORD got = 0;
  bool done = false;
  while (!done &&
         ::ReadConsoleW(console, chunk, static_cast<DWORD>(std::size(chunk)), &got, nullptr) &&
         got > 0) {
    for (DWORD i = 0; i < got && !done; ++i) {
      // Ctrl-Z typed at the start of a line ends the input, as in a pipe.
      if (chunk[i] == 0x1A) {
        done = true;
      } else if (std::iswspace(chunk[i])) {
        done = !wide.empty();
      } else {
        wide.push_back(chunk[i]);
      }
    }
    // A line read whole ends the word even without white space after it.
    if (got < std::size(chunk) && !wide.empty()) done = true;
  }
  return wide_to_utf8(wide);
}

void write_console_name(std::FILE* out, std::string_view name) {
  HANDLE console = console_of(out);
  if (console == nullptr) {
    write_bytes(out, name);
    return;
  }
  std::fflush(out);  // what the stream holds goes before the name
  const std::wstring wide = utf8_to_wide(name);
  DWORD written;
  ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace quillantrex
