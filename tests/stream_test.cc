// The two text streams on their own: characters, line breaks and stepping
// back, across buffer edges.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "convert/page_conversion.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

std::vector<int> read_all(SourceStream& s) {
  std::vector<int> out;
  for (int c = s.read_char(); c != END_OF_INPUT; c = s.read_char()) out.push_back(c);
  return out;
}

TEST(SourceStream, TextSemanticsAtEveryBufferSize) {
  TempDir dir;
  write_file(dir / "s",
             "a\r\nb\rc\n\r\r\n\xFF\x1A"
             "after");
  const std::vector<int> expected = {'a', '\n', 'b', '\r', 'c', '\n', '\r', '\n', 0xFF};
  for (std::size_t size = 1; size <= 12; ++size) {
    SCOPED_TRACE(size);
    auto s = open_source(dir / "s", size);
    ASSERT_TRUE(s);
    EXPECT_EQ(read_all(*s), expected);
    EXPECT_EQ(s->read_char(), END_OF_INPUT);  // Ctrl-Z stays the end
    EXPECT_FALSE(s->failed());
  }
}

// Every character, line breaks from CR LF included, can be read again after
// one step back, wherever the buffer edges fall.
TEST(SourceStream, StepBackRetracesEachCharacter) {
  TempDir dir;
  write_file(dir / "s", "x\r\ny\nz\r\r\n\rw");
  const std::vector<int> expected = {'x', '\n', 'y', '\n', 'z', '\r', '\n', '\r', 'w'};
  for (std::size_t size = 1; size <= 12; ++size) {
    SCOPED_TRACE(size);
    auto s = open_source(dir / "s", size);
    std::vector<int> got;
    for (int c = s->read_char(); c != END_OF_INPUT; c = s->read_char()) {
      ASSERT_TRUE(s->step_back(1));
      ASSERT_EQ(s->read_char(), c);
      got.push_back(c);
    }
    EXPECT_EQ(got, expected);
    // Two back, over a CR LF pair and the character before it.
    ASSERT_TRUE(s->rewind());
    s->read_char(), s->read_char(), s->read_char();  // x, \n, y
    ASSERT_TRUE(s->step_back(2));
    EXPECT_EQ(s->read_char(), '\n');
  }
}

TEST(SourceStream, ReadLineStopsAtLineBreakOrCapacity) {
  TempDir dir;
  write_file(dir / "s", "ab\r\ncd");
  auto s = open_source(dir / "s");
  char line[8];
  ASSERT_TRUE(s->read_line(line, sizeof line));
  EXPECT_STREQ(line, "ab\n");
  write_file(dir / "long", std::string(2000, 'q'));
  auto l = open_source(dir / "long");
  char big[1024];
  ASSERT_TRUE(l->read_line(big, sizeof big));
  EXPECT_EQ(std::string(big).size(), 1023u);
  write_file(dir / "empty",
             "\x1A"
             "text");
  auto e = open_source(dir / "empty");
  EXPECT_FALSE(e->read_line(big, sizeof big));
}

#ifndef _WIN32
TEST(SourceStream, RewindOnAPipeAfterTheFirstLine) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "head\nbody", 9), 9);
  ::close(fds[1]);
  auto s = open_source("/dev/fd/" + std::to_string(fds[0]));
  ::close(fds[0]);
  ASSERT_TRUE(s);
  char line[1024];
  ASSERT_TRUE(s->read_line(line, sizeof line));
  ASSERT_TRUE(s->rewind());
  EXPECT_EQ(read_all(*s), (std::vector<int>{'h', 'e', 'a', 'd', '\n', 'b', 'o', 'd', 'y'}));
}
#endif

#ifdef F_SETPIPE_SZ
// A pipe longer than the read-ahead: its one buffer grows from a first guess
// and is then read into again and again, and every character comes through
// once, CR LF pairs split by a refill included. The pipe is made large
// enough to hold it all, so that nothing waits on a writer.
TEST(SourceStream, PipeLongerThanTheReadAheadReadWhole) {
  std::string text;
  std::vector<int> expected;
  for (int i = 0; text.size() < 5 * SOURCE_READ_AHEAD; ++i) {
    const std::string line = "line " + std::to_string(i);
    text += line + "\r\n";
    expected.insert(expected.end(), line.begin(), line.end());
    expected.push_back('\n');
  }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  if (::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20) < static_cast<int>(text.size())) {
    ::close(fds[0]);
    ::close(fds[1]);
    GTEST_SKIP() << "no pipe of 1 MiB here";
  }
  ASSERT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fds[1]);
  auto s = open_source("/dev/fd/" + std::to_string(fds[0]), 1000);
  ::close(fds[0]);
  ASSERT_TRUE(s);
  EXPECT_EQ(read_all(*s), expected);
  EXPECT_FALSE(s->failed());
}
#endif

struct FailingSource final : SourceFile {
  std::ptrdiff_t read(char*, std::size_t, std::uint64_t) override { return -1; }
  bool rewind() override { return false; }
  bool same_file_as(const std::string&) const override { return false; }
};

