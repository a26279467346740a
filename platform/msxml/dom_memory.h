// Memory of the node store: arrays that grow in place inside large mappings
// from the process-wide pool, which keeps the mappings of documents that are
// gone for the next ones. A page that a document has written once stays
// mapped, so loading the next document of the same size faults in almost
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "twxml/platform/mapping_pool.h"

namespace twdom {

namespace pool = twxml::win32::pool;

/* An array of plain records that grows in place where the kernel can remap
   it, so a large document never holds two copies while growing; its mapping
   comes from and goes back to the pool. */
template <class T>
class GrowArray {
 public:
  explicit GrowArray(pool::Role role) : role_(role) {}
  GrowArray(const GrowArray&) = delete;
  GrowArray& operator=(const GrowArray&) = delete;
  ~GrowArray() { release(); }

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  /* Elements that fit before the array must grow. */
  size_t spare() const { return cap_ - size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

  /* Makes room for n more elements; false when memory is exhausted. */
  bool reserveMore(size_t n) {
    if (cap_ - size_ >= n) return true;
    return grow(size_ + n);
  }
  /* Appends n uninitialised elements; the caller has reserved them. */
  T* extend(size_t n) {
    T* p = data_ + size_;
    size_ += n;
    return p;
  }
  void truncate(size_t n) {
    noteTouched();
    size_ = n;
  }
  void release() {
    if (data_) {
      noteTouched();
      pool::Give(role_, data_, cap_ * sizeof(T), touched_);
    }
    data_ = nullptr;
    size_ = cap_ = touched_ = 0;
  }

 private:
  void noteTouched() {
    if (size_ * sizeof(T) > touched_) touched_ = size_ * sizeof(T);
  }
  bool grow(size_t need) {
    constexpr size_t kLimit = (SIZE_MAX / 4) & ~(pool::kPage - 1);  // no mapping that large
    if (need > kLimit / sizeof(T)) return false;
    size_t bytes = cap_ * sizeof(T);
    size_t touched = touched_;
    void* p = pool::Grow(role_, data_, &bytes, need * sizeof(T), kLimit, &touched);
    if (!p) return false;
    data_ = static_cast<T*>(p);
    cap_ = bytes / sizeof(T);
    touched_ = touched;
    return true;
  }
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t cap_ = 0;
  size_t touched_ = 0;  // bytes written at some time (as far as size_ tells)
  pool::Role role_;
};

}  // namespace twdom
