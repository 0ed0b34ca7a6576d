#include "convert/page_conversion.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "convert/block_classify.h"
#include "convert/byte_scan.h"
#include "convert/mail_link.h"
#include "convert/page_texts.h"
#include "convert/text_encoding.h"

namespace quillantrex {

namespace {

// Bytes that end a run of plain text outside quotes and inside them. CR and
// Ctrl-Z are among them because the source stream gives them their text
// meaning (CR LF, end of text).
using PlainStops = ByteSet<'"', ';', '@', '\n', '\r', '\x1A'>;
using QuotedStops = ByteSet<'"', '\n', '\r', '\x1A'>;

// The texts written once per field and line, stored once and for all.
constexpr auto ROW_BREAK_STORED = store_text<ROW_BREAK>();
constexpr auto CELL_BREAK_STORED = store_text<CELL_BREAK>();
constexpr auto CELL_LINE_BREAK_STORED = store_text<CELL_LINE_BREAK>();

// What each structure byte becomes in the page, by its low four bits (the
// four structure bytes differ there) and whether it stands in quotes: a
// quote and the CR of a CR LF become nothing, ";" outside quotes ends the
// cell, a line break ends the row or, in quotes, the line of the cell.
// Each entry is copied whole, 32 bytes, and its last byte holds the length
// of the text: what follows the text in the page is written over.
using Replacement = std::array<char, 32>;
constexpr std::size_t REPLACEMENT_SIZE = 31;

template <auto Stored>
constexpr Replacement replacement() {
  static_assert(Stored.bytes.size() < REPLACEMENT_SIZE);
  Replacement r{};
  for (std::size_t i = 0; i < Stored.bytes.size(); ++i) r[i] = Stored.bytes[i];
  r[REPLACEMENT_SIZE] = static_cast<char>(Stored.bytes.size());
  return r;
}

alignas(32) constexpr std::array<Replacement, 32> REPLACEMENTS = [] {
  std::array<Replacement, 32> table{};
  auto at = [&](char c, bool quoted) -> Replacement& {
    return table[(static_cast<unsigned char>(c) & 15) * 2 + quoted];
  };
  static_assert(('"' & 15) != (';' & 15) && ('"' & 15) != ('\n' & 15) &&
                ('"' & 15) != ('\r' & 15) && (';' & 15) != ('\n' & 15) &&
                (';' & 15) != ('\r' & 15) && ('\n' & 15) != ('\r' & 15));
  at(';', false) = replacement<CELL_BREAK_STORED>();
  at(';', true) = Replacement{';'};  // never asked for: plain in quotes
  at(';', true)[REPLACEMENT_SIZE] = 1;
  at('\n', false) = replacement<ROW_BREAK_STORED>();
  at('\n', true) = replacement<CELL_LINE_BREAK_STORED>();
  return table;
}();

// 32 bytes in one move where AVX2 allows: a plain 32-byte copy compiles to
// two 16-byte moves, even in a function compiled for AVX2, under the
// compilers' default tuning.
inline void copy_32(char* to, const char* from) {
  std::memcpy(to, from, 32);
}

#ifdef QUILLANTREX_AVX2_PATH
[[gnu::target("avx2")]] inline void copy_32_avx2(char* to, const char* from) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
}
#endif

// Room asked of the page's window before a run of blocks: enough for several
// blocks, and far less than the window, which is then seldom moved.
constexpr std::size_t BULK_ROOM = 8192;

// Copies a gap of n <= CLASS_BLOCK plain bytes in fixed-size pieces; up to
// CLASS_BLOCK bytes are read and written whatever n is.
template <void (*Copy32)(char*, const char*)>
[[gnu::always_inline]] inline void copy_gap(char* to, const char* from, std::size_t n) {
  Copy32(to, from);
  if (n > 32) Copy32(to + 32, from + 32);
}

// Converts as much of the buffered export as it can straight from the source
// buffer into the page's window, a block at a time: the plain bytes between
// two structure bytes go in one copy, and each structure byte is replaced
// from the table, with no decision per byte. Copies overshoot; what lies
// beyond the committed end is not part of the page. Leaves to the character
// scan an "@" outside quotes, a Ctrl-Z, the last bytes of the source buffer
// and whatever the window cannot hold.
template <BlockClasses (*Classify)(const char*, char, std::uint64_t&),
          void (*Copy32)(char*, const char*)>
[[gnu::always_inline]] inline bool convert_blocks(SourceStream& source, OutputStream& output,
                                                  bool& in_quotes, int& previous) {
  // A block is read with the byte after it, and its last gap copy may read
  // a whole block further.
  const std::string_view ahead = source.buffered();
  if (ahead.size() < 2 * CLASS_BLOCK) return false;
  const OutputStream::EndWindow window = output.end_window(BULK_ROOM);
  if (window.at == nullptr) return false;

  const char* p = ahead.data();
  const char* const in_last = p + ahead.size() - 2 * CLASS_BLOCK;
  char* o = window.at;
  std::uint64_t quoted = in_quotes ? ~std::uint64_t{0} : 0;
  while (p <= in_last) {
    const std::uint64_t carried = quoted;
    const BlockClasses classes = Classify(p, p[CLASS_BLOCK], quoted);
    const std::size_t end = classes.leave ? std::countr_zero(classes.leave) : CLASS_BLOCK;
    const std::uint64_t before_end = end < CLASS_BLOCK ? (std::uint64_t{1} << end) - 1 : ~0ull;
    std::uint64_t todo = classes.structure & before_end;
    // A block writes at most its bytes and 23 more for each structure byte
    // (a replacement is at most 24 bytes), and its copies overshoot by at
    // most a block.
    const std::size_t used = static_cast<std::size_t>(o - window.at);
    if (used + 23 * static_cast<std::size_t>(std::popcount(todo)) + 2 * CLASS_BLOCK > window.room) {
      quoted = carried;
      break;
    }
    const char* from = p;
    while (todo != 0) {
      const char* const at = p + std::countr_zero(todo);
      copy_gap<Copy32>(o, from, static_cast<std::size_t>(at - from));
      o += at - from;
      const Replacement& r = REPLACEMENTS[(static_cast<unsigned char>(*at) & 15) * 2 +
                                          ((classes.quoted >> (at - p)) & 1)];
      Copy32(o, r.data());
      o += static_cast<unsigned char>(r[REPLACEMENT_SIZE]);
      from = at + 1;
      todo &= todo - 1;
    }
    copy_gap<Copy32>(o, from, static_cast<std::size_t>(p + end - from));
    o += p + end - from;
    p += end;
    if (end < CLASS_BLOCK) {
      // Stopped at an "@" outside quotes or a Ctrl-Z, in the state before it.
      quoted = (classes.quoted >> end) & 1 ? ~std::uint64_t{0} : 0;
      break;
    }
  }
  in_quotes = quoted != 0;
  // Only a line break can have put an LF into the source just before p.
  if (p != ahead.data()) previous = p[-1] == '\n' ? '\n' : 0;
  source.skip(static_cast<std::size_t>(p - ahead.data()));
  output.commit(window.at, o);
  return *p == '@' && !in_quotes;
}

bool convert_blocks_plain(SourceStream& source, OutputStream& output, bool& in_quotes,
                          int& previous) {
  return convert_blocks<classify_block_plain, copy_32>(source, output, in_quotes, previous);
}

#ifdef __SSE2__
bool convert_blocks_sse2(SourceStream& source, OutputStream& output, bool& in_quotes,
                         int& previous) {
  return convert_blocks<classify_block_sse2, copy_32>(source, output, in_quotes, previous);
}
#endif

#ifdef QUILLANTREX_AVX2_PATH
[[gnu::target("avx2,pclmul,popcnt,bmi,bmi2")]] bool convert_blocks_avx2(SourceStream& source,
                                                                        OutputStream& output,
                                                                        bool& in_quotes,
                                                                        int& previous) {
  return convert_blocks<classify_block_avx2, copy_32_avx2>(source, output, in_quotes, previous);
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
          output.write_stored(CELL_LINE_BREAK_STORED);
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
          output.write_stored(ROW_BREAK_STORED);
          break;
        case ';':
          output.write_stored(CELL_BREAK_STORED);
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
