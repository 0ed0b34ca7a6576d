// Sorting sixty-four bytes of the export at once into the few the scan must
// act on, with no decision per byte. The quote state is carried through the
// block by a prefix XOR of the quote positions: a byte lies inside a quoted
// run when an odd number of quotes stand before it (or at it), counting from
// the state the block started in.
#ifndef QUILLANTREX_CONVERT_BLOCK_CLASSIFY_H_
#define QUILLANTREX_CONVERT_BLOCK_CLASSIFY_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
// The AVX2 path is compiled on x86-64 by compilers that can target one
// function at a newer processor and ask the processor what it has.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLANTREX_AVX2_PATH 1
// What the AVX2 path is compiled for, listed once: the attribute below and
// the check that the processor has each (block_classify.cc). The bit
// instructions come with AVX2 on every processor known, but a virtual
// machine may hide them.
#define QUILLANTREX_AVX2_FEATURES(FIRST, THEN) \
  FIRST(avx2) THEN(pclmul) THEN(popcnt) THEN(bmi) THEN(bmi2)
#define QUILLANTREX_FEATURE_NAME(f) #f
#define QUILLANTREX_NEXT_FEATURE_NAME(f) "," #f
#define QUILLANTREX_AVX2_TARGET \
  gnu::target(QUILLANTREX_AVX2_FEATURES(QUILLANTREX_FEATURE_NAME, QUILLANTREX_NEXT_FEATURE_NAME))
#endif

namespace quillantrex {

inline constexpr std::size_t CLASS_BLOCK = 64;

// How blocks are classified. The page is the same whichever is taken; tests
// and the fuzzer run each that the processor has.
enum class BlockPath {
  plain,  // eight bytes to a 64-bit word in integer arithmetic, everywhere
  sse2,   // sixteen bytes at a time, where the compiler targets SSE2
  avx2,   // AVX2 and carry-less multiply, where the processor has them
};

// The fastest path this processor runs.
BlockPath fastest_block_path();
// `path`, or the fastest slower one where the processor cannot run it.
BlockPath runnable_block_path(BlockPath path);

// One bit per byte of the block, bit i for byte i.
struct BlockClasses {
  // Bytes whose place in the page is not the byte itself: every quote, ";"
  // outside quotes, every LF, and the CR of a CR LF.
  std::uint64_t structure;
  // Bytes inside a quoted run: an opening quote is inside, a closing one not.
  std::uint64_t quoted;
  // Bytes whose text the byte alone does not tell: an LF in quotes (a line
  // of the cell, not a row), a ";" in quotes (itself) and a CR before
  // anything but an LF (itself). A run of bytes without them needs no look
  // at `quoted` per byte. The AVX2 path also marks the CR of a CR LF in
  // quotes, which becomes nothing either way: a block it marks takes the
  // loop that looks, to the same page.
  std::uint64_t by_context;
  // Where the block stops being convertible on its own: "@" outside quotes
  // (the address after it has its own quote rule) and Ctrl-Z (end of text).
  // Nothing at or after the first of these bits is meaningful.
  std::uint64_t leave;
};

// For an address met at an "@": the bytes around it, one bit each.
struct LinkClasses {
  // Up to 64 bytes before the "@", bit 63 - `before_shift` for the byte
  // just before it, bit 62 - `before_shift` for the one before that, and so
  // on; set where a byte can stand just before the link's start or stops
  // the walk back to it: ";", LF, quote, ">" and space. `before_all` when
  // the 64 bytes before the "@" were all looked at.
  std::uint64_t before;
  std::size_t before_shift;
  bool before_all;
  // Up to 64 bytes after the "@", bit 0 for the byte just after it, set
  // where a byte can end the address: ";", LF, CR, Ctrl-Z and space.
  std::uint64_t after;
};

// The bytes of one kind in a block, one bit each.
struct ByteMasks {
  std::uint64_t quote, semicolon, lf, cr, at, ctrl_z;
};

// The index of the lowest set bit of x, which is not 0.
inline std::size_t lowest_bit(std::uint64_t x) {
  return std::countr_zero(x);
}

// Every bit up to and including each set bit of x flips: bit i of the result
// is the parity of bits 0..i of x.
inline std::uint64_t prefix_xor(std::uint64_t x) {
  for (int shift = 1; shift < 64; shift *= 2) x ^= x << shift;
  return x;
}

// The classes from the byte masks. `inside` is the prefix XOR of the quotes;
// `next` is the byte after the block; `quoted` is all ones when the block
// starts in a quoted run, and becomes the same for the block after.
inline BlockClasses classes_of(const ByteMasks& m, std::uint64_t inside, char next,
                               std::uint64_t& quoted) {
  inside ^= quoted;
  quoted = static_cast<std::uint64_t>(static_cast<std::int64_t>(inside) >> 63);
  const std::uint64_t lf_after = (m.lf >> 1) | (static_cast<std::uint64_t>(next == '\n') << 63);
  return BlockClasses{
      .structure = m.quote | (m.semicolon & ~inside) | m.lf | (m.cr & lf_after),
      .quoted = inside,
      .by_context = ((m.lf | m.semicolon) & inside) | (m.cr & ~lf_after),
      .leave = (m.at & ~inside) | m.ctrl_z,
  };
}

// Bit k set where byte k of `word` (the byte at bits 8k to 8k + 7) is c,
// eight bytes at a time in ordinary integer arithmetic.
inline std::uint64_t byte_bits(std::uint64_t word, char c) {
  constexpr std::uint64_t ONES = 0x0101010101010101, HIGH = 0x8080808080808080;
  const std::uint64_t x = word ^ (ONES * static_cast<unsigned char>(c));
  // A byte's high bit is set here when the byte of x is not zero; adding
  // within the low seven bits never carries into the next byte.
  const std::uint64_t nonzero = ((x & ~HIGH) + ~HIGH) | x;
  // One bit per matching byte at bits 0, 8, ..., 56; the multiply gathers
  // them into the top byte.
  return (((~nonzero & HIGH) >> 7) * 0x0102040810204080) >> 56;
}

// Byte k of the eight bytes at p, whatever the byte order, at bits 8k to
// 8k + 7.
inline std::uint64_t word_at(const char* p) {
  std::uint64_t word = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[k])) << (8 * k);
  }
  return word;
}

