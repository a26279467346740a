// Scanning kernels, thirty-two bytes at a time (AVX2): bytes are classified
// with two sixteen-entry look-ups, one on each half of the byte, whose
// results are and-ed; UTF-8 is checked the same way against the byte before
// it, with the bytes two and three back telling where continuations must be.
// Only called once the processor was found to run them.
#include "scan.h"

#if TWXML_SIMD_X86
#include <immintrin.h>

#include <cstdint>

namespace twxml::xmlcore::scan {

namespace {

#define TW_T16(...) _mm256_setr_epi8(__VA_ARGS__, __VA_ARGS__)

TWXML_TARGET_AVX2 inline unsigned Mask(__m256i m) {
  return static_cast<unsigned>(_mm256_movemask_epi8(m));
}

// Classes of a byte: the bits both of its half-byte look-ups carry.
TWXML_TARGET_AVX2 inline __m256i Classify(__m256i v, __m256i hiTable, __m256i loTable) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i hi = _mm256_shuffle_epi8(hiTable, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
  const __m256i lo = _mm256_shuffle_epi8(loTable, _mm256_and_si256(v, nibble));
  return _mm256_and_si256(hi, lo);
}

// Bits of the mask: bytes of c that carry one of the classes in bits.
TWXML_TARGET_AVX2 inline unsigned Has(__m256i c, char bits) {
  return ~Mask(_mm256_cmpeq_epi8(_mm256_and_si256(c, _mm256_set1_epi8(bits)), _mm256_setzero_si256()));
}

// Character data. Classes: 1 '<', 2 '&', 4 ']', 8 zero, 16 space, 32 tab,
// line feed or carriage return.
TWXML_TARGET_AVX2 const char* TextAvx2(const char* p, bool* other) {
  const __m256i hiTable = TW_T16(8 | 32, 0, 2 | 16, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i loTable = TW_T16(8 | 16, 0, 0, 0, 0, 0, 2, 0, 0, 32, 32, 0, 1, 4 | 32, 0, 0);
  for (;; p += 32) {
    const __m256i c = Classify(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), hiTable, loTable);
    const unsigned stop = Has(c, 15);
    const unsigned space = Has(c, 48);
    const unsigned before = stop ? _blsmsk_u32(stop) >> 1 : ~0u;
    if (~space & before) *other = true;
    if (stop) return p + __builtin_ctz(stop);
  }
}

// Attribute values. Classes: 1 zero, tab or line feed; 2 '&' or the quote; 4 '<'.
TWXML_TARGET_AVX2 const char* AttrAvx2(const char* p, char q) {
  const __m256i hiTable = TW_T16(1, 0, 2, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i loTable = q == '"' ? TW_T16(1, 0, 2, 0, 0, 0, 2, 0, 0, 1, 1, 0, 4, 0, 0, 0)
                                   : TW_T16(1, 0, 0, 0, 0, 0, 2, 2, 0, 1, 1, 0, 4, 0, 0, 0);
  if (q != '"' && q != '\'') return kSse2.attr(p, q);
  for (;; p += 32) {
    const __m256i c = Classify(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), hiTable, loTable);
    const unsigned stop = Has(c, 7);
    if (stop) return p + __builtin_ctz(stop);
  }
}

// UTF-8 errors found from each byte and the one before it.
enum : uint8_t {
  kTooShort = 1,      // a lead not followed by a continuation
  kTooLong = 2,       // a continuation after ASCII
  kOverlong3 = 4,     // E0 80..9F
  kTooLarge = 8,      // F4 90.., F5..
  kSurrogate = 16,    // ED A0..BF
  kOverlong2 = 32,    // C0, C1
  kTooLarge1000 = 64, // F5.. 80..8F
  kOverlong4 = 64,    // F0 80..8F
  kTwoConts = 128,    // a continuation after a continuation
  kCarry = kTooShort | kTooLong | kTwoConts,
};

// The bytes before each byte of v: v shifted by k with the end of prev in.
template <int k>
TWXML_TARGET_AVX2 inline __m256i Before(__m256i v, __m256i prev) {
  return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(prev, v, 0x21), 16 - k);
}

// Non-zero bytes where v (after prev) is not well-formed or holds U+FFFE or U+FFFF.
TWXML_TARGET_AVX2 inline __m256i Errors(__m256i v, __m256i prev) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i prev1 = Before<1>(v, prev);
  const __m256i b1High = _mm256_shuffle_epi8(
      TW_T16(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
             kTwoConts, kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
             kTooShort | kOverlong3 | kSurrogate,
             kTooShort | kTooLarge | kTooLarge1000 | kOverlong4),
      _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble));
  const char c = static_cast<char>(kCarry);
  const __m256i b1Low = _mm256_shuffle_epi8(
      TW_T16(static_cast<char>(kCarry | kOverlong3 | kOverlong2 | kOverlong4),
             static_cast<char>(kCarry | kOverlong2), c, c, static_cast<char>(kCarry | kTooLarge),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000 | kSurrogate),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000),
             static_cast<char>(kCarry | kTooLarge | kTooLarge1000)),
      _mm256_and_si256(prev1, nibble));
  const char cont8 = static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kOverlong3 |
                                       kTooLarge1000 | kOverlong4);
  const char cont9 = static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge);
  const char contAB = static_cast<char>(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge);
  const __m256i b2High = _mm256_shuffle_epi8(
      TW_T16(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
             cont8, cont9, contAB, contAB, kTooShort, kTooShort, kTooShort, kTooShort),
      _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
  const __m256i special = _mm256_and_si256(_mm256_and_si256(b1High, b1Low), b2High);
  // Third and fourth bytes of a sequence: there a continuation after a
  // continuation is right, and anything else wrong.
  const __m256i prev2 = Before<2>(v, prev);
  const __m256i prev3 = Before<3>(v, prev);
  const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m256i must = _mm256_and_si256(_mm256_or_si256(third, fourth),
                                        _mm256_set1_epi8(static_cast<char>(0x80)));
  // EF BF BE and EF BF BF: the two non-characters XML leaves out.
  const __m256i nonChar = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(prev2, _mm256_set1_epi8(static_cast<char>(0xEF))),
                       _mm256_cmpeq_epi8(prev1, _mm256_set1_epi8(static_cast<char>(0xBF)))),
      _mm256_cmpeq_epi8(_mm256_max_epu8(v, _mm256_set1_epi8(static_cast<char>(0xBE))), v));
  return _mm256_or_si256(_mm256_xor_si256(special, must), nonChar);
}

