#include "convert/block_classify.h"

namespace quillantrex {

BlockPath fastest_block_path() {
#ifdef QUILLANTREX_AVX2_PATH
  __builtin_cpu_init();
#define QUILLANTREX_SUPPORTS(f) &&__builtin_cpu_supports(#f)
  if (true QUILLANTREX_AVX2_FEATURES(QUILLANTREX_SUPPORTS, QUILLANTREX_SUPPORTS)) {
    return BlockPath::avx2;
  }
#undef QUILLANTREX_SUPPORTS
#endif
#ifdef __SSE2__
  return BlockPath::sse2;
#else
  return BlockPath::plain;
#endif
}

BlockPath runnable_block_path(BlockPath path) {
  const BlockPath fastest = fastest_block_path();
  return path > fastest ? fastest : path;
}

}  // namespace quillantrex
