// The escaping scan on every machine (a byte table) and with SSE2 (eight
// units or sixteen bytes per compare).
#include "escape_scan.h"

#include <cstdint>

#if TWXML_SIMD_X86
#include <emmintrin.h>
#endif

namespace twxml::xmlwriter::scan {

namespace {

struct PlainTable {
  bool plain[3][128];
  constexpr PlainTable() : plain() {
    for (int m = 0; m < 3; ++m)
      for (int c = 0x20; c < 0x7F; ++c) plain[m][c] = true;
    for (int m = 0; m < 2; ++m)
      for (int c : {int('<'), int('&'), int('>')}) plain[m][c] = false;
    plain[1][int('"')] = false;
  }
};
constexpr PlainTable kTable{};

template <int M>
size_t RunPlain(const char16_t* s, size_t n, char* d) {
  size_t i = 0;
  for (; i < n && s[i] < 0x80 && kTable.plain[M][s[i]]; ++i) d[i] = static_cast<char>(s[i]);
  return i;
}

// Bytes that end a run in mode M: the mode's escapes (with tab and line
// feed in attribute values) and, unless the text is known to be clean,
// every byte outside 0x20..0x7E.
template <int M, bool kClean>
constexpr bool EndsRun(unsigned char c) {
  if (!kClean && (c < 0x20 || c > 0x7E)) return true;
  if (M == 2) return false;
  if (c == '<' || c == '&' || c == '>') return true;
  return M == 1 && (c == '"' || c == '\t' || c == '\n');
}

template <int M, bool kClean>
size_t RunBytesPlain(const char* s, size_t n, char* d) {
  size_t i = 0;
  for (; i < n && !EndsRun<M, kClean>(static_cast<unsigned char>(s[i])); ++i) d[i] = s[i];
  return i;
}

#if TWXML_SIMD_X86
// Bits of the mask: two per unit of v that is not plain in mode M.
template <int M>
inline unsigned Odd(__m128i v) {
  __m128i bad = _mm_or_si128(_mm_cmplt_epi16(v, _mm_set1_epi16(0x20)),
                             _mm_cmpgt_epi16(v, _mm_set1_epi16(0x7E)));
  if (M != 2) {
    bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('<')));
    bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('&')));
    bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('>')));
  }
  if (M == 1) bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('"')));
  return static_cast<unsigned>(_mm_movemask_epi8(bad));
}

template <int M>
size_t RunSse2(const char16_t* s, size_t n, char* d) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(v, v));
    if (const unsigned odd = Odd<M>(v)) return i + __builtin_ctz(odd) / 2;
  }
  if (i == n) return n;
  if (n >= 8) {
    // The last eight units again, overlapping what is known to be plain.
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + n - 8), _mm_packus_epi16(v, v));
    const unsigned odd = Odd<M>(v);
    return odd ? n - 8 + __builtin_ctz(odd) / 2 : n;
  }
  return i + RunPlain<M>(s + i, n - i, d + i);
}

// One bit per byte of v that ends a run (see EndsRun; bytes from 0x80 on
// compare below 0x20 as signed bytes).
template <int M, bool kClean>
inline unsigned Ends16(__m128i v) {
  __m128i end = _mm_setzero_si128();
  if (!kClean)
    end = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
  if (M != 2)
    end = _mm_or_si128(end, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')),
                                                      _mm_cmpeq_epi8(v, _mm_set1_epi8('&'))),
                                         _mm_cmpeq_epi8(v, _mm_set1_epi8('>'))));
  if (M == 1)
    end = _mm_or_si128(end, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')),
                                                      _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')))));
  return static_cast<unsigned>(_mm_movemask_epi8(end));
}

// Short texts (most values) in one compare: sixteen bytes are read when
// they stay within s's page, though they may lie past its end, which the
// address and thread checkers would call out of bounds.
template <int M, bool kClean>
__attribute__((no_sanitize("address", "thread"))) size_t RunBytesShort(const char* s, size_t n, char* d) {
  if (n == 0 || !simd::SixteenOnOnePage(s)) return RunBytesPlain<M, kClean>(s, n, d);
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
  return static_cast<size_t>(__builtin_ctz(Ends16<M, kClean>(v) | (1u << n)));
}

template <int M, bool kClean>
size_t RunBytesSse2(const char* s, size_t n, char* d) {
  if (n < 16) return RunBytesShort<M, kClean>(s, n, d);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
    if (const unsigned end = Ends16<M, kClean>(v)) return i + __builtin_ctz(end);
  }
  if (i == n) return n;
  // The last sixteen bytes again, overlapping what is known to be plain.
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 16), v);
  const unsigned end = Ends16<M, kClean>(v);
  return end ? n - 16 + __builtin_ctz(end) : n;
}
#endif

}  // namespace

const Kernels kPlain = {{RunPlain<0>, RunPlain<1>, RunPlain<2>},
                        {RunBytesPlain<0, false>, RunBytesPlain<1, false>, RunBytesPlain<2, false>},
                        {RunBytesPlain<0, true>, RunBytesPlain<1, true>, RunBytesPlain<2, true>}};
#if TWXML_SIMD_X86
const Kernels kSse2 = {{RunSse2<0>, RunSse2<1>, RunSse2<2>},
                       {RunBytesSse2<0, false>, RunBytesSse2<1, false>, RunBytesSse2<2, false>},
                       {RunBytesSse2<0, true>, RunBytesSse2<1, true>, RunBytesSse2<2, true>}};
#endif

}  // namespace twxml::xmlwriter::scan
