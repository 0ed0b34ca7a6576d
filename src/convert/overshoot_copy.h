// Copies for the fast paths that move whole pieces of a fixed size, whatever
// the length asked for, so that copying a short run takes no decision per
// byte.
//
// Their contract, for every copy here: copying n bytes may read up to
// COPY_OVERREACH bytes past the n at `from` and write as many past them at
// `to`, so the caller makes sure that both buffers reach that far. Whatever
// lands past the n bytes is not part of the result: the caller writes over
// it or leaves it beyond what it keeps. `from` and `to` never overlap.
#ifndef QUILLANTREX_CONVERT_OVERSHOOT_COPY_H_
#define QUILLANTREX_CONVERT_OVERSHOOT_COPY_H_

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "convert/block_classify.h"

namespace quillantrex {

inline constexpr std::size_t COPY_PIECE = 32;
inline constexpr std::size_t COPY_OVERREACH = COPY_PIECE;

// One piece.
inline void copy_piece(char* to, const char* from) {
  std::memcpy(to, from, COPY_PIECE);
}

#ifdef QUILLANTREX_AVX2_PATH
// One piece in one move: a plain 32-byte copy compiles to two 16-byte moves,
// even in a function compiled for AVX2, under the compilers' default tuning.
[[QUILLANTREX_AVX2_TARGET]] inline void copy_piece_avx2(char* to, const char* from) {
  static_assert(COPY_PIECE == sizeof(__m256i));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
}
#endif

// n <= 2 * COPY_PIECE bytes as one piece or two, with `CopyPiece`.
template <void (*CopyPiece)(char*, const char*) = copy_piece>
[[gnu::always_inline]] inline void copy_gap(char* to, const char* from, std::size_t n) {
  CopyPiece(to, from);
  if (n > COPY_PIECE) CopyPiece(to + COPY_PIECE, from + COPY_PIECE);
}

// Any n, piece by piece. Returns the end of the n bytes at `to`.
template <void (*CopyPiece)(char*, const char*) = copy_piece>
[[gnu::always_inline]] inline char* copy_pieces(char* to, const char* from, std::size_t n) {
  for (std::size_t i = 0; i < n; i += COPY_PIECE) CopyPiece(to + i, from + i);
  return to + n;
}

// n <= 2 * COPY_PIECE bytes taken at once, to be written where they may
// have been written over by then, as many times as needed: the copies
// before the first write are all of them.
template <void (*CopyPiece)(char*, const char*) = copy_piece>
class HeldGap {
 public:
  [[gnu::always_inline]] HeldGap(const char* from, std::size_t n) {
    copy_gap<CopyPiece>(bytes_, from, n);
  }
  [[gnu::always_inline]] void put(char* to, std::size_t n) const {
    copy_gap<CopyPiece>(to, bytes_, n);
  }

 private:
  char bytes_[2 * COPY_PIECE];
};

#ifdef QUILLANTREX_AVX2_PATH
// In two registers.
template <>
class HeldGap<copy_piece_avx2> {
 public:
  [[QUILLANTREX_AVX2_TARGET]] HeldGap(const char* from, std::size_t n)
      : low_(load(from)), high_(n > COPY_PIECE ? load(from + COPY_PIECE) : low_) {}
  [[QUILLANTREX_AVX2_TARGET]] void put(char* to, std::size_t n) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), low_);
    if (n > COPY_PIECE) _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + COPY_PIECE), high_);
  }

 private:
  [[QUILLANTREX_AVX2_TARGET]] static __m256i load(const char* from) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
  }
  __m256i low_, high_;
};
#endif

// A fixed text of at most half a piece, always written whole.
struct Piece {
  std::array<char, COPY_PIECE / 2> bytes;
  std::size_t size;
};
static_assert(sizeof(Piece::bytes) <= COPY_OVERREACH);

consteval Piece piece(std::string_view text) {
  Piece p{};
  for (std::size_t i = 0; i < text.size(); ++i) p.bytes.at(i) = text[i];
  p.size = text.size();
  return p;
}

// Writes `text`; returns the end of its size at `to`. A text of up to eight
// bytes, known where it is put, is one 8-byte move.
inline char* put(char* to, const Piece& text) {
  if (text.size <= 8)
    std::memcpy(to, text.bytes.data(), 8);
  else
    std::memcpy(to, text.bytes.data(), text.bytes.size());
  return to + text.size;
}

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_OVERSHOOT_COPY_H_
