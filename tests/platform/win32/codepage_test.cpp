// Code-page conversions: UTF-8 fast path, iconv code pages, thread locales.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_locales.h"
#include "twxml/platform/win32.h"

namespace {

using u16 = std::u16string;

// Whole conversion (count, then convert), or nullopt-like failure flag.
struct Narrow {
  bool ok;
  std::string text;
  DWORD error;
};
struct Wide {
  bool ok;
  u16 text;
  DWORD error;
};

Wide ToWide(UINT cp, const std::string& s, DWORD flags = 0) {
  SetLastError(0);
  const int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n == 0) return {false, {}, GetLastError()};
  u16 out(static_cast<size_t>(n), u'\0');
  const int m = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), out.data(), n);
  EXPECT_EQ(n, m);
  return {true, out, 0};
}

Narrow ToNarrow(UINT cp, const u16& s, DWORD flags = 0, BOOL* used = nullptr,
                const char* defaultChar = nullptr) {
  SetLastError(0);
  const int n = WideCharToMultiByte(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                    defaultChar, used);
  if (n == 0) return {false, {}, GetLastError()};
  std::string out(static_cast<size_t>(n), '\0');
  const int m = WideCharToMultiByte(cp, flags, s.data(), static_cast<int>(s.size()), out.data(), n,
                                    defaultChar, used);
  EXPECT_EQ(n, m);
  return {true, out, 0};
}

const std::vector<u16>& Samples() {
  static const std::vector<u16> samples = {
      u"plain ascii",
      u"caf\u00e9 \u00fcber",
      u"\u65e5\u672c\u8a9e\u30c6\u30ad\u30b9\u30c8",
      u"emoji \U0001F600 and \U00010348 gothic",
      u"\U0010FFFF\U00010000\uFFFD\uE000\u07FF\u0800",
      u"mixed \u0416\u0436 \u20ac \U0001D11E end",
  };
  return samples;
}

TEST(CodePage, Utf8RoundTripsValidText) {
  for (const u16& s : Samples()) {
    const Narrow n = ToNarrow(CP_UTF8, s, WC_ERR_INVALID_CHARS);
    ASSERT_TRUE(n.ok);
    const Wide w = ToWide(CP_UTF8, n.text, MB_ERR_INVALID_CHARS);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(s, w.text);
  }
  // Exact encodings of the boundary scalars.
  EXPECT_EQ(ToNarrow(CP_UTF8, u"\u007F\u0080\u07FF\u0800\uFFFF").text,
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(ToNarrow(CP_UTF8, u"\U00010000\U0010FFFF").text, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
}

TEST(CodePage, Utf8TerminatorAndCountOnly) {
  const char* s = "h\xC3\xA9llo";
  EXPECT_EQ(6, MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0));  // 5 + terminator
  WCHAR buf[8];
  std::fill(std::begin(buf), std::end(buf), u'#');
  ASSERT_EQ(6, MultiByteToWideChar(CP_UTF8, 0, s, -1, buf, 8));
  EXPECT_EQ(u16(buf, 6), u16(u"h\u00e9llo\0", 6));
  EXPECT_EQ(buf[6], u'#');

  const WCHAR* w = u"\U0001F600x";
  EXPECT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr));
  char nb[8] = "#######";
  ASSERT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, w, -1, nb, 8, nullptr, nullptr));
  EXPECT_STREQ(nb, "\xF0\x9F\x98\x80x");
  EXPECT_EQ(nb[6], '#');
}

TEST(CodePage, Utf8IllFormedInputTable) {
  struct Case {
    std::string in;
    u16 out;  // replacement mode
  };
  const std::vector<Case> cases = {
      {"\x80", u"\uFFFD"},
      {"a\xBF" "b", u"a\uFFFDb"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},              // overlong lead, stray continuation
      {"\xC1\x81", u"\uFFFD\uFFFD"},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},    // overlong 3-byte
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},    // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD"},
      {"\xE2\x82", u"\uFFFD"},                    // truncated: one maximal subpart
      {"\xE2\x82" "A", u"\uFFFDA"},
      {"\xF0\x9F\x98", u"\uFFFD"},
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600"},
      {"\xFF\xFE", u"\uFFFD\uFFFD"},
      {"ok\xC3", u"ok\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    const Wide lax = ToWide(CP_UTF8, c.in);
    ASSERT_TRUE(lax.ok);
    EXPECT_EQ(c.out, lax.text);
    const Wide strict = ToWide(CP_UTF8, c.in, MB_ERR_INVALID_CHARS);
    EXPECT_FALSE(strict.ok);
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, strict.error);
  }
}

