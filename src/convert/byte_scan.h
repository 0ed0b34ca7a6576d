// Finding the next byte that needs attention in a run of plain text. The scan
// spends most of its time here on an ordinary export, so it looks at sixteen
// bytes at a time where the processor allows.
#ifndef QUILLANTREX_CONVERT_BYTE_SCAN_H_
#define QUILLANTREX_CONVERT_BYTE_SCAN_H_

#include <bit>
#include <cstddef>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace quillantrex {

// The length of the longest prefix of `text` that holds none of `Stops`.
template <char... Stops>
inline std::size_t span_until(std::string_view text) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
#ifdef __SSE2__
  for (; i + 16 <= n; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i hits = _mm_setzero_si128();
    ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(chunk, _mm_set1_epi8(Stops)))), ...);
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
#endif
  for (; i < n; ++i) {
    const char c = p[i];
    if (((c == Stops) || ...)) return i;
  }
  return n;
}

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_BYTE_SCAN_H_
