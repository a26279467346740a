// The writer's escaping scan: the leading run of UTF-16 or UTF-8 text that
// goes out as it is (printable ASCII other than what the mode escapes),
// copied (narrowed) into the composition buffer as it is found. One table per vector level (AVX2,
// SSE2, plain), each giving the same answers; tests and fuzzers run each.
#pragma once

#include <cstddef>

#include "twxml/platform/simd.h"

namespace twxml::xmlwriter::scan {

struct Kernels {
  // By escaping mode: 0 text ('<', '&', '>' escaped), 1 attribute values
  // ('"' too), 2 verbatim (nothing escaped). Each returns the length of the
  // leading run of s[0, n) made of 0x20..0x7E minus the mode's escaped
  // characters, and writes that run to d as bytes; d may be written up to
  // d[n - 1] past the run.
  size_t (*run[3])(const char16_t* s, size_t n, char* d);
  // The same for UTF-8 text (bytes from 0x80 on end the run); d may also
  // be written up to d[15], and s read up to the end of its 16-byte block
  // when that stays within its page.
  size_t (*run8[3])(const char* s, size_t n, char* d);
  // The same for UTF-8 text known to be well formed and free of control
  // characters but tab and line feed: only the mode's escaped characters
  // end the run.
  size_t (*runClean[3])(const char* s, size_t n, char* d);
};

TWXML_SIMD_KERNEL_TABLES(Kernels)

}  // namespace twxml::xmlwriter::scan
