// Wide text to narrow text in the thread's code page.
#include <climits>
#include <cstdint>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"

namespace {

// Eight units per step. A 16-byte load that does not reach into another page
// (any aligned one, and a first one checked for it) cannot fault when it
// looks at units after the terminator; the address and thread checkers would
// still call that out of bounds (or a race with whoever owns those bytes).
#ifdef __SSE2__
__attribute__((no_sanitize("address", "thread")))
#endif
size_t WideLength(const WCHAR* text) {
  size_t n = 0;
#ifdef __SSE2__
  const uintptr_t a = reinterpret_cast<uintptr_t>(text);
  if ((a & 1) == 0) {
    const __m128i zero = _mm_setzero_si128();
    if ((a & 4095) <= 4096 - 16) {
      // The first eight units in one (unaligned) load when they are on one
      // page: short texts end here.
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
      const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
      if (zeros != 0) return static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(zeros))) / 2;
      n = (16 - (a & 15)) / 2;  // the next aligned unit, all before it seen
    } else {
      for (; (reinterpret_cast<uintptr_t>(text + n) & 15) != 0; ++n) {
        if (text[n] == 0) return n;
      }
    }
    for (;; n += 8) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(text + n));
      const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
      if (zeros != 0) return n + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(zeros))) / 2;
    }
  }
#endif
  while (text[n] != 0) ++n;
  return n;
}

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
// takes at most room bytes.
size_t PrefixThatFits(const WCHAR* text, size_t len, size_t room) {
  if (GetACP() == CP_UTF8) {
    // Byte counts of the UTF-8 form, as the converter writes them (a lone
    // surrogate becomes the 3-byte replacement character).
    size_t used = 0, k = 0;
    while (k < len) {
      const uint32_t u = text[k];
      size_t units = 1, bytes;
      if (u < 0x80) bytes = 1;
      else if (u < 0x800) bytes = 2;
      else if (u >= 0xD800 && u <= 0xDBFF && k + 1 < len && text[k + 1] >= 0xDC00 &&
               text[k + 1] <= 0xDFFF) {
        bytes = 4;
        units = 2;
      } else bytes = 3;
      if (used + bytes > room) break;
      used += bytes;
      k += units;
    }
    return k;
  }
  // Other code pages: the narrow size grows with the prefix, so search it.
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
  if (buffer == nullptr || size == 0) return TWXML_E_NOTFOUND;
  if (text == nullptr) {
    buffer[0] = 0;
    return TWXML_OK;
  }
  const size_t len = WideLength(text);
  if (len == 0) {
    buffer[0] = 0;
    return TWXML_OK;
  }
  if (len > static_cast<size_t>(INT_MAX)) {
    buffer[0] = 0;
    return TWXML_E_NOTFOUND;
  }
  const size_t room = size - 1;
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

}  // extern "C"
