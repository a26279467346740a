// Growable byte buffer: capacity doubles, so n appends copy O(n) bytes. A
// large buffer lives in a pooled mapping, which the next large builder takes
// over with its pages already faulted in: writing one big document after
// another then touches fresh memory only once.
#include <cstdlib>
#include <cstring>

#include "twxml/kernel.h"
#include "twxml/platform/mapping_pool.h"

namespace pool = twxml::win32::pool;

namespace {

// Capacities from here on are mappings of exactly that many bytes; smaller
// ones come from the heap.
constexpr unsigned int kMappedFrom = pool::kLarge;
// The largest mapping a 32-bit capacity can state.
constexpr size_t kMappedLimit = 0xFFFFFFFFu & ~(pool::kPage - 1);

bool Mapped(unsigned int capacity) { return capacity >= kMappedFrom; }

}  // namespace

StringBuilder::StringBuilder(unsigned int initialCapacity)
    : data_(nullptr), length_(0), capacity_(0) {
  // Without the memory the builder starts empty and grows at the first append.
  if (initialCapacity != 0) Grow(initialCapacity);
}

StringBuilder::~StringBuilder() {
  if (Mapped(capacity_))
    pool::Give(pool::kBuilderText, data_, capacity_, pool::kResident);
  else
    std::free(data_);
}

int StringBuilder::Grow(uint64_t need) {
  if (need > 0xFFFFFFFFu) return TWXML_E_ALLOC;  // the length is a 32-bit count
  const uint64_t grown = capacity_ < 64 ? 64 : static_cast<uint64_t>(capacity_) * 2;
  if (grown < kMappedFrom && need < kMappedFrom) {
    const size_t size = static_cast<size_t>(grown < need ? need : grown);
    char* bigger = static_cast<char*>(std::realloc(data_, size));
    if (bigger == nullptr) return TWXML_E_ALLOC;
    data_ = bigger;
    capacity_ = static_cast<unsigned int>(size);
    return TWXML_OK;
  }
  // Into a mapping: the heap block's bytes move over once.
  const bool wasMapped = Mapped(capacity_);
  size_t size = wasMapped ? capacity_ : 0, touched = 0;
  void* p = pool::Grow(pool::kBuilderText, wasMapped ? data_ : nullptr, &size,
                       static_cast<size_t>(need), kMappedLimit, &touched);
  if (p == nullptr) return TWXML_E_ALLOC;
  if (!wasMapped) {
    if (length_) std::memcpy(p, data_, length_);
    std::free(data_);
  }
  data_ = static_cast<char*>(p);
  capacity_ = static_cast<unsigned int>(size);
  return TWXML_OK;
}

int StringBuilder::Append(const void* bytes, unsigned int count) {
  if (count == 0) return TWXML_OK;
  if (bytes == nullptr) return TWXML_E_NOTFOUND;
  const uint64_t need = static_cast<uint64_t>(length_) + count;
  if (need > capacity_ && Grow(need) != TWXML_OK) return TWXML_E_ALLOC;
  std::memcpy(data_ + length_, bytes, count);
  length_ = static_cast<unsigned int>(need);
  return TWXML_OK;
}

char* StringBuilder::Reserve(unsigned int count) {
  const uint64_t need = static_cast<uint64_t>(length_) + count;
  if ((need > capacity_ || data_ == nullptr) && Grow(need) != TWXML_OK) return nullptr;
  return data_ + length_;
}

char* StringBuilder::AllocText(bool zeroTerminate) {
  char* copy = static_cast<char*>(MemAllocP(static_cast<size_t>(length_) + (zeroTerminate ? 1 : 0)));
  if (copy == nullptr) return nullptr;
  if (length_) std::memcpy(copy, data_, length_);
  if (zeroTerminate) copy[length_] = 0;
  return copy;
}
