// Scanning kernels for every machine (byte tables) and for SSE2 (sixteen
// bytes per compare).
#include "scan.h"

#include "twxml/platform/utf.h"

#include <cstdint>
#include <cstring>

#if TWXML_SIMD_X86
#include <emmintrin.h>
#endif

namespace twxml::xmlcore::scan {

namespace {

enum : uint8_t { kTextStop = 1, kSpace = 2, kAttrStop = 4, kPlainAscii = 8 };

struct Table {
  uint8_t v[256];
  constexpr Table() : v() {
    for (int c : {int('<'), int('&'), int(']'), 0}) v[c] |= kTextStop;
    for (int c : {' ', '\t', '\n', '\r'}) v[int(c)] |= kSpace;
    for (int c : {int('&'), int('<'), int('\t'), int('\n'), 0}) v[c] |= kAttrStop;
    for (int c = 0x20; c < 0x80; ++c) v[c] |= kPlainAscii;
    v[int('\t')] |= kPlainAscii;
    v[int('\n')] |= kPlainAscii;
  }
};
constexpr Table kTable{};

// ---- plain -------------------------------------------------------------------

const char* TextPlain(const char* p, bool* other) {
  bool seen = false;
  for (;; ++p) {
    const uint8_t k = kTable.v[static_cast<uint8_t>(*p)];
    if (k & kTextStop) break;
    if (!(k & kSpace)) seen = true;
  }
  if (seen) *other = true;
  return p;
}

const char* AttrPlain(const char* p, char q) {
  for (;; ++p) {
    const char c = *p;
    if (c == q || (kTable.v[static_cast<uint8_t>(c)] & kAttrStop)) return p;
  }
}

// Checks one character at s[i] (i < n): its length when it is whole,
// well-formed and allowed through, else 0.
size_t CleanChar(const unsigned char* s, size_t i, size_t n) {
  const unsigned c = s[i];
  if (c < 0x80) return (kTable.v[c] & kPlainAscii) ? 1 : 0;
  const twxml::utf::Utf8Char ch = twxml::utf::DecodeUtf8Char(s + i, n - i);
  return ch.ok && ch.cp != 0xFFFE && ch.cp != 0xFFFF ? ch.len : 0;
}

size_t CleanPlain(const unsigned char* s, size_t n) {
  size_t i = 0;
  while (i < n) {
    // Eight plain ASCII bytes at a time: no high bit, none below 0x20 (tab
    // and line feed are taken one by one).
    for (uint64_t w; i + 8 <= n; i += 8) {
      std::memcpy(&w, s + i, 8);
      if ((w & 0x8080808080808080ull) || ((w - 0x2020202020202020ull) & ~w & 0x8080808080808080ull))
        break;
    }
    if (i >= n) break;
    const unsigned c = s[i];
    if (c < 0x80) {  // the last few ASCII bytes, looked up in place
      if (!(kTable.v[c] & kPlainAscii)) break;
      ++i;
      continue;
    }
    const size_t len = CleanChar(s, i, n);
    if (len == 0) break;
    i += len;
  }
  return i;
}

size_t LinesPlain(const char* p, const char* e, const char** last) {
  size_t count = 0;
  for (const char* q = p; q < e; ++q) {
    if (*q == '\n') {
      ++count;
      *last = q;
    }
  }
  return count;
}

size_t CharsPlain(const char* p, const char* e) {
  size_t count = 0;
  for (; p < e; ++p) count += (static_cast<uint8_t>(*p) & 0xC0) != 0x80;
  return count;
}

#if TWXML_SIMD_X86
// ---- SSE2 --------------------------------------------------------------------

inline unsigned Mask(__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); }

const char* TextSse2(const char* p, bool* other) {
  for (;; p += 16)
    if (const unsigned stop = TextBlock(p, other)) return p + __builtin_ctz(stop);
}

const char* AttrSse2(const char* p, char q) {
  for (;; p += 16)
    if (const unsigned stop = AttrBlock(p, q)) return p + __builtin_ctz(stop);
}

// Plain ASCII sixteen bytes at a time; the rest as on every machine.
size_t CleanSse2(const unsigned char* s, size_t n) {
  const __m128i lo = _mm_set1_epi8(0x20), tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n');
  size_t i = 0;
  while (i < n) {
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      // Signed: bytes from 0x80 count as below 0x20 too.
      const unsigned odd = Mask(_mm_cmplt_epi8(v, lo)) &
                           ~Mask(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)));
      if (odd) {
        i += __builtin_ctz(odd);
        break;
      }
    }
    if (i + 16 > n) {
      // The rest as the last sixteen bytes, over some checked already:
      // plain ASCII there ends the text clean.
      if (n >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
        const unsigned odd = Mask(_mm_cmplt_epi8(v, lo)) &
                             ~Mask(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)));
        if ((odd >> (i - (n - 16))) == 0) return n;
      }
      return i + CleanPlain(s + i, n - i);
    }
    const size_t len = CleanChar(s, i, n);
    if (len == 0) break;
    i += len;
  }
  return i;
}

size_t LinesSse2(const char* p, const char* e, const char** last) {
  const char* const from = p;
  const __m128i lf = _mm_set1_epi8('\n');
  size_t count = 0;
  for (; e - p >= 16; p += 16)
    count += static_cast<size_t>(__builtin_popcount(
        Mask(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), lf))));
  return FinishLines(from, p, e, count, last);
}

size_t CharsSse2(const char* p, const char* e) {
  // Continuation bytes are 0x80..0xBF: as signed bytes, below -64.
  const __m128i cont = _mm_set1_epi8(-65);
  size_t count = 0;
  for (; e - p >= 16; p += 16)
    count += static_cast<size_t>(__builtin_popcount(
        Mask(_mm_cmpgt_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), cont))));
  return count + CharsPlain(p, e);
}
#endif

}  // namespace

const Kernels kPlain = {TextPlain, AttrPlain, CleanPlain, LinesPlain, CharsPlain};
#if TWXML_SIMD_X86
const Kernels kSse2 = {TextSse2, AttrSse2, CleanSse2, LinesSse2, CharsSse2};
#endif

}  // namespace twxml::xmlcore::scan
