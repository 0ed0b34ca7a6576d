// The built tool run as a process in a temporary directory, against odd
// sources, odd things standing where the page goes, odd names, odd answers
// at the prompt and a missing console. Each case checks the console
// transcript, the exit status and what is left on disk.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/console_texts.h"
#include "reference_page.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

namespace fs = std::filesystem;
using Step = std::function<void(const TempDir&)>;

// A case's command line after the tool's name; none makes the tool prompt.
template <typename... Names>
std::vector<std::string> args(const Names&... names) {
  return {names...};
}

const std::string kExport = "Nom;Mail\r\nJean;j@x.fr\r\n";
const std::string kExample = QUILLANTREX_EXAMPLES "/contacts.csv";
const std::string kBanner(BANNER);
const std::string kPrompted = kBanner + std::string(PROMPT);
// "Müller–Łódź.csv" in UTF-8.
const std::string kLetters =
    "M\xC3\xBCller\xE2\x80\x93\xC5\x81\xC3\xB3"
    "d\xC5\xBA.csv";
constexpr int kFailed = FAILED_EXIT;

// What the console shows after `head`, the banner and the prompt if any.
std::string converted(const std::string& name, const std::string& head = kBanner) {
  return head + name + " -> " + std::string(DONE) + std::string(CLOSING_BANNER);
}
std::string cannot_open(const std::string& name, const std::string& head = kBanner) {
  return head + "Error while accessing the source file: " + name + "\n";
}
std::string no_destination(const std::string& name) {
  return kBanner + name + " -> Error while accessing the destination file: carnet.htm\n";
}

Step writes(const std::string& name, const std::string& bytes) {
  return [=](const TempDir& dir) { write_file(dir / name, bytes); };
}
// carnet.htm replaced by what `make` puts at its path.
Step page_made(std::function<void(const std::string&)> make) {
  return [=](const TempDir& dir) {
    fs::remove(dir / "carnet.htm");
    make(dir / "carnet.htm");
  };
}
void remove_write_permission(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

Step page_is(const std::string& bytes) {
  return [=](const TempDir& dir) {
    const std::string page = read_file(dir / "carnet.htm");
    if (bytes.size() < 1000) {
      EXPECT_EQ(page, bytes);
    } else {  // not worth printing whole
      EXPECT_TRUE(page == bytes) << "carnet.htm is not the page expected";
    }
  };
}
Step page_of(const std::string& export_bytes) {
  return page_is(reference_page(export_bytes));
}
const Step kOldPage = page_is("old page");
Step page_type(fs::file_type type) {
  return
      [=](const TempDir& dir) { EXPECT_EQ(fs::symlink_status(dir / "carnet.htm").type(), type); };
}

// A page held as a run of the tool holds it while writing it, until the
// holder goes.
class HeldPage {
 public:
  explicit HeldPage(const std::string& path) {
#ifdef _WIN32
    file_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file_, INVALID_HANDLE_VALUE);
#else
    fd_ = ::open(path.c_str(), O_RDWR);
    EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
#endif
  }
  ~HeldPage() {
#ifdef _WIN32
    ::CloseHandle(file_);
#else
    ::close(fd_);
#endif
  }
  HeldPage(const HeldPage&) = delete;
  HeldPage& operator=(const HeldPage&) = delete;

 private:
#ifdef _WIN32
  HANDLE file_;
#else
  int fd_;
#endif
};

// Each case starts in a directory that holds the export c.csv and an old
// carnet.htm, which `set_up` may change.
struct Case {
  std::string what;
  Step set_up;
  std::vector<std::string> args;
  std::string input;
  int status;
  std::string console;
  Step left_on_disk;
  Closed closed = Closed::kNone;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "c.csv", kExport);
    write_file(dir / "carnet.htm", "old page");
    if (c.set_up) c.set_up(dir);
    RunResult r = run_tool_process(dir.path(), c.args, c.input, {.closed = c.closed});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.console, c.console);
    EXPECT_EQ(read_file(dir / "c.csv"), kExport) << "the source was changed";
    c.left_on_disk(dir);
  }
}

