#include "convert/block_classify.h"

namespace quillantrex {

BlockPath fastest_block_path() {
#ifdef QUILLANTREX_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul")) return BlockPath::avx2;
#endif
  return BlockPath::portable;
}

BlockPath runnable_block_path(BlockPath path) {
  return path == BlockPath::avx2 ? fastest_block_path() : BlockPath::portable;
}

}  // namespace quillantrex
