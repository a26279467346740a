// The document object: node factories, load, save and settings; registered in
// the class table under CLSID_DOMDocument.
#include <new>

#include "dom_objects.h"

namespace twdom {

namespace {

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char16_t(x + 32);
    if (y >= 'A' && y <= 'Z') y = char16_t(y + 32);
    if (x != y) return false;
  }
  return true;
}

/* Node type given as a number or as the type's name. */
bool KindFromVariant(const VARIANT& v, int* kind) {
  if (v.vt == VT_BSTR) {
    static const struct {
      const char16_t* name;
      int kind;
    } kNames[] = {{u"element", NODE_ELEMENT},
                  {u"attribute", NODE_ATTRIBUTE},
                  {u"text", NODE_TEXT},
                  {u"cdatasection", NODE_CDATA_SECTION},
                  {u"processinginstruction", NODE_PROCESSING_INSTRUCTION},
                  {u"comment", NODE_COMMENT}};
    std::u16string_view s(v.bstrVal ? v.bstrVal : u"", Len16(v.bstrVal));
    for (const auto& n : kNames) {
      if (s == n.name) {
        *kind = n.kind;
        return true;
      }
    }
  }
  VARIANT t;
  VariantInit(&t);
  if (FAILED(VariantChangeType(&t, &v, 0, VT_I4))) return false;
  *kind = t.lVal;
  return true;
}

/* Sink writing into an IStream or ISequentialStream, refusing short writes. */
class StreamSink final : public ByteSink {
 public:
  explicit StreamSink(ISequentialStream* s) : s_(s) {}
  HRESULT write(const char* data, size_t n) override {
    while (n) {
      ULONG chunk = ULONG(n > 0x10000000 ? 0x10000000 : n);
      ULONG done = 0;
      HRESULT hr = s_->Write(data, chunk, &done);
      if (FAILED(hr)) return hr;
      if (done != chunk) return STG_E_MEDIUMFULL;
      data += chunk;
      n -= chunk;
    }
    return S_OK;
  }

 private:
  ISequentialStream* s_;
};

}  // namespace

DomDocument::DomDocument(Store* store) : handle_(store, kDocIndex) {
  store->addRef();
  store->document = this;
}

DomDocument::~DomDocument() {
  Store* s = handle_.store;
  s->document = nullptr;
  s->release();
}

ULONG DomDocument::AddRef() { return ++refs_; }

