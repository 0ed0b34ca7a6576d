// The tool's life around the conversion: banner, source name, opening and
// checking the files, messages and the exit status.
#ifndef QUILLANTREX_CLI_DRIVER_H_
#define QUILLANTREX_CLI_DRIVER_H_

#include <cstdio>

namespace quillantrex {

// Runs the tool once. The prompt's answer is read from `in`, every message
// goes to `out`. Returns 0 after a complete conversion, -1 otherwise.
int run_tool(int argument_count, char** arguments, std::FILE* in = stdin, std::FILE* out = stdout);

}  // namespace quillantrex

#endif  // QUILLANTREX_CLI_DRIVER_H_
