#include "convert/page_conversion.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "convert/block_classify.h"
#include "convert/byte_scan.h"
#include "convert/mail_link.h"
#include "convert/overshoot_copy.h"
#include "convert/page_texts.h"
#include "convert/text_encoding.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"

namespace quillantrex {

namespace {

// Bytes that end a run of plain text outside quotes and inside them. CR and
// Ctrl-Z are among them because the source stream gives them their text
// meaning (CR LF, end of text).
using PlainStops = ByteSet<'"', ';', '@', '\n', '\r', '\x1A'>;
using QuotedStops = ByteSet<'"', '\n', '\r', '\x1A'>;

// What a structure byte becomes, as the stream stores it, for the character
// scan.
template <char Byte, bool Quoted>
constexpr std::string_view STRUCTURE_TEXT = structure_text(Byte, Quoted).value();
template <char Byte, bool Quoted>
constexpr auto STRUCTURE_STORED = store_text<STRUCTURE_TEXT<Byte, Quoted>>();

// The same for the block scan, in a table indexed by the byte and whether it
// stands in quotes. Each entry is copied whole, one piece. A byte that is no
// structure byte there becomes itself, so that a plain byte can be taken as
// a structure byte to cut a long gap in two. The entry's last byte holds how
// much longer the text is than the byte it stands for (-1 for no text): how
// far it moves the page's end against the block.
using Replacement = std::array<char, COPY_PIECE>;
constexpr std::size_t GROWTH_AT = COPY_PIECE - 1;

constexpr std::size_t replacement_index(char byte, bool quoted) {
  return static_cast<unsigned char>(byte) * std::size_t{2} + quoted;
}

alignas(COPY_PIECE) constexpr std::array<Replacement, 512> REPLACEMENTS = [] {
  std::array<Replacement, 512> table{};
  for (std::size_t i = 0; i < table.size(); ++i) table[i][0] = static_cast<char>(i / 2);
  for (char byte : STRUCTURE_BYTES) {
    for (bool quoted : {false, true}) {
      const std::optional<std::string_view> text = structure_text(byte, quoted);
      if (!text) continue;  // a byte like any other there
      Replacement& r = table[replacement_index(byte, quoted)];
      r = Replacement{};
      const std::size_t length = store_into(*text, r.data());
      r[GROWTH_AT] = static_cast<char>(static_cast<int>(length) - 1);
    }
  }
  return table;
}();

// A block where no structure byte is a line break in quotes may take every
// text as outside quotes: every other structure byte becomes the same text
// in quotes or out of them, or is structure only outside them (";").
static_assert([] {
  for (char byte : STRUCTURE_BYTES)
    if (byte != '\n' && structure_text(byte, true) &&
        structure_text(byte, true) != structure_text(byte, false))
      return false;
  return true;
}());

// What a structure byte can add to the page beyond itself.
constexpr std::size_t GROWTH_PER_STRUCTURE_BYTE = [] {
  int most = 0;
  for (const Replacement& r : REPLACEMENTS)
    most = std::max<int>(most, static_cast<signed char>(r[GROWTH_AT]));
  return static_cast<std::size_t>(most);
}();
static_assert(GROWTH_PER_STRUCTURE_BYTE + 1 <= GROWTH_AT,
              "a replacement and its growth fill one piece");

// Room asked of the page's window before a run of blocks: enough for several
// blocks, and far less than the window, which is then seldom moved.
constexpr std::size_t BULK_ROOM = 8192;

// A block's gaps are copied as one piece or two. Beyond a block, the source
// must hold this much (the byte after it, and what the copies read past it),
// and so must the window (what they write past the page's end).
static_assert(CLASS_BLOCK == 2 * COPY_PIECE);
constexpr std::size_t BLOCK_SLACK = CLASS_BLOCK;
static_assert(BLOCK_SLACK >= COPY_OVERREACH);
// A link's classes read the 64 bytes after an "@" in the block.
static_assert(BLOCK_SLACK >= 64);

// Room a block takes in the window at most: every byte a structure byte with
// the longest text, and the slack.
constexpr std::size_t WORST_BLOCK_ROOM =
    CLASS_BLOCK + GROWTH_PER_STRUCTURE_BYTE * CLASS_BLOCK + BLOCK_SLACK;

// The address whose "@" is at `at_sign`, with the link classes `links`
// around it, written as a link at the page's end `at`, with `held` bytes of
// the page before it and `room` free after it, where link_in_place() can.
// The export's bytes from `ahead_start` to `ahead_end` hold the "@" and
// what follows, and those before the "@" are all in the page too. The
// link's start is found in the export, which the page holds as it is back
// to the stop but for quotes, rather than in the page just written.
template <void (*CopyPiece)(char*, const char*)>
[[gnu::always_inline]] inline LinkInPlace link_from_block(const char* at_sign,
                                                          const LinkClasses& links,
                                                          const char* ahead_start,
                                                          const char* ahead_end, char* at,
                                                          std::size_t held, std::size_t room) {
  static_assert(SHORT_PREFIX == 64, "the link's classes look that far back");
  std::size_t prefix = NO_SHORT_PREFIX;
  if (links.before != 0) {
    prefix = static_cast<std::size_t>(std::countl_zero(links.before)) - links.before_shift;
    // Past a quote, the page holds fewer bytes than the export.
    if (at_sign[-1 - static_cast<std::ptrdiff_t>(prefix)] == '"') prefix = NO_SHORT_PREFIX;
  } else if (!links.before_all) {
    prefix = short_prefix_in_export(at_sign, static_cast<std::size_t>(at_sign - ahead_start));
  }
  const char* prefix_bytes = at_sign;
  if (prefix == NO_SHORT_PREFIX) {
    prefix = short_prefix_in_page(at, held);
    if (prefix == NO_SHORT_PREFIX) return LinkInPlace{};
    prefix_bytes = at;
  }
  prefix_bytes -= prefix;
  const char* const address = at_sign + 1;
  return link_in_place<CopyPiece>(
      at, prefix, prefix_bytes, room,
      std::string_view(address, static_cast<std::size_t>(ahead_end - address)),
      links.after != 0 ? static_cast<std::size_t>(std::countr_zero(links.after))
                       : ADDRESS_NOT_SEEN);
}

// Copies the gap before each structure byte of `todo` in the block at
// `block`, from `from` on, then the byte's text, moving `o` and `from` past
// them. Any gap, any line break in quotes.
template <void (*CopyPiece)(char*, const char*)>
[[gnu::always_inline]] inline void replace_structure(char*& o, const char*& from, const char* block,
                                                     std::uint64_t todo, std::uint64_t quoted) {
  while (todo != 0) {
    const char* const at = block + std::countr_zero(todo);
    copy_gap<CopyPiece>(o, from, static_cast<std::size_t>(at - from));
    o += at - from;
    const Replacement& r = REPLACEMENTS[replacement_index(*at, (quoted >> (at - block)) & 1)];
    CopyPiece(o, r.data());
    o += 1 + static_cast<signed char>(r[GROWTH_AT]);
    from = at + 1;
    todo &= todo - 1;
  }
}

// The byte that cuts a block's gaps to a piece each: taken as a structure
// byte, whatever it is, it leaves no gap before, between or after them in
// the block longer than a piece.
constexpr std::size_t GAP_CUT = COPY_PIECE;
static_assert(GAP_CUT <= COPY_PIECE && CLASS_BLOCK - 1 - GAP_CUT <= COPY_PIECE);

// The block at `block` converted up to `end`, at the page's end `o`, where
// each of `todo` is a structure byte or a plain byte that becomes itself,
// and no gap is longer than a piece. `ByQuote` where a line break in quotes
// is among them, and `quoted` marks the bytes in quotes. Returns the page's
// new end.
//
// The loop keeps no page end, only `shifted`: where the page would put the
// block's byte CLASS_BLOCK were the rest of the block plain, which a text
// moves by its growth. A structure byte's text and the gap after it then go
// to fixed offsets from it, with no length worked out, and nothing is kept
// from one to the next but `shifted`. It stays within CLASS_BLOCK bytes past
// the page's end, in the window.
template <bool ByQuote, std::size_t (*LowestBit)(std::uint64_t),
          void (*CopyPiece)(char*, const char*)>
[[gnu::always_inline]] inline char* replace_points(char* o, const char* block, std::uint64_t todo,
                                                   std::size_t end, std::uint64_t quoted) {
  // Kept in a register: left to itself, the compiler made the table's
  // address again for every point.
  const Replacement* table = REPLACEMENTS.data();
  asm("" : "+r"(table));
  CopyPiece(o, block);
  char* shifted = o + CLASS_BLOCK;
  while (todo != 0) {
    const auto at = static_cast<std::ptrdiff_t>(LowestBit(todo));
    const Replacement& r = table[replacement_index(block[at], ByQuote && ((quoted >> at) & 1))];
    CopyPiece(shifted - CLASS_BLOCK + at, r.data());
    shifted += static_cast<signed char>(r[GROWTH_AT]);
    // The gap after it, written over what the text's piece put past it.
    CopyPiece(shifted - CLASS_BLOCK + at + 1, block + at + 1);
    todo &= todo - 1;
  }
  return shifted - CLASS_BLOCK + end;
}

// Converts as much of the buffered export as it can straight from the source
// buffer into the page's window, a block at a time: the plain bytes between
// two structure bytes go in one copy, and each structure byte is replaced
// from the table, with no decision per byte. Leaves to the character scan a
// Ctrl-Z, an address it cannot link in place, the last bytes of the source
// buffer and whatever the window cannot hold.
//
// What the loop may overshoot, and by how much: a block reads its CLASS_BLOCK
// bytes and the byte after them, and a link's classes the 64 after its "@" (and
// the 64 before it only where the export holds them); each gap and each
// replacement is copied in whole pieces, which read up to COPY_OVERREACH bytes
// past what they take and write as many past what they put. So a block is taken
// only with BLOCK_SLACK bytes of the source after it (in_last), and only with
// room for its most, CLASS_BLOCK bytes and their growth, and BLOCK_SLACK after
// that in the window; a link asks link_in_place() for the same for its own
// copies. The cut at GAP_CUT keeps every gap to one piece, and replace_points()
// points no further than CLASS_BLOCK past the page's end, within that slack.
// Nothing past the page's end `o` is part of the page: the next copy writes
// over it, and commit() leaves out what is left.
template <typename Classifier, std::size_t (*LowestBit)(std::uint64_t),
          void (*CopyPiece)(char*, const char*)>
[[gnu::always_inline]] inline bool convert_blocks(SourceStream& source, OutputStream& output,
                                                  bool& in_quotes, int& previous) {
  const std::string_view ahead = source.buffered();
  if (ahead.size() < CLASS_BLOCK + BLOCK_SLACK) return false;
  const OutputStream::EndWindow window = output.end_window(BULK_ROOM);
  if (window.at == nullptr) return false;

  const char* p = ahead.data();
  const char* const ahead_end = ahead.data() + ahead.size();
  const char* const in_last = ahead_end - (CLASS_BLOCK + BLOCK_SLACK);
  char* o = window.at;
  // Where the window's bytes start and its room ends, for a link.
  const char* const held_from = window.at - window.held;
  const char* const room_end = window.at + window.room;
  // A link rewrites the page before the window's end.
  char* written_from = window.at;
  // Up to here any block fits; from here on it is asked what this one needs.
  const char* const any_block_fits_before =
      window.at + (window.room >= WORST_BLOCK_ROOM ? window.room - WORST_BLOCK_ROOM + 1 : 0);
  std::uint64_t quoted = in_quotes ? ~std::uint64_t{0} : 0;
  const Classifier classify;
  while (p <= in_last) {
    const std::uint64_t carried = quoted;
    const typename Classifier::Classes classes = classify(p, p[CLASS_BLOCK], quoted);
    const std::size_t end = classes.leave ? std::countr_zero(classes.leave) : CLASS_BLOCK;
    const std::uint64_t before_end = end < CLASS_BLOCK ? (std::uint64_t{1} << end) - 1 : ~0ull;
    std::uint64_t todo = classes.structure & before_end;
    if (o >= any_block_fits_before) {
      const std::size_t used = static_cast<std::size_t>(o - window.at);
      const std::size_t growth =
          GROWTH_PER_STRUCTURE_BYTE * static_cast<std::size_t>(std::popcount(todo));
      if (used + CLASS_BLOCK + growth + BLOCK_SLACK > window.room) {
        quoted = carried;
        break;
      }
    }
    // The structure bytes and the cut, which, where it is a plain byte,
    // must become itself: a ";" in quotes does only by its quote, a CR
    // alone never.
    const std::uint64_t points = (classes.structure | std::uint64_t{1} << GAP_CUT) & before_end;
    if ((classes.by_context & points) == 0) {
      o = replace_points<false, LowestBit, CopyPiece>(o, p, points, end, classes.quoted);
    } else if (end <= GAP_CUT || p[GAP_CUT] != '\r') {
      o = replace_points<true, LowestBit, CopyPiece>(o, p, points, end, classes.quoted);
    } else {
      const char* from = p;
      replace_structure<CopyPiece>(o, from, p, todo, classes.quoted);
      copy_gap<CopyPiece>(o, from, static_cast<std::size_t>(p + end - from));
      o += p + end - from;
    }
    p += end;
    if (end < CLASS_BLOCK) {
      // Stopped at an "@" outside quotes or a Ctrl-Z. An address is written
      // as a link right here when it can be, and the scan goes on at its
      // terminator, outside quotes.
      if (*p == '@') {
        const LinkInPlace link = link_from_block<CopyPiece>(
            p,
            classify.link_classes(p - end, end, static_cast<std::size_t>(p - ahead.data()),
                                  classes),
            ahead.data(), ahead_end, o, static_cast<std::size_t>(o - held_from),
            static_cast<std::size_t>(room_end - o));
        if (link.end != nullptr) {
          written_from = std::min(written_from, link.start);
          o = link.end;
          p += 1 + link.address_rest;
          quoted = 0;
          continue;
        }
      }
      quoted = (classes.quoted >> end) & 1 ? ~std::uint64_t{0} : 0;
      break;
    }
  }
  in_quotes = quoted != 0;
  // Only a line break can have put an LF into the source just before p.
  if (p != ahead.data()) previous = p[-1] == '\n' ? '\n' : 0;
  source.skip(static_cast<std::size_t>(p - ahead.data()));
  output.commit(written_from, o);
  return *p == '@' && !in_quotes;
}

bool convert_blocks_plain(SourceStream& source, OutputStream& output, bool& in_quotes,
                          int& previous) {
  return convert_blocks<BlockClassifier<classify_block_plain, link_bytes_plain>, lowest_bit,
                        copy_piece>(source, output, in_quotes, previous);
}

#ifdef __SSE2__
bool convert_blocks_sse2(SourceStream& source, OutputStream& output, bool& in_quotes,
                         int& previous) {
  return convert_blocks<BlockClassifier<classify_block_sse2, link_bytes_sse2>, lowest_bit,
                        copy_piece>(source, output, in_quotes, previous);
}
#endif

#ifdef QUILLANTREX_AVX2_PATH
[[QUILLANTREX_AVX2_TARGET]] bool convert_blocks_avx2(SourceStream& source, OutputStream& output,
                                                     bool& in_quotes, int& previous) {
  return convert_blocks<Avx2Classifier, lowest_bit_avx2, copy_piece_avx2>(source, output, in_quotes,
                                                                          previous);
}
#endif

// True when it stopped at an "@" outside quotes. `path` is one the
// processor runs.
bool convert_in_bulk(SourceStream& source, OutputStream& output, BlockPath path, bool& in_quotes,
                     int& previous) {
  switch (path) {
#ifdef QUILLANTREX_AVX2_PATH
    case BlockPath::avx2:
      return convert_blocks_avx2(source, output, in_quotes, previous);
#endif
#ifdef __SSE2__
    case BlockPath::sse2:
      return convert_blocks_sse2(source, output, in_quotes, previous);
#endif
    default:
      return convert_blocks_plain(source, output, in_quotes, previous);
  }
}

// Copies the plain characters ahead in the source buffer straight to the
// page, up to the first of `Stops`. Returns whether it copied any.
template <typename Stops>
bool copy_plain_run(SourceStream& source, OutputStream& output) {
  std::string_view ahead = source.buffered();
  std::size_t n = Stops::span_until(ahead);
  if (n == 0) return false;
  output.write_plain(ahead.substr(0, n));
  source.skip(n);
  return true;
}

}  // namespace

std::string page_head(bool utf8) {
  std::string head(PAGE_HEAD);
  if (utf8) {
    head.replace(head.find('\xE9'), 1, UTF8_HEADING_LETTER);
    head.insert(head.find("<head>\n") + 7, UTF8_CHARSET_LINE);
  }
  return head;
}

void convert_table(SourceStream& source, OutputStream& output, BlockPath path) {
  path = runnable_block_path(path);
  // A page holds about every byte of its export, and more.
  if (const std::int64_t size = source.file_size(); size > 0)
    output.expect_at_least(static_cast<std::uint64_t>(size));
  source.rewind();
  const bool utf8 = export_is_utf8(source.had_byte_order_mark(), source.start_of_text());
  output.write_text(page_head(utf8));
  output.write_text(TABLE_OPEN);
  output.write_text(FIRST_ROW_OPEN);

  // Characters the closing step writes over: END_FILLER, and the "<tr>\n<td>"
  // before it when the export ended with a line break outside quotes. An
  // address that ends the export leaves nothing to write over.
  int backstep = 0;
  bool quoted = false;
  int previous = 0;
  int last = 0;
  // Below, a quote writes nothing either way, and neither does the CR of a
  // CR LF, which read_char() takes with its LF.
  static_assert(STRUCTURE_TEXT<'"', false>.empty() && STRUCTURE_TEXT<'"', true>.empty() &&
                STRUCTURE_TEXT<'\r', false>.empty() && STRUCTURE_TEXT<'\r', true>.empty());
  while (last != END_OF_INPUT) {
    if (convert_in_bulk(source, output, path, quoted, previous)) {
      // Straight to the link writer, as the character scan below would go.
      source.skip(1);
      last = '@';
      write_mail_link(source, output, last);
      previous = last;
      continue;
    }
    if (quoted ? copy_plain_run<QuotedStops>(source, output)
               : copy_plain_run<PlainStops>(source, output)) {
      previous = 0;
    }
    last = source.read_char();
    if (quoted) {
      switch (last) {
        case '"':
          quoted = false;
          break;
        case '\n':
          output.write_stored(STRUCTURE_STORED<'\n', true>);
          break;
        case END_OF_INPUT:
          output.write_char(END_FILLER);
          backstep = 1;
          break;
        default:
          output.write_char(last);
      }
    } else {
      switch (last) {
        case '"':
          quoted = true;
          break;
        case '\n':
          output.write_stored(STRUCTURE_STORED<'\n', false>);
          break;
        case ';':
          output.write_stored(STRUCTURE_STORED<';', false>);
          break;
        case '@':
          write_mail_link(source, output, last);
          break;
        case END_OF_INPUT:
          output.write_char(END_FILLER);
          backstep = previous == '\n' ? CLOSE_BACKSTEP : 1;
          break;
        default:
          output.write_char(last);
      }
    }
    previous = last;
  }

  output.step_back(static_cast<std::size_t>(backstep));
  output.write_text(TABLE_CLOSE);
  output.write_text(PAGE_FOOT);
}

}  // namespace quillantrex
