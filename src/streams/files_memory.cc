// Files in memory: the export as a view of bytes held elsewhere, the page
// as a string that grows as it is written.
#include <algorithm>
#include <cstring>

#include "streams/file_access.h"

namespace quillantrex {

namespace {

class MemorySource final : public SourceFile {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}

  std::ptrdiff_t read(char* data, std::size_t n, std::uint64_t offset) override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t at = static_cast<std::size_t>(offset);
    const std::size_t k = std::min(n, bytes_.size() - at);
    std::memcpy(data, bytes_.data() + at, k);
    return static_cast<std::ptrdiff_t>(k);
  }
  bool rewind() override { return true; }
  // A memory file has no name.
  bool same_file_as(const std::string&) const override { return false; }
  std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }

 private:
  std::string_view bytes_;
};

class MemoryPage final : public PageFile {
 public:
  // Created empty, like a page file.
  MemoryPage(std::string& page, std::uint64_t limit) : page_(page), limit_(limit) { page_.clear(); }

  bool write_at(const char* data, std::size_t n, std::uint64_t offset) override {
    if (closed_ || offset > limit_ || n > limit_ - offset) return false;
    // Longer than a string can hold (2 GiB or so where size_t is 32 bits):
    // refused as by a full disk, rather than wrapped.
    if (offset + n > page_.max_size()) return false;
    const std::size_t at = static_cast<std::size_t>(offset);
    // A write past the end leaves NUL bytes in the gap, like a sparse file.
    if (at + n > page_.size()) page_.resize(at + n);
    std::memcpy(page_.data() + at, data, n);
    return true;
  }
  bool read_at(char* data, std::size_t n, std::uint64_t offset) override {
    if (closed_ || offset > page_.size() || n > page_.size() - offset) return false;
    std::memcpy(data, page_.data() + offset, n);
    return true;
  }
  bool close() override {
    bool was_open = !closed_;
    closed_ = true;
    return was_open;
  }

 private:
  std::string& page_;
  std::uint64_t limit_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<SourceFile> memory_source_file(std::string_view bytes) {
  return std::make_unique<MemorySource>(bytes);
}

std::unique_ptr<PageFile> memory_page_file(std::string& page, std::uint64_t limit) {
  return std::make_unique<MemoryPage>(page, limit);
}

}  // namespace quillantrex