TEST(CodePage, Utf16IllFormedInput) {
  const std::vector<std::pair<u16, std::string>> cases = {
      {u16(1, char16_t(0xD800)), "\xEF\xBF\xBD"},
      {u16(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
      {u16{u'a', char16_t(0xD83D), u'b'}, "a\xEF\xBF\xBD" "b"},
      {u16{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {u16{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    BOOL used = FALSE;
    const Narrow lax = ToNarrow(CP_UTF8, c.first, 0, &used);
    ASSERT_TRUE(lax.ok);
    EXPECT_EQ(c.second, lax.text);
    EXPECT_TRUE(used);
    const Narrow strict = ToNarrow(CP_UTF8, c.first, WC_ERR_INVALID_CHARS);
    EXPECT_FALSE(strict.ok);
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, strict.error);
  }
}

TEST(CodePage, BufferTooSmallNeverWritesPast) {
  // A surrogate pair needs two units; a 4-byte char four bytes.
  const char* emoji = "\xF0\x9F\x98\x80";
  WCHAR w[3] = {u'#', u'#', u'#'};
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, emoji, 4, w, 1));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(w[1], u'#');
  EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, emoji, 4, w, 2));
  EXPECT_EQ(w[2], u'#');

  const WCHAR* pair = u"\U0001F600";
  for (int room = 1; room < 4; ++room) {
    char n[5] = "####";
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, pair, 2, n, room, nullptr, nullptr));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(n[room], '#');
  }
  // Terminator counted with -1: exact fit and one short.
  char n[6];
  EXPECT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, pair, -1, n, 5, nullptr, nullptr));
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, pair, -1, n, 4, nullptr, nullptr));
}

// ASCII runs go in blocks of 8 and 16: a character, an ill-formed sequence
// or a surrogate placed just before, on and after a block edge, with the
// buffer exactly full and one unit short.
TEST(CodePage, BlockEdgesWithMultiUnitCharacters) {
  struct Middle {
    std::string narrow;
    u16 wide;       // what narrow decodes to
    bool wellFormed;
  };
  const std::vector<Middle> middles = {
      {"\xC3\xA9", u"\u00E9", true},
      {"\xE2\x82\xAC", u"\u20AC", true},
      {"\xF0\x9F\x98\x80", u"\U0001F600", true},
      {"\x80", u"\uFFFD", false},
      {"\xE2\x82", u"\uFFFD", false},
      {"\xF0\x9F\x98", u"\uFFFD", false},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
      {"\xC3\xA9\xF0\x9F\x98\x80\xC3", u"\u00E9\U0001F600\uFFFD", false},
  };
  const size_t lengths[] = {0, 1, 7, 8, 9, 15, 16, 17, 31, 33};
  for (const Middle& m : middles) {
    for (size_t before : lengths) {
      for (size_t after : lengths) {
        std::string narrow;
        u16 wide;
        for (size_t k = 0; k < before; ++k) narrow.push_back(static_cast<char>('a' + k % 26));
        narrow += m.narrow;
        for (size_t k = 0; k < after; ++k) narrow.push_back(static_cast<char>('A' + k % 26));
        for (size_t k = 0; k < before; ++k) wide.push_back(static_cast<char16_t>('a' + k % 26));
        wide += m.wide;
        for (size_t k = 0; k < after; ++k) wide.push_back(static_cast<char16_t>('A' + k % 26));
        SCOPED_TRACE(testing::PrintToString(narrow));

        const Wide w = ToWide(CP_UTF8, narrow);
        ASSERT_TRUE(w.ok);
        EXPECT_EQ(wide, w.text);
        EXPECT_EQ(m.wellFormed, ToWide(CP_UTF8, narrow, MB_ERR_INVALID_CHARS).ok);
        // One unit short (a size of 0 would ask for the size): refused,
        // nothing written past the size given.
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
        const Narrow n = ToNarrow(CP_UTF8, wide);
        ASSERT_TRUE(n.ok);
        EXPECT_EQ(narrow, n.text);
        std::string nsmall(narrow.size() + 1, '#');
        SetLastError(0);
        EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nsmall.data(),
                                         static_cast<int>(narrow.size()) - 1, nullptr, nullptr));
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
        EXPECT_EQ('#', nsmall[narrow.size() - 1]);
      }
    }
  }
  // Lone and split surrogates at the edges of the wide blocks.
  for (size_t before : lengths) {
    for (const u16& mid : {u16(1, char16_t(0xD83D)), u16(1, char16_t(0xDE00)),
                           u16{char16_t(0xDE00), char16_t(0xD83D)}}) {
      u16 wide(before, u'x');
      wide += mid;
      wide += u"tail of the text";
      std::string expected(before, 'x');
      for (size_t k = 0; k < mid.size(); ++k) expected += "\xEF\xBF\xBD";
      expected += "tail of the text";
      BOOL used = FALSE;
      const Narrow n = ToNarrow(CP_UTF8, wide, 0, &used);
      ASSERT_TRUE(n.ok);
      EXPECT_EQ(expected, n.text);
      EXPECT_TRUE(used);
      EXPECT_FALSE(ToNarrow(CP_UTF8, wide, WC_ERR_INVALID_CHARS).ok);
    }
  }
}

