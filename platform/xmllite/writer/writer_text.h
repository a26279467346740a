// Text helpers the writer's files share: lengths of wide text, escapes and
// per-character classes, UTF-8 and character-reference encoding, name checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "twxml/platform/utf.h"
#include "xml_chars.h"
#include "xml_writer.h"

namespace twxml::xmlwriter::detail {

using u16view = std::u16string_view;

inline constexpr u16view kXmlNs = u"http://www.w3.org/XML/1998/namespace";
inline constexpr u16view kXmlnsNs = u"http://www.w3.org/2000/xmlns/";

// Bytes one UTF-16 unit can grow into in the UTF-8 composition buffer: an
// escape ("&quot;") or a character reference ("&#xFFFD;", "&#x10FFFF;" for a
// pair) at most. Space checks use this bound for every piece of text.
inline constexpr size_t kMaxPerUnit = 8;
// Room behind the buffer's nominal end: escapes are stored with one fixed
// 8-byte copy that may reach a few bytes past the room a call reserved.
inline constexpr size_t kSlack = 64;

// Length of zero-terminated UTF-16 text. The vector loop reads whole aligned
// 16-byte blocks (never across a page), which may lie partly outside the
// string: the address and thread sanitizers are told so.
__attribute__((no_sanitize("address", "thread"))) inline size_t len16(const char16_t* s) {
  if (!s) return 0;
#ifdef __SSE2__
  const uintptr_t addr = reinterpret_cast<uintptr_t>(s);
  if ((addr & 1) == 0) {
    const __m128i zero = _mm_setzero_si128();
    const char* block = reinterpret_cast<const char*>(addr & ~uintptr_t(15));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    mask &= ~0u << (addr & 15);
    while (mask == 0) {
      block += 16;
      mask = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    }
    return static_cast<size_t>(block + __builtin_ctz(mask) - reinterpret_cast<const char*>(s)) / 2;
  }
#endif
  const char16_t* p = s;
  while (*p) ++p;
  return static_cast<size_t>(p - s);
}

inline u16view view(const char16_t* s) { return s ? u16view(s, len16(s)) : u16view(); }

struct EscapeText {
  char text[8];
  uint8_t len;
};
inline constexpr EscapeText kEscapes[] = {{"", 0},       {"", 0},       {"&lt;", 4},
                                   {"&amp;", 5},  {"&gt;", 4},   {"&quot;", 6},
                                   {"&#x9;", 5},  {"&#xA;", 5},  {"&#xD;", 5}};

// Per ASCII character: 0 written as is, 1 not an XML character, otherwise the
// index of its escape in kEscapes.
struct ClassTable {
  uint8_t c[128];
};
constexpr ClassTable makeTable(int mode) {
  ClassTable t{};
  for (int i = 0; i < 128; ++i) t.c[i] = (i < 0x20 && i != 0x9 && i != 0xA && i != 0xD) ? 1 : 0;
  if (mode != 2) {
    t.c[static_cast<int>('<')] = 2;
    t.c[static_cast<int>('&')] = 3;
    t.c[static_cast<int>('>')] = 4;
    t.c[static_cast<int>('\r')] = 8;
  }
  if (mode == 1) {
    t.c[static_cast<int>('"')] = 5;
    t.c[static_cast<int>('\t')] = 6;
    t.c[static_cast<int>('\n')] = 7;
  }
  return t;
}
inline constexpr ClassTable kClassTables[3] = {makeTable(0), makeTable(1), makeTable(2)};


inline char* putRef(char* p, uint32_t cp) {
  char tmp[8];
  int k = 0;
  do {
    tmp[k++] = "0123456789ABCDEF"[cp & 15];
    cp >>= 4;
  } while (cp);
  *p++ = '&';
  *p++ = '#';
  *p++ = 'x';
  while (k) *p++ = tmp[--k];
  *p++ = ';';
  return p;
}

// Names are checked before they are stored, so pairs are well formed here.
inline void appendUtf8(Arena<char>& out, u16view s) {
  // Most names are ASCII: one pass that narrows as it goes.
  char* p = out.extend(s.size());
  size_t i = 0;
  while (i < s.size() && s[i] < 0x80) {
    p[i] = static_cast<char>(s[i]);
    ++i;
  }
  if (i == s.size()) return;
  out.truncate(out.size() - (s.size() - i));
  for (; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c < 0x80) {
      *out.extend(1) = static_cast<char>(c);
      continue;
    }
    if (isHighSurrogate(c) && i + 1 < s.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    char tmp[4];
    out.append(tmp, twxml::utf::PutUtf8(c, tmp));
  }
}

template <typename C>
inline bool allWhitespace(const C* s, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!isXmlWhitespace(static_cast<std::make_unsigned_t<C>>(s[i]))) return false;
  return true;
}

