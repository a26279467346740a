// Edges of the block-at-a-time paths at every vector level: names, values
// and multi-byte characters at every offset of a block, bad bytes at every
// offset, whole or cut into chunks: what each level's scanning kernels give
// the reader, against the plain level.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/xmlcore.h"
#include "reader_util.h"
#include "twxml/platform/simd.h"

namespace {

using twxml::simd::Level;
using twxml::test::walk;

// Runs f once at each level this machine has, then restores the best.
template <class F>
void atEveryLevel(F f) {
  for (int l = 0; l <= int(twxml::simd::Best()); ++l) {
    twxml::simd::Force(Level(l));
    SCOPED_TRACE(testing::Message() << "level " << l);
    f();
  }
  twxml::simd::Force(twxml::simd::Best());
}

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

TEST(XmlReaderFastPath, NamesAndValuesAtEveryOffset) {
  atEveryLevel([] {
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
  });
}

TEST(XmlReaderFastPath, BadBytesAtEveryBlockOffset) {
  const std::string bad[] = {"\xFF", "\x80", "\x01", "\xC3", "\xE2\x80", "\xED\xA0\x80",
                             "\xEF\xBF\xBE", "\xF4\x90\x80\x80"};
  // Before them, plain or multi-byte text, so the block holding the bad
  // bytes is checked either way; the failure and its place are the same at
  // every level.
  std::vector<std::string> failures[3];
  atEveryLevel([&] {
    std::vector<std::string>& got = failures[int(twxml::simd::Active())];
    for (const std::string& b : bad) {
      for (const char* lead : {"", "\xC3\xA9"}) {
        for (size_t at = 0; at < 70; at += 3) {
          std::string text = sample(70, at, b);
          text.insert(0, lead);
          for (const std::string& doc :
               {"<r>" + text + "</r>", "<r a='" + text + "'/>", "<r><!--" + text + "--></r>"}) {
            for (size_t chunk : {size_t(1), size_t(33), SIZE_MAX}) {
              auto w = walk(doc, chunk, false);
              EXPECT_TRUE(FAILED(w.hr)) << at << " chunk " << chunk;
              EXPECT_EQ(w.errLine, 1u);
              got.push_back(std::to_string(w.hr) + " " + std::to_string(w.errCol));
            }
          }
        }
      }
    }
  });
  for (int l = 1; l <= int(twxml::simd::Best()); ++l) EXPECT_EQ(failures[0], failures[l]) << l;
}

// The predefined references (taken without a name scan) and their near
// misses, in text and in values, cut by the input at every byte: the same
// values, and the same failures at the same places, as read whole.
TEST(XmlReaderFastPath, ReferencesCutAnywhere) {
  const std::string good = "&lt;&gt;&amp;&quot;&apos;x&lt;y&#60;&amp;amp;";
  const std::string value = "<>&\"'x<y<&amp;";
  const std::string want = "1 0 {r|} [] @a=" + value + "\n3 1 {|} [" + value + "]\n15 0 {r|} []\n";
  const char* const bad[] = {"&lt",  "&lt ;", "&ltx;", "&am;", "&ampx;", "&quo;",
                             "&quot", "&apo;", "&apos", "&;",   "&#;",    "&"};
  for (size_t chunk = 1; chunk <= 9; ++chunk) {
    const std::string doc = "<r a='" + good + "'>" + good + "</r>";
    auto w = walk(doc, chunk);
    EXPECT_EQ(w.hr, S_FALSE) << chunk;
    EXPECT_EQ(w.trace, want) << chunk;
    for (const char* b : bad) {
      for (const std::string& d : {"<r>ab" + std::string(b) + "</r>", "<r a='ab" + std::string(b) + "'/>"}) {
        auto whole = walk(d, SIZE_MAX, false);
        auto cut = walk(d, chunk, false);
        EXPECT_TRUE(FAILED(whole.hr)) << d;
        EXPECT_EQ(cut.hr, whole.hr) << d << " chunk " << chunk;
        EXPECT_EQ(cut.errCol, whole.errCol) << d << " chunk " << chunk;
      }
    }
  }
}

// Line ends of every kind, carriage returns among multi-byte text, text and
// values of every length: the same nodes and positions at every level.
TEST(XmlReaderFastPath, LineEndsAndPositionsAtEveryLevel) {
  std::mt19937 rng(4242);
  static const char* const kPieces[] = {"\r\n", "\r", "\n", " ", "\t", "&amp;", "&#xE9;",
                                        "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80",
                                        "]", "x"};
  for (int round = 0; round < 40; ++round) {
    std::string doc = "<r a='";
    auto piece = [&] { return std::string(rng() % 4 ? &"abcdefghij"[rng() % 10] : kPieces[rng() % 12]); };
    for (int i = 0; i < 30; ++i) doc += piece() == "]" ? "y" : piece();
    doc += "'>";
    for (int i = 0; i < 200; ++i) doc += rng() % 9 ? piece() : "<e b='v'/>";
    doc += "</r>";
    std::string traces[3];
    atEveryLevel([&] {
      std::string& t = traces[int(twxml::simd::Active())];
      for (size_t chunk : {size_t(7), SIZE_MAX}) {
        auto w = walk(doc, chunk, true, true);
        EXPECT_EQ(w.hr, S_FALSE) << doc;
        t += w.trace;
      }
    });
    for (int l = 1; l <= int(twxml::simd::Best()); ++l) EXPECT_EQ(traces[0], traces[l]) << round;
  }
}

}  // namespace
