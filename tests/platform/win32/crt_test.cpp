// C-runtime extras: comparisons, bounded copies and formatting never overflow.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

#include "twxml/platform/win32_internal.h"

namespace {

TEST(Crt, CaseInsensitiveCompare) {
  EXPECT_EQ(0, _stricmp("Hello", "hELLO"));
  EXPECT_LT(_stricmp("abc", "abd"), 0);
  EXPECT_GT(_stricmp("abcd", "ABC"), 0);
  EXPECT_NE(0, _stricmp("[", "{"));                // only letters fold
  EXPECT_NE(0, _stricmp("\xC3\xA9", "\xC3\x89"));  // ASCII folding only
  EXPECT_EQ(0, _strnicmp("HelloX", "helloY", 5));
  EXPECT_NE(0, _strnicmp("HelloX", "helloY", 6));
  EXPECT_EQ(0, _strnicmp(nullptr, "x", 0));
  EXPECT_NE(0, _stricmp(nullptr, "x"));
}

TEST(Crt, BoundedCopiesNeverOverflow) {
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(0, strcpy_s(buf, 4, "abc"));
  EXPECT_STREQ("abc", buf);
  EXPECT_EQ(ERANGE, strcpy_s(buf, 4, "abcd"));
  EXPECT_EQ(0, buf[0]);
  EXPECT_EQ('#', buf[4]);
  for (int rc : {strcpy_s(buf, 4, nullptr), strcpy_s(nullptr, 4, "a"), strcpy_s(buf, 0, "a")}) {
    EXPECT_EQ(EINVAL, rc);
  }
  std::memset(buf, '#', sizeof buf);
  ASSERT_EQ(0, strcpy_s(buf, 6, "ab"));
  EXPECT_EQ(0, strcat_s(buf, 6, "cde"));
  EXPECT_STREQ("abcde", buf);
  EXPECT_EQ(ERANGE, strcat_s(buf, 6, "f"));
  EXPECT_EQ(0, buf[0]);
  EXPECT_EQ('#', buf[6]);
  char unterminated[4] = {'x', 'y', 'z', 'w'};
  EXPECT_EQ(EINVAL, strcat_s(unterminated, 4, "a"));
  EXPECT_EQ(0, unterminated[0]);
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(5, sprintf_s(buf, 6, "%d-%s", 12, "ab"));
  EXPECT_STREQ("12-ab", buf);
  EXPECT_EQ(-1, sprintf_s(buf, 5, "%d-%s", 12, "ab"));
  EXPECT_EQ(0, buf[0]);
  EXPECT_EQ('#', buf[6]);
  EXPECT_EQ(-1, sprintf_s(nullptr, 5, "x"));
  WCHAR w[4];
  EXPECT_EQ(0, wcscpy16_s(w, 4, u"abc"));
  EXPECT_EQ(u"abc", std::u16string(w));
  EXPECT_EQ(ERANGE, wcscpy16_s(w, 3, u"abc"));
  EXPECT_EQ(0, w[0]);
  EXPECT_EQ(0u, wcslen16(nullptr));
  EXPECT_EQ(nullptr, wcschr16(nullptr, u'x'));
}

TEST(Crt, IntegerToText) {
  const struct {
    int value, radix;
    const char* text;
  } cases[] = {{0, 10, "0"}, {-2147483647 - 1, 10, "-2147483648"}, {-1, 16, "ffffffff"},
               {35, 36, "z"}, {-1, 2, "11111111111111111111111111111111"}};
  for (const auto& c : cases) {
    char buf[40];
    EXPECT_EQ(0, _itoa_s(c.value, buf, sizeof buf, c.radix));
    EXPECT_STREQ(c.text, buf);
  }
  char small[3] = {'#', '#', '#'};
  EXPECT_EQ(ERANGE, _itoa_s(-42, small, 3, 10));  // needs 4 bytes
  EXPECT_EQ(0, small[0]);
  EXPECT_EQ('#', small[2]);
  for (int radix : {1, 37}) EXPECT_EQ(EINVAL, _itoa_s(1, small, 3, radix));
  EXPECT_EQ(EINVAL, _itoa_s(1, nullptr, 3, 10));
}

TEST(Crt, Access) {
  EXPECT_EQ(0, _access("/", 4));
  EXPECT_EQ(-1, _access("/no/such/path", 0));
  EXPECT_EQ(-1, _access(nullptr, 0));
  EXPECT_EQ(-1, _access("/", 1));  // not a mode this call knows
  char tmpl[] = "/tmp/twxml-access-XXXXXX";
  const int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(0, _access(tmpl, 6));
  if (geteuid() != 0) {
    chmod(tmpl, 0444);
    EXPECT_EQ(-1, _access(tmpl, 2));
  }
  unlink(tmpl);
}

}  // namespace
