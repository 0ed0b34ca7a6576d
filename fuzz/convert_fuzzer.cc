// libFuzzer target: the whole conversion, as the driver runs it, on arbitrary
// bytes, with stream buffers small enough that every buffer edge is crossed.
// Any page that breaks check_page(), or differs from reference_page(),
// aborts the run with the reason.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "cli/output_stream.h"
#include "cli/source_stream.h"
#include "convert/page_conversion.h"
#include "convert/page_texts.h"
#include "page_check.h"
#include "reference_page.h"

namespace {

// In-memory files, made once: creating files per input would cost more than
// the conversion. The streams take ownership of what they are given, so
// they get duplicates.
int export_file = -1;
int page_file = -1;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "page check failed: %s\n", what.c_str());
  std::abort();
}

bool put_export(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(export_file, 0) != 0 || ::lseek(export_file, 0, SEEK_SET) != 0) return false;
  for (std::size_t done = 0; done < size;) {
    ssize_t n = ::write(export_file, data + done, size - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ::lseek(export_file, 0, SEEK_SET) == 0 && ::ftruncate(page_file, 0) == 0;
}

std::string get_page() {
  struct stat st;
  if (::fstat(page_file, &st) != 0) fail("cannot read the page back");
  std::string page(static_cast<std::size_t>(st.st_size), '\0');
  for (std::size_t done = 0; done < page.size();) {
    ssize_t n =
        ::pread(page_file, page.data() + done, page.size() - done, static_cast<off_t>(done));
    if (n <= 0) fail("cannot read the page back");
    done += static_cast<std::size_t>(n);
  }
  return page;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillantrex;
  if (export_file < 0) {
    export_file = ::memfd_create("export", 0);
    page_file = ::memfd_create("carnet", 0);
    if (export_file < 0 || page_file < 0) fail("cannot create in-memory files");
  }
  if (!put_export(data, size)) fail("cannot write the export");

  // The input's length picks the buffer sizes, so the fuzzer reaches every
  // combination by growing or shrinking an input. Tiny buffers cross an edge
  // at nearly every character but cost a system call each time, so they come
  // up less often than the others.
  constexpr std::size_t source_sizes[] = {1, 5, 16, 64, 4096, 4096, 4096, 4096};
  constexpr std::size_t output_sizes[] = {2, 5, 17, 17, 64, 64, 257, 1024, 4096, 4096, 4096, 4096};
  const std::size_t pick = size % (std::size(source_sizes) * std::size(output_sizes));
  // Every way of classifying blocks that this processor runs.
  constexpr BlockPath paths[] = {BlockPath::plain, BlockPath::sse2, BlockPath::avx2};
  const BlockPath path = paths[(size / 7) % std::size(paths)];
  SourceStream source(::dup(export_file), source_sizes[pick % std::size(source_sizes)]);
  OutputStream output(::dup(page_file), output_sizes[pick / std::size(source_sizes)]);

  std::array<char, NAME_BUFFER_SIZE> first_line;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!source.read_line(first_line.data(), first_line.size())) {
    if (!export_text(bytes).empty()) fail("first line not read from a non-empty export");
    return 0;
  }
  convert_table(source, output, path);
  if (source.failed()) fail("source read failed");
  if (!output.close()) fail("page write failed");

  const std::string page = get_page();
  if (std::string error = check_page(bytes, page); !error.empty()) fail(error);
  if (page != reference_page(bytes)) fail("page differs from the plain in-memory conversion");
  return 0;
}
