// The tool's life around the conversion: banner, source name, opening and
// checking the files, messages and the exit status.
#ifndef QUILLANTREX_CLI_DRIVER_H_
#define QUILLANTREX_CLI_DRIVER_H_

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace quillantrex {

// The page, always written in the current directory.
inline constexpr std::string_view OUTPUT_NAME = "carnet.htm";

// Room for the export's name and for the first line that proves the export
// is not empty (1023 characters and a terminator).
inline constexpr std::size_t NAME_BUFFER_SIZE = 1024;

// Runs the tool once. The prompt's answer is read from `in`, every message
// goes to `out`. Returns 0 after a complete conversion, -1 otherwise.
int run_tool(int argument_count, char** arguments, std::FILE* in = stdin, std::FILE* out = stdout);

}  // namespace quillantrex

#endif  // QUILLANTREX_CLI_DRIVER_H_