// The character of UTF-8 text at s[*i - 1] (a byte from 0x80 on, already
// stepped over): an ill-formed sequence is U+FFFD, as the replacing
// conversion to UTF-16 makes it. *i ends after what was taken.
inline uint32_t nextUtf8(const char* s, size_t n, size_t* i) {
  const size_t at = *i - 1;
  const twxml::utf::Utf8Char ch =
      twxml::utf::DecodeUtf8Char(reinterpret_cast<const unsigned char*>(s) + at, n - at);
  *i = at + ch.len;
  return ch.ok ? ch.cp : 0xFFFDu;
}

// ASCII name characters: 1 may start a name, 2 may follow. Bytes from 0x80
// up have neither, so a byte scan needs no range check.
struct NameTable {
  uint8_t c[256];
};
constexpr NameTable makeNameTable() {
  NameTable t{};
  for (int i = 0; i < 128; ++i) {
    const bool letter = (i >= 'a' && i <= 'z') || (i >= 'A' && i <= 'Z') || i == '_';
    const bool more = letter || (i >= '0' && i <= '9') || i == '-' || i == '.';
    t.c[i] = static_cast<uint8_t>((letter ? 1 : 0) | (more ? 2 : 0));
  }
  return t;
}
inline constexpr NameTable kNameTable = makeNameTable();

// Whether text (UTF-8 or UTF-16) holds exactly the bytes of the ASCII word.
template <typename C>
bool SameAscii(std::basic_string_view<C> text, std::string_view word) {
  const size_t n = word.size();
  if (text.size() != n) return false;
  const auto* w = reinterpret_cast<const unsigned char*>(word.data());
#ifdef __SSE2__
  if constexpr (sizeof(C) == 2) {
    if (n >= 8) {
      // Eight units a step, the last step overlapping the one before.
      const __m128i z = _mm_setzero_si128();
      for (size_t i = 0;; i += 8) {
        if (i + 8 > n) i = n - 8;
        const __m128i wide = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + i)), z);
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(wide, t)) != 0xFFFF) return false;
        if (i + 8 == n) return true;
      }
    }
  }
#endif
  for (size_t i = 0; i < n; ++i)
    if (static_cast<std::make_unsigned_t<C>>(text[i]) != w[i]) return false;
  return true;
}

inline bool isNCName(u16view s) {
  if (s.empty()) return false;
  if (s[0] >= 0x80 || !(kNameTable.c[s[0]] & 1))
    return isValidName(s.data(), s.size(), NameKind::NCName);
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] >= 0x80 || !(kNameTable.c[s[i]] & 2))
      return isValidName(s.data(), s.size(), NameKind::NCName);
  }
  return true;
}

inline bool contains(u16view s, u16view what) { return s.find(what) != u16view::npos; }

inline bool equalsIgnoreAsciiCase(u16view s, const char* ascii) {
  size_t n = std::strlen(ascii);
  if (s.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(ascii[i])) return false;
  }
  return true;
}

inline bool isPubidChar(char16_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c == 0x20 || c == 0xD || c == 0xA || (c < 0x80 && std::strchr("-'()+,./:=?;!*#@$_%", c) && c);
}

}  // namespace twxml::xmlwriter::detail
