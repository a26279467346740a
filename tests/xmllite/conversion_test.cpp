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

}  // namespace
