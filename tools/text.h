// Text as the commands handle it: UTF-8 inside, UTF-16 at the library's and
// the platform's interfaces.
#pragma once

#include <string>
#include <string_view>

#include "twxml/platform/com.h"

namespace twxml_cli {

// Zero-terminated UTF-16 to UTF-8 through the library's conversion to the
// thread's code page: the program keeps the C locale, whose code page is
// UTF-8.
std::string Utf8(const WCHAR* text);
// ASCII text (encoding names, declarations) as UTF-16.
std::u16string Widen(std::string_view ascii);

// Leading and trailing white space removed, inner runs of white space that
// hold a line end collapsed to one blank.
std::string Trimmed(std::string_view text);

// Appends text with control characters, line and paragraph separators and
// backslashes escaped (\n, \t, \x7f, \u2028, \\), and the quote character
// too when there is one, so that a value never breaks a line.
void AppendEscaped(std::string* out, std::string_view text, char quote = 0);

}  // namespace twxml_cli