TEST(SourceStream, ReadErrorIsEndOfInputAndReported) {
  SourceStream s(std::make_unique<FailingSource>());
  EXPECT_EQ(s.read_char(), END_OF_INPUT);
  EXPECT_TRUE(s.failed());
  TempDir dir;
  EXPECT_FALSE(open_source(dir.path()));
  EXPECT_FALSE(open_source(""));
}

// An export that someone else changes while it is read ends in a failure:
// what was read of it is no one version of it. The change comes after the
// first-line check, with the stream's first reads made.
TEST(SourceStream, ExportChangedWhileReadIsAFailure) {
  namespace fs = std::filesystem;
  std::string text = "Nom;Mail\r\n";
  while (text.size() < 4 * DEFAULT_SOURCE_BUFFER) text += "Jean;j@x.fr;\"a\r\nb\"\r\n";
  const std::string page = convert_bytes(text, DEFAULT_SOURCE_BUFFER, DEFAULT_OUTPUT_BUFFER);
  const struct {
    const char* what;
    std::function<void(const std::string&)> change;
  } changes[] = {
      {"unchanged", nullptr},
      {"cut short", [](const std::string& path) { fs::resize_file(path, 1000); }},
      {"appended to",
       [](const std::string& path) { fs::resize_file(path, fs::file_size(path) + 1); }},
      // Within the same tick of the file system's clock a rewrite would
      // keep the time: the test moves it on.
      {"rewritten in place",
       [&](const std::string& path) {
         const auto then = fs::last_write_time(path);
         write_file(path, std::string(text).replace(20, 4, "Paul"));
         fs::last_write_time(path, then + std::chrono::seconds(2));
       }},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "c.csv", text);
    auto source = open_source(dir / "c.csv");
    ASSERT_TRUE(source);
    char line[1024];
    ASSERT_TRUE(source->read_line(line, sizeof line));
    if (c.change) c.change(dir / "c.csv");
    std::string got;
    OutputStream output(memory_page_file(got));
    convert_table(*source, output);
    EXPECT_TRUE(output.close());
    EXPECT_EQ(source->failed(), c.change != nullptr);
    if (!c.change) {
      EXPECT_TRUE(got == page) << "not the export's page";
    }
  }
}

// Writing, stepping back past the part still in memory, reading back and
// overwriting, with a window of a few bytes. From 8 bytes on, a window moved
// forward keeps the bytes past its last aligned end, still to be written.
TEST(OutputStreamWrites, StepBackReachesIntoTheFile) {
  for (std::size_t window : {2u, 3u, 5u, 8u, 13u, 64u, 4096u}) {
    SCOPED_TRACE(window);
    TempDir dir;
    auto out = create_output(dir / "p", window);
    std::string text;
    for (int i = 0; i < 40; ++i) text += "row" + std::to_string(i) + "\n";
    out->write_text(text);
    // Back over "row39\n" and "8\n" of row 38: 8 characters, 10 bytes.
    ASSERT_TRUE(out->step_back(8));
    EXPECT_EQ(out->read_char(), '8');
    EXPECT_EQ(out->read_char(), '\n');
    ASSERT_TRUE(out->step_back(2));
    out->write_text("X\nY");
    EXPECT_FALSE(out->step_back(1000));  // stops at the start
    EXPECT_EQ(out->read_char(), 'r');
    EXPECT_EQ(out->read_char(), 'o');
    ASSERT_TRUE(out->close());
    std::string expected = text.substr(0, text.size() - 8) + "X\nY" + "ow39\n";
    EXPECT_EQ(from_crlf(read_file(dir / "p")), expected);
  }
}

// A step of ten characters over one line break moves back eleven bytes, and
// text beyond the last write stays.
TEST(OutputStreamWrites, StepBackCountsLineBreaksAsOneCharacter) {
  TempDir dir;
  auto out = create_output(dir / "p", 4);
  out->write_text("<tr>\n<td>\xFF");
  out->step_back(10);
  out->write_text("ab");
  ASSERT_TRUE(out->close());
  EXPECT_EQ(read_file(dir / "p"), "abr>\r\n<td>\xFF");
}

TEST(OutputStreamWrites, CopyOverlappingRangesAcrossTheWindow) {
  for (std::size_t window : {2u, 7u, 8u, 12u, 4096u}) {
    SCOPED_TRACE(window);
    TempDir dir;
    auto out = create_output(dir / "p", window);
    out->write_text("0123456789abcdef");
    out->copy(2, 5, 8);   // forward, overlapping
    out->copy(0, 16, 4);  // to the end
    out->copy(9, 1, 3);   // backward, overlapping the shifted text
    ASSERT_TRUE(out->close());
    EXPECT_EQ(read_file(dir / "p"), "0678423456789def0123");
  }
}

TEST(OutputStream, WriteFailureIsReportedAtClose) {
  std::string page;
  OutputStream out(memory_page_file(page, 10), 8);
  out.write_text("more than one window of text");
  EXPECT_FALSE(out.close());
}

}  // namespace
}  // namespace quillantrex::testing
