// The escaping scan, sixteen units or 32 bytes per compare (AVX2). Only called once the
// processor was found to run it.
#include "escape_scan.h"

#if TWXML_SIMD_X86
#include <immintrin.h>

namespace twxml::xmlwriter::scan {

namespace {

// Bits of the mask: two per unit of v that is not plain in mode M.
template <int M>
TWXML_TARGET_AVX2 inline unsigned Odd(__m256i v) {
  __m256i bad = _mm256_or_si256(_mm256_cmpgt_epi16(_mm256_set1_epi16(0x20), v),
                                _mm256_cmpgt_epi16(v, _mm256_set1_epi16(0x7E)));
  if (M != 2) {
    bad = _mm256_or_si256(bad, _mm256_cmpeq_epi16(v, _mm256_set1_epi16('<')));
    bad = _mm256_or_si256(bad, _mm256_cmpeq_epi16(v, _mm256_set1_epi16('&')));
    bad = _mm256_or_si256(bad, _mm256_cmpeq_epi16(v, _mm256_set1_epi16('>')));
  }
  if (M == 1) bad = _mm256_or_si256(bad, _mm256_cmpeq_epi16(v, _mm256_set1_epi16('"')));
  return static_cast<unsigned>(_mm256_movemask_epi8(bad));
}

// Sixteen units at s as bytes at d; the offset of the first that is not plain, or 16.
template <int M>
TWXML_TARGET_AVX2 inline size_t Block(const char16_t* s, char* d) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  // The pack works within halves; the permute puts the two packed halves together.
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0xD8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(packed));
  const unsigned odd = Odd<M>(v);
  return odd ? static_cast<size_t>(__builtin_ctz(odd)) / 2 : 16;
}

// Eight units at s as bytes at d: the offset of the first that is not plain, or 8.
template <int M>
TWXML_TARGET_AVX2 inline size_t Half(const char16_t* s, char* d) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(v, v));
  const unsigned odd = Odd<M>(_mm256_castsi128_si256(v)) & 0xFFFF;
  return odd ? static_cast<size_t>(__builtin_ctz(odd)) / 2 : 8;
}

template <int M>
TWXML_TARGET_AVX2 size_t RunAvx2(const char16_t* s, size_t n, char* d) {
  if (n < 16) {
    // Short runs (names, most values): one or two overlapping halves.
    if (n < 8) return kSse2.run[M](s, n, d);
    const size_t k = Half<M>(s, d);
    if (k < 8) return k;
    return n - 8 + Half<M>(s + n - 8, d + n - 8);
  }
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const size_t k = Block<M>(s + i, d + i);
    if (k < 16) return i + k;
  }
  if (i == n) return n;
  return n - 16 + Block<M>(s + n - 16, d + n - 16);
}

// One bit per byte of v that ends a run in mode M: the mode's escapes (with
// tab and line feed in attribute values) and, unless the text is known to
// be clean, every byte outside 0x20..0x7E (from 0x80 on they compare below
// 0x20 as signed bytes).
template <int M, bool kClean>
TWXML_TARGET_AVX2 inline unsigned Ends32(__m256i v) {
  __m256i end = _mm256_setzero_si256();
  if (!kClean)
    end = _mm256_or_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), v),
                          _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x7F)));
  if (M != 2)
    end = _mm256_or_si256(
        end, _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('<')),
                                             _mm256_cmpeq_epi8(v, _mm256_set1_epi8('&'))),
                             _mm256_cmpeq_epi8(v, _mm256_set1_epi8('>'))));
  if (M == 1)
    end = _mm256_or_si256(
        end, _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')),
                             _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t')),
                                             _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')))));
  return static_cast<unsigned>(_mm256_movemask_epi8(end));
}

template <int M, bool kClean>
TWXML_TARGET_AVX2 size_t RunBytesAvx2(const char* s, size_t n, char* d) {
  if (n < 32) return (kClean ? kSse2.runClean : kSse2.run8)[M](s, n, d);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), v);
    if (const unsigned end = Ends32<M, kClean>(v)) return i + __builtin_ctz(end);
  }
  if (i == n) return n;
  // The last 32 bytes again, overlapping what is known to be plain.
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + n - 32));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + n - 32), v);
  const unsigned end = Ends32<M, kClean>(v);
  return end ? n - 32 + __builtin_ctz(end) : n;
}

}  // namespace

const Kernels kAvx2 = {{RunAvx2<0>, RunAvx2<1>, RunAvx2<2>},
                       {RunBytesAvx2<0, false>, RunBytesAvx2<1, false>, RunBytesAvx2<2, false>},
                       {RunBytesAvx2<0, true>, RunBytesAvx2<1, true>, RunBytesAvx2<2, true>}};

}  // namespace twxml::xmlwriter::scan

#endif
