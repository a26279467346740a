// What every fuzz harness shares: the vector level an input runs at, the
// check that stops on a broken promise, and the seed corpus written at test
// time (never kept in the tree).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "twxml/platform/simd.h"

namespace twfuzz {

// Taken from two bits of the input, so that the fuzzer runs every level and
// an input always the same one. 0: the best level here, 1: plain, 2: SSE2,
// 3: AVX2 (capped at the best).
inline void PickLevel(unsigned bits) {
  static const twxml::simd::Level best = twxml::simd::Best();
  const unsigned b = bits & 3;
  twxml::simd::Force(b == 0 ? best : static_cast<twxml::simd::Level>(b - 1));
}

inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

// With TWXML_FUZZ_WRITE_SEEDS naming a folder, writes the seeds into it and
// ends the program.
inline void WriteSeedsIfAsked(const std::vector<std::string>& seeds) {
  const char* dir = std::getenv("TWXML_FUZZ_WRITE_SEEDS");
  if (dir == nullptr) return;
  int n = 0;
  for (const std::string& seed : seeds) {
    std::FILE* f = std::fopen((std::string(dir) + "/seed-" + std::to_string(n++)).c_str(), "wb");
    if (f == nullptr || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size()) std::exit(1);
    std::fclose(f);
  }
  std::exit(0);
}

// With TWXML_FUZZ_DEBUG set, replaying an input prints what a harness shows
// on the way, characters outside printable ASCII escaped.
template <class Text>
void Debug(const char* what, const Text& text) {
  static const bool on = std::getenv("TWXML_FUZZ_DEBUG") != nullptr;
  if (!on) return;
  std::string shown;
  for (auto c : text) {
    const unsigned u = static_cast<std::make_unsigned_t<decltype(c)>>(c);
    char escaped[12];
    std::snprintf(escaped, sizeof escaped, sizeof c == 1 ? "\\x%02X" : "\\u%04X", u);
    shown += u >= 0x20 && u < 0x7F ? std::string(1, char(u)) : std::string(escaped);
  }
  std::fprintf(stderr, "%s (%zu units): %s\n", what, text.size(), shown.c_str());
}

}  // namespace twfuzz