ULONG DomDocument::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT DomDocument::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_TwDomNodeHandle) {
    *out = static_cast<NodeRecord*>(&handle_);
    return S_OK;
  }
  if (iid == IID_TwDomRecordBuilder) {
    *out = static_cast<RecordBuilder*>(this);
    return S_OK;
  }
  if (iid == IID_IUnknown || iid == IID_IXMLDOMNode || iid == IID_IXMLDOMDocument) {
    *out = static_cast<IXMLDOMDocument*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else if (iid == IID_IXMLDOMSkippedReferences) {
    *out = static_cast<IXMLDOMSkippedReferences*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT DomDocument::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID_IXMLDOMDocument || iid == IID_IXMLDOMNode ? S_OK : S_FALSE;
}

HRESULT DomDocument::get_documentElement(IXMLDOMElement** element) try {
  Store* s = handle_.store;
  uint32_t e = 0;
  for (uint32_t c = s->firstChild(kDocIndex); c; c = s->nextSibling(c)) {
    if (s->node(c).kind() == kElement) {
      e = c;
      break;
    }
  }
  return WrapAs(s, e, IID_IXMLDOMElement, reinterpret_cast<void**>(element));
} TWDOM_NO_THROW

HRESULT DomDocument::putref_documentElement(IXMLDOMElement* element) try {
  Store* s = handle_.store;
  if (!element) return Fail(E_INVALIDARG, u"The document element is missing.");
  const NodeRecord* h = RecordOf(element);
  if (!h || h->store != s) return Fail(E_INVALIDARG, u"The element belongs to another document.");
  uint32_t e = h->index;
  if (s->node(e).kind() != kElement) return Fail(E_INVALIDARG, u"Only an element can be the document element.");
  uint32_t old = 0;
  for (uint32_t c = s->firstChild(kDocIndex); c; c = s->nextSibling(c)) {
    if (s->node(c).kind() == kElement) {
      old = c;
      break;
    }
  }
  if (old == e) return S_OK;
  s->unlink(e);
  if (old) {
    s->link(kDocIndex, e, old);
    s->unlink(old);
  } else {
    s->link(kDocIndex, e, 0);
  }
  return S_OK;
} TWDOM_NO_THROW

HRESULT DomDocument::create(int kind, const char16_t* name, size_t nameLen, const char16_t* ns, size_t nsLen,
                            const char16_t* data, size_t dataLen, uint32_t* out) try {
  Store* s = handle_.store;
  *out = 0;
  std::u16string_view q(name ? name : u"", name ? nameLen : 0);
  uint32_t nameId = 0;
  switch (kind) {
    case NODE_ELEMENT:
    case NODE_ATTRIBUTE: {
      if (!IsQName(q.data(), q.size())) return Fail(E_INVALIDARG, u"The name is not a valid XML name.");
      std::u16string_view uri(ns ? ns : u"", ns ? nsLen : 0);
      size_t colon = q.find(u':');
      std::u16string_view pfx = colon == q.npos ? std::u16string_view() : q.substr(0, colon);
      bool isXmlnsAttr = kind == NODE_ATTRIBUTE && (q == u"xmlns" || pfx == u"xmlns");
      if (isXmlnsAttr) {
        if (!uri.empty() && uri != kXmlnsUri) {
          return Fail(E_INVALIDARG, u"A namespace declaration cannot be put in another namespace.");
        }
        uri = kXmlnsUri;
      } else if (pfx == u"xmlns") {
        return Fail(E_INVALIDARG, u"The prefix 'xmlns' is reserved for namespace declarations.");
      } else if (pfx == u"xml") {
        if (!uri.empty() && uri != kXmlUri) return Fail(E_INVALIDARG, u"The prefix 'xml' is bound to the XML namespace.");
        uri = kXmlUri;
      } else if (!uri.empty() && (uri == kXmlnsUri || (uri == kXmlUri && !pfx.empty()))) {
        return Fail(E_INVALIDARG, u"This namespace name is reserved.");
      }
      uint32_t nsId = s->internNs(uri.data(), uri.size());
      nameId = s->internName(q.data(), q.size(), nsId);
      break;
    }
    case NODE_PROCESSING_INSTRUCTION: {
      if (!IsXmlName(q.data(), q.size()) || q.find(u':') != q.npos) {
        return Fail(E_INVALIDARG, u"The processing instruction target is not a valid name.");
      }
      if (q != u"xml" && EqualsNoCase(q, u"xml")) {
        return Fail(E_INVALIDARG, u"Processing instruction targets matching 'xml' are reserved.");
      }
      if (q == u"xml" && !ParseXmlDecl(std::u16string_view(data ? data : u"", data ? dataLen : 0), nullptr)) {
        return Fail(E_INVALIDARG, u"The XML declaration is not well formed.");
      }
      nameId = s->internName(q.data(), q.size(), 0);
      break;
    }
    case NODE_TEXT:
    case NODE_CDATA_SECTION:
    case NODE_COMMENT:
      break;
    default:
      return Fail(E_INVALIDARG, u"This node type cannot be created.");
  }
  if (nameId == ~0u) return Fail(E_OUTOFMEMORY, u"Too many distinct names in one document.");
  uint32_t i = s->newNode(Kind(kind), nameId);
  if (!i) return Fail(E_OUTOFMEMORY, u"Out of memory.");
  if (kind != NODE_ELEMENT) {
    HRESULT hr = ops::setCharacterData(s, i, data, data ? dataLen : 0);
    if (FAILED(hr)) return hr;  // the record stays unreachable
  }
  *out = i;
  return S_OK;
} TWDOM_NO_THROW

HRESULT DomDocument::createElement(BSTR tagName, IXMLDOMElement** element) try {
  if (!element) return E_POINTER;
  *element = nullptr;
  uint32_t i = 0;
  HRESULT hr = create(NODE_ELEMENT, tagName, Len16(tagName), nullptr, 0, nullptr, 0, &i);
  if (FAILED(hr)) return hr;
  return WrapAs(handle_.store, i, IID_IXMLDOMElement, reinterpret_cast<void**>(element));
} TWDOM_NO_THROW

HRESULT DomDocument::createTextNode(BSTR data, IXMLDOMText** text) try {
  if (!text) return E_POINTER;
  *text = nullptr;
  uint32_t i = 0;
  HRESULT hr = create(NODE_TEXT, nullptr, 0, nullptr, 0, data, Len16(data), &i);
  if (FAILED(hr)) return hr;
  return WrapAs(handle_.store, i, IID_IXMLDOMText, reinterpret_cast<void**>(text));
} TWDOM_NO_THROW

HRESULT DomDocument::createComment(BSTR data, IXMLDOMComment** comment) try {
  if (!comment) return E_POINTER;
  *comment = nullptr;
  uint32_t i = 0;
  HRESULT hr = create(NODE_COMMENT, nullptr, 0, nullptr, 0, data, Len16(data), &i);
  if (FAILED(hr)) return hr;
  return WrapAs(handle_.store, i, IID_IXMLDOMComment, reinterpret_cast<void**>(comment));
} TWDOM_NO_THROW

HRESULT DomDocument::createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) try {
  if (!cdata) return E_POINTER;
  *cdata = nullptr;
  uint32_t i = 0;
  HRESULT hr = create(NODE_CDATA_SECTION, nullptr, 0, nullptr, 0, data, Len16(data), &i);
  if (FAILED(hr)) return hr;
  return WrapAs(handle_.store, i, IID_IXMLDOMCDATASection, reinterpret_cast<void**>(cdata));
} TWDOM_NO_THROW

