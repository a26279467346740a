// ASCII-run kernels, thirty-two bytes or units at a time (AVX2). Only
// called once the processor was found to run them; the rest of a run that
// is shorter than a block goes to the SSE2 kernels.
#include "utf_kernels.h"

#if TWXML_SIMD_X86
#include <immintrin.h>

namespace twxml::utf::kernels {

namespace {

TWXML_TARGET_AVX2 size_t Ascii8Avx2(const unsigned char* s, size_t n) {
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const unsigned high = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i))));
    if (high) return i + static_cast<size_t>(__builtin_ctz(high));
  }
  return i + kSse2.ascii8(s + i, n - i);
}

// Bits of the mask: 1 for each byte of the units of v that are not ASCII.
TWXML_TARGET_AVX2 inline unsigned WideHigh(__m256i v) {
  const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFF80));
  const __m256i zero = _mm256_setzero_si256();
  return ~static_cast<unsigned>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_and_si256(v, high), zero)));
}

TWXML_TARGET_AVX2 size_t Ascii16Avx2(const char16_t* s, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const unsigned high = WideHigh(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i)));
    if (high) return i + static_cast<size_t>(__builtin_ctz(high)) / 2;
  }
  return i + kSse2.ascii16(s + i, n - i);
}

// Thirty-two bytes at s widened into d: the offset of the first that is not
// ASCII, or 32.
TWXML_TARGET_AVX2 inline size_t WidenBlock(const unsigned char* s, char16_t* d) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_cvtepu8_epi16(lo));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 16), _mm256_cvtepu8_epi16(hi));
  const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(lo)) |
                        static_cast<unsigned>(_mm_movemask_epi8(hi)) << 16;
  return bits ? static_cast<size_t>(__builtin_ctz(bits)) : 32;
}

// Whole blocks of thirty-two units, then the last thirty-two again
// (overlapping what is known to be ASCII) when the text is that long; shorter
// text goes to the SSE2 kernel.
template <class In, class Out, size_t (*Block)(const In*, Out*)>
TWXML_TARGET_AVX2 inline size_t Blocks(const In* s, size_t n, Out* d,
                                       size_t (*shorter)(const In*, size_t, Out*)) {
  if (n < 32) return shorter(s, n, d);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const size_t k = Block(s + i, d + i);
    if (k < 32) return i + k;
  }
  if (i == n) return n;
  return n - 32 + Block(s + n - 32, d + n - 32);
}

TWXML_TARGET_AVX2 size_t WidenAvx2(const unsigned char* s, size_t n, char16_t* d) {
  return Blocks<unsigned char, char16_t, WidenBlock>(s, n, d, kSse2.widen);
}

TWXML_TARGET_AVX2 inline size_t NarrowBlock(const char16_t* s, char* d) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 16));
  // The pack interleaves the halves of a and b; the permute puts them back in order.
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), packed);
  const unsigned ha = WideHigh(a), hb = WideHigh(b);
  if (ha) return static_cast<size_t>(__builtin_ctz(ha)) / 2;
  if (hb) return 16 + static_cast<size_t>(__builtin_ctz(hb)) / 2;
  return 32;
}

TWXML_TARGET_AVX2 size_t NarrowAvx2(const char16_t* s, size_t n, char* d) {
  return Blocks<char16_t, char, NarrowBlock>(s, n, d, kSse2.narrow);
}

}  // namespace

const Table kAvx2 = {WidenAvx2, NarrowAvx2, Ascii8Avx2, Ascii16Avx2};

}  // namespace twxml::utf::kernels

#endif
