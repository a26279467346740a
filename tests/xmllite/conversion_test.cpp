// The buffer form every name and value of the handles goes through. (Round
// trips of the code-page conversions are the platform's own tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "twxml/kernel.h"

namespace {

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
