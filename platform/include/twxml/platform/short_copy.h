// Copies of short runs (names, markup, the pieces of a text between its
// references): overlapping word moves instead of a call, which costs more
// than the copy itself at these lengths. Longer runs go to memcpy. Only
// [s, s + n) is read and only [d, d + n) written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace twxml {

__attribute__((always_inline)) inline void CopyShort(char* d, const char* s, size_t n) {
  if (n > 16) {
    std::memcpy(d, s, n);
  } else if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  }
}

}  // namespace twxml
