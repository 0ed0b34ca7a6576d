// What must hold of every page the tool writes, whatever the export: the
// fixed texts around the table, CR LF line breaks, no filler left behind,
// one row per line and one cell per field, and no character of the export
// lost. Shared by the fuzzer and by the tests that replay its seeds.
#ifndef QUILLANTREX_FUZZ_PAGE_CHECK_H_
#define QUILLANTREX_FUZZ_PAGE_CHECK_H_

#include <string>
#include <string_view>

namespace quillantrex {

// The export's bytes as the source stream reads them: a leading UTF-8
// byte-order mark dropped, cut at the first Ctrl-Z, every CR LF pair and
// lone LF made one "\n".
std::string export_text(std::string_view export_bytes);

// `text` as the page stores it: every line break as CR LF.
std::string crlf(std::string_view text);

// Checks `page` (the bytes of carnet.htm) against the export it was made
// from. Returns an empty string when it holds, otherwise what is wrong.
std::string check_page(std::string_view export_bytes, std::string_view page);

}  // namespace quillantrex

#endif  // QUILLANTREX_FUZZ_PAGE_CHECK_H_
