// ASCII-run kernels: word at a time (every machine) and sixteen bytes at a
// time (SSE2, part of every x86-64).
#include "utf_kernels.h"

#include <cstdint>
#include <cstring>

#if TWXML_SIMD_X86
#include <emmintrin.h>
#endif

namespace twxml::utf::kernels {

namespace {

constexpr uint64_t kHigh8 = 0x8080808080808080ull;
constexpr uint64_t kHigh16 = 0xFF80FF80FF80FF80ull;

// ---- plain -------------------------------------------------------------------

size_t Ascii8Plain(const unsigned char* s, size_t n) {
  size_t i = 0;
  for (uint64_t v; i + 8 <= n; i += 8) {
    std::memcpy(&v, s + i, 8);
    if (v & kHigh8) return i + static_cast<size_t>(__builtin_ctzll(v & kHigh8)) / 8;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

size_t Ascii16Plain(const char16_t* s, size_t n) {
  size_t i = 0;
  for (uint64_t v; i + 4 <= n; i += 4) {
    std::memcpy(&v, s + i, 8);
    if (v & kHigh16) return i + static_cast<size_t>(__builtin_ctzll(v & kHigh16)) / 16;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

size_t WidenPlain(const unsigned char* s, size_t n, char16_t* d) {
  const size_t run = Ascii8Plain(s, n);
  for (size_t i = 0; i < run; ++i) d[i] = s[i];
  return run;
}

size_t NarrowPlain(const char16_t* s, size_t n, char* d) {
  const size_t run = Ascii16Plain(s, n);
  for (size_t i = 0; i < run; ++i) d[i] = static_cast<char>(s[i]);
  return run;
}

#if TWXML_SIMD_X86
// ---- SSE2 --------------------------------------------------------------------

size_t Ascii8Sse2(const unsigned char* s, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
    if (high) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
  }
  return i + Ascii8Plain(s + i, n - i);
}

// Bytes of the mask: 0xFF for each unit of a and b that is ASCII.
inline int AsciiUnits(__m128i a, __m128i b) {
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  return _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero),
                                           _mm_cmpeq_epi16(_mm_and_si128(b, high), zero)));
}

size_t Ascii16Sse2(const char16_t* s, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const int ascii = AsciiUnits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8)));
    if (ascii != 0xFFFF) return i + static_cast<size_t>(__builtin_ctz(~static_cast<unsigned>(ascii)));
  }
  return i + Ascii16Plain(s + i, n - i);
}

// The last n < 16 bytes in at most two overlapping steps; d may be written
// up to d[n - 1] (the blocks cover what is past the run as well).
inline size_t WidenTail(const unsigned char* s, size_t n, char16_t* d) {
  const __m128i zero = _mm_setzero_si128();
  if (n >= 8) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + n - 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(a, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 8), _mm_unpacklo_epi8(b, zero));
    const unsigned ha = static_cast<unsigned>(_mm_movemask_epi8(a)) & 0xFF;
    if (ha) return static_cast<size_t>(__builtin_ctz(ha));
    const unsigned hb = static_cast<unsigned>(_mm_movemask_epi8(b)) & 0xFF;
    return hb ? n - 8 + static_cast<size_t>(__builtin_ctz(hb)) : n;
  }
  return WidenPlain(s, n, d);
}

size_t WidenSse2(const unsigned char* s, size_t n, char16_t* d) {
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 8), _mm_unpackhi_epi8(v, zero));
    const int high = _mm_movemask_epi8(v);
    if (high) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
  }
  return i + WidenTail(s + i, n - i, d + i);
}

inline size_t NarrowTail(const char16_t* s, size_t n, char* d) {
  if (n >= 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(a, a));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + n - 8), _mm_packus_epi16(b, b));
    const unsigned aa = static_cast<unsigned>(AsciiUnits(a, a)) & 0xFF;
    if (aa != 0xFF) return static_cast<size_t>(__builtin_ctz(~aa));
    const unsigned ab = static_cast<unsigned>(AsciiUnits(b, b)) & 0xFF;
    return ab != 0xFF ? n - 8 + static_cast<size_t>(__builtin_ctz(~ab)) : n;
  }
  return NarrowPlain(s, n, d);
}

size_t NarrowSse2(const char16_t* s, size_t n, char* d) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(a, b));
    const int ascii = AsciiUnits(a, b);
    if (ascii != 0xFFFF) return i + static_cast<size_t>(__builtin_ctz(~static_cast<unsigned>(ascii)));
  }
  return i + NarrowTail(s + i, n - i, d + i);
}
#endif

}  // namespace

const Table kPlain = {WidenPlain, NarrowPlain, Ascii8Plain, Ascii16Plain};
#if TWXML_SIMD_X86
const Table kSse2 = {WidenSse2, NarrowSse2, Ascii8Sse2, Ascii16Sse2};
#endif

}  // namespace twxml::utf::kernels