HRESULT DomDocument::createProcessingInstruction(BSTR target, BSTR data, IXMLDOMProcessingInstruction** pi) try {
  if (!pi) return E_POINTER;
  *pi = nullptr;
  uint32_t i = 0;
  HRESULT hr = create(NODE_PROCESSING_INSTRUCTION, target, Len16(target), nullptr, 0, data, Len16(data), &i);
  if (FAILED(hr)) return hr;
  return WrapAs(handle_.store, i, IID_IXMLDOMProcessingInstruction, reinterpret_cast<void**>(pi));
} TWDOM_NO_THROW

HRESULT DomDocument::createAttribute(BSTR name, IXMLDOMAttribute** attribute) try {
  if (!attribute) return E_POINTER;
  *attribute = nullptr;
  uint32_t i = 0;
  HRESULT hr = create(NODE_ATTRIBUTE, name, Len16(name), nullptr, 0, nullptr, 0, &i);
  if (FAILED(hr)) return hr;
  return WrapAs(handle_.store, i, IID_IXMLDOMAttribute, reinterpret_cast<void**>(attribute));
} TWDOM_NO_THROW

HRESULT DomDocument::createNode(VARIANT type, BSTR name, BSTR namespaceUri, IXMLDOMNode** node) try {
  if (!node) return E_POINTER;
  *node = nullptr;
  int kind = 0;
  if (!KindFromVariant(type, &kind)) return Fail(E_INVALIDARG, u"The node type is not a number.");
  uint32_t i = 0;
  HRESULT hr = create(kind, name, Len16(name), namespaceUri, Len16(namespaceUri), nullptr, 0, &i);
  if (FAILED(hr)) return hr;
  return WrapAs(handle_.store, i, IID_IXMLDOMNode, reinterpret_cast<void**>(node));
} TWDOM_NO_THROW

HRESULT DomDocument::loadFrom(IUnknown* input, VARIANT_BOOL* success) try {
  HRESULT hr = LoadDocument(handle_.store, input, nullptr);
  if (success) *success = SUCCEEDED(hr) ? VARIANT_TRUE : VARIANT_FALSE;
  return SUCCEEDED(hr) ? S_OK : S_FALSE;
} TWDOM_NO_THROW

