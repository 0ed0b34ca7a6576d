// Rewrites an e-mail address into a mailto: link once the scan meets its "@",
// by stepping back through the page for the part already copied.
#ifndef QUILLANTREX_CONVERT_MAIL_LINK_H_
#define QUILLANTREX_CONVERT_MAIL_LINK_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/byte_scan.h"
#include "convert/overshoot_copy.h"
#include "convert/page_texts.h"

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

// What ends an address in the export: the terminators, and CR and Ctrl-Z,
// which the source stream reads as a line break (CR LF) or end of input.
using AddressEnds = ByteSet<' ', ';', '\n', '\r', '\x1A'>;

// LINK_OPEN without the ">" it rewrites: the link is written after the stop
// character, which stays whatever it is.
inline constexpr std::string_view LINK_START = LINK_OPEN.substr(1);
inline constexpr std::string_view LINK_TAIL_HEAD =
    LINK_TAIL_FORMAT.substr(0, LINK_TAIL_FORMAT.find("%s"));
inline constexpr std::string_view LINK_TAIL_END =
    LINK_TAIL_FORMAT.substr(LINK_TAIL_FORMAT.find("%s") + 2);

inline constexpr Piece LINK_START_PIECE = piece(LINK_START);
inline constexpr Piece LINK_TAIL_HEAD_PIECE = piece(LINK_TAIL_HEAD);
inline constexpr Piece LINK_TAIL_END_PIECE = piece(LINK_TAIL_END);
inline constexpr Piece CELL_LINE_BREAK_PIECE = piece(CELL_LINE_BREAK);

// The prefix, shorter than SHORT_PREFIX, is held and copied as one gap.
static_assert(SHORT_PREFIX <= 2 * COPY_PIECE);

// Writes an address at `o`: the `prefix` bytes held in `first`, the "@" and
// the `rest` bytes at `rest_bytes`, which are most often under a piece.
// Returns its end.
template <void (*CopyPiece)(char*, const char*)>
[[gnu::always_inline]] inline char* put_address(char* o, const HeldGap<CopyPiece>& first,
                                                std::size_t prefix, const char* rest_bytes,
                                                std::size_t rest) {
  first.put(o, prefix);
  o += prefix;
  *o++ = '@';
  CopyPiece(o, rest_bytes);
  if (rest > COPY_PIECE)
    copy_pieces<CopyPiece>(o + COPY_PIECE, rest_bytes + COPY_PIECE, rest - COPY_PIECE);
  return o + rest;
}

// Inline, so that the block scan's copies are its own (`CopyPiece`).
template <void (*CopyPiece)(char*, const char*) = copy_piece>
[[gnu::always_inline]] inline LinkInPlace link_in_place(char* at, std::size_t prefix,
                                                        const char* prefix_bytes, std::size_t room,
                                                        std::string_view ahead,
                                                        std::size_t rest = ADDRESS_NOT_SEEN) {
  const LinkInPlace refused{};
  if (rest == ADDRESS_NOT_SEEN) rest = AddressEnds::span_until(ahead);
  // What the pieces read past the address, which covers the terminator and
  // the LF after a CR.
  static_assert(COPY_OVERREACH >= 2);
  if (rest + COPY_OVERREACH >= ahead.size()) return refused;
  const char end = ahead[rest];
  if (end == '\x1A' || (end == '\r' && ahead[rest + 1] != '\n')) return refused;

  const std::size_t address = prefix + 1 + rest;
  const std::size_t size = LINK_START.size() + 2 * address + LINK_TAIL_HEAD.size() +
                           LINK_TAIL_END.size() + CELL_LINE_BREAK.size();
  // Room for what the copies write past the link, and read past the prefix.
  if (room + prefix < size + COPY_OVERREACH) return refused;

  char* const link = at - prefix;
  // The prefix may lie in the page, where the link's opening and its first
  // copy are written over it: it is read once, before either.
  const HeldGap<CopyPiece> first(prefix_bytes, prefix);
  // The address twice, in the href and as the visible text.
  char* o = put(link, LINK_START_PIECE);
  o = put_address<CopyPiece>(o, first, prefix, ahead.data(), rest);
  o = put(o, LINK_TAIL_HEAD_PIECE);
  o = put_address<CopyPiece>(o, first, prefix, ahead.data(), rest);
  o = put(o, LINK_TAIL_END_PIECE);
  const char last = end == ' ' || end == ';' ? end : '\n';
  if (last == '\n') o = put(o, CELL_LINE_BREAK_PIECE);
  return LinkInPlace{link, o, rest, last};
}

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_MAIL_LINK_H_
