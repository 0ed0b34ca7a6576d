// The export -> table rows and cells, checked byte for byte. Each case runs
// at several stream buffer sizes, so that every buffer edge is crossed
// somewhere, and padded on every block path, so that the block scan and the
// link writer's fast path see it as well as the character scan.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "convert/page_texts.h"
#include "page_check.h"
#include "reference_page.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

using namespace std::string_literals;

struct Case {
  std::string name;
  std::string export_text;
  std::string body;  // the table between FIRST_ROW_OPEN and the closing text
  bool utf8 = false;
  bool whole_export = false;  // depends on where the export starts and ends
  friend void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
};

// How a case is run. Padded, it follows a plain row that starts it three
// bytes before the end of a block, and is followed by a space and enough
// plain text for the blocks and the link writer's fast path to reach past
// its end: the space ends an address that ended the export, or joins the
// last cell. A case that must be the whole export is followed by a Ctrl-Z
// instead, and the text after it only fills the buffer.
struct Pass {
  std::string name;
  std::size_t source_buffer = DEFAULT_SOURCE_BUFFER, output_buffer = DEFAULT_OUTPUT_BUFFER;
  BlockPath path = fastest_block_path();
  bool padded = false;
  friend void PrintTo(const Pass& pass, std::ostream* out) { *out << pass.name; }
};

const std::vector<Pass> kPasses = {
    {.name = ""},
    {.name = "buffers_1_2", .source_buffer = 1, .output_buffer = 2},
    {.name = "buffers_3_7", .source_buffer = 3, .output_buffer = 7},
    {.name = "buffers_16_64", .source_buffer = 16, .output_buffer = 64},
    {.name = "plain_padded", .path = BlockPath::plain, .padded = true},
    {.name = "sse2_padded", .path = BlockPath::sse2, .padded = true},
    {.name = "avx2_padded", .path = BlockPath::avx2, .padded = true},
};
const std::string kPadCell(2 * CLASS_BLOCK - 4, 'p');
const std::string kFill(2 * CLASS_BLOCK, 'p');

using CasePass = std::tuple<Case, Pass>;

class TableCase : public ::testing::TestWithParam<CasePass> {
 protected:
  void check() {
    const auto& [c, pass] = GetParam();
    if (runnable_block_path(pass.path) != pass.path) GTEST_SKIP() << "the processor lacks it";
    std::string text = c.export_text, body = c.body;
    if (pass.padded && c.whole_export) {
      text += "\x1A" + kFill;
    } else if (pass.padded) {
      text = kPadCell + "\n" + text + " " + kFill;
      body = kPadCell + std::string(ROW_BREAK) + body;
      // After a Ctrl-Z the text is over. Otherwise, a line break that ended
      // the export no longer ends the table: the row it opened stays.
      if (c.export_text.find('\x1A') == std::string::npos)
        body += (body.ends_with('\n') ? "<tr>\n<td> " : " ") + kFill;
    }
    const std::string page = convert_bytes(text, pass.source_buffer, pass.output_buffer, pass.path);
    EXPECT_EQ(table_body(page, c.utf8), body);
  }
};

std::string case_name(const ::testing::TestParamInfo<CasePass>& info) {
  const auto& [c, pass] = info.param;
  std::string name;
  for (char ch : c.name + " " + pass.name) {
    const bool alnum = std::isalnum(static_cast<unsigned char>(ch));
    if (alnum || !name.ends_with('_')) name += alnum ? ch : '_';
  }
  while (name.ends_with('_')) name.pop_back();
  return name;
}

// A suite for a table of cases, each case on every pass.
#define QUILLANTREX_TABLE_SUITE(Table, cases) \
  class Table : public TableCase {};          \
  TEST_P(Table, Case) {                       \
    check();                                  \
  }                                           \
  INSTANTIATE_TEST_SUITE_P(                   \
      Conversion, Table,                      \
      ::testing::Combine(::testing::ValuesIn(cases), ::testing::ValuesIn(kPasses)), case_name)

const std::vector<Case> kRowsCellsAndQuotes = {
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
    // Padded, byte 35 is byte 32 of a block, where the block scan cuts a
    // long gap with the byte itself.
    {"quoted semicolon cutting a long gap", "\"" + std::string(34, 'a') + ";b\nc\"",
     std::string(34, 'a') + ";b<br>c"},
    {"at sign in quotes cutting a long gap", "\"" + std::string(34, 'a') + "@b\"",
     std::string(34, 'a') + "@b"},
    {"CR alone cutting a long gap", std::string(35, 'a') + "\rb", std::string(35, 'a') + "\rb"},
    {"at sign inside quotes is copied", "\"a@b\";c", "a@b</td>\n<td>c"},
    {"markup passes through", "<b>x</b>\"&amp;\"", "<b>x</b>&amp;"},
    {"lone CR is a character", "a\rb\r", "a\rb\r"},
    {"CR before CR LF", "a\r\r\nb", "a\r</td>\n</tr>\n<tr>\n<td>b"},
    {"0xFF is a character", "\xFF;\xFF\n", "\xFF</td>\n<td>\xFF</td>\n</tr>\n"},
    {"Ctrl-Z ends the text", "a;b\x1A;c\nd\n", "a</td>\n<td>b"},
    {"Ctrl-Z in quotes ends the text",
     "\"a\x1A"
     "b\";c",
     "a"},
    {"NUL is a character", "a\0b"s, "a\0b"s},
    {"lone line break", "\n", "</td>\n</tr>\n"},
    {"ends with an empty quoted field", "a\n\"\"", "a</td>\n</tr>\n<tr>\n<td>"},
};
QUILLANTREX_TABLE_SUITE(RowsCellsAndQuotes, kRowsCellsAndQuotes);