HRESULT DomDocument::load(VARIANT source, VARIANT_BOOL* success) try {
  if (success) *success = VARIANT_FALSE;
  Store* s = handle_.store;
  IUnknown* unk = (source.vt == VT_UNKNOWN || source.vt == VT_DISPATCH) ? source.punkVal : nullptr;
  if (!unk) return Fail(E_INVALIDARG, u"Load needs a stream or a persistable object.");
  Held<IStream> stream;
  if (SUCCEEDED(unk->QueryInterface(IID_IStream, stream.out())) && stream) return loadFrom(stream.get(), success);
  Held<ISequentialStream> seq;
  if (SUCCEEDED(unk->QueryInterface(IID_ISequentialStream, seq.out())) && seq) return loadFrom(seq.get(), success);
  Held<IPersistStream> persist;
  if (SUCCEEDED(unk->QueryInterface(IID_IPersistStream, persist.out())) && persist) {
    Held<MemoryStream> ms(new (std::nothrow) MemoryStream());
    if (!ms) return Fail(E_OUTOFMEMORY, u"Out of memory.");
    // Room for the whole document at once when the object tells its size:
    // no copies while it grows. A refusal only means growing as it comes.
    ULARGE_INTEGER size;
    size.QuadPart = 0;
    if (SUCCEEDED(persist->GetSizeMax(&size)) && size.QuadPart < (uint64_t(1) << 32)) ms->room(size_t(size.QuadPart));
    HRESULT hr = persist->Save(ms.get(), TRUE);
    if (FAILED(hr)) {
      ResetContent(s);
      s->parseError = ParseErrorState();
      s->parseError.code = hr;
      s->parseError.reason = ToUtf16(ReasonFor(hr));
      return S_FALSE;
    }
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    ms->Seek(zero, STREAM_SEEK_SET, nullptr);
    return loadFrom(ms.get(), success);
  }
  return Fail(E_INVALIDARG, u"Load needs a stream or a persistable object.");
} TWDOM_NO_THROW

HRESULT DomDocument::loadXML(BSTR xml, VARIANT_BOOL* success) {
  if (success) *success = VARIANT_FALSE;
  std::u16string_view text(xml ? xml : u"", Len16(xml));
  if (!text.empty() && text[0] == 0xFEFF) text.remove_prefix(1);
  // The text is already decoded: whatever encoding its declaration names,
  // the parser gets it as UTF-8 and the declaration node keeps its own text.
  std::u16string declData;
  std::u16string patched;
  bool hasDecl = false;
  if (text.substr(0, 5) == u"<?xml" && text.size() > 5 &&
      (text[5] == ' ' || text[5] == '\t' || text[5] == '\r' || text[5] == '\n')) {
    size_t end = text.find(u"?>");
    if (end != text.npos) {
      declData = std::u16string(text.substr(6, end - 6));
      size_t b = declData.find_first_not_of(u" \t\r\n");
      declData.erase(0, b == declData.npos ? declData.size() : b);
      size_t e = declData.find_last_not_of(u" \t\r\n");
      declData.erase(e == declData.npos ? 0 : e + 1);
      size_t vs, ve;
      // A declaration that is not well formed goes to the parser untouched,
      // which refuses it.
      hasDecl = ParseXmlDecl(declData, nullptr);
      if (hasDecl && FindDeclEncoding(text.substr(0, end), &vs, &ve)) {
        patched.assign(text.substr(0, vs));
        patched += u"UTF-8";
        patched += text.substr(ve);
        text = patched;
      }
    }
  }
  MemoryStream* ms = new (std::nothrow) MemoryStream();
  // One more byte than the text can take, so that even empty text has room.
  char* room = ms && text.size() < (size_t(1) << 40) ? ms->room(text.size() * 3 + 1) : nullptr;
  if (!room) {
    if (ms) ms->Release();
    return Fail(E_OUTOFMEMORY, u"Out of memory.");
  }
  ms->grew(Utf16ToUtf8(text.data(), text.size(), room, nullptr));
  HRESULT hr = LoadDocument(handle_.store, ms, hasDecl ? &declData : nullptr);
  ms->Release();
  if (success) *success = SUCCEEDED(hr) ? VARIANT_TRUE : VARIANT_FALSE;
  return SUCCEEDED(hr) ? S_OK : S_FALSE;
}

