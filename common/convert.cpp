// Wide text to narrow text in the thread's code page.
#include <climits>
#include <cstdint>
#include <cstring>

#include "narrow.h"
#include "twxml/kernel.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/win32_internal.h"

namespace {

// Narrow bytes the first k units of text convert to (0 for k == 0).
int NarrowBytes(const WCHAR* text, size_t k) {
  if (k == 0) return 0;
  return WideCharToMultiByte(CP_THREAD_ACP, 0, text, static_cast<int>(k), nullptr, 0, nullptr,
                             nullptr);
}

// k moved back so it does not split a surrogate pair.
size_t CharBoundary(const WCHAR* text, size_t k) {
  if (k > 0 && text[k - 1] >= 0xD800 && text[k - 1] <= 0xDBFF && text[k] >= 0xDC00 &&
      text[k] <= 0xDFFF) {
    return k - 1;
  }
  return k;
}

// The longest prefix (in units, on a character boundary) whose narrow form
// in a code page other than UTF-8 takes at most room bytes.
size_t PrefixThatFits(const WCHAR* text, size_t len, size_t room) {
  // The narrow size grows with the prefix, so search it.
  size_t lo = 0, hi = len;
  while (lo < hi) {
    const size_t mid = CharBoundary(text, lo + (hi - lo + 1) / 2);
    if (mid <= lo) {
      // Only a surrogate pair starts at lo: take it whole or not at all.
      if (lo + 2 <= hi) {
        const int n = NarrowBytes(text, lo + 2);
        if (n > 0 && static_cast<size_t>(n) <= room) {
          lo += 2;
          continue;
        }
      }
      hi = lo;
      continue;
    }
    const int n = NarrowBytes(text, mid);
    if (n > 0 && static_cast<size_t>(n) <= room) lo = mid;
    else hi = mid - 1;
  }
  return CharBoundary(text, lo);
}

}  // namespace

extern "C" {

int VarCnvBStrToStrF(const WCHAR* text, char** out) {
  if (out == nullptr) return TWXML_E_NOTFOUND;
  *out = nullptr;
  if (text == nullptr) return TWXML_E_NOTFOUND;
  if (twxml::win32::ThreadCodePageIsUtf8()) {
    const size_t len = twxml::utf::WideLength(text);
    const size_t bytes = twxml::utf::Utf8Size(text, len);
    if (bytes >= static_cast<size_t>(INT_MAX)) return TWXML_E_NOTFOUND;
    char* copy = static_cast<char*>(MemAllocP(bytes + 1));
    if (copy == nullptr) return TWXML_E_ALLOC;
    copy[twxml::utf::Utf16ToUtf8(text, len, copy)] = 0;
    *out = copy;
    return TWXML_OK;
  }
  const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return TWXML_E_NOTFOUND;
  char* copy = static_cast<char*>(MemAllocP(static_cast<size_t>(n)));
  if (copy == nullptr) return TWXML_E_ALLOC;
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, copy, n, nullptr, nullptr) != n) {
    MemFreeF(copy);
    return TWXML_E_NOTFOUND;
  }
  copy[n - 1] = 0;
  *out = copy;
  return TWXML_OK;
}

int VarCnvBStrToStrBufF(const WCHAR* text, char* buffer, unsigned int size) {
  return twxml::kernel::NarrowIntoBuffer(text, buffer, size, twxml::win32::ThreadCodePageIsUtf8());
}

}  // extern "C"

int twxml::kernel::NarrowIntoBuffer(const WCHAR* text, char* buffer, unsigned int size, bool utf8) {
  if (buffer == nullptr || size == 0) return TWXML_E_NOTFOUND;
  if (text == nullptr) {
    buffer[0] = 0;
    return TWXML_OK;
  }
  const size_t len = twxml::utf::WideLength(text);
  if (len == 0) {
    buffer[0] = 0;
    return TWXML_OK;
  }
  if (len > static_cast<size_t>(INT_MAX)) {
    buffer[0] = 0;
    return TWXML_E_NOTFOUND;
  }
  const size_t room = size - 1;
  if (utf8) {
    // One pass that stops where the buffer ends, on a character boundary.
    size_t taken = 0;
    buffer[twxml::utf::Utf16ToUtf8Prefix(text, len, buffer, room, &taken)] = 0;
    return taken == len ? TWXML_OK : TWXML_E_NOTFOUND;
  }
  // Most texts fit: one conversion straight into the buffer. Only when it
  // does not fit (or is refused) is the size measured and the text cut.
  if (len <= room && room <= static_cast<size_t>(INT_MAX)) {
    const int direct = WideCharToMultiByte(CP_THREAD_ACP, 0, text, static_cast<int>(len), buffer,
                                           static_cast<int>(room), nullptr, nullptr);
    if (direct > 0) {
      buffer[direct] = 0;
      return TWXML_OK;
    }
  }
  const int whole = NarrowBytes(text, len);
  if (whole <= 0) {
    buffer[0] = 0;
    return TWXML_E_NOTFOUND;
  }
  size_t k = len;
  int status = TWXML_OK;
  if (static_cast<size_t>(whole) > room) {
    k = PrefixThatFits(text, len, room);
    status = TWXML_E_NOTFOUND;
  }
  int written = 0;
  if (k > 0) {
    written = WideCharToMultiByte(CP_THREAD_ACP, 0, text, static_cast<int>(k), buffer,
                                  static_cast<int>(room > INT_MAX ? INT_MAX : room), nullptr, nullptr);
    if (written <= 0) {
      buffer[0] = 0;
      return TWXML_E_NOTFOUND;
    }
  }
  buffer[written] = 0;
  return status;
}

int twxml::kernel::Utf8IntoBuffer(const char* text, size_t n, char* buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) return TWXML_E_NOTFOUND;
  // A text too long for a wide length is refused as its wide form would be.
  if (n > static_cast<size_t>(INT_MAX) && twxml::utf::Utf16Size(text, n) > static_cast<size_t>(INT_MAX)) {
    buffer[0] = 0;
    return TWXML_E_NOTFOUND;
  }
  const size_t room = size - 1;
  size_t keep = n;
  if (n > room) {
    keep = room;
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  }
  std::memcpy(buffer, text, keep);
  buffer[keep] = 0;
  return keep == n ? TWXML_OK : TWXML_E_NOTFOUND;
}
