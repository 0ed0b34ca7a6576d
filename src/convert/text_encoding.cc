#include "convert/text_encoding.h"

#include <cstddef>

#include "streams/source_stream.h"

namespace quillantrex {

namespace {

// The sequence starting with `lead` (0x80 or above): its length, and the
// range of its second byte, which rules out overlong forms, surrogates and
// code points above U+10FFFF. Length 0 for a byte that cannot start one.
struct Sequence {
  std::size_t length;
  unsigned char low, high;
};

Sequence sequence_of(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

}  // namespace

bool export_is_utf8(bool byte_order_mark, std::string_view start_of_text) {
  if (byte_order_mark) return true;
  const bool goes_on = start_of_text.size() > SOURCE_READ_AHEAD;
  const std::string_view sample = start_of_text.substr(0, SOURCE_READ_AHEAD);
  const auto* p = reinterpret_cast<const unsigned char*>(sample.data());
  const std::size_t n = sample.size();
  bool high = false;
  for (std::size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    high = true;
    const Sequence s = sequence_of(p[i]);
    if (s.length == 0) return false;
    for (std::size_t k = 1; k < s.length; ++k) {
      if (i + k == n) return goes_on;
      const unsigned char b = p[i + k];
      const bool fits = k == 1 ? b >= s.low && b <= s.high : b >= 0x80 && b <= 0xBF;
      if (!fits) return false;
    }
    i += s.length;
  }
  return high;
}

}  // namespace quillantrex
