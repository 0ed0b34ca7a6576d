#include "page_check.h"

#include <cstddef>
#include <vector>

#include "convert/page_conversion.h"
#include "convert/page_texts.h"

namespace quillantrex {

namespace {

using Row = std::vector<std::string>;

struct Table {
  std::vector<Row> rows;
  // The export ended with a line break outside quoted runs: the page then
  // keeps that last row's closing tags in front of TABLE_CLOSE.
  bool ends_with_row_break = false;
};

// The table a reader should see, each cell holding the export's characters
// that are not structure. Read as the scan reads: a quote opens or closes a
// run; ";" and line breaks outside runs part cells and rows; an address,
// from an "@" outside a run to the next space, ";" or line break, takes quote
// characters into itself.
Table expected_table(const std::string& text) {
  Table t;
  t.rows.emplace_back(1);
  bool quoted = false, address = false;
  for (char c : text) {
    t.ends_with_row_break = false;
    if (address && (c == ' ' || c == ';' || c == '\n')) address = false;
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c != '\n') {  // a quoted line break shows as "<br>"
        t.rows.back().back().push_back(c);
      }
    } else if (address) {
      t.rows.back().back().push_back(c);
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      t.rows.back().emplace_back();
    } else if (c == '\n') {
      t.rows.emplace_back(1);
      t.ends_with_row_break = true;
    } else {
      t.rows.back().back().push_back(c);
      address = c == '@';
    }
  }
  if (t.ends_with_row_break) t.rows.pop_back();
  return t;
}

std::string crlf(std::string_view text) {
  std::string stored;
  stored.reserve(text.size() + text.size() / 4);
  for (char c : text) {
    if (c == '\n') stored.push_back('\r');
    stored.push_back(c);
  }
  return stored;
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool is_subsequence(std::string_view needle, std::string_view hay) {
  std::size_t j = 0;
  for (char c : hay)
    if (j < needle.size() && c == needle[j]) ++j;
  return j == needle.size();
}

// Reads the table back from its lines. The export can put no line break into
// the page (a line break always becomes structure or "<br>"), so every CR LF
// in the table is one of the page's own and each line is a tag or a cell.
std::string parse_table(std::string_view lines, Table& t) {
  std::vector<std::string_view> line;
  for (std::size_t at; (at = lines.find("\r\n")) != std::string_view::npos;) {
    line.push_back(lines.substr(0, at));
    lines.remove_prefix(at + 2);
  }
  std::size_t i = 0;
  while (i < line.size() && line[i] == "<tr>") {
    Row& row = t.rows.emplace_back();
    for (++i; i < line.size() && starts_with(line[i], "<td>"); ++i) {
      if (!ends_with(line[i], "</td>"))
        return "cell not closed in row " + std::to_string(t.rows.size());
      row.emplace_back(line[i].substr(4, line[i].size() - 9));
    }
    if (row.empty()) return "row " + std::to_string(t.rows.size()) + " has no cell";
    if (i == line.size() || line[i] != "</tr>")
      return "row " + std::to_string(t.rows.size()) + " not closed";
    ++i;
  }
  if (i + 2 == line.size() && line[i] == "</td>" && line[i + 1] == "</tr>") {
    t.ends_with_row_break = true;
  } else if (i != line.size()) {
    return "unexpected line after row " + std::to_string(t.rows.size());
  }
  return "";
}

}  // namespace

std::string export_text(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);  // a UTF-8 byte-order mark
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

std::string check_page(std::string_view export_bytes, std::string_view page) {
  const std::string text = export_text(export_bytes);
  for (std::size_t i = 0; i < page.size(); ++i) {
    if (page[i] == '\n' && (i == 0 || page[i - 1] != '\r'))
      return "line break not stored as CR LF at byte " + std::to_string(i);
  }
  if (text.find('\xFF') == std::string::npos && page.find('\xFF') != std::string_view::npos)
    return "filler byte 0xFF left in the page";

  // Either head; which one the export gets, the comparison with the plain
  // conversion tells.
  std::string head = crlf(page_head(false) + std::string(TABLE_OPEN));
  if (const std::string utf8 = crlf(page_head(true) + std::string(TABLE_OPEN));
      starts_with(page, utf8))
    head = utf8;
  const std::string tail = crlf(std::string(TABLE_CLOSE) + std::string(PAGE_FOOT));
  const std::string first_row = crlf(FIRST_ROW_OPEN);
  if (!starts_with(page, head + first_row)) return "page does not start with the head and table";
  if (!ends_with(page, tail) || page.size() < head.size() + first_row.size() + tail.size())
    return "page does not end with the table's closing and the foot";

  // From the line break after TABLE_OPEN to the one before "</table>".
  const std::string table_end = crlf("</table>\n" + std::string(PAGE_FOOT));
  std::string_view lines = page.substr(head.size() + 2);
  lines.remove_suffix(table_end.size());
  Table seen;
  if (std::string error = parse_table(lines, seen); !error.empty()) return error;

  const Table expected = expected_table(text);
  if (seen.rows.size() != expected.rows.size())
    return std::to_string(seen.rows.size()) + " rows, expected " +
           std::to_string(expected.rows.size());
  if (seen.ends_with_row_break != expected.ends_with_row_break)
    return "last row closed as if the export ended otherwise";
  for (std::size_t r = 0; r < seen.rows.size(); ++r) {
    const std::string where = "row " + std::to_string(r + 1);
    if (seen.rows[r].size() != expected.rows[r].size())
      return where + " has " + std::to_string(seen.rows[r].size()) + " cells, expected " +
             std::to_string(expected.rows[r].size());
    for (std::size_t c = 0; c < seen.rows[r].size(); ++c) {
      if (!is_subsequence(expected.rows[r][c], seen.rows[r][c]))
        return where + " cell " + std::to_string(c + 1) + " lost characters of the export";
    }
  }
  return "";
}

}  // namespace quillantrex