// The spaces and ">" of a block, for an address met in it.
struct LinkBytes {
  std::uint64_t space, greater;
};

inline LinkBytes link_bytes_plain(const char* block) {
  LinkBytes bits{};
  for (std::size_t part = 0; part < CLASS_BLOCK; part += 8) {
    const std::uint64_t word = word_at(block + part);
    bits.space |= byte_bits(word, ' ') << part;
    bits.greater |= byte_bits(word, '>') << part;
  }
  return bits;
}

// Classes, and the byte masks a link takes its own from. Where the masks
// cost a compare per byte and kind, as here, keeping them is cheaper than
// making them again.
struct ClassesAndMasks : BlockClasses {
  std::uint64_t link_stops;    // ";", LF and quote
  std::uint64_t address_ends;  // ";", LF, CR and Ctrl-Z
};

inline ClassesAndMasks with_masks(const BlockClasses& classes, const ByteMasks& m) {
  return ClassesAndMasks{classes, m.semicolon | m.lf | m.quote,
                         m.semicolon | m.lf | m.cr | m.ctrl_z};
}

// The link's classes for the "@" that is byte `end` of the block, from the
// block's bits: the bytes of the block alone.
inline LinkClasses link_classes_of(const ClassesAndMasks& classes, const LinkBytes& bytes,
                                   std::size_t end) {
  const std::uint64_t before = classes.link_stops | bytes.space | bytes.greater;
  return LinkClasses{
      .before = before & ((std::uint64_t{1} << end) - 1),
      .before_shift = CLASS_BLOCK - end,
      .before_all = false,
      .after = (classes.address_ends | bytes.space) >> end >> 1,
  };
}

