// Exports and pages beyond what a 32-bit file offset reaches, on sparse files
// that cost no disk: where offsets are 32 bits wide, the export cannot be
// opened and the page's writes fail or land elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "streams/source_stream.h"
#include "test_support.h"

namespace quillantrex::testing {
namespace {

// Offsets that wrapped at 4 GiB would put both writes in the same place.
TEST(LargeFiles, PageWrittenAndReadPastFourGiB) {
  TempDir dir;
  const std::uint64_t at = std::uint64_t{5} << 30;
  auto page = create_page_file(dir / "carnet.htm");
  ASSERT_TRUE(page);
  ASSERT_TRUE(page->write_at("far", 3, at));
  ASSERT_TRUE(page->write_at("near", 4, at - (std::uint64_t{4} << 30)));
  char back[3] = {};
  ASSERT_TRUE(page->read_at(back, 3, at));
  EXPECT_EQ(std::string_view(back, 3), "far");
  EXPECT_TRUE(page->close());
  EXPECT_EQ(std::filesystem::file_size(dir / "carnet.htm"), at + 3);
}

// Read through to the end: the read position passes 2 GiB too.
TEST(LargeFiles, ExportPastTwoGiBReadToTheEnd) {
  TempDir dir;
  const std::uint64_t size = (std::uint64_t{2} << 30) + 4096;
  auto file = create_page_file(dir / "big.csv");
  ASSERT_TRUE(file && file->write_at("last", 4, size - 4) && file->close());
  auto source = open_source(dir / "big.csv", 1 << 20);
  ASSERT_TRUE(source);
  std::uint64_t read = 0;
  std::string end;
  for (std::string_view got = source->buffered(); !got.empty(); got = source->buffered()) {
    read += got.size();
    end += got.substr(got.size() - std::min<std::size_t>(got.size(), 4));
    end.erase(0, end.size() - std::min<std::size_t>(end.size(), 4));
    source->skip(got.size());
  }
  EXPECT_FALSE(source->failed());
  EXPECT_EQ(read, size);
  EXPECT_EQ(end, "last");
}

}  // namespace
}  // namespace quillantrex::testing
