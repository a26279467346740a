// The writer's calls that take UTF-8: names are widened on the stack (they
// are short and the namespace scope keeps UTF-16), values and text are
// checked, escaped and encoded straight from their UTF-8.
#include "twxml/platform/utf.h"
#include "writer_text.h"
#include "xml_writer.h"

namespace twxml::xmlwriter {

using namespace detail;

namespace {

// An ASCII NCName shorter than kPlainNameMax.
bool ShortAsciiNCName(const char* name, size_t* length) {
  if (name == nullptr) return false;
  const auto* s = reinterpret_cast<const unsigned char*>(name);
  if (!(kNameTable.c[s[0]] & 1)) return false;
  size_t n = 1;
  while (kNameTable.c[s[n]] & 2) ++n;  // stops at the terminating zero, at the latest
  if (s[n] != 0 || n >= XmlWriter::kPlainNameMax) return false;
  *length = n;
  return true;
}

// An unprefixed name in no namespace given, ASCII, a valid NCName and short:
// one that needs neither namespace work nor widening.
bool PlainName(const char* prefix, const char* local, const char* uri, size_t* length) {
  if ((prefix != nullptr && *prefix != 0) || uri != nullptr) return false;
  return ShortAsciiNCName(local, length);
}

// A namespace URI of ASCII characters only, not too long to look at in place.
bool ShortAsciiText(const char* text, size_t* length) {
  if (text == nullptr || *text == 0) return false;
  const size_t n = strnlen(text, 257);
  if (n > 256 || twxml::utf::AsciiPrefix(reinterpret_cast<const unsigned char*>(text), n) != n)
    return false;
  *length = n;
  return true;
}

}  // namespace

HRESULT XmlWriter::WriteStartElementUtf8(const char* prefix, const char* localName,
                                         const char* namespaceUri) {
  return guarded([&] {
    size_t n;
    if (asciiPlain_ && PlainName(prefix, localName, namespaceUri, &n))
      return startPlainElement(std::string_view(localName, n));
    const twxml::utf::WideZ p(prefix), local(localName), uri(namespaceUri);
    return startElement(p.get(), local.get(), uri.get());
  });
}

HRESULT XmlWriter::WriteAttributeStringUtf8(const char* prefix, const char* localName,
                                            const char* namespaceUri, const char* value,
                                            size_t valueLength) {
  return guarded([&] {
    const std::string_view v = value ? std::string_view(value, valueLength) : std::string_view();
    size_t n, pn, un;
    if (asciiPlain_ && PlainName(prefix, localName, namespaceUri, &n) &&
        std::string_view(localName, n) != "xmlns")
      return plainAttribute(std::string_view(localName, n), v);
    HRESULT hr;
    if (asciiPlain_ && ShortAsciiNCName(prefix, &pn) && ShortAsciiNCName(localName, &n) &&
        ShortAsciiText(namespaceUri, &un) &&
        boundAttribute(std::string_view(prefix, pn), std::string_view(localName, n),
                       std::string_view(namespaceUri, un), v, &hr))
      return hr;
    const twxml::utf::WideZ p(prefix), local(localName), uri(namespaceUri);
    return attribute(p.get(), local.get(), uri.get(), v);
  });
}

HRESULT XmlWriter::WriteStringUtf8(const char* text, size_t length) {
  return guarded([&] { return contentCall(text, text ? length : 0, false); });
}

}  // namespace twxml::xmlwriter
