// The ASCII-run kernels behind the conversions, one table per vector level.
// Each answers the length of the leading ASCII run of s[0, n); widen and
// narrow also convert it into d and may write d up to d[n - 1] beyond it.
#pragma once

#include <cstddef>

#include "twxml/platform/simd.h"

namespace twxml::utf::kernels {

struct Table {
  size_t (*widen)(const unsigned char* s, size_t n, char16_t* d);
  size_t (*narrow)(const char16_t* s, size_t n, char* d);
  size_t (*ascii8)(const unsigned char* s, size_t n);
  size_t (*ascii16)(const char16_t* s, size_t n);
};

TWXML_SIMD_KERNEL_TABLES(Table)

inline const Table& Active() { return For(simd::Active()); }

}  // namespace twxml::utf::kernels
