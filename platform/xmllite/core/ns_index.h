// The namespace bindings in scope, found by prefix in constant time however
// many there are. Bindings come and go strictly last in, first out (with
// the elements that make them), so each hash bucket is a chain threaded
// through the bindings, newest first: the first match is the innermost
// binding, and undoing a binding puts its bucket's old head back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace twxml::xmlcore {

inline uint32_t hashBytes(const char* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) h = (h ^ uint8_t(p[i])) * 16777619u;
  return h;
}

struct Binding {
  uint32_t pOff = 0, pLen = 0, uOff = 0, uLen = 0;  // prefix and URI in the parser's arena
  uint32_t pHash = 0, uHash = 0;
  uint32_t older = 0;  // next binding in the same bucket, as index + 1 (0: none)
};

class NsScope {
 public:
  size_t size() const { return list_.size(); }

  // Whether a default namespace binding (xmlns="...") is in scope.
  bool hasDefault() const { return defaults_ != 0; }

  void clear() {
    list_.clear();
    defaults_ = 0;
    // A hostile document may have grown the table: give it back.
    if (buckets_.size() > 4096) std::vector<uint32_t>().swap(buckets_);
    std::fill(buckets_.begin(), buckets_.end(), 0u);
  }

  // Adds b as the innermost binding (its hashes set by the caller).
  void push(Binding b) {
    if (b.pLen == 0) ++defaults_;
    list_.push_back(b);
    if (list_.size() > buckets_.size()) {
      rehash(std::max<size_t>(16, buckets_.size() * 4));
      return;
    }
    link(uint32_t(list_.size() - 1));
  }

  // Undoes the bindings made since size() was mark.
  void popTo(size_t mark) {
    for (size_t i = list_.size(); i-- > mark;) {
      const Binding& b = list_[i];
      buckets_[b.pHash & (buckets_.size() - 1)] = b.older;
      if (b.pLen == 0) --defaults_;
    }
    list_.resize(mark);
  }

  // The innermost binding of the prefix, or null; probes counts the hashed
  // steps. A few bindings are searched newest first without hashing.
  const Binding* find(const char* p, uint32_t n, const char* arena, uint64_t& probes) const {
    if (list_.size() > kLinear) return findHashed(p, n, arena, probes);
    for (size_t i = list_.size(); i-- > 0;) {
      const Binding& b = list_[i];
      if (b.pLen == n && std::memcmp(arena + b.pOff, p, n) == 0) return &b;
    }
    return nullptr;
  }

 private:
  static constexpr size_t kLinear = 8;
  __attribute__((noinline)) const Binding* findHashed(const char* p, uint32_t n,
                                                      const char* arena, uint64_t& probes) const {
    uint32_t h = hashBytes(p, n);
    for (uint32_t k = buckets_[h & (buckets_.size() - 1)]; k;) {
      ++probes;
      const Binding& b = list_[k - 1];
      if (b.pHash == h && b.pLen == n && std::memcmp(arena + b.pOff, p, n) == 0) return &b;
      k = b.older;
    }
    return nullptr;
  }
  void link(uint32_t i) {
    uint32_t& head = buckets_[list_[i].pHash & (buckets_.size() - 1)];
    list_[i].older = head;
    head = i + 1;
  }
  void rehash(size_t n) {
    buckets_.assign(n, 0u);
    for (size_t i = 0; i < list_.size(); ++i) link(uint32_t(i));
  }

  std::vector<Binding> list_;      // oldest first
  std::vector<uint32_t> buckets_;  // index + 1 of each bucket's newest binding
  size_t defaults_ = 0;            // bindings of the default namespace in list_
};

}  // namespace twxml::xmlcore
