// The page must not depend on the stream buffer sizes. With big buffers the
// scan converts whole blocks straight between the two buffers; with small
// ones it goes a character at a time; both must give the same bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "convert/byte_scan.h"
#include "convert/page_conversion.h"
#include "streams/file_access.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

// Contacts of eight to twelve fields, a third of them quoted (some holding
// ";" or a line break), one or two addresses each (some after a name),
// Windows-1252 accents, CR LF line ends.
std::string realistic_export(std::size_t size, Random random) {
  const char* const words[] = {"Dupont",
                               "H\xE9l\xE8ne",
                               "M\xFC"
                               "ller",
                               "12 rue des \xC9"
                               "coles",
                               "Paris",
                               "01 43 25 67 89",
                               "<b>VIP</b>",
                               ""};
  const char* const domains[] = {"example.fr", "mail.example.com", "firma.dk"};
  std::string text = "Nom;Pr\xE9nom;Adresse;Ville;T\xE9l\xE9phone;E-mail;Notes\r\n";
  while (text.size() < size) {
    const unsigned fields = 8 + random(5), mail = random(fields - 1);
    for (unsigned f = 0; f < fields; ++f) {
      std::string field = words[random(std::size(words))];
      if (f == mail || (f == mail + 1 && random(2))) {
        field = std::string(random(4) ? "" : "Jean Dupont ") + "jean.dupont" +
                std::to_string(random(100)) + "@" + domains[random(std::size(domains))];
      } else if (random(3) == 0) {
        field = random(4) ? "\"" + field + "\"" : "\"" + field + ";\r\n" + field + "\"";
      }
      text += (f > 0 ? ";" : "") + field;
    }
    text += "\r\n";
  }
  return text;
}

// Every way of classifying blocks that this processor runs.
const BlockPath kPaths[] = {BlockPath::plain, BlockPath::sse2, BlockPath::avx2};

// The pages are compared with EXPECT_TRUE, as a failed EXPECT_EQ would print
// megabytes.

TEST(BufferSizes, RealisticExportGivesTheSamePage) {
  const std::string text = realistic_export(3 << 20, Random{1});
  const std::string expected = convert_bytes(text, 17, 100);
  ASSERT_GT(expected.size(), 2 * text.size());
  const std::vector<std::pair<std::size_t, std::size_t>> buffers = {
      {4096, 4096}, {DEFAULT_SOURCE_BUFFER, 1000}, {333, DEFAULT_OUTPUT_BUFFER}};
  for (auto [source_buffer, output_buffer] : buffers) {
    SCOPED_TRACE(std::to_string(source_buffer) + "/" + std::to_string(output_buffer));
    EXPECT_TRUE(convert_bytes(text, source_buffer, output_buffer) == expected);
  }
  for (BlockPath path : kPaths) {
    SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)));
    EXPECT_TRUE(convert_bytes(text, DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER, path) ==
                expected);
  }
}

// The bulk scan stops just past a write boundary, where the window moves:
// every write but the last still ends on one (16 KiB in the small window,
// 64 KiB past it).
TEST(BufferSizes, PageWritesEndOnTheirGrain) {
  const std::string text = realistic_export(3 << 20, Random{3});
  const std::string expected =
      convert_bytes(text, DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER, BlockPath::plain);
  for (BlockPath path : kPaths) {
    SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)));
    std::string page;
    std::vector<PageWrite> writes;
    {
      SourceStream source(memory_source_file(text));
      OutputStream output(noted_page_file(page, writes));
      convert_table(source, output, path);
      EXPECT_TRUE(output.close());
    }
    EXPECT_TRUE(page == expected);
    ASSERT_GT(writes.size(), 10u);
    for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
      const std::uint64_t end = writes[i].offset + writes[i].size;
      const std::uint64_t grain = end > SMALL_PAGE + SMALL_WINDOW ? 64 * 1024 : 16 * 1024;
      EXPECT_EQ(end % grain, 0u) << "write " << i << " ends at " << end;
    }
  }
}

// Structure bytes everywhere, so that every one of them falls at every place
// in a block, a CR LF across two blocks included; now and then a run of
// plain text longer than one copy, or a link's start further back than the
// link writer's short reach.
TEST(BufferSizes, HostileExportsGiveTheSamePage) {
  const std::string alphabet[] = {
      ";", "\"", "@", " ", "\r\n", "\r", "\n", ">", "abc", "x", "\t", "\"\"", std::string(70, 'w')};
  Random random{7};
  for (int round = 0; round < 100; ++round) {
    std::string text;
    while (text.size() < 3000) text += alphabet[random(std::size(alphabet))];
    if (round % 4 == 0) text.insert(random(3000), "\x1A");
    SCOPED_TRACE(round);
    const std::string expected = convert_bytes(text, 5, 16);
    for (BlockPath path : kPaths) EXPECT_TRUE(convert_bytes(text, 4096, 4096, path) == expected);
  }
}

TEST(ByteScan, FindsTheStopWhereverItIs) {
  for (std::size_t size = 0; size < 40; ++size) {
    for (std::size_t at = 0; at <= size; ++at) {
      std::string text(size, 'a');
      if (at < size) text[at] = at % 2 ? ';' : '@';
      EXPECT_EQ((span_until<';', '@'>(text)), at) << size;
      EXPECT_EQ((span_through_last<';', '@'>(text)), at < size ? at + 1 : 0) << size;
    }
  }
}

}  // namespace
}  // namespace quillantrex::testing
