// The vector level a fuzz input runs at, taken from two bits of the input so
// that the fuzzer runs every level (and an input always the same one).
#pragma once

#include "twxml/platform/simd.h"

namespace twfuzz {

// 0: the best level here, 1: plain, 2: SSE2, 3: AVX2 (capped at the best).
inline void PickLevel(unsigned bits) {
  static const twxml::simd::Level best = twxml::simd::Best();
  const unsigned b = bits & 3;
  twxml::simd::Force(b == 0 ? best : static_cast<twxml::simd::Level>(b - 1));
}

}  // namespace twfuzz
