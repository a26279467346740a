// Code-page conversions: UTF-8 with ill-formed text and short buffers at the
// block edges, numbered code pages through iconv. (The thread's code page
// following its locale: the kernel's conversion tests and the faces' own.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "twxml/platform/win32_internal.h"

namespace {

using u16 = std::u16string;

// Whole conversion (count, then convert); ok false carries the error.
template <class T>
struct Result {
  bool ok;
  T text;
  DWORD error;
};

Result<u16> ToWide(UINT cp, const std::string& s, DWORD flags = 0) {
  SetLastError(0);
  const int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n == 0) return {false, {}, GetLastError()};
  u16 out(static_cast<size_t>(n), u'\0');
  EXPECT_EQ(n, MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), out.data(), n));
  return {true, out, 0};
}

Result<std::string> ToNarrow(UINT cp, const u16& s, DWORD flags = 0, BOOL* used = nullptr,
                             const char* dflt = nullptr) {
  SetLastError(0);
  const int len = static_cast<int>(s.size());
  const int n = WideCharToMultiByte(cp, flags, s.data(), len, nullptr, 0, dflt, used);
  if (n == 0) return {false, {}, GetLastError()};
  std::string out(static_cast<size_t>(n), '\0');
  EXPECT_EQ(n, WideCharToMultiByte(cp, flags, s.data(), len, out.data(), n, dflt, used));
  return {true, out, 0};
}

TEST(CodePage, Utf8ValidTextTerminatorsAndShortBuffers) {
  EXPECT_EQ(ToNarrow(CP_UTF8, u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF").text,
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  // -1 counts and writes the terminator, and nothing after it.
  WCHAR buf[8];
  std::fill(std::begin(buf), std::end(buf), u'#');
  EXPECT_EQ(6, MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9llo", -1, nullptr, 0));
  ASSERT_EQ(6, MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9llo", -1, buf, 8));
  EXPECT_EQ(u16(buf, 7), u16(u"h\u00e9llo\0#", 7));
  char nb[8] = "#######";
  ASSERT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, u"\U0001F600x", -1, nb, 8, nullptr, nullptr));
  EXPECT_EQ(std::string(nb, 7), std::string("\xF0\x9F\x98\x80x\0#", 7));
  // A surrogate pair is written whole or not at all.
  WCHAR w[3] = {u'#', u'#', u'#'};
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, w, 1));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(w[1], u'#');
  for (int room = 1; room < 5; ++room) {
    char n[6] = "#####";
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"\U0001F600", room < 4 ? 2 : -1, n, room,
                                     nullptr, nullptr));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(n[room], '#');
  }
  EXPECT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, u"\U0001F600", -1, nb, 5, nullptr, nullptr));
}

std::string Letters(size_t n, char first) {
  std::string s;
  for (size_t k = 0; k < n; ++k) s.push_back(static_cast<char>(first + k % 26));
  return s;
}
u16 Widen(const std::string& ascii) { return u16(ascii.begin(), ascii.end()); }

