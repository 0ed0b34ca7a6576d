// Where talking to a console differs between systems. A terminal on POSIX
// systems takes and shows UTF-8 bytes as they are, so there the driver's
// byte-wise reads and writes do; a Windows console holds UTF-16 text and
// must be read and written as such for names in any letters.
#ifndef QUILLANTREX_CLI_CONSOLE_H_
#define QUILLANTREX_CLI_CONSOLE_H_

#include <cstdio>
#include <string>
#include <string_view>

namespace quillantrex {

// When `in` is a console that needs it, reads one word typed there (white
// space before it skipped, ended by white space) into `word` as UTF-8 and
// returns true. False leaves the reading to the caller.
bool read_console_word(std::FILE* in, std::string& word);

// When `out` is a console that needs it, shows the UTF-8 `name` there and
// returns true. False leaves the writing to the caller.
bool write_console_name(std::FILE* out, std::string_view name);

}  // namespace quillantrex

#endif  // QUILLANTREX_CLI_CONSOLE_H_
