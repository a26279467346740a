// Test-side text conversion through iconv, independent of the library's own
// converters: bytes in one encoding to bytes in another.
#pragma once

#include <iconv.h>

#include <string>

namespace twtest {

// False when iconv lacks an encoding or the text does not convert whole.
inline bool convert(const std::string& in, const char* from, const char* to, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  char* dst = out->data();
  size_t srcLeft = in.size(), dstLeft = out->size();
  size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  out->resize(out->size() - dstLeft);
  return rc != static_cast<size_t>(-1) && srcLeft == 0;
}

// UTF-16 code units (as the library hands them out) to UTF-8.
inline std::string utf8(const char16_t* s, size_t n) {
  std::string out;
  if (s) convert(std::string(reinterpret_cast<const char*>(s), n * 2), "UTF-16LE", "UTF-8", &out);
  return out;
}
inline std::string utf8(const std::u16string& s) { return utf8(s.data(), s.size()); }

}  // namespace twtest
