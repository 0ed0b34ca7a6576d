// Reading a name typed at the console and showing one there, which differs
// between systems. A terminal on POSIX systems takes and shows UTF-8 bytes
// as they are; a Windows console holds UTF-16 text and must be read and
// written as such for names in any letters.
#ifndef QUILLANTREX_CLI_CONSOLE_H_
#define QUILLANTREX_CLI_CONSOLE_H_

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

namespace quillantrex {

// One word of any length typed at `in`, as UTF-8: leading white space
// skipped, ended by the next white space or the end of input. Empty when
// input ends first.
std::string read_console_word(std::FILE* in);

// Shows the UTF-8 `name` on `out`.
void write_console_name(std::FILE* out, std::string_view name);

// The byte-wise reading and writing: all a POSIX terminal needs, and what
// the tool does on every system when the console is redirected to a pipe
// or a file.
inline std::string read_word_bytes(std::FILE* in) {
  int c;
  do c = std::fgetc(in);
  while (c != EOF && std::isspace(c));
  std::string word;
  for (; c != EOF && !std::isspace(c); c = std::fgetc(in)) word.push_back(static_cast<char>(c));
  return word;
}

inline void write_bytes(std::FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace quillantrex

#endif  // QUILLANTREX_CLI_CONSOLE_H_
