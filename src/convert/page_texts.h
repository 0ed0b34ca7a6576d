// Every fixed text the tool writes into the page, and the few numbers that
// go with them. "\n" is one line break; the output stream stores it as CR LF.
#ifndef QUILLANTREX_CONVERT_PAGE_TEXTS_H_
#define QUILLANTREX_CONVERT_PAGE_TEXTS_H_

#include <optional>
#include <string_view>

namespace quillantrex {

// The page's heading holds one Windows-1252 letter: 0xE9 is "é".
inline constexpr std::string_view PAGE_HEAD =
    "<html>\n"
    "<head>\n"
    "<title>Bookmark</title>\n"
    "<style>\n"
    "<!--\n"
    "body         { font-family: Arial }\n"
    "-->\n"
    "</style>\n"
    "</head>\n"
    "<body bgcolor=\"#C0C0C0\" background=\"../bkg03.jpg\" link=\"#0000FF\" "
    "vlink=\"#0066FF\" alink=\"#00FFFF\">\n"
    "<p align=\"center\"><font size=\"7\">R\xE9pertoire</font></p>\n"
    "<p><a href=\"menu.html\"><img src=\"../b_back.png\" alt=\"b_back.gif (904 bytes)\" "
    "border=\"0\" width=\"40\" height=\"40\"></a></p>\n"
    "<p>(This page is only for private use. You shouldn't see that page)</p>\n";

// A UTF-8 export gets a UTF-8 page: its head declares the charset on a line
// of its own right after "<head>", and the heading's "é" is written in UTF-8.
// Nothing else of the page changes.
inline constexpr std::string_view UTF8_CHARSET_LINE = "<meta charset=\"utf-8\">\n";
inline constexpr std::string_view UTF8_HEADING_LETTER = "\xC3\xA9";

inline constexpr std::string_view TABLE_OPEN = "<table border=\"1\" width=\"100%\">";
inline constexpr std::string_view FIRST_ROW_OPEN = "\n<tr>\n<td>";
inline constexpr std::string_view ROW_BREAK = "</td>\n</tr>\n<tr>\n<td>";
inline constexpr std::string_view CELL_BREAK = "</td>\n<td>";
inline constexpr std::string_view CELL_LINE_BREAK = "<br>";
inline constexpr std::string_view TABLE_CLOSE = "</td>\n</tr>\n</table>\n";

// The export's bytes whose place in the page is not the byte itself, and
// what each becomes outside a quoted run and inside one. A quote becomes
// nothing: it opens or closes the run. So does the CR of a CR LF, whose LF
// stands for the line break. ";" ends the cell; in quotes it is a character
// like any other and has no entry. A line break ends the row or, in quotes,
// the line of the cell.
inline constexpr char STRUCTURE_BYTES[] = {'"', ';', '\n', '\r'};

constexpr std::optional<std::string_view> structure_text(char byte, bool quoted) {
  switch (byte) {
    case '"':
    case '\r':
      return std::string_view();
    case ';':
      if (quoted) return std::nullopt;
      return CELL_BREAK;
    case '\n':
      return quoted ? CELL_LINE_BREAK : ROW_BREAK;
    default:
      return std::nullopt;
  }
}

inline constexpr std::string_view PAGE_FOOT =
    "<p>&nbsp;</p>\n"
    "<p><a href=\"menu.html\"><img src=\"../b_back.png\" alt=\"b_back.gif (904 bytes)\" "
    "border=\"0\"></a></p>\n"
    "</body>\n"
    "</html>";

// Written where the scan meets the end of input; the closing step always
// writes over it.
inline constexpr char END_FILLER = '\xFF';

// Characters the closing step moves back when the export ended with a line
// break: the "<tr>\n<td>" that the last ROW_BREAK opened, and END_FILLER.
inline constexpr int CLOSE_BACKSTEP = 10;

// An e-mail link: LINK_OPEN rewrites the ">" before the address, and the
// address goes into the tail's "%s" as well as into the href.
inline constexpr std::string_view LINK_OPEN = "><a href=\"mailto:";
inline constexpr std::string_view LINK_TAIL_FORMAT = "\">%s</a>";

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_PAGE_TEXTS_H_
