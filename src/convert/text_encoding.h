// Which encoding the export is in, as far as the page cares: UTF-8, or the
// single-byte Windows-1252 that the page assumes otherwise.
#ifndef QUILLANTREX_CONVERT_TEXT_ENCODING_H_
#define QUILLANTREX_CONVERT_TEXT_ENCODING_H_

#include <string_view>

namespace quillantrex {

// Whether the export is UTF-8: it began with a byte-order mark, or the
// first SOURCE_READ_AHEAD bytes of its text are valid UTF-8 holding at least
// one byte of 0x80 or above. `start_of_text` is the text after any mark, up
// to a Ctrl-Z and at most SOURCE_READ_AHEAD + 1 bytes long: a byte beyond
// the limit tells that a sequence cut by the limit goes on, while one cut by
// the end of the text is broken.
bool export_is_utf8(bool byte_order_mark, std::string_view start_of_text);

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_TEXT_ENCODING_H_
