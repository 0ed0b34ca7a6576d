// UTF-8, as the tool holds names, to and from UTF-16, as Windows takes them.
#ifndef QUILLANTREX_STREAMS_WINDOWS_TEXT_H_
#define QUILLANTREX_STREAMS_WINDOWS_TEXT_H_

#include <string>
#include <string_view>

namespace quillantrex {

// Invalid sequences become U+FFFD rather than an error: a name that cannot
// be converted then names no file and is reported as such.
std::wstring utf8_to_wide(std::string_view text);
std::string wide_to_utf8(std::wstring_view text);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_WINDOWS_TEXT_H_
