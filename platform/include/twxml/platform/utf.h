// UTF-8 and UTF-16 conversions shared by every layer: the code-page calls,
// the narrow-text routines, the streaming reader and writer and the document
// model. Runs of ASCII go through vector kernels of the active level
// (twxml/platform/simd.h); everything else is converted character by
// character, so every level gives the same result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "twxml/platform/simd.h"

#if TWXML_SIMD_X86
#include <emmintrin.h>
#endif

namespace twxml::utf {

namespace detail {
size_t Utf8ToUtf16Long(const char* s, size_t n, char16_t* out);

#if TWXML_SIMD_X86
// Short ASCII texts (most names and many values) in one step: two loads
// that overlap in the middle cover the text without reading past it.
// False when it is not all ASCII.
inline bool ShortWiden(const char* s, size_t n, char16_t* out) {
  const __m128i z = _mm_setzero_si128();
  if (n >= 8) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + n - 8));
    if (_mm_movemask_epi8(_mm_or_si128(a, b)) & 0xFF) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(a, z));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 8), _mm_unpacklo_epi8(b, z));
    return true;
  }
  if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    if ((a | b) & 0x80808080u) return false;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                     _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(a)), z));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + n - 4),
                     _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(b)), z));
    return true;
  }
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
    out[i] = static_cast<unsigned char>(s[i]);
  }
  return true;
}
#endif
}  // namespace detail

// Writes a code point below 0x110000 as UTF-8; returns its length (1 to 4).
inline size_t PutUtf8(uint32_t cp, char* o) {
  if (cp < 0x80) {
    o[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    o[0] = static_cast<char>(0xC0 | (cp >> 6));
    o[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    o[0] = static_cast<char>(0xE0 | (cp >> 12));
    o[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    o[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  o[0] = static_cast<char>(0xF0 | (cp >> 18));
  o[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  o[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  o[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// One UTF-8 character at s[0] (a byte from 0x80 on), n bytes of input
// there: checked against Unicode's table of well-formed sequences.
struct Utf8Char {
  uint32_t cp;  // the code point, when ok
  size_t len;   // its bytes; when not ok, those of its ill-formed maximal subpart
  bool ok;
  bool cut;     // not ok only because the input ended inside the character
};

inline Utf8Char DecodeUtf8Char(const unsigned char* s, size_t n) {
  const unsigned c = s[0];
  size_t len;
  uint32_t cp;
  unsigned lo = 0x80, hi = 0xBF;  // the second byte's range depends on the lead
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no encoded surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return {0, 1, false, false};
  }
  size_t k = 1;
  for (; k < len && k < n; ++k) {
    const unsigned b = s[k];
    if (b < lo || b > hi) return {0, k, false, false};
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (k < len) return {0, k, false, true};
  return {cp, len, true, false};
}

// Well-formed UTF-8 (text a parser has checked) to UTF-16; out has room for
// n units. A sequence cut short by the end becomes U+FFFD. Returns the units
// written.
inline size_t Utf8ToUtf16(const char* s, size_t n, char16_t* out) {
#if TWXML_SIMD_X86
  if (n <= 16 && simd::Active() != simd::Level::Plain && detail::ShortWiden(s, n, out)) return n;
#endif
  return detail::Utf8ToUtf16Long(s, n, out);
}

// Any UTF-8 to UTF-16, each ill-formed maximal subpart (Unicode's
// definition) written as one U+FFFD; out has room for n units. Returns the
// units written.
size_t Utf8ToUtf16Replacing(const char* s, size_t n, char16_t* out);

// UTF-16 to UTF-8, a lone surrogate written as U+FFFD; out has room for 3n
// bytes. Returns the bytes written.
size_t Utf16ToUtf8(const char16_t* s, size_t n, char* out);

// Utf16ToUtf8 into room bytes: the longest prefix that fits, cut on a
// character boundary (a surrogate pair goes whole or not at all). *taken
// gets the units converted. Returns the bytes written; nothing is written
// past out[room - 1].
size_t Utf16ToUtf8Prefix(const char16_t* s, size_t n, char* out, size_t room, size_t* taken);

// Bytes Utf16ToUtf8 writes for s.
size_t Utf8Size(const char16_t* s, size_t n);
// Units Utf8ToUtf16 writes for s.
size_t Utf16Size(const char* s, size_t n);

// Units before the zero that ends s.
size_t WideLength(const char16_t* s);

// A zero-terminated text of at most 15 bytes, all ASCII, measured with one
// load: true and its length. False (nothing known) for a longer or other
// text, or where one load would reach into the next page.
#if TWXML_SIMD_X86
__attribute__((no_sanitize("address", "thread")))
#endif
inline bool ShortAsciiZ(const char* s, size_t* length) {
#if TWXML_SIMD_X86
  if (!simd::SixteenOnOnePage(s)) return false;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const auto zeros =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
  const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
  // A zero, and no byte with the high bit before it.
  if (zeros == 0 || (high & ((zeros & (0u - zeros)) - 1)) != 0) return false;
  *length = static_cast<size_t>(__builtin_ctz(zeros));
  return true;
#else
  for (size_t n = 0; n < 16; ++n) {
    if (s[n] == 0) {
      *length = n;
      return true;
    }
    if (static_cast<unsigned char>(s[n]) >= 0x80) return false;
  }
  return false;
#endif
}

// A zero-terminated ASCII text of at most 15 bytes, widened with its zero in
// one step into out (room for 16 units): its length. SIZE_MAX (nothing
// promised about out) for longer or other text, or where one step is not
// possible; the caller then measures and converts as usual.
size_t WidenShortAsciiZ(const char* s, char16_t* out);

// The leading ASCII run of s[0, n): its length. Widen and Narrow also
// convert it into d and may write d up to d[n - 1] beyond it (the caller
// writes over what lies past the run).
size_t WidenAscii(const unsigned char* s, size_t n, char16_t* d);
size_t NarrowAscii(const char16_t* s, size_t n, char* d);
size_t AsciiPrefix(const unsigned char* s, size_t n);
size_t AsciiPrefix(const char16_t* s, size_t n);

// Zero-terminated UTF-8 as zero-terminated UTF-16 (Utf8ToUtf16Replacing)
// for the length of a call; short texts stay on the stack, so steady-state
// calls do not allocate. get() is null for a null text, for a text of
// kMaxBytes or more and when memory runs out.
class WideZ {
 public:
  static constexpr size_t kMaxBytes = 0x3FFFFFFF;
  explicit WideZ(const char* text) { fromUtf8(text); }
  ~WideZ() { delete[] heap_; }
  WideZ(const WideZ&) = delete;
  WideZ& operator=(const WideZ&) = delete;
  const char16_t* get() const { return text_; }

 protected:
  WideZ() = default;
  void fromUtf8(const char* text);
  // Room for n units: the stack buffer or a new block; null when memory runs out.
  char16_t* room(size_t n);
  void set(const char16_t* text) { text_ = text; }

 private:
  static constexpr size_t kInline = 256;
  char16_t inline_[kInline];
  char16_t* heap_ = nullptr;
  const char16_t* text_ = nullptr;
};

}  // namespace twxml::utf
