// Buffers about to be written whole. Memory first touched costs a page
// fault a page, which a virtual machine makes dear; where the system can,
// one call faults the whole buffer in instead (fresh_memory_posix.cc).
#ifndef QUILLANTREX_STREAMS_FRESH_MEMORY_H_
#define QUILLANTREX_STREAMS_FRESH_MEMORY_H_

#include <cstddef>
#include <memory>

namespace quillantrex {

// `size` bytes, uninitialised; only for a buffer whose every page is
// written soon, as the faulting in is wasted on pages never reached.
std::unique_ptr<char[]> fresh_buffer(std::size_t size);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_FRESH_MEMORY_H_
