// Copying what a reader stands on: WriteNodeShallow, WriteNode and
// WriteAttributes. Nodes go through the public calls, so a copied node is
// checked like any other call; only CDATA and namespace declarations need
// the writer's inside (see below).
#include <string>

#include "writer_text.h"
#include "xml_chars.h"
#include "xml_writer.h"

namespace twxml::xmlwriter {

namespace {

// One string of the reader's current node; the reader keeps it until it moves.
struct ReaderText {
  LPCWSTR text = u"";
  UINT length = 0;
};

HRESULT take(IXmlReader* r, HRESULT (IXmlReader::*get)(LPCWSTR*, UINT*), ReaderText* out) {
  HRESULT hr = (r->*get)(&out->text, &out->length);
  if (FAILED(hr)) return hr;
  if (!out->text) *out = ReaderText();
  return S_OK;
}

// The value of a pseudo-attribute of a declaration or document type node
// (such as "standalone" or "SYSTEM"); null when it is absent. The reader is
// back on the node afterwards.
HRESULT pseudoAttribute(IXmlReader* r, LPCWSTR name, std::u16string* value, bool* present) {
  *present = false;
  HRESULT hr = r->MoveToAttributeByName(name, nullptr);
  if (hr == S_OK) {
    ReaderText v;
    hr = take(r, &IXmlReader::GetValue, &v);
    if (SUCCEEDED(hr)) {
      value->assign(v.text, v.length);
      *present = true;
    }
    r->MoveToElement();
  }
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace

HRESULT XmlWriter::WriteAttributes(IXmlReader* reader, BOOL writeDefaultAttributes) {
  return readyCall([&]() -> HRESULT {
    if (!reader) return E_INVALIDARG;
    return copyAttributes(reader, writeDefaultAttributes);
  });
}

// On an element: all its attributes; on an attribute: that one and those
// after it. The reader ends where it started. Other nodes have none.
HRESULT XmlWriter::copyAttributes(IXmlReader* reader, BOOL writeDefaults) {
  XmlNodeType type;
  HRESULT hr = reader->GetNodeType(&type);
  if (FAILED(hr)) return hr;
  ReaderText startLocal, startUri;
  std::u16string local0, uri0;
  if (type == XmlNodeType_Attribute) {
    if (FAILED(hr = take(reader, &IXmlReader::GetLocalName, &startLocal)) ||
        FAILED(hr = take(reader, &IXmlReader::GetNamespaceUri, &startUri)))
      return hr;
    // Kept apart: the reader's strings last only until it moves.
    local0.assign(startLocal.text, startLocal.length);
    uri0.assign(startUri.text, startUri.length);
  } else if (type == XmlNodeType_Element) {
    hr = reader->MoveToFirstAttribute();
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  } else {
    return S_OK;
  }
  // Declarations go out as the reader has them, even where one in scope
  // already says the same.
  copying_ = true;
  HRESULT result = S_OK;
  do {
    if (!writeDefaults && reader->IsDefault()) continue;
    ReaderText prefix, local, uri, value;
    if (FAILED(result = take(reader, &IXmlReader::GetPrefix, &prefix)) ||
        FAILED(result = take(reader, &IXmlReader::GetLocalName, &local)) ||
        FAILED(result = take(reader, &IXmlReader::GetNamespaceUri, &uri)) ||
        FAILED(result = take(reader, &IXmlReader::GetValue, &value)) ||
        FAILED(result = attribute(prefix.text, local.text, uri.text, detail::view(value.text))))
      break;
  } while ((hr = reader->MoveToNextAttribute()) == S_OK);
  copying_ = false;
  if (SUCCEEDED(result) && FAILED(hr)) result = hr;
  if (type == XmlNodeType_Element) {
    reader->MoveToElement();
  } else {
    reader->MoveToAttributeByName(local0.c_str(), uri0.empty() ? nullptr : uri0.c_str());
  }
  return result;
}

// CDATA whose characters the output encoding lacks is split around them,
// and each goes out as a character reference: the text stays the same.
HRESULT XmlWriter::copyCData(const char16_t* s, size_t n) {
  std::u16string piece;
  size_t run = 0;
  for (size_t i = 0; i < n;) {
    const size_t at = i;
    uint32_t c = s[i++];
    if (isHighSurrogate(c) && i < n && isLowSurrogate(s[i]))
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00u);
    if (c < sink_.reprLimit() || sink_.representable(c)) continue;
    HRESULT hr;
    if (at > run) {
      piece.assign(s + run, at - run);
      if (FAILED(hr = WriteCData(piece.c_str()))) return hr;
    }
    if (FAILED(hr = readyCall([&] { return writeCharRefCall(c); }))) return hr;
    run = i;
  }
  if (run == 0 || run < n) {
    piece.assign(s + run, n - run);
    return WriteCData(piece.c_str());
  }
  return S_OK;
}

HRESULT XmlWriter::WriteNodeShallow(IXmlReader* reader, BOOL writeDefaultAttributes) {
  return readyCall([&]() -> HRESULT {
    if (!reader) return E_INVALIDARG;
    XmlNodeType type;
    HRESULT hr = reader->GetNodeType(&type);
    return FAILED(hr) ? hr : copyNode(reader, writeDefaultAttributes, type);
  });
}

// The node the reader stands on, without moving it (but for an attribute's
// name look-ups, after which it is back).
HRESULT XmlWriter::copyNode(IXmlReader* reader, BOOL writeDefaults, XmlNodeType type) {
  HRESULT hr;
  ReaderText name, value;
  switch (type) {
    case XmlNodeType_Element: {
      ReaderText prefix, local, uri;
      if (FAILED(hr = take(reader, &IXmlReader::GetPrefix, &prefix)) ||
          FAILED(hr = take(reader, &IXmlReader::GetLocalName, &local)) ||
          FAILED(hr = take(reader, &IXmlReader::GetNamespaceUri, &uri)))
        return hr;
      // A non-null prefix and URI: the element takes exactly the namespace
      // the reader found, through the prefix the document used.
      if (FAILED(hr = WriteStartElement(prefix.text, local.text, uri.text))) return hr;
      if (FAILED(hr = copyAttributes(reader, writeDefaults))) return hr;
      return reader->IsEmptyElement() ? WriteEndElement() : S_OK;
    }
    case XmlNodeType_Attribute: {
      ReaderText prefix, local, uri;
      if (FAILED(hr = take(reader, &IXmlReader::GetPrefix, &prefix)) ||
          FAILED(hr = take(reader, &IXmlReader::GetLocalName, &local)) ||
          FAILED(hr = take(reader, &IXmlReader::GetNamespaceUri, &uri)) ||
          FAILED(hr = take(reader, &IXmlReader::GetValue, &value)))
        return hr;
      copying_ = true;
      hr = attribute(prefix.text, local.text, uri.text, detail::view(value.text));
      copying_ = false;
      return hr;
    }
    case XmlNodeType_EndElement:
      return WriteFullEndElement();
    case XmlNodeType_Text:
      if (FAILED(hr = take(reader, &IXmlReader::GetValue, &value))) return hr;
      return WriteChars(value.text, value.length);
    case XmlNodeType_Whitespace:
      if (FAILED(hr = take(reader, &IXmlReader::GetValue, &value))) return hr;
      // With indentation the writer breaks lines between top-level nodes.
      return indent_ && stack_.empty() ? S_OK : WriteWhitespace(value.text);
    case XmlNodeType_CDATA:
      if (FAILED(hr = take(reader, &IXmlReader::GetValue, &value))) return hr;
      return copyCData(value.text, value.length);
    case XmlNodeType_Comment:
      if (FAILED(hr = take(reader, &IXmlReader::GetValue, &value))) return hr;
      return WriteComment(value.text);
    case XmlNodeType_ProcessingInstruction:
      if (FAILED(hr = take(reader, &IXmlReader::GetLocalName, &name)) ||
          FAILED(hr = take(reader, &IXmlReader::GetValue, &value)))
        return hr;
      return WriteProcessingInstruction(name.text, value.text);
    case XmlNodeType_DocumentType: {
      std::u16string root, subset, pub, sys;
      bool hasPub, hasSys;
      if (FAILED(hr = take(reader, &IXmlReader::GetQualifiedName, &name))) return hr;
      root.assign(name.text, name.length);
      if (FAILED(hr = take(reader, &IXmlReader::GetValue, &value))) return hr;
      subset.assign(value.text, value.length);
      if (FAILED(hr = pseudoAttribute(reader, u"PUBLIC", &pub, &hasPub)) ||
          FAILED(hr = pseudoAttribute(reader, u"SYSTEM", &sys, &hasSys)))
        return hr;
      return WriteDocType(root.c_str(), hasPub ? pub.c_str() : nullptr,
                          hasSys ? sys.c_str() : nullptr, subset.empty() ? nullptr : subset.c_str());
    }
    case XmlNodeType_XmlDeclaration: {
      std::u16string standalone;
      bool present;
      if (FAILED(hr = pseudoAttribute(reader, u"standalone", &standalone, &present))) return hr;
      XmlStandalone s = !present                ? XmlStandalone_Omit
                        : standalone == u"yes" ? XmlStandalone_Yes
                                                : XmlStandalone_No;
      return WriteStartDocument(s);
    }
    default:
      return S_OK;  // nothing to copy (a reader that has not started)
  }
}

// The node and, for an element start, all up to its end; then the reader
// moves on: S_OK on the next node, S_FALSE at the end of the input. A reader
// that has not started is copied to its end.
HRESULT XmlWriter::WriteNode(IXmlReader* reader, BOOL writeDefaultAttributes) {
  return readyCall([&]() -> HRESULT {
    if (!reader) return E_INVALIDARG;
    XmlNodeType type;
    HRESULT hr = reader->GetNodeType(&type);
    if (FAILED(hr)) return hr;
    const bool all = type == XmlNodeType_None;
    if (all) {
      if ((hr = reader->Read(&type)) != S_OK) return hr;
      // Only UTF-8 and UTF-16 are told without a declaration: a document
      // copied into another encoding gets one even if its input had none.
      if (!started_ && mode_ != Mode::Fragment && type != XmlNodeType_XmlDeclaration &&
          sink_.spec().kind == EncodingKind::Iconv && FAILED(hr = WriteStartDocument(XmlStandalone_Omit)))
        return hr;
    } else if (type == XmlNodeType_Attribute) {
      reader->MoveToElement();
      type = XmlNodeType_Element;
    }
    // Depth counted here, not in the reader: nesting costs no stack.
    size_t open = 0;
    for (;;) {
      if (FAILED(hr = copyNode(reader, writeDefaultAttributes, type))) return hr;
      if (type == XmlNodeType_Element && !reader->IsEmptyElement()) ++open;
      if (type == XmlNodeType_EndElement && open > 0) --open;
      if ((hr = reader->Read(&type)) != S_OK) return hr;
      if (!all && open == 0) return S_OK;
    }
  });
}

}  // namespace twxml::xmlwriter
