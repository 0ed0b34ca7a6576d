// Systems without a call that faults memory in ahead: the pages fault as
// they are written.
#include "streams/fresh_memory.h"

namespace quillantrex {

void fault_in(char*, std::size_t) {}

LargeBuffer large_buffer(std::size_t size) {
  return LargeBuffer(static_cast<char*>(std::malloc(size)));
}

}  // namespace quillantrex
