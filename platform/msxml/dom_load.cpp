// The loader: drives the in-process pull reader and builds records as nodes
// arrive, with an explicit parent stack (no recursion by depth).
#include <vector>

#include "dom_objects.h"
#include "twxml/platform/xmllite.h"

namespace twdom {

namespace {

struct Reason {
  HRESULT code;
  const char16_t* text;
};

const Reason kReasons[] = {
    {MX_E_INPUTEND, u"Unexpected end of input."},
    {MX_E_ENCODING, u"The document's encoding is not recognised."},
    {MX_E_ENCODINGSWITCH, u"Switching from the detected encoding to the declared one is not supported."},
    {MX_E_ENCODINGSIGNATURE, u"The encoding signature (byte order mark) is not recognised."},
    {WC_E_WHITESPACE, u"White space was expected."},
    {WC_E_SEMICOLON, u"A semicolon was expected."},
    {WC_E_GREATERTHAN, u"'>' was expected."},
    {WC_E_QUOTE, u"A quote was expected."},
    {WC_E_EQUAL, u"'=' was expected."},
    {WC_E_LESSTHAN, u"'<' is not allowed in an attribute value."},
    {WC_E_HEXDIGIT, u"A hexadecimal digit was expected."},
    {WC_E_DIGIT, u"A decimal digit was expected."},
    {WC_E_LEFTBRACKET, u"'[' was expected."},
    {WC_E_LEFTPAREN, u"'(' was expected."},
    {WC_E_XMLCHARACTER, u"The document holds a character that XML does not allow."},
    {WC_E_NAMECHARACTER, u"A name holds a character that names do not allow."},
    {WC_E_SYNTAX, u"Syntax error."},
    {WC_E_CDSECT, u"Malformed CDATA section."},
    {WC_E_COMMENT, u"Malformed comment."},
    {WC_E_CONDSECT, u"Malformed conditional section."},
    {WC_E_DECLATTLIST, u"Malformed attribute-list declaration."},
    {WC_E_DECLDOCTYPE, u"Malformed document type declaration."},
    {WC_E_DECLELEMENT, u"Malformed element declaration."},
    {WC_E_DECLENTITY, u"Malformed entity declaration."},
    {WC_E_DECLNOTATION, u"Malformed notation declaration."},
    {WC_E_NDATA, u"NDATA was expected."},
    {WC_E_PUBLIC, u"PUBLIC was expected."},
    {WC_E_SYSTEM, u"SYSTEM was expected."},
    {WC_E_NAME, u"A name was expected."},
    {WC_E_ROOTELEMENT, u"An XML document must have exactly one top level element."},
    {WC_E_ELEMENTMATCH, u"The end tag does not match the start tag."},
    {WC_E_UNIQUEATTRIBUTE, u"An attribute appears twice on one element."},
    {WC_E_TEXTXMLDECL, u"Malformed text or XML declaration."},
    {WC_E_LEADINGXML, u"A processing instruction target matching 'xml' is reserved."},
    {WC_E_TEXTDECL, u"Malformed text declaration."},
    {WC_E_XMLDECL, u"Malformed XML declaration."},
    {WC_E_ENCNAME, u"Malformed encoding name."},
    {WC_E_PUBLICID, u"Malformed public identifier."},
    {WC_E_PESINTERNALSUBSET, u"Parameter entity references are not allowed inside markup in the internal subset."},
    {WC_E_PESBETWEENDECLS, u"Malformed parameter entity reference."},
    {WC_E_NORECURSION, u"An entity refers to itself."},
    {WC_E_ENTITYCONTENT, u"Malformed entity replacement text."},
    {WC_E_UNDECLAREDENTITY, u"Reference to an undeclared entity."},
    {WC_E_PARSEDENTITY, u"Reference to an unparsed entity."},
    {WC_E_NOEXTERNALENTITYREF, u"External entity references are not allowed in attribute values."},
    {WC_E_PI, u"Malformed processing instruction."},
    {WC_E_SYSTEMID, u"Malformed system identifier."},
    {WC_E_QUESTIONMARK, u"'?' was expected."},
    {WC_E_CDSECTEND, u"']]>' is not allowed in text."},
    {WC_E_MOREDATA, u"Only one top level element is allowed in an XML document."},
    {WC_E_DTDPROHIBITED, u"A document type declaration is not allowed."},
    {WC_E_INVALIDXMLSPACE, u"xml:space must be 'default' or 'preserve'."},
    {NC_E_NAMECOLON, u"A name holds a misplaced colon."},
    {NC_E_QNAMECHARACTER, u"A qualified name holds a character that names do not allow."},
    {NC_E_QNAMECOLON, u"A qualified name holds more than one colon."},
    {NC_E_NAMESPACE, u"Reference to an undeclared namespace prefix."},
    {NC_E_UNDECLAREDPREFIX, u"Reference to an undeclared namespace prefix."},
    {NC_E_EMPTYURI, u"A namespace prefix cannot be bound to an empty name."},
    {NC_E_XMLPREFIXRESERVED, u"The prefix 'xml' is reserved."},
    {NC_E_XMLNSPREFIXRESERVED, u"The prefix 'xmlns' is reserved."},
    {NC_E_XMLURIRESERVED, u"The XML namespace name is reserved."},
    {NC_E_XMLNSURIRESERVED, u"The xmlns namespace name is reserved."},
    {SC_E_MAXELEMENTDEPTH, u"The document nests elements too deeply."},
    {SC_E_MAXENTITYEXPANSION, u"Entity expansion exceeds the limit."},
    {E_OUTOFMEMORY, u"Out of memory."},
};

std::u16string ReasonFor(HRESULT hr) {
  for (const Reason& r : kReasons) {
    if (r.code == hr) return r.text;
  }
  return u"The document could not be read.";
}

/* Builds records from reader events. */
class Builder {
 public:
  Builder(Store* s, IXmlReader* r, bool preserveAll) : s_(s), r_(r), preserveAll_(preserveAll) {
    parents_.push_back(kDocIndex);
    keep_.push_back(preserveAll);
  }

