// What every fuzz harness shares: the vector level an input runs at, the
// check that stops on a broken promise, and the seed corpus written at test
// time (never kept in the tree).
#pragma once

#include <algorithm>
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

// A caller buffer with guard bytes behind the size handed to the library.
struct Guarded {
  explicit Guarded(unsigned int size) : size(size), bytes(size + 16, '\x5a') {}
  char* data() { return bytes.data(); }
  bool Untouched() const { return bytes.find_first_not_of('\x5a') == std::string::npos; }
  // Nothing written behind the size; text that was written is terminated in it.
  void CheckBounds(bool wrote) const {
    check(bytes.find_first_not_of('\x5a', size) == std::string::npos);
    if (wrote && size > 0) check(bytes.find('\0') < size);
  }
  unsigned int size;
  std::string bytes;
};

// "ops\nrest": a line of operation letters (at most 256) and what follows.
inline void SplitOps(const std::string& input, std::string* ops, std::string* rest) {
  const size_t nl = input.find('\n');
  *ops = input.substr(0, std::min<size_t>(nl, 256));
  *rest = nl == std::string::npos ? std::string() : input.substr(nl + 1);
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
