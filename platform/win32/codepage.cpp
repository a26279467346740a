// Code-page conversion between narrow text and UTF-16.
//
// UTF-8 is converted by hand (it is the common case and must be exact about
// surrogate pairs and ill-formed input); every other code page goes through
// iconv with descriptors cached per thread. CP_ACP / CP_THREAD_ACP / CP_OEMCP
// mean the codeset of the calling thread's C locale, where the "C"/"POSIX"
// locale (plain ASCII) counts as UTF-8.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string>
#include <vector>

#include "internal.h"
#include "twxml/platform/simd.h"
#include "twxml/platform/utf.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr UINT kCpMac = 2;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kWideName = "UTF-16BE";
#else
constexpr const char* kWideName = "UTF-16LE";
#endif

// Upper-cased with '-', '_', '.', ' ' dropped, so "utf-8", "UTF8" and
// "ISO_8859-1" compare as expected.
std::string NormalizeCodeset(const char* name) {
  std::string out;
  for (const char* p = name; p && *p; ++p) {
    char c = *p;
    if (c == '-' || c == '_' || c == '.' || c == ' ') continue;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out.push_back(c);
  }
  return out;
}

bool IsUtf8Codeset(const std::string& n) {
  // ASCII locales ("C", "POSIX") are treated as UTF-8, their superset.
  return n == "UTF8" || n == "ANSIX341968" || n == "ASCII" || n == "USASCII" || n.empty();
}

const char* ThreadCodeset() {
  // nl_langinfo answers for the calling thread's locale (uselocale), falling
  // back to the global one.
  const char* cs = nl_langinfo(CODESET);
  return cs ? cs : "";
}

// The iconv name of a numbered code page, or null when unknown.
const char* IconvNameOf(UINT cp) {
  switch (cp) {
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 12000: return "UTF-32LE";
    case 12001: return "UTF-32BE";
    case 20127: return "ASCII";
    case 65000: return "UTF-7";
    case 437: return "CP437";
    case 850: return "CP850";
    case 852: return "CP852";
    case 866: return "CP866";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 10000: return "MACINTOSH";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 20932: return "EUC-JP";
    case 51932: return "EUC-JP";
    case 51936: return "GB2312";
    case 51949: return "EUC-KR";
    case 50220: return "ISO-2022-JP";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28593: return "ISO-8859-3";
    case 28594: return "ISO-8859-4";
    case 28595: return "ISO-8859-5";
    case 28596: return "ISO-8859-6";
    case 28597: return "ISO-8859-7";
    case 28598: return "ISO-8859-8";
    case 28599: return "ISO-8859-9";
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 54936: return "GB18030";
    default: return nullptr;
  }
}

struct CodesetNumber {
  const char* normalized;
  UINT cp;
};
constexpr CodesetNumber kCodesetNumbers[] = {
    {"ISO88591", 28591},  {"ISO88592", 28592},  {"ISO88593", 28593},  {"ISO88594", 28594},
    {"ISO88595", 28595},  {"ISO88596", 28596},  {"ISO88597", 28597},  {"ISO88598", 28598},
    {"ISO88599", 28599},  {"ISO885913", 28603}, {"ISO885915", 28605}, {"CP1250", 1250},
    {"CP1251", 1251},     {"CP1252", 1252},     {"CP1253", 1253},     {"CP1254", 1254},
    {"CP1255", 1255},     {"CP1256", 1256},     {"CP1257", 1257},     {"CP1258", 1258},
    {"KOI8R", 20866},     {"KOI8U", 21866},     {"SHIFTJIS", 932},    {"SJIS", 932},
    {"CP932", 932},       {"EUCJP", 20932},     {"GB2312", 936},      {"GBK", 936},
    {"CP936", 936},       {"GB18030", 54936},   {"BIG5", 950},        {"BIG5HKSCS", 950},
    {"CP950", 950},       {"EUCKR", 949},       {"CP949", 949},       {"UHC", 949},
    {"TIS620", 874},      {"CP874", 874},       {"CP866", 866},       {"CP437", 437},
};

// Where a conversion goes: the UTF-8 fast path or iconv under a name (a
// static name, or the thread's codeset text, valid for the call).
struct Target {
  bool utf8 = false;
  const char* iconvName = nullptr;
};

