// Buffers about to be written whole. Memory first touched costs a page
// fault a page, which a virtual machine makes dear; where the system can,
// one call faults the whole buffer in instead (fresh_memory_posix.cc).
#ifndef QUILLANTREX_STREAMS_FRESH_MEMORY_H_
#define QUILLANTREX_STREAMS_FRESH_MEMORY_H_

#include <cstddef>
#include <cstring>
#include <memory>

namespace quillantrex {

// Faults the whole pages of `data`, `size` bytes, in at once where the
// system can; elsewhere nothing.
void fault_in(char* data, std::size_t size);

// `size` bytes, uninitialised; only for a buffer whose every page is
// written soon, as the faulting in is wasted on pages never reached.
inline std::unique_ptr<char[]> fresh_buffer(std::size_t size) {
  std::unique_ptr<char[]> buffer(new char[size]);
  fault_in(buffer.get(), size);
  return buffer;
}

// A buffer of `size` bytes that starts with the `kept` bytes at `old`,
// for growing one. Allocated in sight of the caller, so that the compiler
// knows its size and checks the copy (_FORTIFY_SOURCE); the rest, which is
// about to be written, is faulted in at once.
inline std::unique_ptr<char[]> grown_buffer(const char* old, std::size_t kept, std::size_t size) {
  std::unique_ptr<char[]> larger(new char[size]);
  if (kept > 0) std::memcpy(larger.get(), old, kept);
  fault_in(larger.get() + kept, size - kept);
  return larger;
}

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_FRESH_MEMORY_H_
