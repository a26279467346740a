// Text conversion and the forms text takes in the commands' output.
#include "text.h"

#include <climits>
#include <cstdio>

namespace twxml_cli {

namespace {

// The platform converts at most INT_MAX units per call: longer text goes in
// pieces that never split a surrogate pair.
constexpr size_t kPiece = size_t(1) << 28;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string Utf8(const WCHAR* text, size_t length) {
  std::string out;
  size_t done = 0;
  while (done < length) {
    size_t n = length - done < kPiece ? length - done : kPiece;
    if (done + n < length && text[done + n - 1] >= 0xD800 && text[done + n - 1] < 0xDC00) --n;
    const int units = static_cast<int>(n);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text + done, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) break;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text + done, units, out.data() + at, bytes, nullptr, nullptr);
    done += n;
  }
  return out;
}

std::string Utf8(const WCHAR* text) {
  if (text == nullptr) return std::string();
  size_t n = 0;
  while (text[n] != 0) ++n;
  return Utf8(text, n);
}

std::u16string Utf16(std::string_view text) {
  std::u16string out;
  if (text.empty() || text.size() > INT_MAX) return out;
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (units <= 0) return out;
  out.resize(static_cast<size_t>(units));
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), units);
  return out;
}

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
