// Text conversion and the forms text takes in the commands' output.
#include "text.h"

#include <cstdio>

#include "twxml/kernel.h"

namespace twxml_cli {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string Utf8(const WCHAR* text) {
  char* narrow = nullptr;
  if (text == nullptr || *text == 0 || VarCnvBStrToStrF(text, &narrow) != 0) return std::string();
  std::string out(narrow);
  MemFreeF(narrow);
  return out;
}

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Trimmed(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string out;
  out.reserve(e - b);
  for (size_t i = b; i < e;) {
    if (!IsBlank(text[i])) {
      out += text[i++];
      continue;
    }
    size_t j = i;
    bool lineEnd = false;
    for (; j < e && IsBlank(text[j]); ++j) lineEnd |= text[j] == '\n' || text[j] == '\r';
    if (lineEnd) {
      out += ' ';
    } else {
      out.append(text, i, j - i);
    }
    i = j;
  }
  return out;
}

void AppendEscaped(std::string* out, std::string_view text, char quote) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char escape[8] = {0};
    if (c == '\\' || (quote != 0 && c == static_cast<unsigned char>(quote))) {
      escape[0] = '\\';
      escape[1] = static_cast<char>(c);
    } else if (c == '\n') {
      std::snprintf(escape, sizeof escape, "\\n");
    } else if (c == '\t') {
      std::snprintf(escape, sizeof escape, "\\t");
    } else if (c == '\r') {
      std::snprintf(escape, sizeof escape, "\\r");
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // C1 controls, U+0085 (next line) among them.
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[++i]));
    } else if (c == 0xE2 && text.substr(i, 2) == "\xE2\x80" && i + 2 < text.size() &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      std::snprintf(escape, sizeof escape, "\\u%04x", text[i + 2] == '\xA8' ? 0x2028 : 0x2029);
      i += 2;
    } else {
      *out += static_cast<char>(c);
      continue;
    }
    *out += escape;
  }
}

}  // namespace twxml_cli
