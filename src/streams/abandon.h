// A buffer the kernel may still write into or read from, after waiting for
// that work failed for good: freeing it, or using it again, would let the
// kernel's late copy land in memory that holds something else. It is left to
// the process's end instead; the leak checker of a sanitized build is told.
#ifndef QUILLANTREX_STREAMS_ABANDON_H_
#define QUILLANTREX_STREAMS_ABANDON_H_

#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#define QUILLANTREX_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLANTREX_LEAK_CHECKED 1
#endif
#endif
#ifdef QUILLANTREX_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace quillantrex {

inline void abandon(std::unique_ptr<char[]> buffer) {
  char* kept = buffer.release();
#ifdef QUILLANTREX_LEAK_CHECKED
  if (kept != nullptr) __lsan_ignore_object(kept);
#endif
  (void)kept;
}

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_ABANDON_H_