// Classifies the CLASS_BLOCK bytes at `block`. `next` is the byte after them,
// for a CR LF split between two blocks; `quoted` as for classes_of().
inline ClassesAndMasks classify_block_plain(const char* block, char next, std::uint64_t& quoted) {
  ByteMasks m{};
  for (std::size_t part = 0; part < CLASS_BLOCK; part += 8) {
    const std::uint64_t word = word_at(block + part);
    m.quote |= byte_bits(word, '"') << part;
    m.semicolon |= byte_bits(word, ';') << part;
    m.lf |= byte_bits(word, '\n') << part;
    m.cr |= byte_bits(word, '\r') << part;
    m.at |= byte_bits(word, '@') << part;
    m.ctrl_z |= byte_bits(word, '\x1A') << part;
  }
  return with_masks(classes_of(m, prefix_xor(m.quote), next, quoted), m);
}

#ifdef __SSE2__
// Bit i set where byte i of the sixteen in `v` is c.
inline std::uint64_t sse2_bits(__m128i v, char c) {
  return static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}

// The same, comparing sixteen bytes at once.
inline ClassesAndMasks classify_block_sse2(const char* block, char next, std::uint64_t& quoted) {
  ByteMasks m{};
  for (std::size_t part = 0; part < CLASS_BLOCK; part += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + part));
    m.quote |= sse2_bits(v, '"') << part;
    m.semicolon |= sse2_bits(v, ';') << part;
    m.lf |= sse2_bits(v, '\n') << part;
    m.cr |= sse2_bits(v, '\r') << part;
    m.at |= sse2_bits(v, '@') << part;
    m.ctrl_z |= sse2_bits(v, '\x1A') << part;
  }
  return with_masks(classes_of(m, prefix_xor(m.quote), next, quoted), m);
}

inline LinkBytes link_bytes_sse2(const char* block) {
  LinkBytes bits{};
  for (std::size_t part = 0; part < CLASS_BLOCK; part += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + part));
    bits.space |= sse2_bits(v, ' ') << part;
    bits.greater |= sse2_bits(v, '>') << part;
  }
  return bits;
}
#endif

#ifdef QUILLANTREX_AVX2_PATH
// The AVX2 path, only to be called where fastest_block_path() is avx2: bit i
// of the result for byte i of the 64 whose compares are `lo` and `hi`.
[[QUILLANTREX_AVX2_TARGET]] inline std::uint64_t avx2_mask(__m256i lo, __m256i hi) {
  const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(lo));
  const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(hi));
  return low | static_cast<std::uint64_t>(high) << 32;
}

// Bit i set where byte i of the 64 in `lo` and `hi` equals the same byte of
// `bytes`, which holds one byte in every lane.
[[QUILLANTREX_AVX2_TARGET]] inline std::uint64_t avx2_bits(__m256i lo, __m256i hi, __m256i bytes) {
  return avx2_mask(_mm256_cmpeq_epi8(lo, bytes), _mm256_cmpeq_epi8(hi, bytes));
}

// The index of the lowest set bit of x, which is not 0, as one `tzcnt`. The
// compiler clears the result's register before each `tzcnt` it emits, for
// processors where the instruction waits for that register's old value (up
// to Broadwell): in the loop over a block's structure bytes, one instruction
// in thirteen. There, that wait would chain each byte's `tzcnt` to the last
// one's, three cycles, about what the loop takes a byte anyway.
[[QUILLANTREX_AVX2_TARGET]] inline std::size_t lowest_bit_avx2(std::uint64_t x) {
  std::uint64_t at;
  asm("tzcnt %1, %0" : "=r"(at) : "r"(x) : "cc");
  return at;
}

