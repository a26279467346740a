// Narrow text follows the thread's code page: names and values come out, and
// writer arguments go in, in a Latin-1 thread locale as well as in UTF-8.
#include <gtest/gtest.h>

#include "fake_module.h"
#include "test_locales.h"

#if TWXML_TEST_ASAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

TEST(HandleLocale, NarrowTextInALatin1ThreadLocale) {
  locale_t latin1;
  {
#if TWXML_TEST_ASAN
    // The C library keeps the locale search path it builds for good.
    __lsan::ScopedDisabler keptByTheCLibrary;
#endif
    latin1 = twtest::MakeLocale("de_DE", "ISO-8859-1", "de_DE.ISO-8859-1");
  }
  if (latin1 == nullptr) GTEST_SKIP() << "localedef could not make a Latin-1 locale here";
  twtest::ThreadLocale scope(latin1);

  fake::Script script;
  script.nodes = {fake::Node{XmlNodeType_Element, u"caf\u00e9", u"", false, {{u"pr\u00e9", u"\u00e0 la carte"}}},
                  fake::Text("x"), fake::End()};
  fake::Install(script);
  _XmlLiteReaderS* r = XmlLiteCreateMemReaderH("<ignored/>");
  ASSERT_NE(nullptr, r);
  ASSERT_EQ(0, XmlLiteReadElemF(r));
  char buffer[16];
  EXPECT_EQ(0, XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer));
  EXPECT_EQ(std::string("caf\xe9"), buffer);  // one byte per character
  // Four bytes and the zero do not fit in four: cut to three, terminated.
  std::vector<char> small(4 + 4, '#');
  EXPECT_EQ(30, XmlLiteGetElemNameToBufF(r, small.data(), 4));
  EXPECT_EQ(std::string("caf"), small.data());
  EXPECT_EQ('#', small[4]);
  // The attribute name is converted from Latin-1 before it is looked up.
  EXPECT_EQ(0, XmlLiteGetAttrValueToBufF(r, "pr\xe9", buffer, sizeof buffer));
  EXPECT_EQ(std::string("\xe0 la carte"), buffer);
  EXPECT_EQ(u"pr\u00e9", fake::stats().lastAttrAsked);
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));

  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, "ISO-8859-1");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(u"ISO-8859-1", fake::stats().outputEncoding);
  EXPECT_EQ(0, XmlLiteWriteValueF(w, "\xe9t\xe9"));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(u"\u00e9t\u00e9", fake::stats().lastString);
  fake::Uninstall();
}

}  // namespace
