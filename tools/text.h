// Text as the commands handle it: UTF-8 inside, UTF-16 at the library's and
// the platform's interfaces.
#pragma once

#include <string>
#include <string_view>

#include "twxml/platform/win32.h"

namespace twxml_cli {

// UTF-16 to UTF-8 and back through the platform's code-page conversion.
std::string Utf8(const WCHAR* text, size_t length);
std::string Utf8(const WCHAR* text);
std::u16string Utf16(std::string_view text);

// Leading and trailing white space removed, inner runs of white space that
// hold a line end collapsed to one blank.
std::string Trimmed(std::string_view text);

// Appends text with control characters, line and paragraph separators and
// backslashes escaped (\n, \t, \x7f, \u2028, \\), and the quote character
// too when there is one, so that a value never breaks a line.
void AppendEscaped(std::string* out, std::string_view text, char quote = 0);

}  // namespace twxml_cli
