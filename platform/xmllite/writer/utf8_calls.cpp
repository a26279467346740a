// The writer's calls that take UTF-8: names are widened on the stack (they
// are short and the namespace scope keeps UTF-16), values and text are
// checked, escaped and encoded straight from their UTF-8.
#include "twxml/platform/utf.h"
#include "writer_text.h"
#include "xml_writer.h"

namespace twxml::xmlwriter {

using namespace detail;

HRESULT XmlWriter::WriteStartElementUtf8(const char* prefix, const char* localName,
                                         const char* namespaceUri) {
  return guarded([&] {
    const twxml::utf::WideZ p(prefix), local(localName), uri(namespaceUri);
    return startElement(p.get(), local.get(), uri.get());
  });
}

HRESULT XmlWriter::WriteAttributeStringUtf8(const char* prefix, const char* localName,
                                            const char* namespaceUri, const char* value,
                                            size_t valueLength) {
  return guarded([&] {
    const twxml::utf::WideZ p(prefix), local(localName), uri(namespaceUri);
    return attribute(p.get(), local.get(), uri.get(),
                     value ? std::string_view(value, valueLength) : std::string_view());
  });
}

HRESULT XmlWriter::WriteStringUtf8(const char* text, size_t length) {
  return guarded([&] { return contentCall(text, text ? length : 0, false); });
}

}  // namespace twxml::xmlwriter
