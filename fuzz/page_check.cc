#include "page_check.h"

#include <cstddef>
#include <vector>

#include "convert/page_conversion.h"
#include "convert/page_texts.h"

namespace quillantrex {

namespace {

// A table kept flat, so that reading one costs a few allocations rather
// than one per cell: the cells' characters end to end, where each cell ends
// in them, and how many cells there are up to the end of each row.
struct Table {
  std::string chars;
  std::vector<std::size_t> cell_ends;
  std::vector<std::size_t> row_ends;
  // The export ended with a line break outside quoted runs: the page then
  // keeps that last row's closing tags in front of TABLE_CLOSE.
  bool ends_with_row_break = false;

  void end_cell() { cell_ends.push_back(chars.size()); }
  void end_row() { row_ends.push_back(cell_ends.size()); }
  std::size_t first_cell(std::size_t row) const { return row == 0 ? 0 : row_ends[row - 1]; }
  std::string_view cell(std::size_t k) const {
    const std::size_t begin = k == 0 ? 0 : cell_ends[k - 1];
    return std::string_view(chars).substr(begin, cell_ends[k] - begin);
  }
};

// The table a reader should see, each cell holding the export's characters
// that are not structure. Read as the scan reads: a quote opens or closes a
// run; ";" and line breaks outside runs part cells and rows; an address,
// from an "@" outside a run to the next space, ";" or line break, takes quote
// characters into itself.
Table expected_table(std::string_view text) {
  Table t;
  t.chars.reserve(text.size());
  bool quoted = false, address = false;
  for (char c : text) {
    t.ends_with_row_break = false;
    if (address && (c == ' ' || c == ';' || c == '\n')) address = false;
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c != '\n') {  // a quoted line break shows as "<br>"
        t.chars.push_back(c);
      }
    } else if (address) {
      t.chars.push_back(c);
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      t.end_cell();
    } else if (c == '\n') {
      t.end_cell();
      t.end_row();
      t.ends_with_row_break = true;
    } else {
      t.chars.push_back(c);
      address = c == '@';
    }
  }
  if (!t.ends_with_row_break) {
    t.end_cell();
    t.end_row();
  }
  return t;
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
  std::string_view line;
  auto next = [&lines, &line] {
    const std::size_t at = lines.find("\r\n");
    if (at == std::string_view::npos) return false;
    line = lines.substr(0, at);
    lines.remove_prefix(at + 2);
    return true;
  };
  bool more = next();
  while (more && line == "<tr>") {
    const std::string row = "row " + std::to_string(t.row_ends.size() + 1);
    const std::size_t first = t.cell_ends.size();
    while ((more = next()) && line.starts_with("<td>")) {
      if (!line.ends_with("</td>")) return "cell not closed in " + row;
      t.chars += line.substr(4, line.size() - 9);
      t.end_cell();
    }
    if (t.cell_ends.size() == first) return row + " has no cell";
    t.end_row();
    if (!more || line != "</tr>") return row + " not closed";
    more = next();
  }
  if (!more) return "";
  if (line == "</td>" && next() && line == "</tr>" && !next()) {
    t.ends_with_row_break = true;
    return "";
  }
  return "unexpected line after row " + std::to_string(t.row_ends.size());
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

std::string crlf(std::string_view text) {
  std::string stored;
  stored.reserve(text.size() + text.size() / 4);
  for (char c : text) {
    if (c == '\n') stored.push_back('\r');
    stored.push_back(c);
  }
  return stored;
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
  // conversion tells. The fixed texts are made once.
  static const std::string plain_head = crlf(page_head(false) + std::string(TABLE_OPEN));
  static const std::string utf8_head = crlf(page_head(true) + std::string(TABLE_OPEN));
  static const std::string first_row = crlf(FIRST_ROW_OPEN);
  static const std::string tail = crlf(std::string(TABLE_CLOSE) + std::string(PAGE_FOOT));
  static const std::string table_end = crlf("</table>\n" + std::string(PAGE_FOOT));
  const std::string& head = page.starts_with(utf8_head) ? utf8_head : plain_head;
  if (!page.starts_with(head) || !page.substr(head.size()).starts_with(first_row))
    return "page does not start with the head and table";
  if (!page.ends_with(tail) || page.size() < head.size() + first_row.size() + tail.size())
    return "page does not end with the table's closing and the foot";

  // From the line break after TABLE_OPEN to the one before "</table>".
  std::string_view lines = page.substr(head.size() + 2);
  lines.remove_suffix(table_end.size());
  Table seen;
  seen.chars.reserve(lines.size());
  if (std::string error = parse_table(lines, seen); !error.empty()) return error;

  const Table expected = expected_table(text);
  const std::size_t rows = seen.row_ends.size();
  if (rows != expected.row_ends.size())
    return std::to_string(rows) + " rows, expected " + std::to_string(expected.row_ends.size());
  if (seen.ends_with_row_break != expected.ends_with_row_break)
    return "last row closed as if the export ended otherwise";
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t cells = seen.row_ends[r] - seen.first_cell(r);
    const std::size_t expected_cells = expected.row_ends[r] - expected.first_cell(r);
    if (cells != expected_cells)
      return "row " + std::to_string(r + 1) + " has " + std::to_string(cells) +
             " cells, expected " + std::to_string(expected_cells);
    for (std::size_t c = 0; c < cells; ++c) {
      if (!is_subsequence(expected.cell(expected.first_cell(r) + c),
                          seen.cell(seen.first_cell(r) + c)))
        return "row " + std::to_string(r + 1) + " cell " + std::to_string(c + 1) +
               " lost characters of the export";
    }
  }
  return "";
}

}  // namespace quillantrex
