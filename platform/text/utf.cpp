// The conversions: ASCII runs through the active level's kernels, short
// texts (most names and values) in one or two vector steps inline, the rest
// character by character.
#include "twxml/platform/utf.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "utf_kernels.h"

#if TWXML_SIMD_X86
#include <emmintrin.h>
#endif

namespace twxml::utf {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

inline bool Vector() { return simd::Active() != simd::Level::Plain; }


// The code point of the non-ASCII unit at s[*i] (a pair taken whole, a lone
// surrogate as U+FFFD); moves *i past it.
inline uint32_t NextCodePoint(const char16_t* s, size_t n, size_t* i) {
  uint32_t cp = s[(*i)++];
  if (cp >= 0xD800 && cp <= 0xDFFF) {
    if (cp <= 0xDBFF && *i < n && s[*i] >= 0xDC00 && s[*i] <= 0xDFFF)
      return 0x10000 + ((cp - 0xD800) << 10) + (s[(*i)++] - 0xDC00);
    return kReplacement;
  }
  return cp;
}

#if TWXML_SIMD_X86
inline bool ShortNarrow(const char16_t* s, size_t n, char* out) {
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  if (n >= 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 8));
    const __m128i ab = _mm_and_si128(_mm_or_si128(a, b), high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(ab, _mm_setzero_si128())) != 0xFFFF) return false;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, a));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + n - 8), _mm_packus_epi16(b, b));
    return true;
  }
  if (n >= 4) {
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 4, 8);
    if ((a | b) & 0xFF80FF80FF80FF80ull) return false;
    const __m128i pa = _mm_packus_epi16(_mm_cvtsi64_si128(static_cast<long long>(a)), _mm_setzero_si128());
    const __m128i pb = _mm_packus_epi16(_mm_cvtsi64_si128(static_cast<long long>(b)), _mm_setzero_si128());
    const uint32_t na = static_cast<uint32_t>(_mm_cvtsi128_si32(pa));
    const uint32_t nb = static_cast<uint32_t>(_mm_cvtsi128_si32(pb));
    std::memcpy(out, &na, 4);
    std::memcpy(out + n - 4, &nb, 4);
    return true;
  }
  for (size_t i = 0; i < n; ++i) {
    if (s[i] >= 0x80) return false;
    out[i] = static_cast<char>(s[i]);
  }
  return true;
}
#endif

}  // namespace

size_t detail::Utf8ToUtf16Long(const char* text, size_t n, char16_t* out) {
  const kernels::Table& k = kernels::Active();
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0, o = 0;
  while (i < n) {
    uint32_t c = s[i];
    if (c < 0x80) {
      // Output never runs ahead of input (a unit per byte at most), so the
      // kernel may fill out up to n units.
      const size_t run = k.widen(s + i, n - i, out + o);
      i += run;
      o += run;
      continue;
    }
    const size_t left = n - i;
    if (c >= 0xC0 && c < 0xE0 && left >= 2) {
      out[o++] = static_cast<char16_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else if (c >= 0xE0 && c < 0xF0 && left >= 3) {
      out[o++] = static_cast<char16_t>(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) |
                                       (s[i + 2] & 0x3F));
      i += 3;
    } else if (c >= 0xF0 && left >= 4) {
      const uint32_t cp = (((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) |
                           ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F)) - 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      i += 4;
    } else {
      // Not what a parser hands out: a stray byte or a sequence the end cut.
      out[o++] = kReplacement;
      i = c < 0xC0 ? i + 1 : n;
    }
  }
  return o;
}

size_t Utf8ToUtf16Replacing(const char* text, size_t n, char16_t* out) {
#if TWXML_SIMD_X86
  if (n <= 16 && Vector() && detail::ShortWiden(text, n, out)) return n;
#endif
  const kernels::Table& k = kernels::Active();
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0, o = 0;
  while (i < n) {
    const unsigned c = s[i];
    if (c < 0x80) {
      const size_t run = k.widen(s + i, n - i, out + o);
      i += run;
      o += run;
      continue;
    }
    const Utf8Char ch = DecodeUtf8Char(s + i, n - i);
    i += ch.len;
    if (!ch.ok) {
      out[o++] = kReplacement;  // the maximal subpart, one replacement
      continue;
    }
    uint32_t cp = ch.cp;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(cp);
    }
  }
  return o;
}

size_t Utf16ToUtf8(const char16_t* s, size_t n, char* out) {
#if TWXML_SIMD_X86
  if (n <= 16 && Vector() && ShortNarrow(s, n, out)) return n;
#endif
  const kernels::Table& k = kernels::Active();
  size_t i = 0, o = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      // Three bytes of room per unit: out never runs short of n - i here.
      const size_t run = k.narrow(s + i, n - i, out + o);
      i += run;
      o += run;
      continue;
    }
    o += PutUtf8(NextCodePoint(s, n, &i), out + o);
  }
  return o;
}