  HRESULT run(const std::u16string* declData) {
    XmlNodeType type;
    HRESULT hr;
    while ((hr = r_->Read(&type)) == S_OK) {
      switch (type) {
        case XmlNodeType_Element:
          hr = element();
          break;
        case XmlNodeType_EndElement:
          if (parents_.size() > 1) {
            parents_.pop_back();
            keep_.pop_back();
          }
          lastText_ = 0;
          break;
        case XmlNodeType_Whitespace:
          if (!keep_.back()) break;
          [[fallthrough]];
        case XmlNodeType_Text:
          hr = text();
          break;
        case XmlNodeType_CDATA:
          hr = leaf(kCData, 0);
          break;
        case XmlNodeType_Comment:
          hr = leaf(kComment, 0);
          break;
        case XmlNodeType_ProcessingInstruction: {
          LPCWSTR t = nullptr;
          UINT tl = 0;
          hr = r_->GetLocalName(&t, &tl);
          if (SUCCEEDED(hr)) hr = leaf(kPI, name(t, tl, 0));
          break;
        }
        case XmlNodeType_XmlDeclaration:
          hr = declaration(declData);
          break;
        default:
          break;  // document type: entities are expanded by the reader
      }
      if (FAILED(hr)) return hr;
    }
    if (FAILED(hr)) return hr;
    for (uint32_t c = s_->firstChild(kDocIndex); c; c = s_->nextSibling(c)) {
      if (s_->node(c).kind() == kElement) return S_OK;
    }
    return WC_E_ROOTELEMENT;
  }

 private:
  uint32_t ns(LPCWSTR uri, UINT len) {
    if (len == 0) return 0;
    if (len == lastUriLen_ && std::memcmp(uri, lastUri_.data(), len * 2) == 0) return lastNs_;
    lastNs_ = s_->internNs(uri, len);
    lastUri_.assign(uri, len);
    lastUriLen_ = len;
    return lastNs_;
  }

  uint32_t name(LPCWSTR q, UINT ql, uint32_t nsId) {
    uint32_t id = s_->internName(q, ql, nsId);
    if (id == ~0u) outOfNames_ = true;
    return id == ~0u ? 0 : id;
  }

  /* Appends record i to the current parent. */
  void append(uint32_t i) { s_->link(parents_.back(), i, 0); }

  HRESULT element() {
    LPCWSTR q = nullptr, u = nullptr;
    UINT ql = 0, ul = 0;
    HRESULT hr = r_->GetQualifiedName(&q, &ql);
    if (SUCCEEDED(hr)) hr = r_->GetNamespaceUri(&u, &ul);
    if (FAILED(hr)) return hr;
    uint32_t el = s_->newNode(kElement, name(q, ql, ns(u, ul)));
    if (!el || outOfNames_) return E_OUTOFMEMORY;
    append(el);
    lastText_ = 0;
    bool empty = r_->IsEmptyElement();
    bool keep = keep_.back();
    for (hr = r_->MoveToFirstAttribute(); hr == S_OK; hr = r_->MoveToNextAttribute()) {
      LPCWSTR v = nullptr;
      UINT vl = 0;
      hr = r_->GetQualifiedName(&q, &ql);
      if (SUCCEEDED(hr)) hr = r_->GetNamespaceUri(&u, &ul);
      if (SUCCEEDED(hr)) hr = r_->GetValue(&v, &vl);
      if (FAILED(hr)) return hr;
      uint32_t a = s_->newNode(kAttribute, name(q, ql, ns(u, ul)));
      if (!a || outOfNames_ || !s_->setText(a, v, vl)) return E_OUTOFMEMORY;
      if (r_->IsDefault()) s_->node(a).setFlag(kFlagDefaulted);
      s_->linkAttr(el, a);
      if (ql == 9 && std::memcmp(q, u"xml:space", 18) == 0 && !preserveAll_) {
        std::u16string_view val(v, vl);
        if (val == u"preserve") keep = true;
        if (val == u"default") keep = false;
      }
    }
    if (FAILED(hr)) return hr;
    r_->MoveToElement();
    if (!empty) {
      parents_.push_back(el);
      keep_.push_back(keep);
    }
    return S_OK;
  }

