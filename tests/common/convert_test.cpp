// Wide-to-narrow conversion into new copies and caller buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "test_locales.h"
#include "narrow.h"
#include "twxml/kernel.h"
#include "twxml/platform/utf.h"

namespace {

// Converts into a buffer of `size` bytes between guard bytes: status and text.
std::pair<int, std::string> Into(const WCHAR* text, unsigned size) {
  std::string space(size + 8, '#');
  const int rc = VarCnvBStrToStrBufF(text, space.data() + 4, size);
  EXPECT_EQ("####", space.substr(0, 4));
  EXPECT_EQ("####", space.substr(space.size() - 4));
  if (size == 0) return {rc, ""};
  EXPECT_NE(nullptr, std::memchr(space.data() + 4, 0, size)) << "not terminated inside the buffer";
  return {rc, std::string(space.data() + 4)};
}
std::pair<int, std::string> P(int rc, const char* s) { return {rc, s}; }

TEST(VarCnv, CopiesAndBufferCutsOnCharacterBoundaries) {
  char* out = reinterpret_cast<char*>(1);
  ASSERT_EQ(0, VarCnvBStrToStrF(u"caf\u00e9 \U0001F600", &out));
  EXPECT_STREQ("caf\xC3\xA9 \xF0\x9F\x98\x80", out);
  EXPECT_EQ(0, MemFreeF(out));
  out = reinterpret_cast<char*>(1);
  EXPECT_NE(0, VarCnvBStrToStrF(nullptr, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_NE(0, VarCnvBStrToStrF(u"x", nullptr));

  const std::u16string lone{u'x', char16_t(0xD800)};  // replaced, then cut like any other
  const struct {
    const WCHAR* in;
    unsigned size;
    std::pair<int, std::string> want;
  } cases[] = {
      {u"abc", 4, P(0, "abc")},           {u"abc", 3, P(30, "ab")},
      {u"abc", 1, P(30, "")},             {u"", 1, P(0, "")},
      {nullptr, 4, P(0, "")},             {u"a\u00e9", 3, P(30, "a")},
      {u"a\u00e9", 4, P(0, "a\xC3\xA9")}, {u"a\U0001F600", 5, P(30, "a")},
      {u"a\U0001F600", 2, P(30, "a")},    {u"a\U0001F600", 6, P(0, "a\xF0\x9F\x98\x80")},
      {lone.c_str(), 5, P(0, "x\xEF\xBF\xBD")}, {lone.c_str(), 4, P(30, "x")},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, Into(c.in, c.size)) << c.size;
  for (unsigned size = 1; size <= 10; ++size) {  // three-byte characters at every cut
    const auto r = Into(u"\u65e5\u672c\u8a9e", size);
    EXPECT_EQ(size >= 10 ? 0 : 30, r.first);
    EXPECT_EQ(((size - 1) / 3) * 3, r.second.size());
  }
  EXPECT_EQ(30, Into(u"abc", 0).first);
  EXPECT_EQ(30, VarCnvBStrToStrBufF(u"abc", nullptr, 10));
  // The end of the text is found a block at a time once aligned: texts at
  // every alignment and short length, with a two-byte character inside.
  std::u16string storage(64, u'\0');
  for (size_t offset = 0; offset < 9; ++offset) {
    for (size_t len = 1; len < 40; ++len) {
      std::u16string text(len, u'a');
      text[len / 2] = u'\u00e9';
      storage.replace(offset, len + 1, text + u'\0');
      const std::string want = std::string(len / 2, 'a') + "\xC3\xA9" + std::string(len - len / 2 - 1, 'a');
      EXPECT_EQ(P(0, want.c_str()), Into(storage.c_str() + offset, unsigned(want.size() + 1))) << offset;
    }
  }
}

// The reader's UTF-8 route gives what its wide route gives in a UTF-8
// thread: for parsed text (well formed) at every buffer size.
TEST(VarCnv, Utf8RouteMatchesTheWideRoute) {
  for (const std::string text : {"", "abc", "a\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "x\xF0\x9F\x98\x80y",
                                 "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 end"}) {
    std::u16string wide(text.size() + 1, u'\0');
    wide.resize(twxml::utf::Utf8ToUtf16(text.data(), text.size(), wide.data()));
    for (unsigned size = 0; size <= text.size() + 2; ++size) {
      std::string a(size + 1, '#'), b(size + 1, '#');
      const int ra = twxml::kernel::Utf8IntoBuffer(text.data(), text.size(), size ? a.data() : nullptr, size);
      const int rb = twxml::kernel::NarrowIntoBuffer(wide.c_str(), size ? b.data() : nullptr, size, true);
      EXPECT_EQ(rb, ra) << text << " " << size;
      EXPECT_STREQ(b.c_str(), a.c_str()) << text << " " << size;
      EXPECT_EQ('#', a[size]) << "written past the buffer";
    }
  }
}

TEST(VarCnv, FollowsTheThreadCodePage) {
  locale_t sjis = twtest::MakeLocale("ja_JP", "SHIFT_JIS", "ja_JP.SJIS");
  if (sjis == nullptr) GTEST_SKIP() << "cannot build a Shift-JIS locale here";
  std::thread([sjis] {
    twtest::ThreadLocale scope(sjis);
    EXPECT_EQ(P(0, "a\x93\xFA"), Into(u"a\u65e5", 4));
    EXPECT_EQ(P(30, "a"), Into(u"a\u65e5", 3));
    for (unsigned size = 1; size <= 8; ++size) {
      const auto r = Into(u"\u65e5\u672c\u8a9e", size);
      EXPECT_EQ(size >= 7 ? 0 : 30, r.first);
      EXPECT_EQ(std::min(6u, ((size - 1) / 2) * 2), r.second.size());
    }
    // Unmappable: one default character, kept or cut whole.
    EXPECT_EQ(P(0, "a?"), Into(u"a\U0001F600", 3));
    EXPECT_EQ(P(30, "a?"), Into(u"a\U0001F600b", 3));
    EXPECT_EQ(P(30, "a"), Into(u"a\U0001F600b", 2));
    char* out = nullptr;
    ASSERT_EQ(0, VarCnvBStrToStrF(u"\u65e5\u672c", &out));
    EXPECT_STREQ("\x93\xFA\x96\x7B", out);
    MemFreeF(out);
    // The code page the thread remembers follows every change of its locale.
    uselocale(LC_GLOBAL_LOCALE);
    EXPECT_EQ(P(0, "a\xE6\x97\xA5"), Into(u"a\u65e5", 5));
    uselocale(sjis);
    EXPECT_EQ(P(0, "a\x93\xFA"), Into(u"a\u65e5", 5));
    uselocale(LC_GLOBAL_LOCALE);
    const std::string before = setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(nullptr, setlocale(LC_CTYPE, "ja_JP.SJIS"));
    EXPECT_EQ(P(0, "a\x93\xFA"), Into(u"a\u65e5", 5));
    setlocale(LC_CTYPE, before.c_str());
    EXPECT_EQ(P(0, "a\xE6\x97\xA5"), Into(u"a\u65e5", 5));
    uselocale(sjis);  // freed by the scope
  }).join();
}

}  // namespace
