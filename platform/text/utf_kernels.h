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

extern const Table kPlain;
#if TWXML_SIMD_X86
extern const Table kSse2;
extern const Table kAvx2;
#endif

inline const Table& ForLevel(simd::Level level) {
  return simd::ForLevel(level, kPlain, TWXML_SIMD_TABLE(kSse2), TWXML_SIMD_TABLE(kAvx2));
}

inline const Table& Active() { return ForLevel(simd::Active()); }

}  // namespace twxml::utf::kernels
