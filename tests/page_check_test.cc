// The fuzzer's page check, run here on the seed exports at several buffer
// sizes so that the ordinary test runs hold the same promises, and on
// spoiled pages to show that it notices what it is there to notice.
#include "page_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "reference_page.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

TEST(PageCheck, HoldsForEverySeed) {
  int seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUILLANTREX_SEEDS)) {
    const std::string text = read_file(entry.path().string());
    for (auto [source_buffer, output_buffer] :
         {std::pair<std::size_t, std::size_t>{DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER},
          {1, 2},
          {5, 17}}) {
      SCOPED_TRACE(entry.path().filename().string() + " with buffers " +
                   std::to_string(source_buffer) + "/" + std::to_string(output_buffer));
      const std::string page = convert_bytes(text, source_buffer, output_buffer);
      EXPECT_EQ(check_page(text, page), "");
      EXPECT_EQ(page, reference_page(text));
    }
    ++seeds;
  }
  EXPECT_GE(seeds, 5);
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  std::size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return s.replace(at, from.size(), to);
}

TEST(PageCheck, NoticesSpoiledPages) {
  const std::string text = "Nom;Mail\r\nJean \"a;b\";j@x.fr\r\n";
  const std::string page = convert_bytes(text, DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER);
  ASSERT_EQ(check_page(text, page), "");
  const std::string row_break = "</td>\r\n</tr>\r\n<tr>\r\n<td>";
  const std::string spoiled[] = {
      replaced(page, "<html>", "<htm>"),                   // head
      page.substr(0, page.size() - 1),                     // foot cut short
      replaced(page, "Nom", "No\nm"),                      // lone LF
      replaced(page, "Jean", "Je\xFFn"),                   // filler left
      replaced(page, row_break, "</td>\r\n<td>"),          // row lost
      replaced(page, "</td>\r\n<td>", ""),                 // cell lost
      replaced(page, "a;b", "ab"),                         // character lost
      replaced(page, "</tr>\r\n</td>\r\n</tr>", "</tr>"),  // closed as if no line break ended it
  };
  for (const std::string& p : spoiled) EXPECT_NE(check_page(text, p), "") << p;
}

}  // namespace
}  // namespace quillantrex::testing
