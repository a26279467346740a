// Copies of short runs (names, markup, the pieces of a text between its
// references): overlapping word moves instead of a call, which costs more
// than the copy itself at these lengths. Longer runs go to memcpy. Only
// [s, s + n) is read and only [d, d + n) written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace twxml {

// n bytes, sizeof(W) <= n <= 2 * sizeof(W), as two overlapping words;
// returns the two or-ed together.
template <class W>
__attribute__((always_inline)) inline W CopyTwoWords(char* d, const char* s, size_t n) {
  W a, b;
  std::memcpy(&a, s, sizeof a);
  std::memcpy(&b, s + n - sizeof b, sizeof b);
  std::memcpy(d, &a, sizeof a);
  std::memcpy(d + n - sizeof b, &b, sizeof b);
  return a | b;
}

// At most sixteen bytes, returning the words read or-ed together: a byte
// with its high bit set shows as bit 7 of some byte of the result.
__attribute__((always_inline)) inline uint64_t CopyShortOr(char* d, const char* s, size_t n) {
  if (n >= 8) return CopyTwoWords<uint64_t>(d, s, n);
  if (n >= 4) return CopyTwoWords<uint32_t>(d, s, n);
  uint64_t acc = 0;
  for (size_t i = 0; i < n; ++i) {
    d[i] = s[i];
    acc |= static_cast<unsigned char>(s[i]);
  }
  return acc;
}

__attribute__((always_inline)) inline void CopyShort(char* d, const char* s, size_t n) {
  if (n > 16)
    std::memcpy(d, s, n);
  else
    CopyShortOr(d, s, n);  // the or of what is read is left unused
}

}  // namespace twxml
