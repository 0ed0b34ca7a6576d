// Rewrites an e-mail address into a mailto: link once the scan meets its "@",
// by stepping back through the page for the part already copied.
#ifndef QUILLANTREX_CONVERT_MAIL_LINK_H_
#define QUILLANTREX_CONVERT_MAIL_LINK_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillantrex {

class SourceStream;
class OutputStream;

// Called right after the scan read an "@" outside a quoted run. The link
// starts after the nearest ">", space or ";" in the page and runs to the next
// space, ";", line break or end of input in the export. On return `last`
// holds that terminator and the source is positioned to read it again.
void write_mail_link(SourceStream& source, OutputStream& output, int& last);

// The common case of a link, written in one go straight in the page's
// buffer right after the "@" was met: the link starts at most SHORT_PREFIX
// bytes before it.
inline constexpr std::size_t SHORT_PREFIX = 64;
inline constexpr std::size_t NO_SHORT_PREFIX = SIZE_MAX;

// How many bytes before the page's end `at` the link starts, found in the
// `held` bytes there; NO_SHORT_PREFIX when not within SHORT_PREFIX of it.
std::size_t short_prefix_in_page(const char* at, std::size_t held);
// The same found in the export, where the `before` bytes before the "@" at
// `at_sign` were all just converted into the page; NO_SHORT_PREFIX also
// where a quote, which the page does not hold, lies between. The page's
// last bytes were stored a moment ago, and loading them again at once
// stalls the processor; the export's were only loaded.
std::size_t short_prefix_in_export(const char* at_sign, std::size_t before);

// Writes the link over the `prefix` bytes before `at`, a copy of which lies
// at `prefix_bytes` (readable up to 32 bytes past them), with `room` bytes
// free from `at`. `ahead` is the export after the "@", and `rest` the
// length of the address in it where the caller has found it already. Done
// when the address ends, at a space, ";" or line break, well within `ahead`,
// and the room holds the link and what its copies write past it (up to 32
// bytes). The link is then [start, end), the terminator lies `address_rest`
// bytes into `ahead`, to be read again, and `last` stands for it (a line
// break for CR LF). Otherwise `end` is null and nothing changed.
struct LinkInPlace {
  char* start;
  char* end;
  std::size_t address_rest;
  char last;
};
inline constexpr std::size_t ADDRESS_NOT_SEEN = SIZE_MAX;
LinkInPlace link_in_place(char* at, std::size_t prefix, const char* prefix_bytes, std::size_t room,
                          std::string_view ahead, std::size_t rest = ADDRESS_NOT_SEEN);

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_MAIL_LINK_H_