size_t Utf16ToUtf8Prefix(const char16_t* s, size_t n, char* out, size_t room, size_t* taken) {
#if TWXML_SIMD_X86
  if (n <= 16 && n <= room && Vector() && ShortNarrow(s, n, out)) {
    *taken = n;
    return n;
  }
#endif
  const kernels::Table& k = kernels::Active();
  size_t i = 0, o = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      const size_t limit = n - i < room - o ? n - i : room - o;
      if (limit == 0) break;
      const size_t run = k.narrow(s + i, limit, out + o);
      i += run;
      o += run;
      continue;
    }
    size_t next = i;
    const uint32_t cp = NextCodePoint(s, n, &next);
    const size_t bytes = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    if (bytes > room - o) break;
    o += PutUtf8(cp, out + o);
    i = next;
  }
  *taken = i;
  return o;
}

size_t Utf8Size(const char16_t* s, size_t n) {
  const kernels::Table& k = kernels::Active();
  size_t i = 0, bytes = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      const size_t run = k.ascii16(s + i, n - i);
      i += run;
      bytes += run;
      continue;
    }
    const uint32_t cp = NextCodePoint(s, n, &i);
    bytes += cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  }
  return bytes;
}

size_t Utf16Size(const char* text, size_t n) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  const kernels::Table& k = kernels::Active();
  size_t i = 0, units = 0;
  while (i < n) {
    const size_t run = k.ascii8(s + i, n - i);
    i += run;
    units += run;
    // Every byte but a continuation starts a unit; four-byte leads two.
    for (; i < n && s[i] >= 0x80; ++i) units += ((s[i] & 0xC0) != 0x80) + (s[i] >= 0xF0);
  }
  return units;
}

size_t WidenAscii(const unsigned char* s, size_t n, char16_t* d) {
  return kernels::Active().widen(s, n, d);
}
size_t NarrowAscii(const char16_t* s, size_t n, char* d) {
  return kernels::Active().narrow(s, n, d);
}
size_t AsciiPrefix(const unsigned char* s, size_t n) { return kernels::Active().ascii8(s, n); }
size_t AsciiPrefix(const char16_t* s, size_t n) { return kernels::Active().ascii16(s, n); }

// Eight units per step. A 16-byte load that does not reach into another page
// (any aligned one, and a first one checked for it) cannot fault when it
// looks at units after the terminator; the address and thread checkers would
// still call that out of bounds (or a race with whoever owns those bytes).
#if TWXML_SIMD_X86
__attribute__((no_sanitize("address", "thread")))
#endif
size_t WideLength(const char16_t* text) {
  size_t n = 0;
#if TWXML_SIMD_X86
  const uintptr_t a = reinterpret_cast<uintptr_t>(text);
  if ((a & 1) == 0) {
    const __m128i zero = _mm_setzero_si128();
    if (simd::SixteenOnOnePage(text)) {
      // The first eight units in one (unaligned) load when they are on one
      // page: short texts end here.
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
      const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
      if (zeros != 0) return static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(zeros))) / 2;
      n = (16 - (a & 15)) / 2;  // the next aligned unit, all before it seen
    } else {
      for (; (reinterpret_cast<uintptr_t>(text + n) & 15) != 0; ++n) {
        if (text[n] == 0) return n;
      }
    }
    for (;; n += 8) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(text + n));
      const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
      if (zeros != 0) return n + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(zeros))) / 2;
    }
  }
#endif
  while (text[n] != 0) ++n;
  return n;
}

// One 16-byte load that does not reach into another page cannot fault when
// it looks past the terminator; the address and thread checkers would still
// call that out of bounds.
#if TWXML_SIMD_X86
__attribute__((no_sanitize("address", "thread")))
#endif
size_t WidenShortAsciiZ(const char* s, char16_t* out) {
#if TWXML_SIMD_X86
  size_t n;
  if (!Vector() || !ShortAsciiZ(s, &n)) return SIZE_MAX;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i z = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, z));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, z));
  return n;
#else
  (void)s;
  (void)out;
  return SIZE_MAX;
#endif
}

char16_t* WideZ::room(size_t n) {
  if (n <= kInline) return inline_;
  heap_ = new (std::nothrow) char16_t[n];
  return heap_;
}

void WideZ::fromUtf8(const char* text) {
  if (text == nullptr) return;
  static_assert(kInline >= 16);
  // Short ASCII texts (most names and values): one step measures and widens.
  if (WidenShortAsciiZ(text, inline_) != SIZE_MAX) {
    text_ = inline_;
    return;
  }
  // n bytes never make more than n units: one conversion straight in.
  const size_t n = std::strlen(text) + 1;
  if (n > kMaxBytes) return;
  char16_t* buffer = room(n);
  if (buffer == nullptr) return;
  Utf8ToUtf16Replacing(text, n, buffer);
  text_ = buffer;
}

}  // namespace twxml::utf
