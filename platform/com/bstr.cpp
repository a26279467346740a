// BSTR: a 32-bit byte count, then the UTF-16 text, then a zero unit. The
// pointer handed out points at the text. Blocks come from the small-block
// lists (their size follows from the count), so the many short strings of a
// walk cost little.
#include <cstring>

#include "twxml/platform/com_internal.h"

namespace {

// Largest length whose byte count and block size still fit the prefix.
constexpr UINT kMaxLength = (0x7FFFFFFFu - sizeof(uint32_t) - sizeof(OLECHAR)) / sizeof(OLECHAR);

uint32_t* PrefixOf(BSTR text) { return reinterpret_cast<uint32_t*>(text) - 1; }

size_t BlockSize(size_t bytes) { return sizeof(uint32_t) + bytes + sizeof(OLECHAR); }

BSTR Allocate(const OLECHAR* text, UINT length) {
  if (length > kMaxLength) return nullptr;
  const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  void* block = TwSmallAlloc(BlockSize(bytes));
  if (block == nullptr) return nullptr;
  *static_cast<uint32_t*>(block) = static_cast<uint32_t>(bytes);
  BSTR s = reinterpret_cast<BSTR>(static_cast<char*>(block) + sizeof(uint32_t));
  if (text != nullptr && length != 0) std::memcpy(s, text, bytes);
  s[length] = 0;
  return s;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  UINT n = 0;
  while (text[n] != 0) {
    if (n == kMaxLength) return nullptr;
    ++n;
  }
  return Allocate(text, n);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) { return Allocate(text, length); }

int SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (target == nullptr) return FALSE;
  // The new text may live inside the old string: copy first, free after.
  BSTR fresh = SysAllocString(text);
  if (fresh == nullptr && text != nullptr) return FALSE;
  SysFreeString(*target);
  *target = fresh;
  return TRUE;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) TwSmallFree(PrefixOf(text), BlockSize(*PrefixOf(text)));
}

UINT SysStringLen(BSTR text) { return text ? *PrefixOf(text) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR text) { return text ? *PrefixOf(text) : 0; }

}  // extern "C"
