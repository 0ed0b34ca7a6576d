// The built tool against hostile files and surroundings: odd kinds of
// source, odd things standing where the page goes, odd names and odd
// answers at the prompt. Each case checks the console, the exit status and
// what is left on disk.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "cli/console_texts.h"
#include "page_check.h"
#include "reference_page.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

const std::string kBanner(BANNER);
const std::string kDone = std::string(DONE) + std::string(CLOSING_BANNER);
const std::string kPrompt(PROMPT);
const std::string kExport = "Nom;Mail\r\nJean;j@x.fr\r\n";
constexpr auto kNoWrite = std::filesystem::perms::owner_write |
                          std::filesystem::perms::group_write |
                          std::filesystem::perms::others_write;
// "Müller–Łódź.csv" in UTF-8.
const std::string kLetters =
    "M\xC3\xBCller\xE2\x80\x93\xC5\x81\xC3\xB3"
    "d\xC5\xBA.csv";
constexpr int kFailed = FAILED_EXIT;

std::string converted(const std::string& name) {
  return kBanner + name + " -> " + kDone;
}

std::string destination_error(const std::string& name) {
  return kBanner + name + " -> Error while accessing the destination file: carnet.htm\n";
}

#ifndef _WIN32
bool is_symlink(const std::string& path) {
  return std::filesystem::is_symlink(path);
}
#endif

// A page made from kExport, whole and right.
void expect_page(const TempDir& dir) {
  EXPECT_EQ(read_file(dir / "carnet.htm"), reference_page(kExport));
}

struct Case {
  const char* what;
  std::function<void(const TempDir&)> set_up;
  std::vector<std::string> args;
  std::string input;
  int status;
  std::string console;
  std::function<void(const TempDir&)> left_on_disk;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "c.csv", kExport);
    if (c.set_up) c.set_up(dir);
    RunResult r = run_tool_process(dir.path(), c.args, c.input);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.console, c.console);
    EXPECT_EQ(read_file(dir / "c.csv"), kExport) << "the source was changed";
    c.left_on_disk(dir);
  }
}

TEST(HostileFiles, Sources) {
  auto old_page = [](const TempDir& dir) { write_file(dir / "carnet.htm", "old page"); };
  [[maybe_unused]] auto old_page_kept = [](const TempDir& dir) {
    EXPECT_EQ(read_file(dir / "carnet.htm"), "old page");
  };
#ifdef _WIN32
  const std::string null_device = "NUL";
#else
  const std::string null_device = "/dev/null";
#endif
  run_cases({
#ifndef _WIN32
      {"dangling symbolic link",
       [&](const TempDir& dir) {
         old_page(dir);
         ::symlink("nowhere.csv", (dir / "dangling.csv").c_str());
       },
       {"dangling.csv"},
       "",
       kFailed,
       kBanner + "Error while accessing the source file: dangling.csv\n",
       old_page_kept},
#endif
      // Nothing to read: the page is emptied and stays so.
      {"the null device",
       old_page,
       {null_device},
       "",
       kFailed,
       kBanner + null_device + " -> " + std::string(EMPTY_SOURCE_ERROR),
       [](const TempDir& dir) { EXPECT_EQ(read_file(dir / "carnet.htm"), ""); }},
  });
}

