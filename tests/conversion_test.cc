// The export -> table rows and cells, checked byte for byte at several stream
// buffer sizes so that every buffer edge is crossed somewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "convert/page_texts.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

struct Case {
  const char* name;
  std::string export_text;
  std::string body;  // the table between FIRST_ROW_OPEN and the closing text
};

// Buffer sizes (source, output): the default ones and tiny ones.
const std::vector<std::pair<std::size_t, std::size_t>> kBuffers = {
    {DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER}, {1, 2}, {3, 7}, {16, 64}};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    for (auto [source_buffer, output_buffer] : kBuffers) {
      SCOPED_TRACE(std::string(c.name) + " with buffers " + std::to_string(source_buffer) + "/" +
                   std::to_string(output_buffer));
      EXPECT_EQ(table_body(convert_bytes(c.export_text, source_buffer, output_buffer)), c.body);
    }
  }
}

TEST(Conversion, RowsCellsAndQuotes) {
  using namespace std::string_literals;
  expect_cases({
      {"two lines", "Nom;Adresse\nJean;Paris\n",
       "Nom</td>\n<td>Adresse</td>\n</tr>\n<tr>\n<td>Jean</td>\n<td>Paris</td>\n</tr>\n"},
      {"CR LF line ends", "Nom;Adresse\r\nJean;Paris\r\n",
       "Nom</td>\n<td>Adresse</td>\n</tr>\n<tr>\n<td>Jean</td>\n<td>Paris</td>\n</tr>\n"},
      {"last line without line break keeps every cell", "A;Paris", "A</td>\n<td>Paris"},
      {"empty line in the middle", "a\n\nb\n",
       "a</td>\n</tr>\n<tr>\n<td></td>\n</tr>\n<tr>\n<td>b</td>\n</tr>\n"},
      {"rows of unequal length", "a;b;c\nd\n",
       "a</td>\n<td>b</td>\n<td>c</td>\n</tr>\n<tr>\n<td>d</td>\n</tr>\n"},
      {"quoted semicolon and line break", "\"a;b\nc\";d", "a;b<br>c</td>\n<td>d"},
      {"quoted CR LF", "\"a\r\nb\"", "a<br>b"},
      {"quote in mid-field opens a run", "x\"y;z\"w", "xy;zw"},
      {"doubled quotes vanish", "\"x\"\"y\"", "xy"},
      {"unterminated quoted run keeps its text", "a;\"b\nc", "a</td>\n<td>b<br>c"},
      {"unterminated run ending in a line break", "a;\"b\n", "a</td>\n<td>b<br>"},
      {"at sign inside quotes is copied", "\"a@b\";c", "a@b</td>\n<td>c"},
      {"markup passes through", "<b>x</b>\"&amp;\"", "<b>x</b>&amp;"},
      {"lone CR is a character", "a\rb\r", "a\rb\r"},
      {"CR before CR LF", "a\r\r\nb", "a\r</td>\n</tr>\n<tr>\n<td>b"},
      {"0xFF is a character", "\xFF;\xFF\n", "\xFF</td>\n<td>\xFF</td>\n</tr>\n"},
      {"Ctrl-Z ends the text", "a;b\x1A;c\nd\n", "a</td>\n<td>b"},
      {"NUL is a character", "a\0b"s, "a\0b"s},
      {"lone line break", "\n", "</td>\n</tr>\n"},
      {"ends with an empty quoted field", "a\n\"\"", "a</td>\n</tr>\n<tr>\n<td>"},
  });
}

