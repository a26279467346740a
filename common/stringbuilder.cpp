// Growable byte buffer: capacity doubles, so n appends copy O(n) bytes.
#include <cstdlib>
#include <cstring>

#include "twxml/kernel.h"

StringBuilder::StringBuilder(unsigned int initialCapacity)
    : data_(nullptr), length_(0), capacity_(0) {
  if (initialCapacity != 0) {
    data_ = static_cast<char*>(std::malloc(initialCapacity));
    if (data_ != nullptr) capacity_ = initialCapacity;
  }
}

StringBuilder::~StringBuilder() { std::free(data_); }

int StringBuilder::Append(const void* bytes, unsigned int count) {
  if (count == 0) return TWXML_OK;
  if (bytes == nullptr) return TWXML_E_NOTFOUND;
  const uint64_t need = static_cast<uint64_t>(length_) + count;
  if (need > 0xFFFFFFFFu) return TWXML_E_ALLOC;  // the length is a 32-bit count
  if (need > capacity_) {
    uint64_t grown = capacity_ < 64 ? 64 : static_cast<uint64_t>(capacity_) * 2;
    if (grown < need) grown = need;
    if (grown > 0xFFFFFFFFu) grown = 0xFFFFFFFFu;
    char* bigger = static_cast<char*>(std::realloc(data_, static_cast<size_t>(grown)));
    if (bigger == nullptr) return TWXML_E_ALLOC;
    data_ = bigger;
    capacity_ = static_cast<unsigned int>(grown);
  }
  std::memcpy(data_ + length_, bytes, count);
  length_ = static_cast<unsigned int>(need);
  return TWXML_OK;
}

char* StringBuilder::AllocText(bool zeroTerminate) {
  char* copy = static_cast<char*>(MemAllocP(static_cast<size_t>(length_) + (zeroTerminate ? 1 : 0)));
  if (copy == nullptr) return nullptr;
  if (length_) std::memcpy(copy, data_, length_);
  if (zeroTerminate) copy[length_] = 0;
  return copy;
}