#ifndef _WIN32
// A FIFO cannot be repositioned and hands its bytes over in pieces: an
// export many buffer fills long must still arrive whole.
TEST(HostileFiles, FifoWithAWriter) {
  TempDir dir;
  std::string text = "Nom;Ville\r\n";
  for (int i = 0; i < 20000; ++i) text += "n" + std::to_string(i) + ";\"a\r\nb\";x@y.fr\r\n";
  ASSERT_EQ(::mkfifo((dir / "fifo.csv").c_str(), 0600), 0);
  std::thread writer([&] {
    int fd = ::open((dir / "fifo.csv").c_str(), O_WRONLY);
    for (std::size_t done = 0; fd >= 0 && done < text.size();) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
  RunResult r = run_tool_process(dir.path(), {"fifo.csv"});
  // Should the tool not have opened the FIFO, this releases the writer.
  ::close(::open((dir / "fifo.csv").c_str(), O_RDONLY | O_NONBLOCK));
  writer.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, converted("fifo.csv"));
  const std::string page = read_file(dir / "carnet.htm");
  EXPECT_EQ(check_page(text, page), "");
  EXPECT_TRUE(page == reference_page(text)) << "the page differs from the in-memory conversion";
}
#endif

TEST(HostileFiles, Destinations) {
  std::string big;
  while (big.size() < (1u << 20)) big += "Jean;j@x.fr;\"a\r\nb\"\r\n";
#ifdef _WIN32
  const bool root = false;  // a read-only file binds every user
#else
  const bool root = ::geteuid() == 0;
#endif
  run_cases({
      // The page's own permissions are the system's business: as root the
      // file is replaced like any other.
      {"read-only carnet.htm",
       [](const TempDir& dir) {
         write_file(dir / "carnet.htm", "old page");
         std::filesystem::permissions(dir / "carnet.htm",
                                      std::filesystem::perms::owner_write |
                                          std::filesystem::perms::group_write |
                                          std::filesystem::perms::others_write,
                                      std::filesystem::perm_options::remove);
       },
       {"c.csv"},
       "",
       root ? 0 : kFailed,
       root ? converted("c.csv") : destination_error("c.csv"),
       [root](const TempDir& dir) {
         if (root) {
           expect_page(dir);
         } else {
           EXPECT_EQ(read_file(dir / "carnet.htm"), "old page");
         }
       }},
#ifndef _WIN32
      {"carnet.htm a symbolic link to the source",
       [](const TempDir& dir) { ::symlink("c.csv", (dir / "carnet.htm").c_str()); },
       {"c.csv"},
       "",
       kFailed,
       destination_error("c.csv") + std::string(SAME_FILE_ERROR),
       [](const TempDir& dir) { EXPECT_TRUE(is_symlink(dir / "carnet.htm")); }},
      // Larger than the page's buffer: writes fail in the middle of the
      // conversion, not only when the page is closed.
      {"carnet.htm a link to /dev/full, long export",
       [&](const TempDir& dir) {
         write_file(dir / "big.csv", big);
         ::symlink("/dev/full", (dir / "carnet.htm").c_str());
       },
       {"big.csv"},
       "",
       kFailed,
       kBanner + "big.csv -> Error while writing the destination file: carnet.htm\n",
       [](const TempDir& dir) { EXPECT_TRUE(is_symlink(dir / "carnet.htm")); }},
      // Opens for reading and writing, but cannot be written at a position.
      {"carnet.htm a FIFO",
       [&](const TempDir& dir) {
         write_file(dir / "big.csv", big);
         ::mkfifo((dir / "carnet.htm").c_str(), 0600);
       },
       {"big.csv"},
       "",
       kFailed,
       kBanner + "big.csv -> Error while writing the destination file: carnet.htm\n",
       [](const TempDir& dir) {
         struct stat st;
         EXPECT_TRUE(::lstat((dir / "carnet.htm").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
       }},
#endif
  });
}

#ifndef _WIN32
TEST(HostileFiles, ReadOnlyCurrentDirectory) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: directory permissions do not bind root";
  run_cases({
      {"read-only directory",
       [](const TempDir& dir) { ::chmod(dir.path().c_str(), 0555); },
       {"c.csv"},
       "",
       kFailed,
       destination_error("c.csv"),
       [](const TempDir& dir) { EXPECT_FALSE(file_exists(dir / "carnet.htm")); }},
  });
}
#endif

// Windows takes only names in Unicode, and none with control characters.
TEST(HostileFiles, Names) {
  const std::vector<std::string> odd = {"my contacts.csv",
                                        "-c.csv",
                                        "--help",
                                        kLetters,
#ifndef _WIN32
                                        "Zo\xE9 \xC3\xA9t\xC3\xA9.csv",
                                        "\t.csv"
#endif
  };
  std::vector<Case> cases;
  for (const std::string& name : odd) {
    cases.push_back({name.c_str(),
                     [name](const TempDir& dir) { write_file(dir / name, kExport); },
                     {name},
                     "",
                     0,
                     converted(name),
                     expect_page});
  }
  run_cases(cases);
}

TEST(HostileFiles, PromptAnswers) {
  auto no_page = [](const TempDir& dir) { EXPECT_FALSE(file_exists(dir / "carnet.htm")); };
  run_cases({
      {"nothing at all",
       nullptr,
       {},
       "",
       kFailed,
       kBanner + kPrompt + "Error while accessing the source file: \n",
       no_page},
      // Only the first word counts, even when the whole answer names a file.
      {"a name with a space",
       [](const TempDir& dir) { write_file(dir / "my contacts.csv", kExport); },
       {},
       "my contacts.csv\n",
       kFailed,
       kBanner + kPrompt + "Error while accessing the source file: my\n",
       no_page},
      {"a name in other letters",
       [](const TempDir& dir) { write_file(dir / kLetters, kExport); },
       {},
       kLetters + "\n",
       0,
       kBanner + kPrompt + kLetters + " -> " + kDone,
       expect_page},
      {"words on several lines",
       nullptr,
       {},
       "\n\n  c.csv\tother\nmore\n",
       0,
       kBanner + kPrompt + "c.csv -> " + kDone,
       expect_page},
  });
}

#ifndef _WIN32
// Runs the tool in `dir` on `name` with standard input and output closed;
// returns its exit status.
int run_with_console_closed(const std::string& dir, const std::string& name) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(120);
    ::close(0);
    ::close(1);
    std::string binary = QUILLANTREX_BINARY, argument = name;
#ifdef QUILLANTREX_EMULATOR
    std::string emulator = QUILLANTREX_EMULATOR;  // as in tool_process_posix.cc
    char* argv[] = {emulator.data(), binary.data(), argument.data(), nullptr};
#else
    char* argv[] = {binary.data(), argument.data(), nullptr};
#endif
    ::execv(argv[0], argv);
    _exit(121);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

// Files opened into the console's empty descriptors must not receive its
// messages.
TEST(HostileFiles, ConsoleClosed) {
  TempDir dir;
  write_file(dir / "empty.csv", "");
  EXPECT_EQ(run_with_console_closed(dir.path(), "empty.csv"), kFailed);
  EXPECT_EQ(read_file(dir / "carnet.htm"), "");
  write_file(dir / "c.csv", kExport);
  EXPECT_EQ(run_with_console_closed(dir.path(), "c.csv"), 0);
  expect_page(dir);
  EXPECT_EQ(read_file(dir / "c.csv"), kExport);
}

#endif

}  // namespace
}  // namespace quillantrex::testing
