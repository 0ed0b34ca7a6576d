// Systems without a call that faults memory in ahead: the pages fault as
// they are written.
#include "streams/fresh_memory.h"

namespace quillantrex {

std::unique_ptr<char[]> fresh_buffer(std::size_t size) {
  return std::unique_ptr<char[]>(new char[size]);
}

}  // namespace quillantrex