// Non-zero when v ends inside a character.
TWXML_TARGET_AVX2 inline __m256i Unfinished(__m256i v) {
  const char f = static_cast<char>(0xFF);
  return _mm256_subs_epu8(v, _mm256_setr_epi8(f, f, f, f, f, f, f, f, f, f, f, f, f, f, f, f, f, f,
                                              f, f, f, f, f, f, f, f, f, f, f,
                                              static_cast<char>(0xEF), static_cast<char>(0xDF),
                                              static_cast<char>(0xBF)));
}

TWXML_TARGET_AVX2 inline bool Any(__m256i v) { return !_mm256_testz_si256(v, v); }

TWXML_TARGET_AVX2 size_t CleanAvx2(const unsigned char* s, size_t n) {
  const __m256i tab = _mm256_set1_epi8('\t'), lf = _mm256_set1_epi8('\n'),
                below = _mm256_set1_epi8(0x1F);
  __m256i prev = _mm256_setzero_si256();
  __m256i unfinished = _mm256_setzero_si256();
  size_t pos = 0;
  for (; pos + 32 <= n; pos += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + pos));
    const unsigned control =
        Mask(_mm256_andnot_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, tab), _mm256_cmpeq_epi8(v, lf)),
                                 _mm256_cmpeq_epi8(_mm256_min_epu8(v, below), v)));
    if (Mask(v) == 0) {
      // ASCII: exact up to the first control character, unless a character
      // of the block before is left unfinished (an error found from here).
      if (Any(unfinished)) break;
      if (control) return pos + __builtin_ctz(control);
      prev = v;
      continue;
    }
    if (control || Any(Errors(v, prev))) break;
    unfinished = Unfinished(v);
    prev = v;
  }
  if (pos + 32 > n && pos < n && pos >= 32 && n >= 64) {
    // The rest as one more block ending at n, over bytes partly checked
    // already (their answers do not change): clean to the end unless a
    // byte not checked yet is wrong or the text ends inside a character.
    const size_t at = n - 32;
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + at));
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + at - 32));
    const unsigned fresh = ~0u << (pos - at);
    const unsigned control =
        Mask(_mm256_andnot_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, tab), _mm256_cmpeq_epi8(v, lf)),
                                 _mm256_cmpeq_epi8(_mm256_min_epu8(v, below), v)));
    const unsigned wrong =
        ~Mask(_mm256_cmpeq_epi8(Errors(v, before), _mm256_setzero_si256())) | control;
    if (!(wrong & fresh) && !Any(Unfinished(v))) return n;
  }
  // From the last character boundary on, the caller goes byte by byte.
  const size_t whole = WholeCharacters(s, pos);
  return pos + 32 <= n || whole < pos ? whole : pos + kSse2.clean(s + pos, n - pos);
}

TWXML_TARGET_AVX2 size_t LinesAvx2(const char* p, const char* e, const char** last) {
  // Line feeds come often and at irregular places: the blocks are counted
  // without a branch on them, and the last one is looked for once at the end.
  const char* const from = p;
  const __m256i lf = _mm256_set1_epi8('\n');
  size_t count = 0;
  for (; e - p >= 64; p += 64) {
    const uint64_t lo = Mask(_mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), lf));
    const uint64_t hi =
        Mask(_mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), lf));
    count += static_cast<size_t>(__builtin_popcountll(lo | hi << 32));
  }
  return FinishLines(from, p, e, count, last);
}

TWXML_TARGET_AVX2 size_t CharsAvx2(const char* p, const char* e) {
  const __m256i cont = _mm256_set1_epi8(-65);  // continuation bytes are below, as signed
  size_t count = 0;
  for (; e - p >= 32; p += 32)
    count += static_cast<size_t>(__builtin_popcount(
        Mask(_mm256_cmpgt_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), cont))));
  return count + kSse2.chars(p, e);
}

#undef TW_T16

}  // namespace

const Kernels kAvx2 = {TextAvx2, AttrAvx2, CleanAvx2, LinesAvx2, CharsAvx2};

}  // namespace twxml::xmlcore::scan

#endif