TEST(CodePage, InvalidArguments) {
  WCHAR w[4];
  char n[4];
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, w, 4));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 0, w, 4));
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -2, w, 4));
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 4));
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 3, w, -1));
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, nullptr, 3, n, 4, nullptr, nullptr));
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, nullptr, 4, nullptr, nullptr));
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(12345, 0, "abc", 3, w, 4));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(CodePage, RandomTextProperties) {
  std::mt19937 rng(1234);
  for (int iter = 0; iter < 300; ++iter) {
    // Arbitrary bytes: after one lax decode the text is valid and round-trips.
    std::string bytes(rng() % 40 + 1, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 4 == 0 ? rng() % 0x80 : 0x80 + rng() % 0x80);
    const Wide w = ToWide(CP_UTF8, bytes);
    ASSERT_TRUE(w.ok);
    const Narrow n = ToNarrow(CP_UTF8, w.text, WC_ERR_INVALID_CHARS);
    ASSERT_TRUE(n.ok);
    const Wide again = ToWide(CP_UTF8, n.text, MB_ERR_INVALID_CHARS);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(w.text, again.text);
    // Arbitrary code units: lax encode then decode replaces exactly the lone surrogates.
    u16 units(rng() % 20 + 1, u'\0');
    for (char16_t& u : units) {
      const unsigned pick = rng() % 5;
      u = static_cast<char16_t>(pick == 0 ? 0xD800 + rng() % 0x800 : pick == 1 ? rng() % 0x80 : 1 + rng() % 0xFFFF);
    }
    const Narrow en = ToNarrow(CP_UTF8, units);
    ASSERT_TRUE(en.ok);
    const Wide back = ToWide(CP_UTF8, en.text, MB_ERR_INVALID_CHARS);
    ASSERT_TRUE(back.ok);
    u16 expected;
    for (size_t k = 0; k < units.size(); ++k) {
      const char16_t u = units[k];
      if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units.size() && units[k + 1] >= 0xDC00 &&
          units[k + 1] <= 0xDFFF) {
        expected += u;
        expected += units[++k];
      } else {
        expected += (u >= 0xD800 && u <= 0xDFFF) ? char16_t(0xFFFD) : u;
      }
    }
    EXPECT_EQ(expected, back.text);
  }
}

