#include "reference_page.h"

#include <algorithm>
#include <cstddef>

#include "streams/source_stream.h"
#include "convert/page_conversion.h"
#include "convert/page_texts.h"
#include "convert/text_encoding.h"
#include "page_check.h"

namespace quillantrex {

std::string reference_page(std::string_view export_bytes) {
  const std::string text = export_text(export_bytes);
  // The head follows the export's encoding, judged on its raw bytes.
  const bool mark = export_bytes.starts_with("\xEF\xBB\xBF");
  std::string_view start = export_bytes.substr(mark ? 3 : 0);
  start = start.substr(0, std::min(start.find('\x1A'), SOURCE_READ_AHEAD + 1));
  std::string page = page_head(export_is_utf8(mark, start));
  page.reserve(2 * text.size() + 256);
  page += TABLE_OPEN;
  page += FIRST_ROW_OPEN;
  std::size_t backstep = 0;  // what the closing step writes over
  bool quoted = false;
  for (std::size_t i = 0;; ++i) {
    if (i == text.size()) {
      page.push_back(END_FILLER);
      backstep = !quoted && i > 0 && text[i - 1] == '\n' ? CLOSE_BACKSTEP : 1;
      break;
    }
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\n') {
        page += CELL_LINE_BREAK;
      } else {
        page.push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '\n') {
      page += ROW_BREAK;
    } else if (c == ';') {
      page += CELL_BREAK;
    } else if (c == '@') {
      // The address: what the page holds after the nearest ">", space or
      // ";", then the export up to a space, ";", line break or the end.
      const std::size_t start = page.find_last_of("> ;") + 1;
      const std::size_t end = text.find_first_of(" ;\n", i);
      std::string address = page.substr(start);
      address.append(text, i, end - i);
      page.resize(start);
      page.append("<a href=\"mailto:").append(address).append("\">").append(address).append("</a>");
      if (end == std::string::npos) break;  // nothing left to write over
      if (text[end] == '\n') page += CELL_LINE_BREAK;
      i = end - 1;  // the terminator is read again
    } else {
      page.push_back(c);
    }
  }
  page.erase(page.size() - backstep);
  page += TABLE_CLOSE;
  page += PAGE_FOOT;
  return crlf(page);
}

}  // namespace quillantrex
