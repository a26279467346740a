// Memory of the node store: arrays that grow in place inside large mappings,
// and a process-wide pool that keeps the mappings of documents that are gone
// for the next ones. A page that a document has written once stays mapped,
// so loading the next document of the same size faults in almost nothing;
// faulting fresh pages costs more than parsing the bytes that fill them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twdom {

/* What a pooled mapping held: a new array takes a mapping of its own kind,
   whose size fits it best. */
enum PoolRole : uint8_t { kPoolNodes, kPoolText, kPoolInput, kPoolRoles };

namespace pool {

/* A kept mapping of the role (the largest), or null; *bytes is its size and
   *touched how much of it was written before. */
void* Take(PoolRole role, size_t* bytes, size_t* touched);
/* Gives a mapping back; kept while the pool is under its limit, unmapped
   otherwise. touched is the high-water mark of what was written. */
void Give(PoolRole role, void* p, size_t bytes, size_t touched);
/* A fresh mapping of at least bytes (rounded to pages); null when refused. */
void* Map(size_t bytes);
/* Grows or shrinks a mapping, moving it when it must; null when refused. */
void* Remap(void* p, size_t oldBytes, size_t newBytes);
/* Bytes the pool keeps written (for tests). */
size_t KeptBytes();

}  // namespace pool

/* An array of plain records that grows in place where the kernel can remap
   it, so a large document never holds two copies while growing; its mapping
   comes from and goes back to the pool. */
template <class T>
class GrowArray {
 public:
  explicit GrowArray(PoolRole role) : role_(role) {}
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
    if (need > (SIZE_MAX / 4) / sizeof(T)) return false;  // no mapping that large
    size_t bytes = cap_ * sizeof(T);
    if (!data_) {
      size_t kept = 0, touched = 0;
      if (void* p = pool::Take(role_, &kept, &touched)) {
        data_ = static_cast<T*>(p);
        cap_ = kept / sizeof(T);
        touched_ = touched;
        if (cap_ >= need) return true;
        bytes = cap_ * sizeof(T);
      }
    }
    size_t want = bytes ? bytes * 2 : 64 * 1024;
    while (want < need * sizeof(T)) want *= 2;
    void* p = data_ ? pool::Remap(data_, bytes, want) : pool::Map(want);
    if (!p) return false;
    data_ = static_cast<T*>(p);
    cap_ = want / sizeof(T);
    return true;
  }
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t cap_ = 0;
  size_t touched_ = 0;  // bytes written at some time (as far as size_ tells)
  PoolRole role_;
};

}  // namespace twdom
