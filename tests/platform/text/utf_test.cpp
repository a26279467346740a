// The shared conversions at every vector level against a character-by-
// character reference, on texts whose ASCII runs and multi-unit characters
// fall at every position of the kernels' blocks.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include "twxml/platform/simd.h"
#include "twxml/platform/utf.h"

namespace {

using twxml::simd::Level;
namespace utf = twxml::utf;

// Reference: UTF-16 to UTF-8 with lone surrogates as U+FFFD, code point by
// code point; cut says how many units fit into room bytes.
std::string RefNarrow(const std::u16string& s, size_t room, size_t* taken) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    uint32_t c = s[i];
    size_t units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      units = 2;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    std::string e;
    if (c < 0x80) e = std::string(1, char(c));
    else if (c < 0x800) e = {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
    else if (c < 0x10000) e = {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    else e = {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    if (out.size() + e.size() > room) break;
    out += e;
    i += units;
  }
  *taken = i;
  return out;
}

// Random text: long ASCII runs broken by characters of every length, lone
// surrogates included when wanted.
std::u16string RandomText(std::mt19937& rng, size_t n, bool lone) {
  static const char16_t kOthers[] = {0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x65E5, 0xFFFD, 0xFFFF};
  std::u16string s;
  while (s.size() < n) {
    const unsigned pick = rng() % 40;
    if (pick < 34) {
      s.push_back(char16_t(0x20 + rng() % 0x5F));
    } else if (pick < 37) {
      s.push_back(kOthers[rng() % 8]);
    } else if (pick < 39 || !lone) {
      const uint32_t c = 0x10000 + rng() % 0x100000;
      s.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
      s.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      s.push_back(char16_t(0xD800 + rng() % 0x800));
    }
  }
  return s;
}

TEST(Utf, EveryLevelMatchesTheReference) {
  std::mt19937 rng(12345);
  const Level best = twxml::simd::Best();
  for (int round = 0; round < 400; ++round) {
    const size_t n = round < 80 ? size_t(round) : size_t(rng() % 300);
    const std::u16string wide = RandomText(rng, n, true);
    const std::u16string valid = RandomText(rng, n, false);
    size_t all = 0;
    const std::string narrow = RefNarrow(valid, SIZE_MAX, &all);
    for (int l = 0; l <= int(best); ++l) {
      twxml::simd::Force(Level(l));
      SCOPED_TRACE(testing::Message() << "level " << l << " round " << round);
      // Whole conversions, with guard units after the output.
      size_t taken = 0;
      const std::string want = RefNarrow(wide, SIZE_MAX, &taken);
      std::string out(3 * wide.size() + 8, '#');
      const size_t bytes = utf::Utf16ToUtf8(wide.data(), wide.size(), out.data());
      EXPECT_EQ(want, out.substr(0, bytes));
      EXPECT_EQ(std::string(8, '#'), out.substr(3 * wide.size()));
      EXPECT_EQ(want.size(), utf::Utf8Size(wide.data(), wide.size()));
      std::u16string back(narrow.size() + 8, u'#');
      const size_t units = utf::Utf8ToUtf16(narrow.data(), narrow.size(), back.data());
      EXPECT_EQ(valid, back.substr(0, units));
      EXPECT_EQ(std::u16string(8, u'#'), back.substr(narrow.size()));
      EXPECT_EQ(valid.size(), utf::Utf16Size(narrow.data(), narrow.size()));
      // Cut to a room: never a byte past it, the reference's prefix.
      const size_t room = n ? rng() % (want.size() + 2) : 0;
      std::string cut(room + 8, '#');
      size_t got = 0;
      const size_t w = utf::Utf16ToUtf8Prefix(wide.data(), wide.size(), cut.data(), room, &got);
      EXPECT_EQ(RefNarrow(wide, room, &taken), cut.substr(0, w));
      EXPECT_EQ(taken, got);
      EXPECT_EQ(std::string(8, '#'), cut.substr(room));
      // Terminated length, from every alignment.
      std::u16string z = wide;
      for (char16_t& c : z)
        if (c == 0) c = 1;
      z.push_back(0);
      EXPECT_EQ(wide.size(), utf::WideLength(z.c_str()));
    }
  }
  twxml::simd::Force(best);
}

// Random bytes, mostly ASCII with UTF-8 of every length, some of it broken:
// every level gives what the plain one gives.
TEST(Utf, ReplacingConversionIsTheSameAtEveryLevel) {
  std::mt19937 rng(777);
  static const char* const kPieces[] = {"\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xC3",
                                        "\xE6\x97", "\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                        "\xC0\xAF", "\xFF"};
  for (int round = 0; round < 500; ++round) {
    std::string s;
    const size_t n = rng() % 200;
    while (s.size() < n) {
      if (rng() % 6) s.push_back(char(0x20 + rng() % 0x5F));
      else s += kPieces[rng() % 10];
    }
    std::u16string want;
    for (int l = 0; l <= int(twxml::simd::Best()); ++l) {
      twxml::simd::Force(Level(l));
      std::u16string out(s.size() + 8, u'#');
      out.resize(utf::Utf8ToUtf16Replacing(s.data(), s.size(), out.data()));
      if (l == 0) want = out;
      EXPECT_EQ(want, out) << "level " << l << " round " << round;
    }
  }
  twxml::simd::Force(twxml::simd::Best());
}

TEST(Utf, AsciiRunsStopAtTheFirstOtherUnitAtEveryLevel) {
  for (int l = 0; l <= int(twxml::simd::Best()); ++l) {
    twxml::simd::Force(Level(l));
    for (size_t n = 0; n < 100; ++n) {
      for (size_t at = 0; at <= n; ++at) {
        std::string s(n, 'a');
        std::u16string w(n, u'a');
        if (at < n) {
          s[at] = char(0x80 + at % 0x80);
          w[at] = char16_t(0x80 + at);
        }
        std::u16string wd(n, u'#');
        std::string nd(n, '#');
        const auto* b = reinterpret_cast<const unsigned char*>(s.data());
        EXPECT_EQ(at, utf::AsciiPrefix(b, n)) << l;
        EXPECT_EQ(at, utf::AsciiPrefix(w.data(), n)) << l;
        EXPECT_EQ(at, utf::WidenAscii(b, n, wd.data())) << l;
        EXPECT_EQ(std::u16string(at, u'a'), wd.substr(0, at)) << l;
        EXPECT_EQ(at, utf::NarrowAscii(w.data(), n, nd.data())) << l;
        EXPECT_EQ(std::string(at, 'a'), nd.substr(0, at)) << l;
        // Short zero-terminated ASCII measured in one load, from every
        // offset of a 16-byte block, or not at all.
        for (size_t shift = 0; shift < 16; ++shift) {
          alignas(16) char buf[128 + 16];
          std::memcpy(buf + shift, s.c_str(), n + 1);
          size_t length = SIZE_MAX;
          const bool got = utf::ShortAsciiZ(buf + shift, &length);
          EXPECT_EQ(at == n && n < 16, got) << n << ' ' << shift;
          if (got) {
            EXPECT_EQ(n, length);
          }
        }
        // Short zero-terminated ASCII in one step, or not at all.
        std::u16string z(16, u'#');
        const size_t got = utf::WidenShortAsciiZ(s.c_str(), z.data());
        if (got != SIZE_MAX) {
          EXPECT_TRUE(at == n && n < 16) << l;
          EXPECT_EQ(w + u'\0', z.substr(0, n + 1)) << l;
        }
      }
    }
  }
  twxml::simd::Force(twxml::simd::Best());
}

// Texts that end just before an unreadable page: the one-load measure
// never reaches into it, and answers right where it answers.
TEST(Utf, ShortMeasureStaysOnTheTextsPage) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(MAP_FAILED, map);
  char* base = static_cast<char*>(map);
  ASSERT_EQ(0, mprotect(base + page, page, PROT_NONE));
  for (size_t n = 0; n < 40; ++n) {
    for (size_t gap = 0; gap < 20; ++gap) {
      char* text = base + page - gap - n - 1;
      std::memset(text, 'x', n);
      text[n] = 0;
      size_t length = SIZE_MAX;
      if (utf::ShortAsciiZ(text, &length)) {
        EXPECT_LT(n, 16u);
        EXPECT_EQ(n, length);
      }
    }
  }
  munmap(map, 2 * page);
}

}  // namespace
