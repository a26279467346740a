// The expanded names of the open start tag's attributes, for the duplicate
// check: compared in place while few (no hashing at all), hashed once many,
// so a tag of n attributes costs O(n) in all.
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

  // The entry with this expanded name, or -1. same(i) compares entry i with
  // it; key(i) gives entry i's local name and URI (for the hashed index).
  template <class Same, class Key>
  int find(std::u16string_view local, std::u16string_view uri, Same same, Key key) {
    if (count_ < kIndexFrom) {
      for (size_t i = 0; i < count_; ++i) {
        ++probes_;
        if (same(i)) return int(i);
      }
      return -1;
    }
    if (slots_.empty()) build(key);
    const uint32_t h = hashOf(local, uri);
    size_t mask = slots_.size() - 1;
    for (size_t s = h & mask; slots_[s]; s = (s + 1) & mask) {
      ++probes_;
      uint32_t i = slots_[s] - 1;
      if (hashes_[i] == h && same(i)) return int(i);
    }
    return -1;
  }

  // One more entry, with this expanded name.
  void add(std::u16string_view local, std::u16string_view uri) {
    ++count_;
    if (slots_.empty()) return;  // hashed when the index is built
    hashes_.push_back(hashOf(local, uri));
    if (2 * hashes_.size() > slots_.size()) {
      slots_.assign(slots_.size() * 2, 0);
      for (uint32_t i = 0; i + 1 < hashes_.size(); ++i) place(i);
    }
    place(uint32_t(hashes_.size() - 1));
  }

  void clear() {
    count_ = 0;
    hashes_.clear();
    if (slots_.empty()) return;
    if (slots_.size() > 4096) std::vector<uint32_t>().swap(slots_);
    else slots_.clear();
  }

  uint64_t probes() const { return probes_; }

 private:
  static constexpr size_t kIndexFrom = 16;
  template <class Key>
  void build(Key key) {
    hashes_.clear();
    for (size_t i = 0; i < count_; ++i) {
      const auto k = key(i);
      hashes_.push_back(hashOf(k.first, k.second));
    }
    slots_.assign(std::max<size_t>(64, 4 * count_), 0);
    for (uint32_t i = 0; i < hashes_.size(); ++i) place(i);
  }
  void place(uint32_t i) {
    size_t mask = slots_.size() - 1;
    size_t s = hashes_[i] & mask;
    while (slots_[s]) s = (s + 1) & mask;
    slots_[s] = i + 1;
  }
  size_t count_ = 0;
  std::vector<uint32_t> hashes_;  // by entry, once indexed
  std::vector<uint32_t> slots_;   // entry + 1 by hash, 0 empty; built from kIndexFrom entries
  uint64_t probes_ = 0;
};

}  // namespace twxml::writer