TEST(Tool, Sources) {
  const std::string long_name(5000, 'n');
#ifdef _WIN32
  const std::string null_device = "NUL";
#else
  const std::string null_device = "/dev/null";
#endif
  std::vector<Case> cases = {
      {"a second argument ignored", nullptr, args("c.csv", "ignored.csv"), "", 0,
       converted("c.csv"), page_of(kExport)},
      {"the shipped example", nullptr, args(kExample), "", 0, converted(kExample),
       page_of(read_file(kExample))},
      // Names the tool cannot open: nothing is created or changed.
      {"missing", nullptr, args("missing.csv"), "", kFailed, cannot_open("missing.csv"), kOldPage},
      {"a folder", [](const TempDir& dir) { fs::create_directory(dir / "folder"); }, args("folder"),
       "", kFailed, cannot_open("folder"), kOldPage},
      {"empty name", nullptr, args(""), "", kFailed, cannot_open(""), kOldPage},
      {"long name", nullptr, args(long_name), "", kFailed, cannot_open(long_name), kOldPage},
#ifndef _WIN32
      {"dangling symbolic link",
       [](const TempDir& dir) { fs::create_symlink("nowhere.csv", dir / "dangling.csv"); },
       args("dangling.csv"), "", kFailed, cannot_open("dangling.csv"), kOldPage},
#endif
      // Nothing to read: the page is emptied and stays so.
      {"the null device", nullptr, args(null_device), "", kFailed,
       kBanner + null_device + " -> " + std::string(EMPTY_SOURCE_ERROR), page_is("")},
  };
  for (const char* text : {"", "\x1Aignored", "\xEF\xBB\xBF", "\xEF\xBB\xBF\x1Aignored"}) {
    cases.push_back({"empty export", writes("e.csv", text), args("e.csv"), "", kFailed,
                     kBanner + "e.csv -> " + std::string(EMPTY_SOURCE_ERROR), page_is("")});
  }
  // Creating the page empties it, whatever the spelling or link by which
  // the source names it; on Windows names differing in case name the same
  // file.
#ifdef _WIN32
  const char* const same_file[] = {"carnet.htm", "./carnet.htm", "hard.csv", "CARNET.HTM",
                                   ".\\carnet.htm"};
#else
  const char* const same_file[] = {"carnet.htm", "./carnet.htm", "hard.csv", "link.csv"};
#endif
  for (const char* name : same_file) {
    cases.push_back({name,
                     [](const TempDir& dir) {
                       fs::create_hard_link(dir / "carnet.htm", dir / "hard.csv");
#ifndef _WIN32
                       fs::create_symlink("carnet.htm", dir / "link.csv");
#endif
                     },
                     args(name), "", kFailed, no_destination(name) + "->Same file as the source\n",
                     kOldPage});
  }
  std::string plain = "Nom;Ville\r\n";
  for (int i = 0; i < 20000; ++i) plain += "n" + std::to_string(i) + ";\"a\r\nb\";x@y.fr\r\n";
#ifndef _WIN32
  // A pipe cannot be repositioned and hands its bytes over in pieces: the
  // first line read for the emptiness check, and the start read to tell a
  // UTF-8 export, must still reach the page, whole.
  std::string utf8 = "\xEF\xBB\xBFNom;Ville\n";
  while (utf8.size() < 200000) utf8 += "\xC5\x81ukasz;\xC5\x81\xC3\xB3\x64\xC5\xBA\n";
  for (const std::string& text : {plain, utf8}) {
    cases.push_back(
        {"a pipe", nullptr, args("/dev/stdin"), text, 0, converted("/dev/stdin"), page_of(text)});
  }
#endif
  // Past the first buffer and past a small page.
  cases.push_back({"a long export", writes("long.csv", plain), args("long.csv"), "", 0,
                   converted("long.csv"), page_of(plain)});
  run_cases(cases);
}

TEST(Tool, Destinations) {
#ifdef _WIN32
  const bool root = false;  // a read-only file binds every user
#else
  const bool root = ::geteuid() == 0;
#endif
#ifndef _WIN32
  const Step link = page_type(fs::file_type::symlink);
  const Step full =
      page_made([](const std::string& page) { fs::create_symlink("/dev/full", page); });
  // Larger than the page's buffer, `big` makes writes fail in the middle of
  // the conversion, not only when the page is closed.
  std::string big;
  while (big.size() < (1u << 20)) big += "Jean;j@x.fr;\"a\r\nb\"\r\n";
  const auto with_big = [&](Step set_up) -> Step {
    return [=](const TempDir& dir) {
      set_up(dir);
      write_file(dir / "big.csv", big);
    };
  };
  const auto write_failed = [](const std::string& name) {
    return kBanner + name + " -> Error while writing the destination file: carnet.htm\n";
  };
#endif
  // Another run writing the page: it is left to that run, untouched.
  auto held = std::make_shared<std::unique_ptr<HeldPage>>();
  std::vector<Case> cases = {
      {"carnet.htm written by another run",
       [=](const TempDir& dir) { *held = std::make_unique<HeldPage>(dir / "carnet.htm"); },
       args("c.csv"), "", kFailed, no_destination("c.csv"),
       [=](const TempDir& dir) {
         kOldPage(dir);
         held->reset();
       }},
      {"carnet.htm a folder",
       page_made([](const std::string& page) { fs::create_directory(page); }), args("c.csv"), "",
       kFailed, no_destination("c.csv"), page_type(fs::file_type::directory)},
      // The page's own permissions are the system's business: as root the
      // file is replaced like any other.
      {"read-only carnet.htm",
       [](const TempDir& dir) { remove_write_permission(dir / "carnet.htm"); }, args("c.csv"), "",
       root ? 0 : kFailed, root ? converted("c.csv") : no_destination("c.csv"),
       root ? page_of(kExport) : kOldPage},
#ifndef _WIN32
      {"carnet.htm a symbolic link to the source",
       page_made([](const std::string& page) { fs::create_symlink("c.csv", page); }), args("c.csv"),
       "", kFailed, no_destination("c.csv") + std::string(SAME_FILE_ERROR), link},
      {"carnet.htm a link to /dev/full", full, args("c.csv"), "", kFailed, write_failed("c.csv"),
       link},
      {"carnet.htm a link to /dev/full, long export", with_big(full), args("big.csv"), "", kFailed,
       write_failed("big.csv"), link},
      // Opens for reading and writing, but cannot be written at a position.
      {"carnet.htm a FIFO",
       with_big(page_made([](const std::string& page) { ::mkfifo(page.c_str(), 0600); })),
       args("big.csv"), "", kFailed, write_failed("big.csv"), page_type(fs::file_type::fifo)},
#endif
  };
#ifndef _WIN32
  // Directory permissions do not bind root.
  if (!root) {
    cases.push_back({"read-only directory",
                     [](const TempDir& dir) {
                       fs::remove(dir / "carnet.htm");
                       remove_write_permission(dir.path());
                     },
                     args("c.csv"), "", kFailed, no_destination("c.csv"),
                     page_type(fs::file_type::not_found)});
  }
#endif
  run_cases(cases);
}

