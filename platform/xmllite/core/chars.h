// Character classes of XML 1.0 (fifth edition) on UTF-8 text.
#pragma once

#include <cstdint>

namespace twxml::xmlcore {

enum : uint8_t {
  kNameStart = 1,  // NameStartChar (ASCII part, colon included)
  kNameChar = 2,   // NameChar (ASCII part)
  kSpace = 4,      // S
  kPubid = 8,      // PubidChar
  kNameNoColon = 16,  // NameChar other than the colon (ASCII part)
};

struct CharTable {
  uint8_t v[256];
  constexpr CharTable() : v() {
    for (int c = 'a'; c <= 'z'; ++c) v[c] = kNameStart | kNameChar | kPubid;
    for (int c = 'A'; c <= 'Z'; ++c) v[c] = kNameStart | kNameChar | kPubid;
    for (int c = '0'; c <= '9'; ++c) v[c] = kNameChar | kPubid;
    v[int(':')] = kNameStart | kNameChar | kPubid;
    v[int('_')] = kNameStart | kNameChar | kPubid;
    v[int('-')] = kNameChar | kPubid;
    v[int('.')] = kNameChar | kPubid;
    v[0x20] = kSpace | kPubid;
    v[0x09] = kSpace;
    v[0x0A] = kSpace | kPubid;
    v[0x0D] = kSpace | kPubid;
    for (char c : "'()+,/=?;!*#@$%") if (c) v[uint8_t(c)] |= kPubid;
    for (int c = 0; c < 128; ++c)
      if ((v[c] & kNameChar) && c != ':') v[c] |= kNameNoColon;
  }
};

inline constexpr CharTable kChars{};

inline bool isSpace(char c) { return kChars.v[uint8_t(c)] & kSpace; }

inline bool isNameStartCp(uint32_t c) {
  if (c < 0x80) return kChars.v[c] & kNameStart;
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) ||
         (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
         (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

inline bool isNameCp(uint32_t c) {
  if (c < 0x80) return kChars.v[c] & kNameChar;
  return isNameStartCp(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

inline bool isXmlChar(uint32_t c) {
  return (c >= 0x20 && c <= 0xD7FF) || c == 0x9 || c == 0xA || c == 0xD ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Decodes one UTF-8 character of text that is known to be valid.
inline uint32_t decodeUtf8(const char* p, int* len) {
  const uint8_t* s = reinterpret_cast<const uint8_t*>(p);
  uint32_t c = s[0];
  if (c < 0x80) {
    *len = 1;
    return c;
  }
  if (c < 0xE0) {
    *len = 2;
    return ((c & 0x1F) << 6) | (s[1] & 0x3F);
  }
  if (c < 0xF0) {
    *len = 3;
    return ((c & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
  }
  *len = 4;
  return ((c & 0x07) << 18) | ((s[1] & 0x3F) << 12) | ((s[2] & 0x3F) << 6) |
         (s[3] & 0x3F);
}


}  // namespace twxml::xmlcore
