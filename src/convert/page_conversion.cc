#include "convert/page_conversion.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "cli/output_stream.h"
#include "cli/source_stream.h"
#include "convert/mail_link.h"
#include "convert/page_texts.h"

namespace quillantrex {

namespace {

using ByteSet = std::array<bool, 256>;

constexpr ByteSet byte_set(std::string_view bytes) {
  ByteSet set{};
  for (char c : bytes) set[static_cast<unsigned char>(c)] = true;
  return set;
}

// Bytes that end a run of plain characters. CR and Ctrl-Z are here because
// the source stream gives them their text meaning (CR LF, end of text).
constexpr ByteSet PLAIN_STOPS = byte_set("\";@\n\r\x1A");
constexpr ByteSet QUOTED_STOPS = byte_set("\"\n\r\x1A");

// Copies the plain characters ahead in the source buffer straight to the
// page. Returns whether it copied any.
bool copy_plain_run(SourceStream& source, OutputStream& output, const ByteSet& stops) {
  std::string_view ahead = source.buffered();
  std::size_t n = 0;
  while (n < ahead.size() && !stops[static_cast<unsigned char>(ahead[n])]) ++n;
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
    if (copy_plain_run(source, output, quoted ? QUOTED_STOPS : PLAIN_STOPS)) previous = 0;
    last = source.read_char();
    if (quoted) {
      switch (last) {
        case '"':
          quoted = false;
          break;
        case '\n':
          output.write_text(CELL_LINE_BREAK);
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
          output.write_text(ROW_BREAK);
          break;
        case ';':
          output.write_text(CELL_BREAK);
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
