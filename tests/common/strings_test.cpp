// Trimming, bounded copies and XML-name cleaning.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_locales.h"
#include "twxml/kernel.h"

namespace {

TEST(Str, TrimPadAndCopyRightTrimmed) {
  const std::pair<const char*, const char*> cases[] = {
      {"abc", "abc"}, {"abc \t\r\n\v\f", "abc"}, {"  a b  ", "  a b"}, {"", ""}, {" \t ", ""},
      {"x\xC2\xA0", "x\xC2\xA0"}};  // only ASCII blanks count
  for (const auto& [in, out] : cases) {
    std::string buf(in);
    EXPECT_EQ(std::strlen(out), StrTrimStrRightU(buf.data()));
    EXPECT_STREQ(out, buf.c_str());
    EXPECT_EQ(std::strlen(out), StrPadGetSizeU(in));
  }
  EXPECT_EQ(0u, StrTrimStrRightU(nullptr));
  EXPECT_EQ(0u, StrPadGetSizeU(nullptr));

  char buf[8];
  std::memset(buf, '#', sizeof buf);
  StrNCopyRTrimV("abcdefghijk", buf, 5);
  EXPECT_STREQ("abcd", buf);
  EXPECT_EQ('#', buf[5]);
  StrNCopyRTrimV("abc   xyz", buf, 7);  // cut first, then trimmed
  EXPECT_STREQ("abc", buf);
  StrNCopyRTrimV(nullptr, buf, 8);
  EXPECT_STREQ("", buf);
  buf[0] = '#';
  StrNCopyRTrimV("x", buf, 0);
  EXPECT_EQ('#', buf[0]);
  StrNCopyRTrimV("x", nullptr, 8);
}

TEST(Str, RemoveIllegalNameCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"valid_name-1.2:x", "valid_name-1.2:x"},
      {"a b<c>&d\"e'f/g", "abcdefg"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},  // été: kept whole
      {"x\xC3\x97y", "xy"},                        // U+00D7 multiplication sign
      {"\xC2\xB7mid", "\xC2\xB7mid"},              // U+00B7 middle dot is a NameChar
      {"\xE2\x98\x83snow", "snow"},                // U+2603 snowman
      {"\xF0\x90\x8D\x88", "\xF0\x90\x8D\x88"},    // U+10348: supplementary name char
      {"bad\xC3", "bad"},                          // truncated sequence dropped
      {"a\x80" "b\xFF", "ab"},
  };
  for (const auto& [in, out] : cases) {
    std::string buf(in);
    StrRemoveIllegalXMLNameCharV(buf.data());
    EXPECT_STREQ(out, buf.c_str()) << in;
  }
  StrRemoveIllegalXMLNameCharV(nullptr);
  const std::pair<std::u16string, std::u16string> wcases[] = {
      {u"a b\u00D7c", u"abc"},
      {u"\U00010348x", u"\U00010348x"},
      {u"\U000F0000y", u"y"},  // plane 15 is outside the name ranges
      {std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}, u"ab"},
      {u"\u037E\u037F", u"\u037F"},  // Greek question mark is not a name char
  };
  for (const auto& [in, out] : wcases) {
    std::u16string buf = in;
    StrRemoveIllegalXMLNameWCharV(buf.data());
    EXPECT_EQ(out, std::u16string(buf.c_str()));
  }
  StrRemoveIllegalXMLNameWCharV(nullptr);

  locale_t latin1 = twtest::MakeLocale("de_DE", "ISO-8859-1", "de_DE.ISO-8859-1");
  if (latin1 == nullptr) GTEST_SKIP() << "cannot build a Latin-1 locale here";
  twtest::ThreadLocale scope(latin1);
  std::string buf = "gr\xF6\xDF" "e \xD7x";  // größe ×x
  StrRemoveIllegalXMLNameCharV(buf.data());
  EXPECT_STREQ("gr\xF6\xDF" "ex", buf.c_str());
}

}  // namespace