  HRESULT text() {
    if (parents_.size() == 1) return S_OK;  // the document holds no text
    LPCWSTR v = nullptr;
    UINT vl = 0;
    HRESULT hr = r_->GetValue(&v, &vl);
    if (FAILED(hr)) return hr;
    if (lastText_) return s_->appendText(lastText_, v, vl) ? S_OK : E_OUTOFMEMORY;
    uint32_t t = s_->newNode(kText, 0);
    if (!t || !s_->setText(t, v, vl)) return E_OUTOFMEMORY;
    append(t);
    lastText_ = t;
    return S_OK;
  }

  HRESULT leaf(Kind k, uint32_t nameId) {
    LPCWSTR v = nullptr;
    UINT vl = 0;
    HRESULT hr = r_->GetValue(&v, &vl);
    if (FAILED(hr)) return hr;
    uint32_t n = s_->newNode(k, nameId);
    if (!n || outOfNames_ || !s_->setText(n, v, vl)) return E_OUTOFMEMORY;
    append(n);
    lastText_ = 0;
    return S_OK;
  }

  HRESULT declaration(const std::u16string* declData) {
    std::u16string data;
    if (declData) {
      data = *declData;
    } else {
      for (HRESULT hr = r_->MoveToFirstAttribute(); hr == S_OK; hr = r_->MoveToNextAttribute()) {
        LPCWSTR q = nullptr, v = nullptr;
        UINT ql = 0, vl = 0;
        if (FAILED(r_->GetQualifiedName(&q, &ql)) || FAILED(r_->GetValue(&v, &vl))) break;
        if (!data.empty()) data += u' ';
        data.append(q, ql);
        data += u"=\"";
        data.append(v, vl);
        data += u'"';
      }
      r_->MoveToElement();
    }
    uint32_t n = s_->newNode(kPI, name(u"xml", 3, 0));
    if (!n || outOfNames_ || !s_->setText(n, data.data(), data.size())) return E_OUTOFMEMORY;
    append(n);
    return S_OK;
  }

  Store* s_;
  IXmlReader* r_;
  bool preserveAll_;
  bool outOfNames_ = false;
  std::vector<uint32_t> parents_;
  std::vector<bool> keep_;
  uint32_t lastText_ = 0;
  std::u16string lastUri_;
  UINT lastUriLen_ = 0;
  uint32_t lastNs_ = 0;
};

}  // namespace

void ResetContent(Store* s) {
  if (s->refCount() == 1) {
    s->reset();
    return;
  }
  while (uint32_t c = s->firstChild(kDocIndex)) s->unlink(c);
}

HRESULT LoadDocument(Store* s, IUnknown* input, const std::u16string* declData) {
  ResetContent(s);
  s->parseError = ParseErrorState();
  IXmlReader* reader = nullptr;
  HRESULT hr = TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&reader));
  if (SUCCEEDED(hr) && !reader) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
  // The builder keeps its own parent stack, so nesting costs memory in
  // proportion to the input only: no depth limit.
  if (SUCCEEDED(hr)) hr = reader->SetProperty(XmlReaderProperty_MaxElementDepth, 0);
  if (SUCCEEDED(hr)) hr = reader->SetInput(input);
  if (SUCCEEDED(hr)) {
    try {
      Builder b(s, reader, s->preserveWhiteSpace);
      hr = b.run(declData);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {
      hr = E_UNEXPECTED;  // nothing may escape a COM call
    }
  }
  if (FAILED(hr)) {
    ParseErrorState& pe = s->parseError;
    pe.code = hr;
    pe.reason = ReasonFor(hr);
    if (reader) {
      UINT line = 0, pos = 0;
      if (SUCCEEDED(reader->GetLineNumber(&line))) pe.line = LONG(line);
      if (SUCCEEDED(reader->GetLinePosition(&pos))) pe.linepos = LONG(pos);
    }
    ResetContent(s);
  }
  if (reader) {
    reader->SetInput(nullptr);
    reader->Release();
  }
  return hr;
}

}  // namespace twdom
