// Finding the next byte that needs attention in a run of plain text: for the
// character scan near buffer edges and for the link writer, which search short
// runs, sixteen bytes at a time where the processor allows (SSE2, on every
// x86-64).
#ifndef QUILLANTREX_CONVERT_BYTE_SCAN_H_
#define QUILLANTREX_CONVERT_BYTE_SCAN_H_

#include <bit>
#include <cstddef>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace quillantrex {

inline constexpr std::size_t SCAN_BLOCK = 16;

// Bit i set when p[i] is one of `Stops`, for the SCAN_BLOCK bytes at p.
template <char... Stops>
inline unsigned stop_mask(const char* p) {
#ifdef __SSE2__
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i hits = _mm_setzero_si128();
  ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8(Stops)))), ...);
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
#else
  unsigned mask = 0;
  for (std::size_t i = 0; i < SCAN_BLOCK; ++i) {
    const char c = p[i];
    if (((c == Stops) || ...)) mask |= 1u << i;
  }
  return mask;
#endif
}

// The length of the longest prefix of `text` that holds none of `Stops`.
template <char... Stops>
inline std::size_t span_until(std::string_view text) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
  for (; i + SCAN_BLOCK <= n; i += SCAN_BLOCK) {
    if (unsigned mask = stop_mask<Stops...>(p + i))
      return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  for (; i < n; ++i) {
    const char c = p[i];
    if (((c == Stops) || ...)) return i;
  }
  return n;
}

// The length of `text` up to and including its last byte that is one of
// `Stops`; 0 if it holds none.
template <char... Stops>
inline std::size_t span_through_last(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  for (; n >= SCAN_BLOCK; n -= SCAN_BLOCK) {
    if (unsigned mask = stop_mask<Stops...>(p + n - SCAN_BLOCK))
      return n - static_cast<std::size_t>(std::countl_zero(mask << 16));
  }
  for (; n > 0; --n) {
    const char c = p[n - 1];
    if (((c == Stops) || ...)) return n;
  }
  return 0;
}

// A set of bytes to stop at, named once so that every scan for it uses the
// same list.
template <char... Stops>
struct ByteSet {
  static std::size_t span_until(std::string_view text) {
    return quillantrex::span_until<Stops...>(text);
  }
  static std::size_t span_through_last(std::string_view text) {
    return quillantrex::span_through_last<Stops...>(text);
  }
};

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_BYTE_SCAN_H_
