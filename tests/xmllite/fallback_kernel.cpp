// Minimal stand-ins for the kernel calls the handle interface makes, so its
// unit tests link before the kernel layer exists (CMake adds this file only
// then).
#include <cstdlib>
#include <cstring>

#include "twxml/kernel.h"

extern "C" {
void* MemAllocP(size_t size) { return std::malloc(size); }
int MemFreeF(void* block) {
  std::free(block);
  return 0;
}
int SafeChkBufF(const void* p, size_t) { return p == nullptr ? 1 : 0; }

// UTF-8 out, cut on a character boundary; 30 when it does not fit.
int VarCnvBStrToStrBufF(const WCHAR* text, char* buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) return TWXML_E_NOTFOUND;
  unsigned int used = 0;
  if (text != nullptr) {
    for (size_t i = 0; text[i] != 0; ++i) {
      uint32_t c = text[i];
      if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      }
      char enc[4];
      unsigned int n;
      if (c < 0x80) {
        enc[0] = static_cast<char>(c);
        n = 1;
      } else if (c < 0x800) {
        enc[0] = static_cast<char>(0xC0 | (c >> 6));
        enc[1] = static_cast<char>(0x80 | (c & 0x3F));
        n = 2;
      } else if (c < 0x10000) {
        enc[0] = static_cast<char>(0xE0 | (c >> 12));
        enc[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        enc[2] = static_cast<char>(0x80 | (c & 0x3F));
        n = 3;
      } else {
        enc[0] = static_cast<char>(0xF0 | (c >> 18));
        enc[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        enc[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        enc[3] = static_cast<char>(0x80 | (c & 0x3F));
        n = 4;
      }
      if (used + n > size - 1) {
        buffer[used] = '\0';
        return TWXML_E_NOTFOUND;
      }
      std::memcpy(buffer + used, enc, n);
      used += n;
    }
  }
  buffer[used] = '\0';
  return TWXML_OK;
}
}  // extern "C"

StringBuilder::StringBuilder(unsigned int initialCapacity)
    : data_(static_cast<char*>(std::malloc(initialCapacity))), length_(0),
      capacity_(data_ ? initialCapacity : 0) {}
StringBuilder::~StringBuilder() { std::free(data_); }
int StringBuilder::Append(const void* bytes, unsigned int count) {
  if (length_ + count > capacity_) {
    unsigned int cap = capacity_ ? capacity_ : 64;
    while (cap < length_ + count) cap *= 2;
    char* grown = static_cast<char*>(std::realloc(data_, cap));
    if (grown == nullptr) return TWXML_E_ALLOC;
    data_ = grown;
    capacity_ = cap;
  }
  if (count > 0) std::memcpy(data_ + length_, bytes, count);
  length_ += count;
  return TWXML_OK;
}
char* StringBuilder::AllocText(bool) {
  char* copy = static_cast<char*>(MemAllocP(length_ + 1));
  if (copy == nullptr) return nullptr;
  if (length_ > 0) std::memcpy(copy, data_, length_);
  copy[length_] = '\0';
  return copy;
}
