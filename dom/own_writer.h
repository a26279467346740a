// The library's own DOM built record by record for the XmlInterface writer:
// elements, attributes and texts go from the caller's narrow text straight
// into the model's store (see RecordBuilder in
// twxml/platform/msxml_internal.h), without a node object, a BSTR or a
// variant for each. Taken while the thread's code page is UTF-8, where the
// narrow text is the UTF-8 the store keeps. Each call does what the face's
// calls named with it would do, or nothing: the caller then makes those calls,
// which give the same result or their refusal.
#pragma once

#include <cstdint>

#include "twxml/document.h"
#include "twxml/platform/msxml_internal.h"

namespace twxml_dom {

class RecordWriter {
 public:
  // Over the document object of parser when it is the library's own over
  // the library's own model; otherwise every call answers 0 / false / null.
  explicit RecordWriter(KxXMLParser* parser);

  // CreateElementP(qname, uri) appended to record parent with
  // AppendElementF: the new element's record.
  uint32_t AppendElement(uint32_t parent, const char* qname, const char* uri);
  // AppendAttributeF(qname, value) on the element of record e.
  bool SetAttribute(uint32_t e, const char* qname, const char* value);
  // AppendTextF(parent's node object, text).
  bool AppendText(uint32_t parent, const char* text);

  // The record of a node object of this document; 0 for any other.
  uint32_t RecordOf(KxXMLNode* node) const;
  // A new node object for record i; null when out of memory.
  KxXMLNode* NodeOf(uint32_t i) const;

 private:
  bool Ready() const;
  KxXMLParserImpl* parser_ = nullptr;
  twdom::RecordBuilder* builder_ = nullptr;
};

}  // namespace twxml_dom
