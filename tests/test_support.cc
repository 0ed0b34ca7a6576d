#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "convert/page_conversion.h"
#include "convert/page_texts.h"
#include "page_check.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"

namespace quillantrex::testing {

namespace {

// Test names are UTF-8; Windows would read a narrow name in its code page.
std::filesystem::path native(const std::string& utf8) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
  return utf8;
#endif
}

class NotedPage final : public PageFile {
 public:
  NotedPage(std::string& page, std::vector<PageWrite>& writes)
      : page_(memory_page_file(page)), writes_(writes) {}
  bool write_at(const char* data, std::size_t n, std::uint64_t offset) override {
    writes_.push_back({offset, n});
    return page_->write_at(data, n, offset);
  }
  bool read_at(char* data, std::size_t n, std::uint64_t offset) override {
    return page_->read_at(data, n, offset);
  }
  bool close() override { return page_->close(); }

 private:
  std::unique_ptr<PageFile> page_;
  std::vector<PageWrite>& writes_;
};

}  // namespace

std::unique_ptr<PageFile> noted_page_file(std::string& page, std::vector<PageWrite>& writes) {
  return std::make_unique<NotedPage>(page, writes);
}

TempDir::TempDir() {
  std::random_device random;
  for (;;) {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("quillantrex." + std::to_string(random()));
    if (std::filesystem::create_directory(path)) {
      const std::u8string utf8 = path.u8string();
      path_.assign(utf8.begin(), utf8.end());
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(native(path_), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(native(path_), ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(native(path), std::ios::binary) << bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(native(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(native(path), ignored));
}

std::string from_crlf(const std::string& page) {
  for (std::size_t i = page.find('\n'); i != std::string::npos; i = page.find('\n', i + 1))
    if (i == 0 || page[i - 1] != '\r') ADD_FAILURE() << "lone LF at byte " << i;
  // Holding no byte-order mark and no Ctrl-Z, the page is its export text.
  return export_text(page);
}

std::string convert_bytes(const std::string& export_text, std::size_t source_buffer,
                          std::size_t output_buffer, BlockPath path) {
  std::string page;
  SourceStream source(memory_source_file(export_text), source_buffer);
  OutputStream output(memory_page_file(page), output_buffer);
  convert_table(source, output, path);
  EXPECT_TRUE(output.close());
  return page;
}

std::string table_body(const std::string& page, bool utf8) {
  std::string text = from_crlf(page);
  std::string head = page_head(utf8) + std::string(TABLE_OPEN) + std::string(FIRST_ROW_OPEN);
  std::string tail = std::string(TABLE_CLOSE) + std::string(PAGE_FOOT);
  if (text.size() < head.size() + tail.size() || !text.starts_with(head) || !text.ends_with(tail)) {
    ADD_FAILURE() << "page head or foot not as expected:\n" << text;
    return "";
  }
  return text.substr(head.size(), text.size() - head.size() - tail.size());
}

}  // namespace quillantrex::testing
