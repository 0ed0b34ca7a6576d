#include "convert/block_classify.h"

#ifdef QUILLANTREX_AVX2_PATH
#include <cpuid.h>
#endif

namespace quillantrex {

namespace {

#ifdef QUILLANTREX_AVX2_PATH
// A processor's answer to one CPUID question.
struct CpuidLeaf {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// Where the answers tell each feature of QUILLANTREX_AVX2_FEATURES.
#define QUILLANTREX_CPUID_avx2 (leaf7.ebx & bit_AVX2)
#define QUILLANTREX_CPUID_pclmul (leaf1.ecx & bit_PCLMUL)
#define QUILLANTREX_CPUID_popcnt (leaf1.ecx & bit_POPCNT)
#define QUILLANTREX_CPUID_bmi (leaf7.ebx & bit_BMI)
#define QUILLANTREX_CPUID_bmi2 (leaf7.ebx & bit_BMI2)

// Whether the system keeps the AVX registers across task switches.
[[gnu::target("xsave")]] bool system_saves_avx() {
  return (__builtin_ia32_xgetbv(0) & 6) == 6;
}

// Asks the processor itself, three questions. In a virtual machine each one
// is a trip to the hypervisor: the compiler's own feature check asks a
// dozen before main() and took a tenth of the time of a small export.
bool processor_runs_avx2_path() {
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  CpuidLeaf leaf1, leaf7;
  __cpuid(1, leaf1.eax, leaf1.ebx, leaf1.ecx, leaf1.edx);
  if (!(leaf1.ecx & bit_OSXSAVE) || !(leaf1.ecx & bit_AVX) || !system_saves_avx()) return false;
  __cpuid_count(7, 0, leaf7.eax, leaf7.ebx, leaf7.ecx, leaf7.edx);
#define QUILLANTREX_HAS(f) &&QUILLANTREX_CPUID_##f
  return true QUILLANTREX_AVX2_FEATURES(QUILLANTREX_HAS, QUILLANTREX_HAS);
#undef QUILLANTREX_HAS
}
#endif

BlockPath detect_fastest_block_path() {
#ifdef QUILLANTREX_AVX2_PATH
  if (processor_runs_avx2_path()) return BlockPath::avx2;
#endif
#ifdef __SSE2__
  return BlockPath::sse2;
#else
  return BlockPath::plain;
#endif
}

}  // namespace

BlockPath fastest_block_path() {
  // A fact of the processor, asked once.
  static const BlockPath fastest = detect_fastest_block_path();
  return fastest;
}

BlockPath runnable_block_path(BlockPath path) {
  const BlockPath fastest = fastest_block_path();
  return path > fastest ? fastest : path;
}

}  // namespace quillantrex