// The thread codeset is asked on every conversion, so the last one's answer
// is kept per thread, in a plain record (no constructor, no lookup function).
// The text is compared, not its address: a freed locale's data can be
// replaced by another's at the same place.
struct LastCodeset {
  uint64_t name[5];   // zero-padded text
  uint64_t lastMask;  // the bytes of the last word that belong to the text
  uint32_t words;     // words holding text and terminator; 0 means nothing kept
  bool utf8;
  // A Shift_JIS name: its converter reads 0x5C and 0x7E as a yen sign and an
  // overline, so it converts as code page 932 (what GetACP answers for it),
  // which keeps them ASCII as every other code page keeps all of ASCII.
  bool cp932;
  uint64_t mask0, mask1;  // a text of two words or fewer: the bytes of each that belong to it
  // Where such a short text was last found, when reading both words there
  // stays within its page; null otherwise. A text met again at that address
  // is compared without the page and length checks.
  const char* at;
};
thread_local LastCodeset t_codeset __attribute__((tls_model("initial-exec"))) = {
    {0}, 0, 0, false, false, 0, 0, nullptr};

constexpr uintptr_t kPage = 4096;  // the smallest page size there is

// A kept text of two words or fewer against the two words at cs (which the
// caller knows lie within cs's page).
__attribute__((no_sanitize("address", "thread"))) inline bool SameShortCodeset(const char* cs) {
  uint64_t x, y;
  std::memcpy(&x, cs, 8);
  std::memcpy(&y, cs + 8, 8);
  return (((x ^ t_codeset.name[0]) & t_codeset.mask0) | ((y ^ t_codeset.name[1]) & t_codeset.mask1)) == 0;
}

// Compares a word per step. Reading a little past cs's terminator stays
// within its page (checked first), so it cannot fault; the bytes past it are
// masked out. The address and thread checkers would still call that out of
// bounds.
__attribute__((no_sanitize("address", "thread"))) inline bool SameAsLastCodeset(const char* cs) {
  const uint32_t words = t_codeset.words;
  if (words == 0) return false;
  if ((reinterpret_cast<uintptr_t>(cs) & (kPage - 1)) > kPage - sizeof t_codeset.name) {
    return std::strcmp(cs, reinterpret_cast<const char*>(t_codeset.name)) == 0;
  }
  // The usual names ("UTF-8", "ANSI_X3.4-1968", "ISO-8859-1") are short.
  if (words <= 2) return SameShortCodeset(cs);
  uint64_t x;
  for (uint32_t k = 0; k + 1 < words; ++k) {
    std::memcpy(&x, cs + 8 * k, 8);
    if (x != t_codeset.name[k]) return false;
  }
  std::memcpy(&x, cs + 8 * (words - 1), 8);
  return ((x ^ t_codeset.name[words - 1]) & t_codeset.lastMask) == 0;
}

__attribute__((noinline)) void RememberCodeset(const char* cs) {
  const size_t n = std::strlen(cs);
  const std::string normalized = NormalizeCodeset(cs);
  t_codeset.utf8 = IsUtf8Codeset(normalized);
  t_codeset.cp932 = normalized == "SHIFTJIS" || normalized == "SJIS";
  std::memset(t_codeset.name, 0, sizeof t_codeset.name);
  t_codeset.at = nullptr;
  if (n == 0 || n >= sizeof t_codeset.name) {
    t_codeset.words = 0;  // too long (or empty) to keep: asked again next time
    return;
  }
  std::memcpy(t_codeset.name, cs, n);
  const size_t size = n + 1;
  t_codeset.words = static_cast<uint32_t>((size + 7) / 8);
  const size_t tail = size - 8 * (t_codeset.words - 1);
  t_codeset.lastMask = tail == 8 ? ~uint64_t{0} : (uint64_t{1} << (tail * 8)) - 1;
  t_codeset.mask0 = t_codeset.words == 1 ? t_codeset.lastMask : ~uint64_t{0};
  t_codeset.mask1 = t_codeset.words == 1 ? 0 : t_codeset.lastMask;
  if (t_codeset.words <= 2 && twxml::simd::SixteenOnOnePage(cs))
    t_codeset.at = cs;
}

__attribute__((noinline)) bool ResolveNumberedCodePage(UINT cp, Target* t) {
  const char* name = IconvNameOf(cp);
  if (name == nullptr) return false;
  t->iconvName = name;
  return true;
}

// The thread's codeset, its verdict remembered until the text changes.
inline const char* CurrentCodeset() {
  const char* cs = ThreadCodeset();
  if (!SameAsLastCodeset(cs)) RememberCodeset(cs);
  return cs;
}

