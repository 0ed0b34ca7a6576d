// What the tool says on standard output, in the order it may say it.
#ifndef QUILLANTREX_CLI_CONSOLE_TEXTS_H_
#define QUILLANTREX_CLI_CONSOLE_TEXTS_H_

#include <string_view>

namespace quillantrex {

inline constexpr std::string_view BANNER =
    "\n-----------------\nQuillantrex v0.02\n"
    "Copyright (c) 2026 the Quillantrex developers"
    "\n-----------------\n\n";
inline constexpr std::string_view PROMPT = "\nEnter filename to convert:\n";
inline constexpr std::string_view SOURCE_ERROR_FORMAT =
    "Error while accessing the source file: %s\n";
inline constexpr std::string_view PROGRESS_FORMAT = "%s -> ";
inline constexpr std::string_view DESTINATION_ERROR_FORMAT =
    "Error while accessing the destination file: %s\n";
inline constexpr std::string_view SAME_FILE_ERROR = "->Same file as the source\n";
inline constexpr std::string_view EMPTY_SOURCE_ERROR =
    "Error while reading the source file\n->File empty\n";
inline constexpr std::string_view READ_ERROR = "Error while reading the source file\n";
inline constexpr std::string_view WRITE_ERROR_FORMAT =
    "Error while writing the destination file: %s\n";
inline constexpr std::string_view DONE = "\nDone!\n";
inline constexpr std::string_view CLOSING_BANNER =
    "\n\n------------------\nAny suggestions?\nEmail: "
    "quillantrex@example.org"
    "\n------------------\n";
// Windows only: the last line in a console window of the tool's own, which
// would otherwise close before it could be read.
inline constexpr std::string_view PRESS_ENTER = "\nPress Enter to close this window.\n";

// The process's exit status after a failure: all bits set.
inline constexpr int EXIT_FAILED = -1;

}  // namespace quillantrex

#endif  // QUILLANTREX_CLI_CONSOLE_TEXTS_H_
