#include "convert/page_conversion.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "cli/output_stream.h"
#include "cli/source_stream.h"
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

// Room the bulk scan wants at least: one block of plain bytes, and for each
// of its bytes the longest text it may write instead.
constexpr std::size_t BULK_ROOM = SCAN_BLOCK * (1 + ROW_BREAK_STORED.bytes.size()) + SCAN_BLOCK;

// Converts as much of the buffered export as it can straight from the source
// buffer into the page's window, a block at a time: each byte that needs
// attention in the block is handled in turn from one look at the block, and
// the plain bytes before it are copied sixteen at a time, the copy's excess
// being written over by what follows (what lies beyond the committed end is
// not part of the page). Leaves to the character scan an "@" outside quotes,
// a Ctrl-Z, the last bytes of the source buffer and whatever the window
// cannot hold.
void convert_in_bulk(SourceStream& source, OutputStream& output, bool& in_quotes, int& previous) {
  const std::string_view ahead = source.buffered();
  if (ahead.size() <= 2 * SCAN_BLOCK) return;
  std::size_t room = 0;
  char* const out = output.append_room(4 * BULK_ROOM, room);
  if (room < BULK_ROOM) return;

  const char* p = ahead.data();
  // Before in_end, two blocks are in the buffer: one to scan, and room for
  // a copy that starts inside it and for the LF of a CR LF that ends it.
  const char* const in_end = p + ahead.size() - 2 * SCAN_BLOCK;
  char* o = out;
  char* const out_end = out + room - BULK_ROOM;
  bool quoted = in_quotes;  // a local, not reloaded after each store
  while (p < in_end && o <= out_end) {
    const char* const block = p;
    unsigned mask = PlainStops::mask(block);
    for (;;) {
      std::memcpy(o, p, SCAN_BLOCK);
      if (mask == 0) {
        // The rest of the block is plain, unless a CR LF at its end took
        // the first byte of the next.
        if (p < block + SCAN_BLOCK) {
          o += block + SCAN_BLOCK - p;
          p = block + SCAN_BLOCK;
        }
        break;
      }
      const char* const stop = block + std::countr_zero(mask);
      o += stop - p;
      p = stop;
      const char c = *p;
      if (c == '\n' || (c == '\r' && p[1] == '\n')) {
        p += c == '\r' ? 2 : 1;
        if (quoted) {
          std::memcpy(o, CELL_LINE_BREAK_STORED.bytes.data(), CELL_LINE_BREAK_STORED.bytes.size());
          o += CELL_LINE_BREAK_STORED.bytes.size();
        } else {
          std::memcpy(o, ROW_BREAK_STORED.bytes.data(), ROW_BREAK_STORED.bytes.size());
          o += ROW_BREAK_STORED.bytes.size();
        }
      } else if (c == '"') {
        ++p;
        quoted = !quoted;
      } else if (c == ';' && !quoted) {
        ++p;
        std::memcpy(o, CELL_BREAK_STORED.bytes.data(), CELL_BREAK_STORED.bytes.size());
        o += CELL_BREAK_STORED.bytes.size();
      } else if (c == '\r' || (quoted && c != '\x1A')) {
        // A lone CR, or ";" or "@" in quotes: plain, and already copied.
        ++p;
        ++o;
      } else {
        goto done;  // "@" outside quotes, Ctrl-Z
      }
      // Forget the bytes of the block now behind p (a CR LF takes two).
      mask &= ~0u << (p - block);
    }
  }
done:
  in_quotes = quoted;
  // Only a line break can have put an LF into the source just before p.
  if (p != ahead.data()) previous = p[-1] == '\n' ? '\n' : 0;
  source.skip(static_cast<std::size_t>(p - ahead.data()));
  output.commit(static_cast<std::size_t>(o - out));
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

void convert_table(SourceStream& source, OutputStream& output) {
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
    convert_in_bulk(source, output, quoted, previous);
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
