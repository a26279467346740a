// Short-lived text buffers: small ones on the stack, larger ones on the heap.
#pragma once

#include <cstddef>
#include <new>

namespace twxml_detail {

class Scratch {
 public:
  explicit Scratch(size_t size)
      : data_(size <= sizeof local_ ? local_ : new (std::nothrow) char[size]) {}
  ~Scratch() {
    if (data_ != local_) delete[] data_;
  }
  // Null when a heap buffer could not be had.
  char* get() const { return data_; }

  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

 private:
  char local_[256];
  char* data_;
};

}  // namespace twxml_detail
