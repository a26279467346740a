// Wide-to-narrow conversion into new copies and caller buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "test_locales.h"
#include "twxml/kernel.h"

namespace {

using u16 = std::u16string;

// Converts into a buffer of `size` bytes surrounded by guard bytes.
std::pair<int, std::string> IntoBuffer(const WCHAR* text, unsigned size) {
  std::string space(size + 8, '#');
  const int rc = VarCnvBStrToStrBufF(text, space.data() + 4, size);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ('#', space[static_cast<size_t>(i)]);
    EXPECT_EQ('#', space[space.size() - 1 - static_cast<size_t>(i)]);
  }
  if (size == 0) return {rc, ""};
  const char* at = space.data() + 4;
  EXPECT_NE(nullptr, std::memchr(at, 0, size)) << "not terminated inside the buffer";
  return {rc, std::string(at)};
}

TEST(VarCnv, CopiesOwnedByTheReceiver) {
  char* out = reinterpret_cast<char*>(1);
  ASSERT_EQ(0, VarCnvBStrToStrF(u"caf\u00e9 \U0001F600", &out));
  EXPECT_STREQ("caf\xC3\xA9 \xF0\x9F\x98\x80", out);
  EXPECT_EQ(0, MemFreeF(out));
  ASSERT_EQ(0, VarCnvBStrToStrF(u"", &out));
  EXPECT_STREQ("", out);
  MemFreeF(out);
  out = reinterpret_cast<char*>(1);
  EXPECT_NE(0, VarCnvBStrToStrF(nullptr, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_NE(0, VarCnvBStrToStrF(u"x", nullptr));
}

TEST(VarCnv, BufferCutsOnCharacterBoundaries) {
  EXPECT_EQ(std::make_pair(0, std::string("abc")), IntoBuffer(u"abc", 4));
  EXPECT_EQ(std::make_pair(30, std::string("ab")), IntoBuffer(u"abc", 3));
  EXPECT_EQ(std::make_pair(30, std::string("")), IntoBuffer(u"abc", 1));
  EXPECT_EQ(std::make_pair(0, std::string("")), IntoBuffer(u"", 1));
  EXPECT_EQ(std::make_pair(0, std::string("")), IntoBuffer(nullptr, 4));
  // é is two bytes: never half of it.
  EXPECT_EQ(std::make_pair(30, std::string("a")), IntoBuffer(u"a\u00e9", 3));
  EXPECT_EQ(std::make_pair(0, std::string("a\xC3\xA9")), IntoBuffer(u"a\u00e9", 4));
  // A surrogate pair is four bytes: all or nothing.
  for (unsigned size = 2; size <= 5; ++size) {
    const auto r = IntoBuffer(u"a\U0001F600", size);
    EXPECT_EQ(size == 6 ? 0 : 30, r.first);
    EXPECT_EQ("a", r.second);
  }
  EXPECT_EQ(std::make_pair(0, std::string("a\xF0\x9F\x98\x80")), IntoBuffer(u"a\U0001F600", 6));
  // Three-byte characters at every cut.
  const WCHAR* jp = u"\u65e5\u672c\u8a9e";
  for (unsigned size = 1; size <= 10; ++size) {
    const auto r = IntoBuffer(jp, size);
    EXPECT_EQ(size >= 10 ? 0 : 30, r.first);
    EXPECT_EQ(((size - 1) / 3) * 3, r.second.size());
  }
  // A lone surrogate becomes the replacement character, cut like any other.
  const u16 lone{u'x', char16_t(0xD800)};
  EXPECT_EQ(std::make_pair(0, std::string("x\xEF\xBF\xBD")), IntoBuffer(lone.c_str(), 5));
  EXPECT_EQ(std::make_pair(30, std::string("x")), IntoBuffer(lone.c_str(), 4));
}

TEST(VarCnv, NullOrEmptyBufferWritesNothing) {
  EXPECT_EQ(30, IntoBuffer(u"abc", 0).first);
  EXPECT_EQ(30, VarCnvBStrToStrBufF(u"abc", nullptr, 10));
}

TEST(VarCnv, FollowsTheThreadCodePage) {
  locale_t sjis = twtest::MakeLocale("ja_JP", "SHIFT_JIS", "ja_JP.SJIS");
  if (sjis == nullptr) GTEST_SKIP() << "cannot build a Shift-JIS locale here";
  std::thread([sjis] {
    twtest::ThreadLocale scope(sjis);
    EXPECT_EQ(std::make_pair(0, std::string("a\x93\xFA")), IntoBuffer(u"a\u65e5", 4));
    EXPECT_EQ(std::make_pair(30, std::string("a")), IntoBuffer(u"a\u65e5", 3));
    for (unsigned size = 1; size <= 8; ++size) {
      const auto r = IntoBuffer(u"\u65e5\u672c\u8a9e", size);
      EXPECT_EQ(size >= 7 ? 0 : 30, r.first);
      EXPECT_EQ(((size - 1) / 2) * 2 > 6 ? 6 : ((size - 1) / 2) * 2, r.second.size());
    }
    // Unmappable: one default character, kept or cut whole.
    EXPECT_EQ(std::make_pair(0, std::string("a?")), IntoBuffer(u"a\U0001F600", 3));
    EXPECT_EQ(std::make_pair(30, std::string("a?")), IntoBuffer(u"a\U0001F600b", 3));
    EXPECT_EQ(std::make_pair(30, std::string("a")), IntoBuffer(u"a\U0001F600b", 2));
    char* out = nullptr;
    ASSERT_EQ(0, VarCnvBStrToStrF(u"\u65e5\u672c", &out));
    EXPECT_STREQ("\x93\xFA\x96\x7B", out);
    MemFreeF(out);
  }).join();
}

}  // namespace
