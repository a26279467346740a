// The code-page conversions every handle call makes, on random texts mixing
// ASCII runs of every length with 2-, 3- and 4-byte characters: round trips
// are exact, sizes are exact, and a buffer one unit short is refused.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "twxml/kernel.h"

namespace {

TEST(HandleConversions, RandomMixedTextsRoundTrip) {
  const char* const pieces[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xe4\xb8\xad"};
  std::mt19937 rng(5);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    int parts = std::uniform_int_distribution<int>(1, 6)(rng);
    for (int p = 0; p < parts; ++p) {
      int ascii = std::uniform_int_distribution<int>(0, 19)(rng);
      for (int k = 0; k < ascii; ++k)
        text.push_back(static_cast<char>(std::uniform_int_distribution<int>(1, 127)(rng)));
      if (rng() % 3 != 0) text += pieces[rng() % 4];
    }
    if (text.empty()) continue;
    SCOPED_TRACE(text);
    const int n = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), n, nullptr, 0);
    ASSERT_GT(units, 0);
    std::vector<WCHAR> wide(units + 1, 0xFFFF);
    ASSERT_EQ(units, MultiByteToWideChar(CP_UTF8, 0, text.data(), n, wide.data(), units));
    EXPECT_EQ(0xFFFF, wide[units]) << "written past the size given";
    if (units > 1) {
      EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, text.data(), n, wide.data(), units - 1));
      EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    ASSERT_EQ(n, bytes);
    std::string back(static_cast<size_t>(bytes) + 1, '#');
    ASSERT_EQ(bytes, WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, back.data(), bytes, nullptr,
                                         nullptr));
    EXPECT_EQ('#', back[bytes]);
    back.resize(bytes);
    EXPECT_EQ(text, back);
    if (bytes > 1) {  // a size of 0 would ask for the size
      EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, back.data(), bytes - 1,
                                       nullptr, nullptr));
    }
    // The buffer form used for names and values: whole when it fits.
    wide.back() = 0;
    wide[units] = 0;
    std::vector<char> buffer(n + 1);
    EXPECT_EQ(0, VarCnvBStrToStrBufF(wide.data(), buffer.data(), n + 1));
    EXPECT_EQ(text, std::string(buffer.data()));
  }
}

// The buffer form finds the end of the text eight units at a time once
// aligned: texts at every alignment and of every short length, whole or cut
// on a character boundary when the buffer is short.
TEST(HandleConversions, BufferFormAtEveryAlignment) {
  std::vector<WCHAR> storage(64, u'\0');
  for (size_t offset = 0; offset < 9; ++offset) {
    for (size_t len = 0; len < 40; ++len) {
      std::fill(storage.begin(), storage.end(), u'\0');
      std::string expected;
      for (size_t k = 0; k < len; ++k) {
        storage[offset + k] = k == len / 2 ? u'\u00e9' : static_cast<WCHAR>('a' + k % 26);
        expected += k == len / 2 ? "\xc3\xa9" : std::string(1, static_cast<char>('a' + k % 26));
      }
      SCOPED_TRACE(testing::Message() << "offset " << offset << " length " << len);
      char buffer[64];
      EXPECT_EQ(TWXML_OK, VarCnvBStrToStrBufF(storage.data() + offset, buffer, sizeof buffer));
      EXPECT_EQ(expected, std::string(buffer));
      if (len == 0) continue;
      // One byte short: cut before the last character, never inside the 2-byte one.
      const unsigned size = static_cast<unsigned>(expected.size());
      EXPECT_EQ(TWXML_E_NOTFOUND, VarCnvBStrToStrBufF(storage.data() + offset, buffer, size));
      const std::string cut(buffer);
      EXPECT_EQ(expected.compare(0, cut.size(), cut), 0);
      EXPECT_GE(cut.size() + 2, expected.size());
      EXPECT_LT(cut.size(), expected.size());
    }
  }
}

}  // namespace
