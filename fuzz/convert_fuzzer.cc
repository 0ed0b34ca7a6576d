// libFuzzer target: the whole conversion, as the driver runs it, on arbitrary
// bytes, through files in memory and with stream buffers small enough that
// every buffer edge is crossed. Any page that breaks check_page(), or
// differs from reference_page(), aborts the run with the reason.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "cli/driver.h"
#include "convert/page_conversion.h"
#include "page_check.h"
#include "reference_page.h"
#include "streams/file_access.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "page check failed: %s\n", what.c_str());
  std::abort();
}

}  // namespace

// The streams' buffers are allocated anew for every input. With the default
// quarantine of 256 MB each allocation lands on fresh pages, and page faults
// become most of the run; a use after free would show within one input,
// well inside a smaller one. Filling every new block and recording deep
// allocation stacks cost as much again and find nothing more.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=4";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillantrex;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Kept from one input to the next, with its capacity: growing a fresh
  // string for every page costs more than the conversion.
  static std::string page;
  // The input's length picks the buffer sizes, so the fuzzer reaches every
  // combination by growing or shrinking an input. Tiny buffers cross an edge
  // at nearly every character but cost a call to the file each time, so they
  // come up less often than the others.
  constexpr std::size_t source_sizes[] = {1, 5, 16, 64, 4096, 4096, 4096, 4096};
  constexpr std::size_t output_sizes[] = {2, 5, 17, 17, 64, 64, 257, 1024, 4096, 4096, 4096, 4096};
  const std::size_t pick = size % (std::size(source_sizes) * std::size(output_sizes));
  // Every way of classifying blocks that this processor runs.
  constexpr BlockPath paths[] = {BlockPath::plain, BlockPath::sse2, BlockPath::avx2};
  const BlockPath path = paths[(size / 7) % std::size(paths)];
  SourceStream source(memory_source_file(bytes), source_sizes[pick % std::size(source_sizes)]);
  OutputStream output(memory_page_file(page), output_sizes[pick / std::size(source_sizes)]);

  std::array<char, NAME_BUFFER_SIZE> first_line;
  if (!source.read_line(first_line.data(), first_line.size())) {
    if (!export_text(bytes).empty()) fail("first line not read from a non-empty export");
    return 0;
  }
  convert_table(source, output, path);
  if (source.failed()) fail("source read failed");
  if (!output.close()) fail("page write failed");

  if (std::string error = check_page(bytes, page); !error.empty()) fail(error);
  if (page != reference_page(bytes)) fail("page differs from the plain in-memory conversion");
  return 0;
}
