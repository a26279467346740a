// Records written into the library's own model for the XmlInterface writer.
#include "own_writer.h"

#include <cstring>
#include <string_view>
#include <typeinfo>

#include "dom_support.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/win32_internal.h"

namespace twxml_dom {

namespace {

// Narrow text the face converts at all (see WideText), as a view; false for
// a longer one, which is left to the face.
bool Convertible(const char* text, std::string_view* out) {
  const size_t length = std::strlen(text);
  if (length + 1 > kMaxConvertUnits) return false;
  *out = std::string_view(text, length);
  return true;
}

}  // namespace

RecordWriter::RecordWriter(KxXMLParser* parser) {
  // Only the library's own document object follows the rules written here.
  if (parser == nullptr || typeid(*parser) != typeid(KxXMLParserImpl)) return;
  parser_ = static_cast<KxXMLParserImpl*>(parser);
  builder_ = twdom::BuilderOf(parser_->domDocument);
}

bool RecordWriter::Ready() const {
  return builder_ != nullptr && twxml::win32::ThreadCodePageIsUtf8();
}

uint32_t RecordWriter::AppendElement(uint32_t parent, const char* qname, const char* uri) {
  std::string_view name, ns;
  if (qname == nullptr || !Ready() || !Convertible(qname, &name)) return 0;
  if (name.find(':') != name.npos) {
    if (uri != nullptr && !Convertible(uri, &ns)) return 0;
    return builder_->appendElement(parent, name, ns);
  }
  // An unprefixed element with a namespace URI of its own makes that URI
  // the default: left to the face, which keeps it.
  if (uri != nullptr) return 0;
  const BSTR byDefault = parser_->defaultNamespaceUri;
  if (byDefault == nullptr) return builder_->appendElement(parent, name, ns);
  const size_t units = wcslen16(byDefault);
  LocalBuffer<char, 384> utf8;
  if (units > kMaxConvertUnits || !utf8.Reserve(units * 3)) return 0;
  const size_t bytes = twxml::utf::Utf16ToUtf8(byDefault, units, utf8.get());
  return builder_->appendElement(parent, name, std::string_view(utf8.get(), bytes));
}

bool RecordWriter::SetAttribute(uint32_t e, const char* qname, const char* value) {
  std::string_view name, text;
  if (qname == nullptr || !Ready() || !Convertible(qname, &name)) return false;
  if (value != nullptr && !Convertible(value, &text)) return false;
  return builder_->setAttribute(e, name, text);
}

bool RecordWriter::AppendText(uint32_t parent, const char* text) {
  std::string_view data;
  if (!Ready() || (text != nullptr && !Convertible(text, &data))) return false;
  return builder_->appendText(parent, data);
}

uint32_t RecordWriter::RecordOf(KxXMLNode* node) const {
  if (builder_ == nullptr || node == nullptr || typeid(*node) != typeid(KxXMLNodeImpl)) return 0;
  Ref<IXMLDOMNode> domNode(static_cast<KxXMLNodeImpl*>(node)->GetInterfaceP());
  const twdom::NodeRecord* record = twdom::RecordOf(domNode.get());
  return record != nullptr && builder_->owns(*record) ? record->index : 0;
}

KxXMLNode* RecordWriter::NodeOf(uint32_t i) const {
  if (builder_ == nullptr) return nullptr;
  Ref<IXMLDOMNode> domNode(builder_->nodeObject(i));
  return domNode ? new (std::nothrow) KxXMLNodeImpl(domNode.get()) : nullptr;
}

}  // namespace twxml_dom
