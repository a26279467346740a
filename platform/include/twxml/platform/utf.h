// UTF-8 and UTF-16 conversions shared by every layer: the code-page calls,
// the narrow-text routines, the streaming reader and writer and the document
// model. Runs of ASCII go through vector kernels of the active level
// (twxml/platform/simd.h); everything else is converted character by
// character, so every level gives the same result.
#pragma once

#include <cstddef>

namespace twxml::utf {

// Well-formed UTF-8 (text a parser has checked) to UTF-16; out has room for
// n units. A sequence cut short by the end becomes U+FFFD. Returns the units
// written.
size_t Utf8ToUtf16(const char* s, size_t n, char16_t* out);

// UTF-16 to UTF-8, a lone surrogate written as U+FFFD; out has room for 3n
// bytes. Returns the bytes written.
size_t Utf16ToUtf8(const char16_t* s, size_t n, char* out);

// Utf16ToUtf8 into room bytes: the longest prefix that fits, cut on a
// character boundary (a surrogate pair goes whole or not at all). *taken
// gets the units converted. Returns the bytes written; nothing is written
// past out[room - 1].
size_t Utf16ToUtf8Prefix(const char16_t* s, size_t n, char* out, size_t room, size_t* taken);

// Bytes Utf16ToUtf8 writes for s.
size_t Utf8Size(const char16_t* s, size_t n);
// Units Utf8ToUtf16 writes for s.
size_t Utf16Size(const char* s, size_t n);

// Units before the zero that ends s.
size_t WideLength(const char16_t* s);

// The leading ASCII run of s[0, n): its length. Widen and Narrow also
// convert it into d and may write d up to d[n - 1] beyond it (the caller
// writes over what lies past the run).
size_t WidenAscii(const unsigned char* s, size_t n, char16_t* d);
size_t NarrowAscii(const char16_t* s, size_t n, char* d);
size_t AsciiPrefix(const unsigned char* s, size_t n);
size_t AsciiPrefix(const char16_t* s, size_t n);

}  // namespace twxml::utf
