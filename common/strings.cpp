// Trimming, bounded copy and XML-name cleaning of narrow and wide text.
#include <cstring>
#include <cwchar>

#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"

namespace {

inline bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// NameChar of XML 1.0 Fifth Edition (':' included).
constexpr bool IsNameChar(uint32_t c) {
  if (c < 0x80) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == ':' || c == '_' || c == '-' || c == '.';
  }
  return c == 0xB7 || (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) ||
         (c >= 0xF8 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C ||
         c == 0x200D || c == 0x203F || c == 0x2040 || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0xEFFFF);
}

// IsNameChar for ASCII, by table.
struct AsciiNameChars {
  bool ok[128] = {};
  constexpr AsciiNameChars() {
    for (uint32_t c = 0; c < 128; ++c) ok[c] = IsNameChar(c);
  }
};
constexpr AsciiNameChars kAsciiNameChar;

// Length of the well-formed UTF-8 sequence at p (0 when ill-formed) and its
// scalar value.
size_t DecodeUtf8(const unsigned char* p, uint32_t* cp) {
  const unsigned c = p[0];
  size_t len;
  unsigned lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    *cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    *cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    *cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (size_t k = 1; k < len; ++k) {
    const unsigned b = p[k];  // a zero byte stops here: it is outside every range
    if (b < lo || b > hi) return 0;
    lo = 0x80;
    hi = 0xBF;
    *cp = (*cp << 6) | (b & 0x3F);
  }
  return len;
}

}  // namespace

extern "C" {

unsigned int StrTrimStrRightU(char* text) {
  if (text == nullptr) return 0;
  size_t n = std::strlen(text);
  while (n > 0 && IsBlank(static_cast<unsigned char>(text[n - 1]))) --n;
  text[n] = 0;
  return static_cast<unsigned int>(n);
}

void StrNCopyRTrimV(const char* src, char* dst, unsigned int size) {
  if (dst == nullptr || size == 0) return;
  if (src == nullptr) {
    dst[0] = 0;
    return;
  }
  const size_t n = strnlen(src, size - 1);
  std::memmove(dst, src, n);
  dst[n] = 0;
  StrTrimStrRightU(dst);
}

unsigned int StrPadGetSizeU(const char* text) {
  if (text == nullptr) return 0;
  size_t n = std::strlen(text);
  while (n > 0 && IsBlank(static_cast<unsigned char>(text[n - 1]))) --n;
  return static_cast<unsigned int>(n);
}

void StrRemoveIllegalXMLNameCharV(char* text) {
  if (text == nullptr) return;
  unsigned char* in = reinterpret_cast<unsigned char*>(text);
  unsigned char* out = in;
  if (GetACP() == CP_UTF8) {
    while (*in) {
      if (*in < 0x80) {
        if (IsNameChar(*in)) *out++ = *in;
        ++in;
        continue;
      }
      uint32_t cp = 0;
      const size_t len = DecodeUtf8(in, &cp);
      if (len == 0) {
        ++in;  // a stray byte is no character at all
        continue;
      }
      if (IsNameChar(cp)) {
        std::memmove(out, in, len);
        out += len;
      }
      in += len;
    }
  } else {
    // Another codeset: let the thread's locale cut the characters; glibc's
    // wchar_t holds the scalar value.
    std::mbstate_t state{};
    size_t left = std::strlen(text);
    while (left > 0) {
      wchar_t wc = 0;
      const size_t len = std::mbrtowc(&wc, reinterpret_cast<char*>(in), left, &state);
      if (len == static_cast<size_t>(-1) || len == static_cast<size_t>(-2) || len == 0) {
        state = std::mbstate_t{};
        ++in;
        --left;
        continue;
      }
      if (IsNameChar(static_cast<uint32_t>(wc))) {
        std::memmove(out, in, len);
        out += len;
      }
      in += len;
      left -= len;
    }
  }
  *out = 0;
}

void StrRemoveIllegalXMLNameWCharV(WCHAR* text) {
  if (text == nullptr) return;
  WCHAR* in = text;
  // Most names are ASCII name characters from the start: they stay in place.
  while (*in && *in < 0x80 && kAsciiNameChar.ok[*in]) ++in;
  WCHAR* out = in;
  while (*in) {
    const uint32_t u = *in;
    if (u >= 0xD800 && u <= 0xDBFF && in[1] >= 0xDC00 && in[1] <= 0xDFFF) {
      const uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (in[1] - 0xDC00u);
      if (IsNameChar(cp)) {
        out[0] = in[0];
        out[1] = in[1];
        out += 2;
      }
      in += 2;
      continue;
    }
    if (!(u >= 0xD800 && u <= 0xDFFF) && IsNameChar(u)) *out++ = *in;
    ++in;
  }
  *out = 0;
}

}  // extern "C"
