// Built without liburing: the page keeps its plain writes.
#include "streams/write_behind.h"

namespace quillantrex {

std::unique_ptr<PageFile> write_page_behind(std::unique_ptr<PageFile> page, int) {
  return page;
}

bool page_written_behind(PageFile&) {
  return false;
}

}  // namespace quillantrex