TEST(Conversion, MailLinks) {
  using namespace std::string_literals;
  expect_cases({
      {"the typical export", "Nom;Adresse\nJean Dupont;abcd@ex.fr\n",
       "Nom</td>\n<td>Adresse</td>\n</tr>\n<tr>\n<td>Jean Dupont</td>\n"
       "<td><a href=\"mailto:abcd@ex.fr\">abcd@ex.fr</a><br></td>\n</tr>\n"},
      {"address followed by a semicolon", "a@b.fr;x",
       "<a href=\"mailto:a@b.fr\">a@b.fr</a></td>\n<td>x"},
      {"address then a space and text", "a@b.fr tel\n",
       "<a href=\"mailto:a@b.fr\">a@b.fr</a> tel</td>\n</tr>\n"},
      {"name then address", "Jean a@b.fr;", "Jean <a href=\"mailto:a@b.fr\">a@b.fr</a></td>\n<td>"},
      {"two addresses in a cell", "a@b c@d",
       "<a href=\"mailto:a@b\">a@b</a> <a href=\"mailto:c@d\">c@d</a>"},
      {"quoted text before the address", "\"x\"y@z", "<a href=\"mailto:xy@z\">xy@z</a>"},
      {"quoted line break before the address", "\"a\nb\"c@d",
       "a<br><a href=\"mailto:bc@d\">bc@d</a>"},
      {"quoted space before the address", "\"a b\"c@d", "a <a href=\"mailto:bc@d\">bc@d</a>"},
      {"quoted semicolon before the address", "\"a;b\"c@d", "a;<a href=\"mailto:bc@d\">bc@d</a>"},
      {"a tag in the cell stops the walk back", "x>y@z", "x><a href=\"mailto:y@z\">y@z</a>"},
      {"two at signs, one link", "a@b@c", "<a href=\"mailto:a@b@c\">a@b@c</a>"},
      {"cell starting with an at sign", "@x;", "<a href=\"mailto:@x\">@x</a></td>\n<td>"},
      {"address ending the export", "a;b@c", "a</td>\n<td><a href=\"mailto:b@c\">b@c</a>"},
      {"short address ending the export", "@", "<a href=\"mailto:@\">@</a>"},
      {"address ending at CR LF", "a@b\r\nc",
       "<a href=\"mailto:a@b\">a@b</a><br></td>\n</tr>\n<tr>\n<td>c"},
      {"quotes, tags, tab and CR belong to the address", "a@\"b<c>\td\re\";",
       "<a href=\"mailto:a@\"b<c>\td\re\"\">a@\"b<c>\td\re\"</a></td>\n<td>"},
      {"NUL inside an address", "a\0b@c\0d"s, "<a href=\"mailto:a\0b@c\0d\">a\0b@c\0d</a>"s},
      {"0xFF inside an address", "\xFF@\xFF", "<a href=\"mailto:\xFF@\xFF\">\xFF@\xFF</a>"},
      {"Ctrl-Z ends an address",
       "a@b\x1A"
       "c",
       "<a href=\"mailto:a@b\">a@b</a>"},
      {"at sign after a link's terminator", "a@b @c",
       "<a href=\"mailto:a@b\">a@b</a> <a href=\"mailto:@c\">@c</a>"},
  });
}

