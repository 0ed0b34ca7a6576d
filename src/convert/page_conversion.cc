#include "convert/page_conversion.h"

#include <cstddef>
#include <string_view>

#include "cli/output_stream.h"
#include "cli/source_stream.h"
#include "convert/byte_scan.h"
#include "convert/mail_link.h"
#include "convert/page_texts.h"

namespace quillantrex {

namespace {

// The texts written once per field and line, stored once and for all.
constexpr auto ROW_BREAK_STORED = store_text<ROW_BREAK>();
constexpr auto CELL_BREAK_STORED = store_text<CELL_BREAK>();
constexpr auto CELL_LINE_BREAK_STORED = store_text<CELL_LINE_BREAK>();

// Copies the plain characters ahead in the source buffer straight to the
// page, up to the first of `Stops`. CR and Ctrl-Z are always among them
// because the source stream gives them their text meaning (CR LF, end of
// text). Returns whether it copied any.
template <char... Stops>
bool copy_plain_run(SourceStream& source, OutputStream& output) {
  std::string_view ahead = source.buffered();
  std::size_t n = span_until<Stops...>(ahead);
  if (n == 0) return false;
  output.write_plain(ahead.substr(0, n));
  source.skip(n);
  return true;
}

}  // namespace

void convert_table(SourceStream& source, OutputStream& output) {
  output.write_text(PAGE_HEAD);
  output.write_text(TABLE_OPEN);
  output.write_text(FIRST_ROW_OPEN);
  source.rewind();

  // Characters the closing step writes over: END_FILLER, and the "<tr>\n<td>"
  // before it when the export ended with a line break outside quotes. An
  // address that ends the export leaves nothing to write over.
  int backstep = 0;
  bool quoted = false;
  int previous = 0;
  int last = 0;
  while (last != END_OF_INPUT) {
    if (quoted ? copy_plain_run<'"', '\n', '\r', '\x1A'>(source, output)
               : copy_plain_run<'"', ';', '@', '\n', '\r', '\x1A'>(source, output)) {
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
