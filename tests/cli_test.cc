// The built tool run as a process in a temporary directory: console
// transcript, exit status and what is left on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "cli/console_texts.h"
#include "convert/page_texts.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

const std::string kBanner(BANNER);
const std::string kDone = std::string(DONE) + std::string(CLOSING_BANNER);
constexpr int kFailed = FAILED_EXIT;

std::string source_error(const std::string& name) {
  return "Error while accessing the source file: " + name + "\n";
}

TEST(Tool, ConvertsTheNamedExport) {
  TempDir dir;
  write_file(dir / "c.csv", "Nom;Mail\r\nJean;j@x.fr\r\n");
  RunResult r = run_tool_process(dir.path(), {"c.csv", "ignored.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, kBanner + "c.csv -> " + kDone);
  EXPECT_EQ(table_body(read_file(dir / "carnet.htm")),
            "Nom</td>\n<td>Mail</td>\n</tr>\n<tr>\n<td>Jean</td>\n"
            "<td><a href=\"mailto:j@x.fr\">j@x.fr</a><br></td>\n</tr>\n");
}

TEST(Tool, PromptTakesTheFirstWord) {
  TempDir dir;
  write_file(dir / "c.csv", "x\n");
  RunResult r = run_tool_process(dir.path(), {}, "  c.csv other.csv\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, kBanner + std::string(PROMPT) + "c.csv -> " + kDone);
  EXPECT_TRUE(file_exists(dir / "carnet.htm"));
}

// Names the tool cannot open: nothing is created or changed.
TEST(Tool, SourceThatCannotBeOpened) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  write_file(dir / "carnet.htm", "old page");
  std::string long_name(5000, 'n');
  struct Case {
    std::vector<std::string> args;
    std::string input;
    bool close_input;
    std::string expected;
  } cases[] = {
      {{"missing.csv"}, "", false, kBanner + source_error("missing.csv")},
      {{"folder"}, "", false, kBanner + source_error("folder")},
      {{""}, "", false, kBanner + source_error("")},
      {{long_name}, "", false, kBanner + source_error(long_name)},
      {{}, "   \n", false, kBanner + std::string(PROMPT) + source_error("")},
      {{}, "", true, kBanner + std::string(PROMPT) + source_error("")},
      {{}, long_name, false, kBanner + std::string(PROMPT) + source_error(long_name)},
  };
  for (const Case& c : cases) {
    RunResult r = run_tool_process(dir.path(), c.args, c.input, c.close_input);
    EXPECT_EQ(r.status, kFailed);
    EXPECT_EQ(r.console, c.expected);
    EXPECT_EQ(read_file(dir / "carnet.htm"), "old page");
  }
}

TEST(Tool, EmptySourceLeavesAnEmptyPage) {
  TempDir dir;
  for (const char* text : {"",
                           "\x1A"
                           "ignored",
                           "\xEF\xBB\xBF",
                           "\xEF\xBB\xBF\x1A"
                           "ignored"}) {
    write_file(dir / "e.csv", text);
    write_file(dir / "carnet.htm", "old page");
    RunResult r = run_tool_process(dir.path(), {"e.csv"});
    EXPECT_EQ(r.status, kFailed);
    EXPECT_EQ(r.console, kBanner + "e.csv -> " + std::string(EMPTY_SOURCE_ERROR));
    EXPECT_EQ(read_file(dir / "carnet.htm"), "");
  }
}

// Whatever the spelling or link: on Windows names differing in case name the
// same file.
TEST(Tool, RefusesThePageAsItsOwnSource) {
  TempDir dir;
  write_file(dir / "carnet.htm", "a;b\n");
  std::filesystem::create_hard_link(dir / "carnet.htm", dir / "hard.csv");
#ifdef _WIN32
  const char* const names[] = {"carnet.htm", "./carnet.htm", "hard.csv", "CARNET.HTM",
                               ".\\carnet.htm"};
#else
  std::filesystem::create_symlink("carnet.htm", dir / "link.csv");
  const char* const names[] = {"carnet.htm", "./carnet.htm", "hard.csv", "link.csv"};
#endif
  for (const char* name : names) {
    RunResult r = run_tool_process(dir.path(), {name});
    EXPECT_EQ(r.status, kFailed);
    EXPECT_EQ(r.console, kBanner + name + " -> " +
                             "Error while accessing the destination file: carnet.htm\n"
                             "->Same file as the source\n");
    EXPECT_EQ(read_file(dir / "carnet.htm"), "a;b\n");
  }
}

TEST(Tool, DestinationThatCannotBeOpened) {
  TempDir dir;
  write_file(dir / "c.csv", "x\n");
  std::filesystem::create_directory(dir / "carnet.htm");
  RunResult r = run_tool_process(dir.path(), {"c.csv"});
  EXPECT_EQ(r.status, kFailed);
  EXPECT_EQ(r.console,
            kBanner + "c.csv -> Error while accessing the destination file: carnet.htm\n");
}

#ifndef _WIN32
TEST(Tool, WriteFailureIsNotSuccess) {
  TempDir dir;
  write_file(dir / "c.csv", "x\n");
  std::filesystem::create_symlink("/dev/full", dir / "carnet.htm");
  RunResult r = run_tool_process(dir.path(), {"c.csv"});
  EXPECT_EQ(r.status, kFailed);
  EXPECT_EQ(r.console, kBanner + "c.csv -> Error while writing the destination file: carnet.htm\n");
}

// A pipe cannot be repositioned: the first line read for the emptiness
// check, and the start read to tell a UTF-8 export, must still reach the
// page.
TEST(Tool, ConvertsAPipe) {
  TempDir dir;
  RunResult r = run_tool_process(dir.path(), {"/dev/stdin"}, "Nom;Ville\nA;Paris\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(table_body(read_file(dir / "carnet.htm")),
            "Nom</td>\n<td>Ville</td>\n</tr>\n<tr>\n<td>A</td>\n<td>Paris</td>\n</tr>\n");
  std::string text = "\xEF\xBB\xBFNom;Ville\n";
  while (text.size() < 200000) text += "\xC5\x81ukasz;\xC5\x81\xC3\xB3\x64\xC5\xBA\n";
  r = run_tool_process(dir.path(), {"/dev/stdin"}, text);
  EXPECT_EQ(r.status, 0);
  std::string body = table_body(read_file(dir / "carnet.htm"), true);
  EXPECT_EQ(std::count(body.begin(), body.end(), '\xC5'),
            std::count(text.begin(), text.end(), '\xC5'));
  EXPECT_TRUE(body.starts_with("Nom</td>"));
}
#endif

TEST(Tool, ConvertsTheShippedExample) {
  TempDir dir;
  RunResult r = run_tool_process(dir.path(), {QUILLANTREX_EXAMPLES "/contacts.csv"});
  EXPECT_EQ(r.status, 0);
  std::string body = table_body(read_file(dir / "carnet.htm"));
  EXPECT_NE(body.find("<a href=\"mailto:"), std::string::npos);
  EXPECT_NE(body.find("<br>"), std::string::npos);
}

}  // namespace
}  // namespace quillantrex::testing