// The head follows the export's encoding; the table is the export's bytes
// either way, without a byte-order mark.
TEST(Conversion, Encodings) {
  const std::string limit(SOURCE_READ_AHEAD - 1, 'a');
  const struct {
    const char* name;
    std::string export_text;
    bool utf8;
  } cases[] = {
      {"ASCII", "Nom Mail", false},
      {"Windows-1252", "Pr\xE9nom", false},
      {"UTF-8", "Pr\xC3\xA9nom \xC5\x81ukasz", true},
      {"mark before Windows-1252", "\xEF\xBB\xBFPr\xE9nom", true},
      {"mark before ASCII", "\xEF\xBB\xBFNom", true},
      {"overlong", "a\xC0\xAF", false},
      {"surrogate", "a\xED\xA0\x80", false},
      {"above U+10FFFF", "a\xF4\x90\x80\x80", false},
      {"four bytes", "a\xF0\x9F\x93\x87", true},
      {"UTF-8 then a stray 0xE9", "\xC3\xA9\xE9", false},
      {"letter cut by the end", "ab\xC3", false},
      {"letter cut by Ctrl-Z", "ab\xC3\x1A\xA9", false},
      {"letter straddling the limit", limit + "\xC3\xA9x", true},
      {"letter cut by the limit and the end", limit + "\xC3", false},
      {"first letter after the limit", limit + "a\xC3\xA9", false},
      {"broken after the limit", limit + "ab\xE9", false},
      {"valid up to the limit, broken after", "\xC3\xA9" + limit + "\xE9", true},
  };
  for (const auto& c : cases) {
    for (auto [source_buffer, output_buffer] : kBuffers) {
      SCOPED_TRACE(std::string(c.name) + " with buffers " + std::to_string(source_buffer) + "/" +
                   std::to_string(output_buffer));
      std::string text = c.export_text;
      if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
      text.resize(std::min(text.find('\x1A'), text.size()));
      EXPECT_EQ(table_body(convert_bytes(c.export_text, source_buffer, output_buffer), c.utf8),
                text);
    }
  }
  const std::string head = convert_bytes("\xC3\xA9", DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER);
  EXPECT_TRUE(head.starts_with(
      "<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>Bookmark</title>\r\n"));
  EXPECT_NE(head.find(">R\xC3\xA9pertoire<"), std::string::npos);
}

// An address far longer than both stream buffers: the walk back and both
// copies of the address reach into what is already in the file.
TEST(Conversion, LongAddressWithSmallBuffers) {
  std::string before(5000, 'x'), after(3000, 'y');
  for (std::size_t i = 0; i < before.size(); i += 7) before[i] = 'a' + i % 26;
  std::string address = before + "@" + after;
  std::string expected = "n</td>\n<td><a href=\"mailto:" + address + "\">" + address +
                         "</a><br></td>\n</tr>\n<tr>\n<td>z";
  std::string text = "n;" + address + "\nz";
  EXPECT_EQ(table_body(convert_bytes(text, 16, 64)), expected);
  EXPECT_EQ(table_body(convert_bytes(text, 3, 5)), expected);
  EXPECT_EQ(table_body(convert_bytes(text, DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER)),
            expected);
}

// What the scan takes as structure: ";" and line breaks outside quotes and
// the quote characters that open and close runs. An address takes what
// follows its "@" up to a space, ";" or line break, quotes included.
std::string content_of(const std::string& text) {
  std::string kept;
  bool quoted = false, address = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool line_break = c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    if (address && (c == ' ' || c == ';' || line_break)) address = false;
    if (line_break) continue;
    if (address) {
      kept.push_back(c);
    } else if (c == '"') {
      quoted = !quoted;
    } else if (quoted || c != ';') {
      kept.push_back(c);
      if (!quoted && c == '@') address = true;
    }
  }
  return kept;
}

bool is_subsequence(const std::string& needle, const std::string& hay) {
  std::size_t j = 0;
  for (char c : hay)
    if (j < needle.size() && c == needle[j]) ++j;
  return j == needle.size();
}

// Thousands of small hostile exports: every run must end, leave a well-formed
// page, and keep every character of content in order.
TEST(Conversion, RandomExportsTerminateAndKeepTheirText) {
  const std::string alphabet[] = {";", "\"", "@", " ", "\n", "\r\n", "\r", "<", ">", "a", "b"};
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (unsigned n = next() % 60; n > 0; --n) text += alphabet[next() % std::size(alphabet)];
    if (text.empty()) continue;
    std::string page = convert_bytes(text, 1 + next() % 8, 2 + next() % 16);
    std::string body = table_body(page);
    ASSERT_TRUE(is_subsequence(content_of(text), body)) << "export: " << text;
    ASSERT_EQ(page.find('\xFF'), std::string::npos) << "filler left for export: " << text;
  }
}

}  // namespace
}  // namespace quillantrex::testing