TEST(CodePage, NumberedCodePagesThroughIconv) {
  struct Case {
    UINT cp;
    u16 wide;
    std::string narrow;
  };
  const std::vector<Case> cases = {
      {1252, u"\u20ac caf\u00e9", "\x80 caf\xE9"},
      {28591, u"\u00e9\u00ff", "\xE9\xFF"},
      {28595, u"\u0416", "\xB6"},
      {1251, u"\u0416\u0436", "\xC6\xE6"},
      {20866, u"\u0416", "\xF6"},
      {932, u"\u65e5\u672c", "\x93\xFA\x96\x7B"},
      {936, u"\u4e2d", "\xD6\xD0"},
      {949, u"\ud55c", "\xC7\xD1"},
      {950, u"\u4e2d", "\xA4\xA4"},
      {54936, u"\u4e2d", "\xD6\xD0"},
      {1200, u"A\u00e9", std::string("A\0\xE9\0", 4)},
      {1201, u"A\u00e9", std::string("\0A\0\xE9", 4)},
      {20127, u"plain", "plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    const Narrow n = ToNarrow(c.cp, c.wide);
    ASSERT_TRUE(n.ok) << n.error;
    EXPECT_EQ(c.narrow, n.text);
    const Wide w = ToWide(c.cp, c.narrow);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(c.wide, w.text);
  }
  // GB18030 covers every scalar, supplementary ones in four bytes.
  const Narrow g = ToNarrow(54936, u"\U0001F600");
  ASSERT_TRUE(g.ok);
  EXPECT_EQ(4u, g.text.size());
  EXPECT_EQ(u"\U0001F600", ToWide(54936, g.text).text);
}

TEST(CodePage, UnmappableCharactersUseTheDefault) {
  BOOL used = FALSE;
  Narrow n = ToNarrow(1252, u"a\u65e5b", 0, &used);
  ASSERT_TRUE(n.ok);
  EXPECT_EQ("a?b", n.text);
  EXPECT_TRUE(used);
  used = FALSE;
  n = ToNarrow(1252, u"a\U0001F600b", 0, &used, "#");
  ASSERT_TRUE(n.ok);
  EXPECT_EQ("a#b", n.text);  // one default for the whole pair
  EXPECT_TRUE(used);
  used = TRUE;
  n = ToNarrow(1252, u"abc", 0, &used);
  EXPECT_FALSE(used);
  // A lone surrogate: replaced, or refused with WC_ERR_INVALID_CHARS.
  n = ToNarrow(28591, u16{u'x', char16_t(0xDC00)}, 0, &used);
  ASSERT_TRUE(n.ok);
  EXPECT_EQ("x?", n.text);
  n = ToNarrow(28591, u16{u'x', char16_t(0xDC00)}, WC_ERR_INVALID_CHARS);
  EXPECT_FALSE(n.ok);
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, n.error);
  // Bytes a code page does not define.
  Wide w = ToWide(932, "a\x81");  // truncated double-byte
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(u"a\uFFFD", w.text);
  w = ToWide(932, "a\x81", MB_ERR_INVALID_CHARS);
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, w.error);
  // Iconv results obey the same buffer rules.
  char small[2];
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(932, 0, u"\u65e5", 1, small, 1, nullptr, nullptr));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

TEST(CodePage, ThreadCodePageFollowsTheThreadLocale) {
  // The C locale counts as UTF-8.
  EXPECT_EQ(CP_UTF8, GetACP());
  EXPECT_EQ(u"\u00e9", ToWide(CP_ACP, "\xC3\xA9").text);
  EXPECT_EQ("\xC3\xA9", ToNarrow(CP_THREAD_ACP, u"\u00e9").text);

  locale_t latin1 = twtest::MakeLocale("de_DE", "ISO-8859-1", "de_DE.ISO-8859-1");
  if (latin1 == nullptr) GTEST_SKIP() << "cannot build a Latin-1 locale here";
  std::thread worker([latin1] {
    twtest::ThreadLocale scope(latin1);
    EXPECT_EQ(28591u, GetACP());
    EXPECT_EQ(u"caf\u00e9", ToWide(CP_THREAD_ACP, "caf\xE9").text);
    EXPECT_EQ("caf\xE9", ToNarrow(CP_ACP, u"caf\u00e9").text);
    BOOL used = FALSE;
    EXPECT_EQ("?", ToNarrow(CP_THREAD_ACP, u"\u65e5", 0, &used).text);
    EXPECT_TRUE(used);
  });
  worker.join();
  // Other threads kept their own locale.
  EXPECT_EQ(CP_UTF8, GetACP());

  locale_t sjis = twtest::MakeLocale("ja_JP", "SHIFT_JIS", "ja_JP.SJIS");
  if (sjis == nullptr) GTEST_SKIP() << "cannot build a Shift-JIS locale here";
  twtest::ThreadLocale scope(sjis);
  EXPECT_EQ(932u, GetACP());
  EXPECT_EQ("\x93\xFA\x96\x7B", ToNarrow(CP_THREAD_ACP, u"\u65e5\u672c").text);
  EXPECT_EQ(u"\u65e5\u672c", ToWide(CP_THREAD_ACP, "\x93\xFA\x96\x7B").text);
}

TEST(CodePage, LengthHelpers) {
  EXPECT_EQ(0, lstrlenA(nullptr));
  EXPECT_EQ(3, lstrlenA("abc"));
  EXPECT_EQ(0, lstrlenW(nullptr));
  EXPECT_EQ(3, lstrlenW(u"a\U0001F600"));
}

}  // namespace