// Two runs started together in one folder, on two exports long enough for
// them to overlap: each either converts its export or is refused, and the
// page is the exact page of a run that said "Done!", never a mix.
TEST(Tool, TwoRunsAtOnce) {
  TempDir dir;
  std::string exports[2];
  for (int e = 0; e < 2; ++e) {
    exports[e] = "Nom;Mail\r\n";
    while (exports[e].size() < (6u << 20))
      exports[e] += e ? "Paul;p@x.fr\r\n" : "Jean;\"j\r\nx\"\r\n";
    write_file(dir / ("e" + std::to_string(e) + ".csv"), exports[e]);
  }
  const std::string pages[2] = {reference_page(exports[0]), reference_page(exports[1])};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    RunResult runs[2];
    std::thread first([&] { runs[0] = run_tool_process(dir.path(), args("e0.csv")); });
    runs[1] = run_tool_process(dir.path(), args("e1.csv"));
    first.join();
    const std::string page = read_file(dir / "carnet.htm");
    bool done_and_its_page = false;
    for (int e = 0; e < 2; ++e) {
      const std::string name = "e" + std::to_string(e) + ".csv";
      if (runs[e].status == 0) {
        EXPECT_EQ(runs[e].console, converted(name));
        done_and_its_page = done_and_its_page || page == pages[e];
      } else {
        EXPECT_EQ(runs[e].status, kFailed);
        EXPECT_EQ(runs[e].console, no_destination(name));
      }
    }
    EXPECT_TRUE(done_and_its_page) << "carnet.htm is the page of no run that said Done!";
  }
}

// Windows takes only names in Unicode, and none with control characters.
TEST(Tool, Names) {
  const char* const names[] = {"my contacts.csv",
                               "-c.csv",
                               "--help",
                               kLetters.c_str(),
#ifndef _WIN32
                               "Zo\xE9 \xC3\xA9t\xC3\xA9.csv",
                               "\t.csv"
#endif
  };
  std::vector<Case> cases;
  for (const char* name : names) {
    cases.push_back(
        {name, writes(name, kExport), args(name), "", 0, converted(name), page_of(kExport)});
  }
  run_cases(cases);
}

TEST(Tool, PromptAnswers) {
  const std::string long_name(5000, 'n');
  run_cases({
      {"white space only", nullptr, args(), "   \n", kFailed, cannot_open("", kPrompted), kOldPage},
      {"input closed", nullptr, args(), "", kFailed, cannot_open("", kPrompted), kOldPage,
       Closed::kInput},
      {"a long name", nullptr, args(), long_name, kFailed, cannot_open(long_name, kPrompted),
       kOldPage},
      // Only the first word counts, even when the whole answer names a file.
      {"a name with a space", writes("my contacts.csv", kExport), args(), "my contacts.csv\n",
       kFailed, cannot_open("my", kPrompted), kOldPage},
      {"a name in other letters", writes(kLetters, kExport), args(), kLetters + "\n", 0,
       converted(kLetters, kPrompted), page_of(kExport)},
      {"words on several lines", nullptr, args(), "\n\n  c.csv\tother\nmore\n", 0,
       converted("c.csv", kPrompted), page_of(kExport)},
  });
}

// Files opened into the console's empty descriptors must not receive its
// messages.
TEST(Tool, ConsoleClosed) {
  run_cases({
      {"empty export", writes("e.csv", ""), args("e.csv"), "", kFailed, "", page_is(""),
       Closed::kInputAndOutput},
      {"export", nullptr, args("c.csv"), "", 0, "", page_of(kExport), Closed::kInputAndOutput},
  });
}

}  // namespace
}  // namespace quillantrex::testing
