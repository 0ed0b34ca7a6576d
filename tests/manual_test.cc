// The manual page against the texts the tool really writes: a user who looks
// up a message or a file name in the manual must find it there verbatim.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "cli/console_texts.h"
#include "cli/driver.h"
#include "convert/page_texts.h"

namespace quillantrex::testing {
namespace {

// The manual as man shows it, on lines long enough that no paragraph wraps.
std::string render_manual() {
  std::string text;
  std::FILE* groff =
      ::popen("groff -man -Tutf8 -P-cbou -rLL=2000n '" QUILLANTREX_MANUAL "' 2>/dev/null", "r");
  if (groff == nullptr) return text;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, groff)) > 0;) text.append(chunk, n);
  ::pclose(groff);
  return text;
}

std::string_view trim(std::string_view s) {
  std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::set<std::string, std::less<>> trimmed_lines(std::string_view text) {
  std::set<std::string, std::less<>> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace(trim(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

std::string fill(std::string_view format, std::string_view text) {
  std::size_t at = format.find("%s");
  return std::string(format.substr(0, at)) + std::string(text) + std::string(format.substr(at + 2));
}

// Every line of every console message stands on a line of its own in the
// manual ("name" for the export's name).
TEST(Manual, ListsEveryConsoleMessageVerbatim) {
  const std::string manual = render_manual();
  ASSERT_NE(manual.find("QUILLANTREX(1)"), std::string::npos) << "groff did not render the manual";
  const auto lines = trimmed_lines(manual);
  const std::string output(OUTPUT_NAME);
  for (const std::string& message : {
           std::string(BANNER),
           std::string(PROMPT),
           fill(SOURCE_ERROR_FORMAT, "name"),
           fill(PROGRESS_FORMAT, "name"),
           fill(DESTINATION_ERROR_FORMAT, output),
           std::string(SAME_FILE_ERROR),
           std::string(EMPTY_SOURCE_ERROR),
           std::string(READ_ERROR),
           fill(WRITE_ERROR_FORMAT, output),
           std::string(DONE),
           std::string(CLOSING_BANNER),
           std::string(PRESS_ENTER),
       }) {
    for (const auto& line : trimmed_lines(message)) {
      if (!line.empty()) {
        EXPECT_TRUE(lines.contains(line)) << "not in the manual: \"" << line << '"';
      }
    }
  }
}

// The files and texts of the page that the manual tells the reader about.
TEST(Manual, NamesWhatThePageHolds) {
  const std::string manual = render_manual();
  const std::string page = std::string(PAGE_HEAD) + std::string(PAGE_FOOT);
  for (std::string_view text :
       {"menu.html", "../bkg03.jpg", "../b_back.png", "b_back.gif (904 bytes)", "Bookmark",
        "#C0C0C0", "#0000FF", "(This page is only for private use. You shouldn't see that page)"}) {
    EXPECT_NE(page.find(text), std::string::npos) << "not in the page: " << text;
    EXPECT_NE(manual.find(text), std::string::npos) << "not in the manual: " << text;
  }
}

}  // namespace
}  // namespace quillantrex::testing
