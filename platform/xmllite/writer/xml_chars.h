// Character classes the writer checks before it emits anything: the XML 1.0
// character range and the fifth-edition name rules, on UTF-16 input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twxml::xmlwriter {

inline bool isHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool isLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
inline bool isSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Char ::= #x9 | #xA | #xD | [#x20-#xD7FF] | [#xE000-#xFFFD] | [#x10000-#x10FFFF]
inline bool isXmlChar(uint32_t c) {
  if (c < 0x20) return c == 0x9 || c == 0xA || c == 0xD;
  if (c <= 0xD7FF) return true;
  if (c < 0xE000) return false;
  if (c <= 0xFFFD) return true;
  return c >= 0x10000 && c <= 0x10FFFF;
}

inline bool isXmlWhitespace(uint32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }

// NameStartChar without ':' (the namespace-aware writer never puts a colon
// inside a prefix or a local name).
inline bool isNameStartChar(uint32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
         (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0xEFFFF);
}

inline bool isNameChar(uint32_t c) {
  if (c < 0x80)
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.';
  return isNameStartChar(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

enum class NameKind : uint8_t {
  NCName,   // no colon
  Name,     // colons allowed anywhere a name char is
  NmToken,  // name chars only, any first char
};

// True when s[0..n) is a well-formed name of the kind asked for (surrogate
// pairs combined; lone surrogates and the empty string are not names).
inline bool isValidName(const char16_t* s, size_t n, NameKind kind) {
  if (n == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    const bool first = i == 0;
    uint32_t c = s[i];
    if (isHighSurrogate(c)) {
      if (i + 1 >= n || !isLowSurrogate(s[i + 1])) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (isLowSurrogate(c)) {
      return false;
    }
    bool ok;
    if (c == ':') {
      ok = kind != NameKind::NCName;
    } else if (kind == NameKind::NmToken || !first) {
      ok = isNameChar(c);
    } else {
      ok = isNameStartChar(c);
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace twxml::xmlwriter
