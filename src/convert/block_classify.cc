#include "convert/block_classify.h"

namespace quillantrex {

BlockPath fastest_block_path() {
#ifdef QUILLANTREX_AVX2_PATH
  __builtin_cpu_init();
  // The AVX2 code is also compiled for the bit instructions that come with
  // AVX2 on every processor known, but a virtual machine may hide them.
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul") &&
      __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi") &&
      __builtin_cpu_supports("bmi2")) {
    return BlockPath::avx2;
  }
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
