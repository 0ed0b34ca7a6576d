#include "convert/mail_link.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/byte_scan.h"
#include "convert/overshoot_copy.h"
#include "convert/page_texts.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"

namespace quillantrex {

namespace {

// What a link never reaches back over in the page: the end of a tag, and the
// separators that quoted text may have put there.
using LinkStops = ByteSet<'>', ' ', ';'>;

bool is_address_terminator(int c) {
  return c == ' ' || c == ';' || c == '\n' || c == END_OF_INPUT;
}

// Copies the address after the "@" to the page, up to its terminator, which
// it leaves in `last`. Runs of bytes that cannot end the address go in bulk;
// a CR is one only when it starts a CR LF line break.
void copy_address(SourceStream& source, OutputStream& output, int& last) {
  for (;;) {
    std::string_view ahead = source.buffered();
    std::size_t n = AddressEnds::span_until(ahead);
    if (n > 0) {
      output.write_plain(ahead.substr(0, n));
      source.skip(n);
    }
    last = source.read_char();
    if (is_address_terminator(last)) return;
    output.write_char(last);
  }
}

// The mark just after the nearest stop before `at`, walking back through the
// page a window at a time: the end of a tag, or a separator that quoted text
// put in the page. 0 if there is none (or the page cannot be read back).
std::uint64_t find_link_start(OutputStream& output, std::uint64_t at) {
  for (;;) {
    std::string_view before = output.held_before(at);
    if (before.empty()) return 0;
    if (std::size_t n = LinkStops::span_through_last(before)) return at - before.size() + n;
    at -= before.size();
  }
}

// What ends the walk back through the export: what a link never reaches
// back over in the page, a line break, which the page holds as a text that
// ends in ">", and a quote, which the page does not hold at all.
using ExportLinkStops = ByteSet<'>', ' ', ';', '\n', '"'>;

}  // namespace

std::size_t short_prefix_in_page(const char* at, std::size_t held) {
  held = std::min(held, SHORT_PREFIX);
  const std::size_t prefix = held - LinkStops::span_through_last(std::string_view(at - held, held));
  return prefix < held ? prefix : NO_SHORT_PREFIX;
}

std::size_t short_prefix_in_export(const char* at_sign, std::size_t before) {
  before = std::min(before, SHORT_PREFIX);
  const std::size_t stop =
      ExportLinkStops::span_through_last(std::string_view(at_sign - before, before));
  // Past a quote, the page holds fewer bytes than the export.
  if (stop == 0 || (at_sign - before)[stop - 1] == '"') return NO_SHORT_PREFIX;
  return before - stop;
}

namespace {

// link_in_place() on the streams' buffers. False, having changed nothing,
// where it refuses.
bool write_link_in_window(SourceStream& source, OutputStream& output, int& last) {
  const OutputStream::EndWindow window = output.end_window(0);
  if (window.at == nullptr) return false;
  const std::size_t prefix = short_prefix_in_page(window.at, window.held);
  // With no stop that near, the link may start further back.
  if (prefix == NO_SHORT_PREFIX) return false;
  const LinkInPlace link =
      link_in_place(window.at, prefix, window.at - prefix, window.room, source.buffered());
  if (link.end == nullptr) return false;
  output.commit(link.start, link.end);
  last = link.last;
  // The scan reads the terminator again and writes what it stands for.
  source.skip(link.address_rest);
  return true;
}

}  // namespace

void write_mail_link(SourceStream& source, OutputStream& output, int& last) {
  if (write_link_in_window(source, output, last)) return;
  // The characters in front of the "@" are already in the page; the link
  // starts after the stop before them. A link's text never holds a line
  // break, so from here on page positions are byte offsets.
  const std::uint64_t at_sign = output.mark();
  const std::uint64_t start = find_link_start(output, at_sign);
  const std::uint64_t address = start + LINK_START.size();

  // Move that first part of the address aside to make room for the opening
  // text; the address can be any length, so it is moved in the file, not
  // held in memory.
  output.copy(start, address, at_sign - start);
  output.seek_mark(start);
  output.write_plain(LINK_START);
  output.seek_mark(address + (at_sign - start));
  output.write_char('@');
  copy_address(source, output, last);

  // The visible text is the href's address again, read back from the page.
  const std::uint64_t address_end = output.mark();
  output.write_plain(LINK_TAIL_HEAD);
  output.copy(address, output.mark(), address_end - address);
  output.write_plain(LINK_TAIL_END);
  if (last == '\n') output.write_plain(CELL_LINE_BREAK);

  // The scan reads the terminator again and writes what it stands for.
  source.step_back(1);
}

}  // namespace quillantrex
