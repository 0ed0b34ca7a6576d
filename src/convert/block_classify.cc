#include "convert/block_classify.h"

#ifdef QUILLANTREX_AVX2_PATH
// glibc 2.33 and later tell what the processor has from the answers it
// asked for before main(); clang cannot read the header as C++.
#if defined(__GLIBC__) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define QUILLANTREX_GLIBC_KNOWS_CPU 1
#else
#include <cpuid.h>
#endif
#endif

namespace quillantrex {

namespace {

#ifdef QUILLANTREX_AVX2_PATH
#ifdef QUILLANTREX_GLIBC_KNOWS_CPU
// glibc's names for the features, and whether the system keeps their
// registers across task switches, as "active".
#define QUILLANTREX_GLIBC_avx2 CPU_FEATURE_ACTIVE(AVX2)
#define QUILLANTREX_GLIBC_pclmul CPU_FEATURE_ACTIVE(PCLMULQDQ)
#define QUILLANTREX_GLIBC_popcnt CPU_FEATURE_ACTIVE(POPCNT)
#define QUILLANTREX_GLIBC_bmi CPU_FEATURE_ACTIVE(BMI1)
#define QUILLANTREX_GLIBC_bmi2 CPU_FEATURE_ACTIVE(BMI2)

// In a virtual machine each question to the processor is a trip to the
// hypervisor, 7 microseconds here: the three below took 3 % of the time of
// a 1 KB export. glibc has the answers already.
bool processor_runs_avx2_path() {
#define QUILLANTREX_HAS(f) &&QUILLANTREX_GLIBC_##f
  return true QUILLANTREX_AVX2_FEATURES(QUILLANTREX_HAS, QUILLANTREX_HAS);
#undef QUILLANTREX_HAS
}
#else
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
#endif  // QUILLANTREX_GLIBC_KNOWS_CPU
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
