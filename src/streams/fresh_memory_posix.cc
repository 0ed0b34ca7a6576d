// Linux 5.14 and later fault a range in with one madvise call; elsewhere,
// and on older kernels, which refuse it, the pages fault as they are
// written.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "streams/fresh_memory.h"

namespace quillantrex {

void fault_in(char* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  // Only the whole pages inside the buffer: the allocator's neighbours
  // are none of its business.
  const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t last = (start + size) & ~(page - 1);
  if (last > first) {
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
  }
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace quillantrex