// An address far longer than both stream buffers: the walk back and both
// copies of the address reach into what is already in the file.
const std::string kLongAddress = [] {
  std::string address = std::string(5000, 'x') + "@" + std::string(3000, 'y');
  for (std::size_t i = 0; i < 5000; i += 7) address[i] = 'a' + i % 26;
  return address;
}();

// The link an address becomes.
std::string link(const std::string& address) {
  return "<a href=\"mailto:" + address + "\">" + address + "</a>";
}

// An address whose link starts after a ";" `n` bytes before its "@", and
// one whose terminator stands `n` bytes after it.
Case stop_back(std::size_t n) {
  const std::string address = std::string(n - 1, 'n') + "@x";
  return {"a stop " + std::to_string(n) + " bytes back", ";" + address + ";",
          "</td>\n<td>" + link(address) + "</td>\n<td>"};
}
Case terminator_on(std::size_t n) {
  const std::string address = "a@" + std::string(n - 1, 'b');
  return {"a terminator " + std::to_string(n) + " bytes on", address + ";",
          link(address) + "</td>\n<td>"};
}

const std::vector<Case> kMailLinks = {
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
    // The start taken from the page, more than one copy long, under the
    // link's opening.
    {"quoted text before an address longer than a copy", "\"x\"" + std::string(40, 'y') + "@z;",
     link("x" + std::string(40, 'y') + "@z") + "</td>\n<td>"},
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
    // Padded, these put the "@" in the block after the one that holds the
    // link's start, or the address's end.
    {"name reaching back a block", "abcdefgh@x;",
     "<a href=\"mailto:abcdefgh@x\">abcdefgh@x</a></td>\n<td>"},
    {"quote a block back", "\"a\"bcdefgh@x;",
     "<a href=\"mailto:abcdefgh@x\">abcdefgh@x</a></td>\n<td>"},
    {"address reaching a block on", "a@" + std::string(70, 'b') + ";",
     link("a@" + std::string(70, 'b')) + "</td>\n<td>"},
    // A link's classes look 32 bytes back from the "@" and 32 on, then 64:
    // the stop or the terminator just within each and just past it.
    stop_back(32),
    stop_back(33),
    terminator_on(32),
    terminator_on(33),
    stop_back(64),
    stop_back(65),
    {"a quote 64 bytes back", "\"a\"" + std::string(63, 'n') + "@x;",
     link("a" + std::string(63, 'n') + "@x") + "</td>\n<td>"},
    terminator_on(64),
    terminator_on(65),
    {"address longer than the buffers", "n;" + kLongAddress + "\nz",
     "n</td>\n<td>" + link(kLongAddress) + "<br></td>\n</tr>\n<tr>\n<td>z"},
};
QUILLANTREX_TABLE_SUITE(MailLinks, kMailLinks);

// The head follows the export's encoding, judged at its start; the table is
// the export's bytes either way, without a byte-order mark.
Case encoding(std::string name, std::string export_bytes, bool utf8) {
  return {name, export_bytes, export_text(export_bytes), utf8, true};
}

const std::string kLimit(SOURCE_READ_AHEAD - 1, 'a');
const std::vector<Case> kEncodings = {
    encoding("ASCII", "Nom Mail", false),
    encoding("Windows-1252", "Pr\xE9nom", false),
    encoding("UTF-8", "Pr\xC3\xA9nom \xC5\x81ukasz", true),
    encoding("mark before Windows-1252", "\xEF\xBB\xBFPr\xE9nom", true),
    encoding("mark before ASCII", "\xEF\xBB\xBFNom", true),
    encoding("overlong", "a\xC0\xAF", false),
    encoding("surrogate", "a\xED\xA0\x80", false),
    encoding("above U+10FFFF", "a\xF4\x90\x80\x80", false),
    encoding("four bytes", "a\xF0\x9F\x93\x87", true),
    encoding("UTF-8 then a stray 0xE9", "\xC3\xA9\xE9", false),
    encoding("letter cut by the end", "ab\xC3", false),
    encoding("letter cut by Ctrl-Z", "ab\xC3\x1A\xA9", false),
    encoding("letter straddling the limit", kLimit + "\xC3\xA9x", true),
    encoding("letter cut by the limit and the end", kLimit + "\xC3", false),
    encoding("first letter after the limit", kLimit + "a\xC3\xA9", false),
    encoding("broken after the limit", kLimit + "ab\xE9", false),
    encoding("valid up to the limit, broken after", "\xC3\xA9" + kLimit + "\xE9", true),
};
QUILLANTREX_TABLE_SUITE(Encodings, kEncodings);

TEST(Conversion, Utf8Head) {
  const std::string head = convert_bytes("\xC3\xA9", DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER);
  EXPECT_TRUE(head.starts_with(
      "<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>Bookmark</title>\r\n"));
  EXPECT_NE(head.find(">R\xC3\xA9pertoire<"), std::string::npos);
}

// Thousands of small hostile exports through tiny buffers: every run must
// end with the page that the fuzzer's checks and plain conversion expect.
TEST(Conversion, RandomExportsTerminateAndKeepTheirText) {
  const std::string alphabet[] = {";", "\"", "@", " ", "\n", "\r\n", "\r", "<", ">", "a", "b"};
  Random random{12345};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (unsigned n = random(60); n > 0; --n) text += alphabet[random(std::size(alphabet))];
    if (text.empty()) continue;
    const std::string page = convert_bytes(text, 1 + random(8), 2 + random(16));
    ASSERT_EQ(check_page(text, page), "") << "export: " << text;
    ASSERT_EQ(page, reference_page(text)) << "export: " << text;
  }
}

}  // namespace
}  // namespace quillantrex::testing
