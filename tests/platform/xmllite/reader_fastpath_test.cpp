// Edges of the block-at-a-time paths: strings whose length or multi-byte
// characters fall on every offset of a 4-, 8- and 16-byte block, and bad
// bytes at every offset of a block, whole or cut into chunks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/xmlcore.h"
#include "reader_util.h"

namespace {

using twxml::test::toUtf8;
using twxml::test::walk;

// "abc..." of length len with `ch` put in at byte offset `at` (none when
// at > len).
std::string sample(size_t len, size_t at, const std::string& ch) {
  std::string s;
  for (size_t i = 0; i < len; ++i) s += char('a' + i % 26);
  if (at <= len) s.insert(at, ch);
  return s;
}

// Characters of two, three and four bytes, all allowed in names.
const char* const kWide[] = {"", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"};

TEST(XmlReaderFastPath, Utf8ToUtf16AtEveryOffset) {
  for (const char* ch : kWide) {
    for (size_t len = 0; len <= 40; ++len) {
      for (size_t at = 0; at <= len + 1; ++at) {
        std::string s = sample(len, at, ch);
        // Exactly the room the contract asks for, so an overrun shows.
        std::vector<char16_t> out(s.size() + 1, 0xFFFF);
        size_t n = twxml::xmlcore::utf8ToUtf16(s.data(), s.size(), out.data());
        ASSERT_LE(n, s.size());
        EXPECT_EQ(toUtf8(out.data(), UINT(n)), s) << len << " " << at;
        EXPECT_EQ(out[s.size()], 0xFFFF);
      }
    }
  }
}

TEST(XmlReaderFastPath, NamesAndValuesAtEveryOffset) {
  for (const char* ch : kWide) {
    for (size_t len = 1; len <= 34; ++len) {
      for (size_t at = 1; at <= len + 1; at += 1) {
        std::string name = sample(len, at, ch);  // starts with a letter
        std::string val = sample(len, at - 1, ch);
        std::string doc = "<" + name + " " + name + "='" + val + "'>" + val + "</" + name + ">";
        std::string want = "1 0 {" + name + "|} [] @" + name + "=" + val + "\n3 1 {|} [" + val +
                           "]\n15 0 {" + name + "|} []\n";
        for (size_t chunk : {size_t(1), size_t(7), size_t(16), SIZE_MAX}) {
          auto w = walk(doc, chunk);
          EXPECT_EQ(w.hr, S_FALSE) << doc;
          EXPECT_EQ(w.trace, want) << doc << " chunk " << chunk;
        }
      }
    }
  }
}

TEST(XmlReaderFastPath, BadBytesAtEveryBlockOffset) {
  const std::string bad[] = {"\xFF", "\x80", "\x01", "\xC3", "\xE2\x80", "\xED\xA0\x80",
                             "\xEF\xBF\xBE"};
  for (const std::string& b : bad) {
    for (size_t at = 0; at < 40; ++at) {
      std::string text = sample(40, at, b);
      for (const std::string& doc :
           {"<r>" + text + "</r>", "<r a='" + text + "'/>", "<r><!--" + text + "--></r>"}) {
        for (size_t chunk : {size_t(1), size_t(5), size_t(16), SIZE_MAX}) {
          auto w = walk(doc, chunk, false);
          EXPECT_TRUE(FAILED(w.hr)) << at << " chunk " << chunk;
          EXPECT_EQ(w.errLine, 1u);
        }
      }
    }
  }
}

}  // namespace
