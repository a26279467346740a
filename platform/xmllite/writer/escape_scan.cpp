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

template <int M>
size_t RunPlain8(const char* s, size_t n, char* d) {
  size_t i = 0;
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80 || !kTable.plain[M][c]) break;
    d[i] = static_cast<char>(c);
  }
  return i;
}

// What ends a run of clean text in mode M (see Kernels::runClean).
template <int M>
constexpr bool EndsClean(unsigned char c) {
  if (M == 2) return false;
  if (c == '<' || c == '&' || c == '>') return true;
  return M == 1 && (c == '"' || c == '\t' || c == '\n');
}

template <int M>
size_t RunPlainClean(const char* s, size_t n, char* d) {
  size_t i = 0;
  for (; i < n && !EndsClean<M>(static_cast<unsigned char>(s[i])); ++i) d[i] = s[i];
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

// Bits of the mask: one per byte of v that is not plain in mode M (bytes
// from 0x80 on compare below 0x20 as signed bytes).
template <int M>
inline unsigned Odd8(__m128i v) {
  __m128i bad = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                             _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
  if (M != 2) {
    bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
    bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
    bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
  }
  if (M == 1) bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
  return static_cast<unsigned>(_mm_movemask_epi8(bad));
}

// Short texts (most values) in one compare: sixteen bytes are read when
// they stay within s's page, though they may lie past its end, which the
// address and thread checkers would call out of bounds.
template <int M>
__attribute__((no_sanitize("address", "thread"))) size_t RunShort8(const char* s, size_t n, char* d) {
  if (n == 0 || (reinterpret_cast<uintptr_t>(s) & 4095) > 4096 - 16) return RunPlain8<M>(s, n, d);
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
  return static_cast<size_t>(__builtin_ctz(Odd8<M>(v) | (1u << n)));
}

template <int M>
size_t RunSse2x8(const char* s, size_t n, char* d) {
  if (n < 16) return RunShort8<M>(s, n, d);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
    if (const unsigned odd = Odd8<M>(v)) return i + __builtin_ctz(odd);
  }
  if (i == n) return n;
  // The last sixteen bytes again, overlapping what is known to be plain.
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 16), v);
  const unsigned odd = Odd8<M>(v);
  return odd ? n - 16 + __builtin_ctz(odd) : n;
}

// One bit per byte of v that ends a run of clean text in mode M.
template <int M>
inline unsigned Ends(__m128i v) {
  if (M == 2) return 0;
  __m128i end = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')),
                                          _mm_cmpeq_epi8(v, _mm_set1_epi8('&'))),
                             _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
  if (M == 1)
    end = _mm_or_si128(end, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')),
                                                      _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')))));
  return static_cast<unsigned>(_mm_movemask_epi8(end));
}

template <int M>
size_t RunSse2Clean(const char* s, size_t n, char* d) {
  if (n < 16) return RunPlainClean<M>(s, n, d);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
    if (const unsigned end = Ends<M>(v)) return i + __builtin_ctz(end);
  }
  if (i == n) return n;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 16), v);
  const unsigned end = Ends<M>(v);
  return end ? n - 16 + __builtin_ctz(end) : n;
}
#endif

}  // namespace

const Kernels kPlain = {{RunPlain<0>, RunPlain<1>, RunPlain<2>},
                        {RunPlain8<0>, RunPlain8<1>, RunPlain8<2>},
                        {RunPlainClean<0>, RunPlainClean<1>, RunPlainClean<2>}};
#if TWXML_SIMD_X86
const Kernels kSse2 = {{RunSse2<0>, RunSse2<1>, RunSse2<2>},
                       {RunSse2x8<0>, RunSse2x8<1>, RunSse2x8<2>},
                       {RunSse2Clean<0>, RunSse2Clean<1>, RunSse2Clean<2>}};
#endif

}  // namespace twxml::xmlwriter::scan
