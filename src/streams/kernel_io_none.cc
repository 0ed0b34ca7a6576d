// Built without liburing: the export and the page keep their plain reads
// and writes.
#include "streams/read_ahead.h"
#include "streams/write_behind.h"

namespace quillantrex {

std::unique_ptr<PageFile> write_page_behind(std::unique_ptr<PageFile> page, int) {
  return page;
}

bool page_written_behind(PageFile&) {
  return false;
}

std::unique_ptr<SourceFile> read_source_ahead(std::unique_ptr<SourceFile> source, int) {
  return source;
}

}  // namespace quillantrex
