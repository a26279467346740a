// Pieces both document generators use: a fixed-seed random source and the
// escaping of text and attribute values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace twbench {

// xorshift64*: fixed seed, so every run and machine sees the same document.
struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
  }
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }
  template <size_t N>
  const char* pick(const char* const (&a)[N]) { return a[below(N)]; }
};

inline void escapeText(std::string& out, const std::string& s, bool attribute) {
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += attribute ? "&quot;" : "\""; break;
      case '\'': out += attribute ? "&apos;" : "'"; break;
      default: out += c;
    }
  }
}

}  // namespace twbench