// A set of bytes below 0x80 no two of which share their low four bits, as a
// table indexed by them: a byte is in the set when it is its own entry.
// Bytes from 0x80 up look up 0, which none of them is.
consteval std::array<char, 16> low_nibble_set(std::initializer_list<char> bytes) {
  std::array<char, 16> table{};
  // Entries no byte that looks them up is: their low bits differ.
  for (std::size_t low = 0; low < 16; ++low) table[low] = static_cast<char>(low ^ 1);
  std::array<bool, 16> taken{};
  for (char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value >= 0x80 || taken[value & 15]) throw "not a set one table look-up can tell";
    taken[value & 15] = true;
    table[value & 15] = byte;
  }
  return table;
}

// Classifies blocks as classify_block_plain() does, with AVX2 compares and
// the prefix XOR as one carry-less multiply by all ones. The bytes it compares
// against are made once, for a run of blocks: left to itself, the compiler
// kept only some of them in registers and made the others again for every
// block. A link's classes are made from the bytes around its "@" when one
// is met, which costs less than keeping them in every block.
class Avx2Classifier {
 public:
  using Classes = BlockClasses;

  [[QUILLANTREX_AVX2_TARGET]] Avx2Classifier()
      : quote_(_mm256_set1_epi8('"')),
        semicolon_(_mm256_set1_epi8(';')),
        lf_(_mm256_set1_epi8('\n')),
        cr_(_mm256_set1_epi8('\r')),
        at_(_mm256_set1_epi8('@')),
        ctrl_z_(_mm256_set1_epi8('\x1A')),
        breaks_(table(BREAKS)),
        ones_(_mm_set1_epi8(-1)) {
    // Values the compiler cannot make again, only keep.
    asm("" : "+x"(quote_), "+x"(lf_), "+x"(cr_), "+x"(at_), "+x"(ctrl_z_), "+x"(breaks_));
  }
  [[QUILLANTREX_AVX2_TARGET]] Classes operator()(const char* block, char,
                                                 std::uint64_t& quoted) const {
    const __m256i lo = load(block), hi = load(block + 32);
    // Where the byte after each is an LF; for the last, the byte after the
    // block.
    const __m256i lf_lo = _mm256_cmpeq_epi8(load(block + 1), lf_);
    const __m256i lf_hi = _mm256_cmpeq_epi8(load(block + 33), lf_);
    const __m256i cr_lo = _mm256_cmpeq_epi8(lo, cr_), cr_hi = _mm256_cmpeq_epi8(hi, cr_);
    const __m256i cr_alone_lo = _mm256_andnot_si256(lf_lo, cr_lo);
    const __m256i cr_alone_hi = _mm256_andnot_si256(lf_hi, cr_hi);
    // ";", LF and the CR of a CR LF, in one mask: outside quotes each is a
    // structure byte, and inside them each but ";". Few blocks have one in
    // quotes; only those look for their ";".
    const std::uint64_t breaks =
        avx2_mask(_mm256_or_si256(in_set(lo, breaks_), _mm256_and_si256(cr_lo, lf_lo)),
                  _mm256_or_si256(in_set(hi, breaks_), _mm256_and_si256(cr_hi, lf_hi)));
    const std::uint64_t quotes = avx2_bits(lo, hi, quote_);
    const std::uint64_t at = avx2_bits(lo, hi, at_);
    // A CR alone and a Ctrl-Z are rare: one test tells whether the block has
    // either, and only then is each made a mask of its own.
    const __m256i rare_lo = _mm256_or_si256(cr_alone_lo, _mm256_cmpeq_epi8(lo, ctrl_z_));
    const __m256i rare_hi = _mm256_or_si256(cr_alone_hi, _mm256_cmpeq_epi8(hi, ctrl_z_));
    const __m128i product =
        _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(quotes)), ones_, 0);
    const std::uint64_t inside = static_cast<std::uint64_t>(_mm_cvtsi128_si64(product)) ^ quoted;
    quoted = static_cast<std::uint64_t>(static_cast<std::int64_t>(inside) >> 63);
    Classes classes{
        .structure = quotes | breaks,
        .quoted = inside,
        .by_context = breaks & inside,
        .leave = at & ~inside,
    };
    if (classes.by_context != 0) classes.structure &= ~(avx2_bits(lo, hi, semicolon_) & inside);
    const __m256i rare = _mm256_or_si256(rare_lo, rare_hi);
    if (!_mm256_testz_si256(rare, rare)) {
      classes.by_context |= avx2_mask(cr_alone_lo, cr_alone_hi);
      classes.leave |= avx2_bits(lo, hi, ctrl_z_);
    }
    return classes;
  }
  // The 64 bytes on each side of the "@" that is byte `end` of the block,
  // which has `available` bytes of the export before it and 64 at least
  // after it; those before it only where there are 64. One table look-up
  // and compare a set: the bytes before a link's start are one set, those
  // after its end one but for Ctrl-Z, which shares its low bits with LF.
  // Most addresses start and end within 32 bytes of their "@": the 32 on
  // each side are looked at first, the 32 beyond only where those hold no
  // stop.
  [[QUILLANTREX_AVX2_TARGET]] LinkClasses link_classes(const char* block, std::size_t end,
                                                       std::size_t available,
                                                       const Classes&) const {
    const char* const at_sign = block + end;
    LinkClasses links{};
    if (available >= CLASS_BLOCK) {
      const __m256i before = table(BEFORE_LINK);
      links.before = std::uint64_t{half_mask(in_set(load(at_sign - 32), before))} << 32;
      if (links.before == 0) links.before = half_mask(in_set(load(at_sign - 64), before));
      links.before_all = true;
    }
    const __m256i after = table(AFTER_LINK);
    links.after = half_mask(address_ends(load(at_sign + 1), after));
    if (links.after == 0)
      links.after = std::uint64_t{half_mask(address_ends(load(at_sign + 33), after))} << 32;
    return links;
  }

 private:
  static constexpr std::array<char, 16> BEFORE_LINK = low_nibble_set({';', '\n', '"', '>', ' '});
  static constexpr std::array<char, 16> AFTER_LINK = low_nibble_set({';', '\n', '\r', ' '});
  static constexpr std::array<char, 16> BREAKS = low_nibble_set({';', '\n'});

  [[QUILLANTREX_AVX2_TARGET]] static std::uint32_t half_mask(__m256i compares) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(compares));
  }
  [[QUILLANTREX_AVX2_TARGET]] static __m256i load(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  [[QUILLANTREX_AVX2_TARGET]] static __m256i table(const std::array<char, 16>& set) {
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(set.data())));
  }
  // 0xFF where the byte is in the set the table stands for.
  [[QUILLANTREX_AVX2_TARGET]] static __m256i in_set(__m256i bytes, __m256i table) {
    return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, bytes), bytes);
  }
  // 0xFF where the byte can end an address: in AFTER_LINK's set, or Ctrl-Z.
  [[QUILLANTREX_AVX2_TARGET]] __m256i address_ends(__m256i bytes, __m256i after) const {
    return _mm256_or_si256(in_set(bytes, after), _mm256_cmpeq_epi8(bytes, ctrl_z_));
  }

  __m256i quote_, semicolon_, lf_, cr_, at_, ctrl_z_, breaks_;
  __m128i ones_;
};

#endif

// A classifier for convert_blocks(), from a classify_block_*() function
// with nothing to make once, and the link bytes function of its path.
template <ClassesAndMasks (*Classify)(const char*, char, std::uint64_t&),
          LinkBytes (*LinkBytesOf)(const char*)>
struct BlockClassifier {
  using Classes = ClassesAndMasks;
  Classes operator()(const char* block, char next, std::uint64_t& quoted) const {
    return Classify(block, next, quoted);
  }
  LinkClasses link_classes(const char* block, std::size_t end, std::size_t,
                           const Classes& classes) const {
    return link_classes_of(classes, LinkBytesOf(block), end);
  }
};

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_BLOCK_CLASSIFY_H_
