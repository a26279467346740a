// The expanded names of the open start tag's attributes, for the duplicate
// check: searched in place while few, hashed once many, so a tag of n
// attributes costs O(n) in all.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace twxml::writer {

class AttrIndex {
 public:
  static uint32_t hashOf(std::u16string_view local, std::u16string_view uri) {
    uint32_t h = 2166136261u;
    for (char16_t c : local) h = (h ^ c) * 16777619u;
    h = (h ^ 0x10000u) * 16777619u;  // a separator no unit equals
    for (char16_t c : uri) h = (h ^ c) * 16777619u;
    return h;
  }

  // The entry for which same(i) holds, or -1; entries have the hashes added.
  template <class Same>
  int find(uint32_t h, Same same) {
    if (slots_.empty()) {
      for (size_t i = 0; i < hashes_.size(); ++i) {
        ++probes_;
        if (hashes_[i] == h && same(i)) return int(i);
      }
      return -1;
    }
    size_t mask = slots_.size() - 1;
    for (size_t s = h & mask; slots_[s]; s = (s + 1) & mask) {
      ++probes_;
      uint32_t i = slots_[s] - 1;
      if (hashes_[i] == h && same(i)) return int(i);
    }
    return -1;
  }

  void add(uint32_t h) {
    hashes_.push_back(h);
    if (hashes_.size() < kIndexFrom) return;
    if (2 * hashes_.size() > slots_.size()) {
      slots_.assign(std::max<size_t>(64, slots_.size() * 2), 0);
      for (uint32_t i = 0; i + 1 < hashes_.size(); ++i) place(i);
    }
    place(uint32_t(hashes_.size() - 1));
  }

  void clear() {
    hashes_.clear();
    if (slots_.empty()) return;
    if (slots_.size() > 4096) std::vector<uint32_t>().swap(slots_);
    else slots_.clear();
  }

  uint64_t probes() const { return probes_; }

 private:
  static constexpr size_t kIndexFrom = 16;
  void place(uint32_t i) {
    size_t mask = slots_.size() - 1;
    size_t s = hashes_[i] & mask;
    while (slots_[s]) s = (s + 1) & mask;
    slots_[s] = i + 1;
  }
  std::vector<uint32_t> hashes_;
  std::vector<uint32_t> slots_;  // entry + 1 by hash, 0 empty; built from kIndexFrom entries
  uint64_t probes_ = 0;
};

}  // namespace twxml::writer
