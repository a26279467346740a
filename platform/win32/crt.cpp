// C-runtime extras the library is written against and the C library lacks.
// The bounded copies never write past the destination size: on overflow the
// destination becomes the empty text and the result says why.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <unistd.h>

#include "internal.h"

namespace {

constexpr int kNlsCompareError = INT_MAX;  // answer of a comparison with a null text

inline int FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

}  // namespace

extern "C" {

int _access(const char* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  int how;
  switch (mode) {
    case 0: how = F_OK; break;
    case 2: how = W_OK; break;
    case 4: how = R_OK; break;
    case 6: how = R_OK | W_OK; break;
    default: errno = EINVAL; return -1;
  }
  return ::access(path, how) == 0 ? 0 : -1;
}

int _stricmp(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) {
    errno = EINVAL;
    return kNlsCompareError;
  }
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    const int d = FoldAscii(*x) - FoldAscii(*y);
    if (d != 0 || *x == 0) return d;
  }
}

int _strnicmp(const char* a, const char* b, size_t n) {
  if (n == 0) return 0;
  if (a == nullptr || b == nullptr) {
    errno = EINVAL;
    return kNlsCompareError;
  }
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i) {
    const int d = FoldAscii(x[i]) - FoldAscii(y[i]);
    if (d != 0 || x[i] == 0) return d;
  }
  return 0;
}

errno_t strcpy_s(char* dst, size_t dstSize, const char* src) {
  if (dst == nullptr || dstSize == 0) return EINVAL;
  if (src == nullptr) {
    dst[0] = 0;
    return EINVAL;
  }
  const size_t n = strnlen(src, dstSize);
  if (n >= dstSize) {
    dst[0] = 0;
    return ERANGE;
  }
  std::memmove(dst, src, n + 1);
  return 0;
}

errno_t strcat_s(char* dst, size_t dstSize, const char* src) {
  if (dst == nullptr || dstSize == 0) return EINVAL;
  if (src == nullptr) {
    dst[0] = 0;
    return EINVAL;
  }
  const size_t have = strnlen(dst, dstSize);
  if (have >= dstSize) {  // destination not terminated inside its size
    dst[0] = 0;
    return EINVAL;
  }
  const size_t add = strnlen(src, dstSize - have);
  if (have + add >= dstSize) {
    dst[0] = 0;
    return ERANGE;
  }
  std::memmove(dst + have, src, add + 1);
  return 0;
}

int sprintf_s(char* dst, size_t dstSize, const char* format, ...) {
  if (dst == nullptr || dstSize == 0) {
    errno = EINVAL;
    return -1;
  }
  if (format == nullptr) {
    dst[0] = 0;
    errno = EINVAL;
    return -1;
  }
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(dst, dstSize, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= dstSize) {
    dst[0] = 0;
    errno = n < 0 ? EINVAL : ERANGE;
    return -1;
  }
  return n;
}

errno_t _itoa_s(int value, char* dst, size_t dstSize, int radix) {
  if (dst == nullptr || dstSize == 0) return EINVAL;
  if (radix < 2 || radix > 36) {
    dst[0] = 0;
    return EINVAL;
  }
  // Only decimal gets a sign; other radixes show the two's-complement bits.
  const bool negative = radix == 10 && value < 0;
  unsigned int u = negative ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  char digits[40];
  size_t n = 0;
  do {
    const unsigned int d = u % static_cast<unsigned int>(radix);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    u /= static_cast<unsigned int>(radix);
  } while (u != 0);
  const size_t need = n + (negative ? 1 : 0) + 1;
  if (need > dstSize) {
    dst[0] = 0;
    return ERANGE;
  }
  size_t at = 0;
  if (negative) dst[at++] = '-';
  while (n > 0) dst[at++] = digits[--n];
  dst[at] = 0;
  return 0;
}

const WCHAR* wcschr16(const WCHAR* text, WCHAR ch) {
  if (text == nullptr) return nullptr;
  for (;; ++text) {
    if (*text == ch) return text;
    if (*text == 0) return nullptr;
  }
}

errno_t wcscpy16_s(WCHAR* dst, size_t dstSize, const WCHAR* src) {
  if (dst == nullptr || dstSize == 0) return EINVAL;
  if (src == nullptr) {
    dst[0] = 0;
    return EINVAL;
  }
  size_t n = 0;
  while (n < dstSize && src[n] != 0) ++n;
  if (n >= dstSize) {
    dst[0] = 0;
    return ERANGE;
  }
  std::memmove(dst, src, (n + 1) * sizeof(WCHAR));
  return 0;
}

size_t wcslen16(const WCHAR* text) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // extern "C"
