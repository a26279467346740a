// The parser's scanning kernels: where a run of character data or an
// attribute value stops, how much decoded input is plain well-formed text,
// and where the line feeds are. One table per vector level (AVX2 nibble
// look-ups, SSE2 compares, plain byte tables); every level gives the same
// answers, and tests and fuzzers run each of them.
#pragma once

#include <cstddef>
#include <cstring>

#include "twxml/platform/simd.h"

#if TWXML_SIMD_X86
#include <emmintrin.h>
#endif

namespace twxml::xmlcore::scan {

// Zero bytes every scanned source carries after its data: the text and
// value scans read whole blocks up to the zero that ends the source.
inline constexpr size_t kPad = 64;

struct Kernels {
  // Character data: the first '<', '&', ']' or zero byte at or after p.
  // *other is set when a byte other than white space (space, tab, line
  // feed, carriage return) comes before it, and left as it was otherwise.
  const char* (*text)(const char* p, bool* other);
  // An attribute value: the first byte at or after p that is the quote q,
  // '&', '<', tab, line feed or zero.
  const char* (*attr)(const char* p, char q);
  // How much of s[0, n) may pass as it is: well-formed UTF-8 ending on a
  // character boundary, without control characters but tab and line feed
  // (so without carriage returns) and without U+FFFE or U+FFFF. It may stop
  // short of the first byte that is not; the caller looks from there.
  size_t (*clean)(const unsigned char* s, size_t n);
  // The line feeds in [p, e); *last moves to the last of them, if any.
  size_t (*lines)(const char* p, const char* e, const char** last);
  // The characters in [p, e) (bytes that do not continue a character).
  size_t (*chars)(const char* p, const char* e);
};

TWXML_SIMD_KERNEL_TABLES(Kernels)

// The kernels of the level in force now.
inline const Kernels& Active() { return For(simd::Active()); }

#if TWXML_SIMD_X86
// Sixteen bytes of character data at p (SSE2): the stop bytes as a mask,
// *other set as the text kernel sets it. Most runs are short (indentation,
// a word or two), so the parser looks at the first block itself before it
// calls the kernel.
inline unsigned TextBlock(const char* p, bool* other) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')), _mm_cmpeq_epi8(v, _mm_set1_epi8('&'))),
                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(']')), _mm_cmpeq_epi8(v, _mm_setzero_si128())))));
  const unsigned space = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))))));
  const unsigned before = stop ? (stop & (0u - stop)) - 1 : 0xFFFFu;
  if (~space & before) *other = true;
  return stop;
}

// The same for an attribute value quoted with q.
inline unsigned AttrBlock(const char* p, char q) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(q)), _mm_cmpeq_epi8(v, _mm_set1_epi8('&'))),
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')), _mm_cmpeq_epi8(v, _mm_setzero_si128())),
                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')))))));
}
#endif

// Where character data from p stops (see Kernels::text), the first block
// looked at here when the level allows.
inline const char* Text(const Kernels& k, bool vector, const char* p, bool* other) {
#if TWXML_SIMD_X86
  if (vector) {
    if (const unsigned stop = TextBlock(p, other)) return p + __builtin_ctz(stop);
    p += 16;
  }
#else
  (void)vector;
#endif
  return k.text(p, other);
}

inline const char* Attr(const Kernels& k, bool vector, const char* p, char q) {
#if TWXML_SIMD_X86
  if (vector) {
    if (const unsigned stop = AttrBlock(p, q)) return p + __builtin_ctz(stop);
    p += 16;
  }
#else
  (void)vector;
#endif
  return k.attr(p, q);
}

// How the line-feed kernels end once their whole blocks from `from` up to p
// are counted: the rest byte by byte, and *last on the last line feed in
// [from, e) when there is one.
inline size_t FinishLines(const char* from, const char* p, const char* e, size_t count,
                          const char** last) {
  for (; p < e; ++p) count += *p == '\n';
  if (count) *last = static_cast<const char*>(memrchr(from, '\n', size_t(e - from)));
  return count;
}

// The longest prefix of s[0, n) that ends on a character boundary, for
// input known to be well-formed UTF-8 up to n (the last character may be
// cut short by n).
inline size_t WholeCharacters(const unsigned char* s, size_t n) {
  for (size_t j = 1; j <= 3 && j <= n; ++j) {
    const unsigned b = s[n - j];
    if (b < 0x80) return n;
    if (b >= 0xC0) {
      const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
      return len > j ? n - j : n;
    }
  }
  return n;
}

}  // namespace twxml::xmlcore::scan