inline bool ResolveCodePage(UINT cp, Target* t) {
  if (cp == CP_UTF8) {
    t->utf8 = true;
    return true;
  }
  if (cp == CP_ACP || cp == CP_OEMCP || cp == kCpMac || cp == CP_THREAD_ACP) {
    const char* cs = CurrentCodeset();
    t->utf8 = t_codeset.utf8;
    if (!t_codeset.utf8) t->iconvName = t_codeset.cp932 ? IconvNameOf(932) : cs;
    return true;
  }
  return ResolveNumberedCodePage(cp, t);
}

// ---- iconv descriptors, cached per thread ---------------------------------

struct IconvCache {
  struct Entry {
    std::string from;
    std::string to;
    iconv_t cd;
  };
  std::vector<Entry> entries;
  ~IconvCache() {
    for (Entry& e : entries) iconv_close(e.cd);
  }
  iconv_t Get(const char* from, const char* to) {
    for (Entry& e : entries) {
      if (e.from == from && e.to == to) {
        iconv(e.cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return e.cd;
      }
    }
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
    if (entries.size() >= 16) {  // a few code pages per thread is the norm
      iconv_close(entries.front().cd);
      entries.erase(entries.begin());
    }
    entries.push_back({from, to, cd});
    return cd;
  }
};

thread_local IconvCache t_iconv;

int Fail(DWORD err) {
  SetLastError(err);
  return 0;
}

// Copies a converted result into the caller's buffer (or just counts it).
template <typename T>
int Deliver(const std::vector<T>& out, T* dst, int dstLen) {
  if (out.size() > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  const int n = static_cast<int>(out.size());
  if (dstLen == 0) return n;
  if (n > dstLen) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (n) std::memcpy(dst, out.data(), out.size() * sizeof(T));
  return n;
}

// ---- ASCII runs -------------------------------------------------------------
//
// Most text is ASCII: runs of it go through the shared vector kernels.

inline size_t AsciiRunEnd(const unsigned char* s, size_t i, size_t n) {
  return i + twxml::utf::AsciiPrefix(s + i, n - i);
}
inline size_t AsciiRunEnd(const WCHAR* s, size_t i, size_t n) {
  return i + twxml::utf::AsciiPrefix(s + i, n - i);
}
inline size_t CopyAsciiRun(const unsigned char* s, size_t limit, WCHAR* d) {
  return twxml::utf::WidenAscii(s, limit, d);
}
inline size_t CopyAsciiRun(const WCHAR* s, size_t limit, char* d) {
  return twxml::utf::NarrowAscii(s, limit, d);
}

// Takes the ASCII run at s[*i] over to dst + *out (or, counting, only measures
// it) and moves *i and *out past it. False when dst ends inside the run.
template <typename From, typename To>
inline bool TakeAsciiRun(const From* s, size_t n, size_t* i, To* dst, size_t cap, bool counting,
                         size_t* out) {
  size_t k;
  if (counting) {
    k = AsciiRunEnd(s, *i, n);
  } else {
    const size_t room = cap - *out;
    const size_t limit = n - *i > room ? *i + room : n;
    k = *i + CopyAsciiRun(s + *i, limit - *i, dst + *out);
    if (k == limit && k < n && s[k] < 0x80) return false;
  }
  *out += k - *i;
  *i = k;
  return true;
}

// ---- UTF-8 -> UTF-16 -------------------------------------------------------

// Decodes well-formed UTF-8 (Unicode table 3-7). An ill-formed maximal
// subpart becomes one U+FFFD, or fails the call when strict. Without a
// buffer (dstLen 0) it only counts.
int Utf8ToWide(const unsigned char* s, size_t n, bool strict, WCHAR* dst, int dstLen) {
  const bool counting = dstLen == 0;
  const size_t cap = counting ? SIZE_MAX : static_cast<size_t>(dstLen);
  // Room for a unit per byte: the shared conversion, which never runs short.
  if (!strict && !counting && cap >= n)
    return static_cast<int>(twxml::utf::Utf8ToUtf16Replacing(reinterpret_cast<const char*>(s), n, dst));
  size_t out = 0;
  size_t i = 0;
  while (i < n) {
    unsigned c = s[i];
    if (c < 0x80) {
      if (!TakeAsciiRun(s, n, &i, dst, cap, counting, &out)) return Fail(ERROR_INSUFFICIENT_BUFFER);
      continue;
    }
    const twxml::utf::Utf8Char ch = twxml::utf::DecodeUtf8Char(s + i, n - i);
    uint32_t cp = ch.cp;
    if (!ch.ok) {
      if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      cp = kReplacement;
    }
    const size_t len = ch.len;
    i += len;
    if (cp >= 0x10000) {
      if (!counting) {
        if (cap - out < 2) {
          if (cap - out == 1) dst[out] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
          return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        cp -= 0x10000;
        dst[out] = static_cast<char16_t>(0xD800 + (cp >> 10));
        dst[out + 1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      }
      out += 2;
    } else {
      if (!counting) {
        if (out >= cap) return Fail(ERROR_INSUFFICIENT_BUFFER);
        dst[out] = static_cast<char16_t>(cp);
      }
      ++out;
    }
  }
  if (out > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  return static_cast<int>(out);
}

// ---- UTF-16 -> UTF-8 -------------------------------------------------------

int WideToUtf8(const WCHAR* s, size_t n, bool strict, char* dst, int dstLen, BOOL* usedDefault) {
  const bool counting = dstLen == 0;
  const size_t cap = counting ? SIZE_MAX : static_cast<size_t>(dstLen);
  size_t out = 0;
  bool replaced = false;
  size_t i = 0;
  while (i < n) {
    uint32_t cp = s[i];
    if (cp < 0x80) {
      if (!TakeAsciiRun(s, n, &i, dst, cap, counting, &out)) return Fail(ERROR_INSUFFICIENT_BUFFER);
      continue;
    }
    ++i;
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i] - 0xDC00);
        ++i;
      } else {
        if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
        cp = kReplacement;
        replaced = true;
      }
    }
    const size_t len = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    if (!counting) {
      if (len > cap - out) return Fail(ERROR_INSUFFICIENT_BUFFER);
      char* o = dst + out;
      if (len == 2) {
        o[0] = static_cast<char>(0xC0 | (cp >> 6));
        o[1] = static_cast<char>(0x80 | (cp & 0x3F));
      } else if (len == 3) {
        o[0] = static_cast<char>(0xE0 | (cp >> 12));
        o[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        o[2] = static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        o[0] = static_cast<char>(0xF0 | (cp >> 18));
        o[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        o[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        o[3] = static_cast<char>(0x80 | (cp & 0x3F));
      }
    }
    out += len;
  }
  if (out > static_cast<size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  if (usedDefault) *usedDefault = replaced ? TRUE : FALSE;
  return static_cast<int>(out);
}

// ---- iconv paths ----------------------------------------------------------

int IconvToWide(const char* from, bool strict, const char* src, size_t n, WCHAR* dst,
                int dstLen) {
  iconv_t cd = t_iconv.Get(from, kWideName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<char16_t> out;
  out.reserve(n + 1);
  char16_t chunk[512];
  char* in = const_cast<char*>(src);
  size_t inLeft = n;
  bool flushed = false;
  while (!flushed) {
    char* o = reinterpret_cast<char*>(chunk);
    size_t oLeft = sizeof chunk;
    size_t r;
    if (inLeft > 0) {
      r = iconv(cd, &in, &inLeft, &o, &oLeft);
    } else {
      r = iconv(cd, nullptr, nullptr, &o, &oLeft);  // emit what a stateful codeset still holds
      flushed = r != static_cast<size_t>(-1);
    }
    const int err = errno;
    out.insert(out.end(), chunk, chunk + (sizeof chunk - oLeft) / sizeof(char16_t));
    if (r != static_cast<size_t>(-1)) continue;
    if (err == E2BIG) continue;
    if (err == EILSEQ || err == EINVAL) {
      if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      if (inLeft == 0) break;
      out.push_back(kReplacement);
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    return Fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  return Deliver(out, dst, dstLen);
}

int IconvFromWide(const char* to, bool strict, const WCHAR* src, size_t n, char* dst,
                  int dstLen, LPCSTR defaultChar, BOOL* usedDefault) {
  iconv_t cd = t_iconv.Get(kWideName, to);
  if (cd == reinterpret_cast<iconv_t>(-1)) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<char> out;
  out.reserve(n + 1);
  char chunk[1024];
  char* in = reinterpret_cast<char*>(const_cast<WCHAR*>(src));
  size_t inLeft = n * sizeof(WCHAR);
  bool used = false;

  auto emitDefault = [&]() -> bool {
    // Leave any shift state first so the default lands in the initial state.
    char* o = chunk;
    size_t oLeft = sizeof chunk;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.insert(out.end(), chunk, o);
    if (defaultChar != nullptr && defaultChar[0] != 0) {
      out.push_back(defaultChar[0]);
      return true;
    }
    static const char16_t q[] = u"?";
    char* qi = reinterpret_cast<char*>(const_cast<char16_t*>(q));
    size_t qLeft = sizeof(char16_t);
    o = chunk;
    oLeft = sizeof chunk;
    if (iconv(cd, &qi, &qLeft, &o, &oLeft) == static_cast<size_t>(-1)) return false;
    out.insert(out.end(), chunk, o);
    return true;
  };

  bool flushed = false;
  while (!flushed) {
    char* o = chunk;
    size_t oLeft = sizeof chunk;
    size_t r;
    if (inLeft > 0) {
      r = iconv(cd, &in, &inLeft, &o, &oLeft);
    } else {
      r = iconv(cd, nullptr, nullptr, &o, &oLeft);
      flushed = r != static_cast<size_t>(-1);
    }
    const int err = errno;
    out.insert(out.end(), chunk, o);
    if (r != static_cast<size_t>(-1)) continue;
    if (err == E2BIG) continue;
    if ((err == EILSEQ || err == EINVAL) && inLeft >= sizeof(WCHAR)) {
      const WCHAR* at = reinterpret_cast<const WCHAR*>(in);
      const size_t left = inLeft / sizeof(WCHAR);
      size_t skip = 1;
      bool lone = false;
      if (at[0] >= 0xD800 && at[0] <= 0xDBFF) {
        if (left >= 2 && at[1] >= 0xDC00 && at[1] <= 0xDFFF) {
          skip = 2;  // a valid pair the target cannot represent
        } else {
          lone = true;
        }
      } else if (at[0] >= 0xDC00 && at[0] <= 0xDFFF) {
        lone = true;
      }
      if (lone && strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      if (!emitDefault()) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      used = true;
      in += skip * sizeof(WCHAR);
      inLeft -= skip * sizeof(WCHAR);
      continue;
    }
    return Fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  const int result = Deliver(out, dst, dstLen);
  if (result != 0 && usedDefault) *usedDefault = used ? TRUE : FALSE;
  return result;
}

// Both directions: a source of some length, a buffer where its length says
// there is one, and no converting in place.
template <typename From, typename To>
bool ConversionArgsValid(const From* src, int srcLen, const To* dst, int dstLen) {
  return src != nullptr && srcLen != 0 && srcLen >= -1 && dstLen >= 0 &&
         (dst != nullptr || dstLen == 0) &&
         (dst == nullptr || static_cast<const void*>(src) != static_cast<const void*>(dst));
}

}  // namespace

namespace twxml::win32 {

// Asked on every narrow-text call, so the usual case (the same short text
// at the same place) costs the codeset query and one two-word compare. The
// text is still compared: the address alone could be another locale's.
__attribute__((no_sanitize("address", "thread"))) bool ThreadCodePageIsUtf8() {
  const char* cs = ThreadCodeset();
  if (__builtin_expect(cs == t_codeset.at && SameShortCodeset(cs), 1)) return t_codeset.utf8;
  if (!SameAsLastCodeset(cs)) RememberCodeset(cs);
  return t_codeset.utf8;
}

}  // namespace twxml::win32

extern "C" {

UINT GetACP(void) {
  const std::string n = NormalizeCodeset(ThreadCodeset());
  if (IsUtf8Codeset(n)) return CP_UTF8;
  for (const CodesetNumber& e : kCodesetNumbers) {
    if (n == e.normalized) return e.cp;
  }
  // A codeset without a number: CP_THREAD_ACP converts with it all the same.
  return CP_THREAD_ACP;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                        int dstLen) {
  Target t;
  if (!ConversionArgsValid(src, srcLen, dst, dstLen) || !ResolveCodePage(codePage, &t))
    return Fail(ERROR_INVALID_PARAMETER);
  const size_t n = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  if (t.utf8) return Utf8ToWide(reinterpret_cast<const unsigned char*>(src), n, strict, dst, dstLen);
  return IconvToWide(t.iconvName, strict, src, n, dst, dstLen);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                        int dstLen, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  Target t;
  if (!ConversionArgsValid(src, srcLen, dst, dstLen) || !ResolveCodePage(codePage, &t))
    return Fail(ERROR_INVALID_PARAMETER);
  size_t n;
  if (srcLen == -1) {
    n = 0;
    while (src[n] != 0) ++n;
    ++n;
  } else {
    n = static_cast<size_t>(srcLen);
  }
  const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
  // UTF-8 has no default character: lone surrogates become U+FFFD, which is
  // what usedDefaultChar reports.
  if (t.utf8) return WideToUtf8(src, n, strict, dst, dstLen, usedDefaultChar);
  return IconvFromWide(t.iconvName, strict, src, n, dst, dstLen, defaultChar, usedDefaultChar);
}

}  // extern "C"