HRESULT DomDocument::save(VARIANT destination) try {
  IUnknown* unk = (destination.vt == VT_UNKNOWN || destination.vt == VT_DISPATCH) ? destination.punkVal : nullptr;
  if (!unk) return Fail(E_INVALIDARG, u"Save needs a stream or a persistable object.");
  Held<IStream> stream;
  if (SUCCEEDED(unk->QueryInterface(IID_IStream, stream.out())) && stream) {
    StreamSink sink(stream.get());
    return SaveDocument(handle_.store, sink);
  }
  Held<IPersistStream> persist;
  if (SUCCEEDED(unk->QueryInterface(IID_IPersistStream, persist.out())) && persist) {
    Held<MemoryStream> ms(new (std::nothrow) MemoryStream());
    if (!ms) return Fail(E_OUTOFMEMORY, u"Out of memory.");
    StreamSink sink(ms.get());
    HRESULT hr = SaveDocument(handle_.store, sink);
    if (SUCCEEDED(hr)) {
      LARGE_INTEGER zero;
      zero.QuadPart = 0;
      ms->Seek(zero, STREAM_SEEK_SET, nullptr);
      hr = persist->Load(ms.get());
      if (FAILED(hr)) hr = Fail(hr, u"The destination object refused the document's bytes.");
    }
    return hr;
  }
  Held<ISequentialStream> seq;
  if (SUCCEEDED(unk->QueryInterface(IID_ISequentialStream, seq.out())) && seq) {
    StreamSink sink(seq.get());
    return SaveDocument(handle_.store, sink);
  }
  return Fail(E_INVALIDARG, u"Save needs a stream or a persistable object.");
} TWDOM_NO_THROW

HRESULT DomDocument::get_parseError(IXMLDOMParseError** error) try {
  if (!error) return E_POINTER;
  *error = new (std::nothrow) DomParseError(handle_.store->parseError);
  return *error ? S_OK : E_OUTOFMEMORY;
} TWDOM_NO_THROW

HRESULT DomDocument::GetSkippedReferences(UINT* count, UINT* line, UINT* column, BSTR* name) {
  const SkippedState& k = handle_.store->skipped;
  if (count) *count = k.count;
  if (line) *line = k.line;
  if (column) *column = k.column;
  if (name) *name = nullptr;
  if (k.count == 0) return S_FALSE;
  return name ? OutBstr(name, k.name.data(), k.name.size()) : S_OK;
}

HRESULT DomDocument::get_async(VARIANT_BOOL* async) {
  if (!async) return E_POINTER;
  *async = handle_.store->async ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT DomDocument::put_async(VARIANT_BOOL async) {
  handle_.store->async = async != VARIANT_FALSE;  // loads finish before returning either way
  return S_OK;
}

HRESULT DomDocument::get_preserveWhiteSpace(VARIANT_BOOL* preserve) {
  if (!preserve) return E_POINTER;
  *preserve = handle_.store->preserveWhiteSpace ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT DomDocument::put_preserveWhiteSpace(VARIANT_BOOL preserve) {
  handle_.store->preserveWhiteSpace = preserve != VARIANT_FALSE;
  return S_OK;
}

/* ---- class registration ------------------------------------------------- */

HRESULT CreateDocument(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  Store* store;
  try {
    store = new Store();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  DomDocument* doc = new (std::nothrow) DomDocument(store);
  store->release();  // the document holds the store now
  if (!doc) return E_OUTOFMEMORY;
  HRESULT hr = doc->QueryInterface(iid, out);
  doc->Release();
  return hr;
}

namespace {

struct Registration {
  Registration() { TwRegisterClass(CLSID_DOMDocument, &CreateDocument); }
} const registration;

}  // namespace

}  // namespace twdom