// Well-formed and ill-formed text alone and between ASCII runs that end just
// before, on and after the 8- and 16-unit block edges, with the buffer exactly
// full and one unit short. Well-formed text round-trips strictly; ill-formed
// text decodes to U+FFFD per maximal subpart and is refused when strict.
TEST(CodePage, RoundTripsAndIllFormedTextAtBlockEdges) {
  const struct {
    std::string narrow;
    u16 wide;  // what narrow decodes to
    bool wellFormed;
  } middles[] = {
      {"\xC3\xA9", u"\u00E9", true},
      {"\xE2\x82\xAC", u"\u20AC", true},
      {"\xF0\x9F\x98\x80", u"\U0001F600", true},
      {"\xF4\x8F\xBF\xBF\xF0\x90\x80\x80\xEF\xBF\xBD\xEE\x80\x80\xDF\xBF\xE0\xA0\x80",
       u"\U0010FFFF\U00010000\uFFFD\uE000\u07FF\u0800", true},
      {"\x80", u"\uFFFD", false},
      {"\xBF" "b", u"\uFFFDb", false},
      {"\xC0\xAF", u"\uFFFD\uFFFD", false},  // overlong lead, stray continuation
      {"\xC1\x81", u"\uFFFD\uFFFD", false},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", false},  // overlong 3-byte
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD", false},
      {"\xE2\x82", u"\uFFFD", false},  // truncated: one maximal subpart
      {"\xF0\x9F\x98", u"\uFFFD", false},
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600", false},
      {"\xFF\xFE", u"\uFFFD\uFFFD", false},
      {"\xC3\xA9\xF0\x9F\x98\x80\xC3", u"\u00E9\U0001F600\uFFFD", false},
  };
  const size_t lengths[] = {0, 1, 7, 8, 9, 15, 16, 17, 31, 33};
  for (const auto& m : middles) {
    for (size_t before : lengths) {
      for (size_t after : lengths) {
        const std::string narrow = Letters(before, 'a') + m.narrow + Letters(after, 'A');
        const u16 wide = Widen(Letters(before, 'a')) + m.wide + Widen(Letters(after, 'A'));
        SCOPED_TRACE(testing::PrintToString(narrow));
        EXPECT_EQ(wide, ToWide(CP_UTF8, narrow).text);
        const auto strict = ToWide(CP_UTF8, narrow, MB_ERR_INVALID_CHARS);
        EXPECT_EQ(m.wellFormed, strict.ok);
        EXPECT_EQ(m.wellFormed ? 0u : DWORD(ERROR_NO_UNICODE_TRANSLATION), strict.error);
        // One unit short (0 would ask for the size): refused, nothing written past it.
        const int units = static_cast<int>(wide.size());
        if (units > 1) {
          std::vector<WCHAR> small(wide.size() + 1, u'#');
          SetLastError(0);
          EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, narrow.data(),
                                           static_cast<int>(narrow.size()), small.data(), units - 1));
          EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
          EXPECT_EQ(u'#', small[units - 1]);
        }
        if (!m.wellFormed) continue;
        EXPECT_EQ(narrow, ToNarrow(CP_UTF8, wide, WC_ERR_INVALID_CHARS).text);
        std::string nsmall(narrow.size() + 1, '#');
        SetLastError(0);
        EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nsmall.data(),
                                         static_cast<int>(narrow.size()) - 1, nullptr, nullptr));
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
        EXPECT_EQ('#', nsmall[narrow.size() - 1]);
      }
    }
  }
  // Lone and misordered surrogates at the edges of the wide blocks.
  const char16_t hi = 0xD83D, lo = 0xDE00;
  const std::string fffd = "\xEF\xBF\xBD";
  const std::pair<u16, std::string> lone[] = {
      {u16(1, hi), fffd}, {u16(1, lo), fffd}, {u16{lo, hi}, fffd + fffd},
      {u16{u'a', hi, u'b'}, "a" + fffd + "b"}, {u16{hi, hi, lo}, fffd + "\xF0\x9F\x98\x80"}};
  for (size_t before : lengths) {
    for (const auto& [mid, out] : lone) {
      BOOL used = FALSE;
      const u16 wide = u16(before, u'x') + mid + u"tail of the text";
      EXPECT_EQ(std::string(before, 'x') + out + "tail of the text",
                ToNarrow(CP_UTF8, wide, 0, &used).text);
      EXPECT_TRUE(used);
      const auto strict = ToNarrow(CP_UTF8, wide, WC_ERR_INVALID_CHARS);
      EXPECT_FALSE(strict.ok);
      EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, strict.error);
    }
  }
}

TEST(CodePage, NumberedCodePagesThroughIconv) {
  const struct {
    UINT cp;
    u16 wide;
    std::string narrow;
  } cases[] = {
      {1252, u"\u20ac caf\u00e9", "\x80 caf\xE9"},
      {28591, u"\u00e9\u00ff", "\xE9\xFF"},
      {932, u"\u65e5\u672c", "\x93\xFA\x96\x7B"},
      {54936, u"\u4e2d\U0001F600", "\xD6\xD0\x94\x39\xFC\x36"},  // all scalars, 4-byte supplementary
      {1200, u"A\u00e9", std::string("A\0\xE9\0", 4)},
      {1201, u"A\u00e9", std::string("\0A\0\xE9", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cp);
    const auto n = ToNarrow(c.cp, c.wide);
    ASSERT_TRUE(n.ok) << n.error;
    EXPECT_EQ(c.narrow, n.text);
    const auto w = ToWide(c.cp, c.narrow);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(c.wide, w.text);
  }
  // Unmappable characters take the default, one for a whole pair.
  BOOL used = FALSE;
  EXPECT_EQ("a?b", ToNarrow(1252, u"a\u65e5b", 0, &used).text);
  EXPECT_TRUE(used);
  EXPECT_EQ("a#b", ToNarrow(1252, u"a\U0001F600b", 0, &used, "#").text);
  used = TRUE;
  ToNarrow(1252, u"abc", 0, &used);
  EXPECT_FALSE(used);
  // Lone surrogates and undefined bytes: replaced, or refused when strict.
  EXPECT_EQ("x?", ToNarrow(28591, u16{u'x', char16_t(0xDC00)}).text);
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION,
            ToNarrow(28591, u16{u'x', char16_t(0xDC00)}, WC_ERR_INVALID_CHARS).error);
  EXPECT_EQ(u"a\uFFFD", ToWide(932, "a\x81").text);  // truncated double-byte
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, ToWide(932, "a\x81", MB_ERR_INVALID_CHARS).error);
  char small[2];
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(932, 0, u"\u65e5", 1, small, 1, nullptr, nullptr));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

}  // namespace
