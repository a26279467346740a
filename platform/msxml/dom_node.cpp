// Node operations shared by the document and node objects, and the small COM
// objects around them (node lists, attribute maps, load errors, memory stream).
#include <algorithm>
#include <new>

#include "dom_objects.h"

namespace twdom {

namespace {

constexpr char16_t kXmlnsUri[] = u"http://www.w3.org/2000/xmlns/";
constexpr char16_t kXmlUri[] = u"http://www.w3.org/XML/1998/namespace";

const char16_t* KindName(Kind k) {
  switch (k) {
    case kElement: return u"element";
    case kAttribute: return u"attribute";
    case kText: return u"text";
    case kCData: return u"cdatasection";
    case kPI: return u"processinginstruction";
    case kComment: return u"comment";
    case kDocument: return u"document";
    case kFragment: return u"documentfragment";
  }
  return u"";
}

bool IsCharacterKind(Kind k) { return k == kText || k == kCData || k == kComment || k == kPI || k == kAttribute; }

HRESULT OutBstr(BSTR* out, const char16_t* s, size_t n) try {
  *out = SysAllocStringLen(s, UINT(n));
  return *out ? S_OK : E_OUTOFMEMORY;
} TWDOM_NO_THROW

/* The document's declaration record (first child, a PI named xml), or 0. */
uint32_t DeclOf(Store* s) {
  uint32_t f = s->firstChild(kDocIndex);
  if (f && s->node(f).kind() == kPI && s->name(s->node(f).name()).isXmlDecl) return f;
  return 0;
}

bool IsDecl(Store* s, uint32_t i) { return s->node(i).kind() == kPI && s->name(s->node(i).name()).isXmlDecl; }

uint32_t DocumentElementOf(Store* s) {
  for (uint32_t c = s->firstChild(kDocIndex); c; c = s->nextSibling(c)) {
    if (s->node(c).kind() == kElement) return c;
  }
  return 0;
}

/* The record behind a node argument, checked to belong to this store. */
HRESULT ArgNode(Store* s, IXMLDOMNode* node, uint32_t* out) try {
  if (!node) return Fail(E_INVALIDARG, u"A node argument is missing.");
  NodeHandle* h = HandleOf(node);
  if (!h) return Fail(E_INVALIDARG, u"The node was not made by this document model.");
  if (h->store != s) return Fail(E_INVALIDARG, u"The node belongs to another document.");
  *out = h->index;
  return S_OK;
} TWDOM_NO_THROW

}  // namespace

HRESULT Fail(HRESULT hr, const char16_t* description) try {
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(TwCreateErrorInfo(IID_IXMLDOMDocument, u"DOMDocument", description, &info)) && info) {
    SetErrorInfo(0, info);
    info->Release();
  }
  return hr;
} TWDOM_NO_THROW

NodeHandle* HandleOf(IUnknown* unknown) {
  if (!unknown) return nullptr;
  void* p = nullptr;
  if (FAILED(unknown->QueryInterface(IID_TwDomNodeHandle, &p))) return nullptr;
  return static_cast<NodeHandle*>(p);
}

IXMLDOMNode* Wrap(Store* store, uint32_t i) {
  if (i == kDocIndex) {
    if (store->document) {
      store->document->AddRef();
      return store->document;
    }
    DomDocument* d = new (std::nothrow) DomDocument(store);
    return d;
  }
  if (void* w = store->findWrapper(i)) {
    DomNode* n = static_cast<DomNode*>(w);
    n->AddRef();
    return n->asNode();
  }
  DomNode* n = DomNode::Make(store, i);
  return n ? n->asNode() : nullptr;
}

HRESULT WrapAs(Store* store, uint32_t i, REFIID iid, void** out) try {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!i) return S_FALSE;
  IXMLDOMNode* n = Wrap(store, i);
  if (!n) return E_OUTOFMEMORY;
  if (&iid == &IID_IXMLDOMNode) {  // the walk's common case: no lookup
    *out = n;
    return S_OK;
  }
  HRESULT hr = n->QueryInterface(iid, out);
  n->Release();
  return hr;
} TWDOM_NO_THROW

/* ---- shared node operations --------------------------------------------- */

namespace ops {

HRESULT nodeName(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  switch (s->node(i).kind()) {
    case kElement:
    case kAttribute:
    case kPI:
      *out = s->nameBstr(i);
      return *out ? S_OK : E_OUTOFMEMORY;
    case kText: return OutBstr(out, u"#text", 5);
    case kCData: return OutBstr(out, u"#cdata-section", 14);
    case kComment: return OutBstr(out, u"#comment", 8);
    case kDocument: return OutBstr(out, u"#document", 9);
    case kFragment: return OutBstr(out, u"#document-fragment", 18);
  }
  return E_FAIL;
} TWDOM_NO_THROW

HRESULT nodeValue(Store* s, uint32_t i, VARIANT* out) try {
  if (!out) return E_POINTER;
  VariantInit(out);
  if (!IsCharacterKind(s->node(i).kind())) {
    out->vt = VT_NULL;
    return S_FALSE;
  }
  BSTR b = s->textBstr(i);
  if (!b) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = b;
  return S_OK;
} TWDOM_NO_THROW

HRESULT setCharacterData(Store* s, uint32_t i, const char16_t* t, size_t n) try {
  Kind k = s->node(i).kind();
  if (!t) n = 0;
  if (!IsXmlText(t, n)) return Fail(E_INVALIDARG, u"The text holds a character that XML cannot carry.");
  std::u16string_view v(t ? t : u"", n);
  if (k == kComment && (v.find(u"--") != v.npos || (n && v.back() == u'-'))) {
    return Fail(E_INVALIDARG, u"A comment cannot contain '--' or end with '-'.");
  }
  if (k == kPI && v.find(u"?>") != v.npos) {
    return Fail(E_INVALIDARG, u"Processing instruction data cannot contain '?>'.");
  }
  if (!s->setText(i, t, n)) return Fail(E_OUTOFMEMORY, u"Out of memory.");
  s->touch();
  return S_OK;
} TWDOM_NO_THROW

HRESULT putNodeValue(Store* s, uint32_t i, VARIANT v) try {
  if (!IsCharacterKind(s->node(i).kind())) {
    return Fail(E_FAIL, u"This node type has no value to set.");
  }
  VARIANT t;
  VariantInit(&t);
  HRESULT hr = VariantChangeType(&t, &v, 0, VT_BSTR);
  if (FAILED(hr)) return Fail(hr, u"The value cannot be turned into text.");
  hr = setCharacterData(s, i, t.bstrVal, Len16(t.bstrVal));
  VariantClear(&t);
  return hr;
} TWDOM_NO_THROW

HRESULT nodeType(Store* s, uint32_t i, DOMNodeType* out) {
  if (!out) return E_POINTER;
  *out = DOMNodeType(s->node(i).kind());
  return S_OK;
}

HRESULT parentNode(Store* s, uint32_t i, IXMLDOMNode** out) try {
  if (!out) return E_POINTER;
  *out = nullptr;
  const NodeRec& r = s->node(i);
  if (r.kind() == kAttribute || !r.parent || s->node(r.parent).kind() == kFragment) return S_FALSE;
  return WrapAs(s, r.parent, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
} TWDOM_NO_THROW

HRESULT childNodes(Store* s, uint32_t i, IXMLDOMNodeList** out) try {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) DomNodeList(s, i);
  return *out ? S_OK : E_OUTOFMEMORY;
} TWDOM_NO_THROW

HRESULT firstChild(Store* s, uint32_t i, IXMLDOMNode** out) try {
  return WrapAs(s, s->firstChild(i), IID_IXMLDOMNode, reinterpret_cast<void**>(out));
} TWDOM_NO_THROW

HRESULT lastChild(Store* s, uint32_t i, IXMLDOMNode** out) try {
  return WrapAs(s, s->lastChild(i), IID_IXMLDOMNode, reinterpret_cast<void**>(out));
} TWDOM_NO_THROW

HRESULT previousSibling(Store* s, uint32_t i, IXMLDOMNode** out) try {
  uint32_t p = s->node(i).kind() == kAttribute ? 0 : s->prevSibling(i);
  return WrapAs(s, p, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
} TWDOM_NO_THROW

HRESULT nextSibling(Store* s, uint32_t i, IXMLDOMNode** out) try {
  uint32_t n = s->node(i).kind() == kAttribute ? 0 : s->nextSibling(i);
  return WrapAs(s, n, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
} TWDOM_NO_THROW

HRESULT attributes(Store* s, uint32_t i, IXMLDOMNamedNodeMap** out) try {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (s->node(i).kind() != kElement) return S_FALSE;
  *out = DomNamedNodeMap::Make(s, i);
  return *out ? S_OK : E_OUTOFMEMORY;
} TWDOM_NO_THROW

/* Checks and performs the insertion of c into p before ref (0 = append). */
static HRESULT InsertCore(Store* s, uint32_t p, uint32_t c, uint32_t ref) {
  const NodeRec& pr = s->node(p);
  Kind kc = s->node(c).kind();
  if (!pr.hasChildren()) return Fail(E_FAIL, u"This node type cannot have children.");
  if (kc == kAttribute || kc == kDocument || kc == kFragment) {
    return Fail(E_FAIL, u"This node type cannot be inserted as a child.");
  }
  if (ref && (s->node(ref).parent != p || s->node(ref).kind() == kAttribute)) {
    return Fail(E_INVALIDARG, u"The reference node is not a child of this node.");
  }
  // Only a node with children can be an ancestor of another; skipping the
  // walk keeps building a deep chain node by node linear.
  if (c == p || (s->firstChild(c) && s->isAncestorOrSelf(c, p))) {
    return Fail(E_FAIL, u"A node cannot be inserted under itself or one of its descendants.");
  }
  if (c == ref) return S_OK;
  if (pr.kind() == kDocument) {
    if (kc == kText || kc == kCData) return Fail(E_FAIL, u"Text cannot stand at the top level of a document.");
    if (kc == kElement) {
      uint32_t de = DocumentElementOf(s);
      if (de && de != c) return Fail(E_FAIL, u"Only one top level element is allowed in an XML document.");
    }
    uint32_t decl = DeclOf(s);
    if (IsDecl(s, c)) {
      if (decl && decl != c) return Fail(E_FAIL, u"The document already has an XML declaration.");
      uint32_t first = s->firstChild(p);
      if (first == c) first = s->nextSibling(c);
      if (first && ref != first) return Fail(E_FAIL, u"The XML declaration must be the first node of the document.");
    } else if (decl && decl != c && ref == decl) {
      return Fail(E_FAIL, u"Nothing can be inserted before the XML declaration.");
    }
  } else if (IsDecl(s, c)) {
    return Fail(E_FAIL, u"An XML declaration can only be the first node of a document.");
  }
  s->unlink(c);
  s->link(p, c, ref);
  return S_OK;
}

HRESULT insertBefore(Store* s, uint32_t i, IXMLDOMNode* child, VARIANT ref, IXMLDOMNode** out) try {
  if (out) *out = nullptr;
  uint32_t c = 0;
  HRESULT hr = ArgNode(s, child, &c);
  if (FAILED(hr)) return hr;
  uint32_t r = 0;
  if (ref.vt == VT_UNKNOWN || ref.vt == VT_DISPATCH) {
    if (ref.punkVal) {
      NodeHandle* h = HandleOf(ref.punkVal);
      if (!h || h->store != s) return Fail(E_INVALIDARG, u"The reference node is not a child of this node.");
      r = h->index;
    }
  } else if (ref.vt != VT_EMPTY && ref.vt != VT_NULL) {
    return Fail(E_INVALIDARG, u"The reference node must be given as a node or as null.");
  }
  hr = InsertCore(s, i, c, r);
  if (FAILED(hr)) return hr;
  if (out) {
    *out = child;
    child->AddRef();
  }
  return S_OK;
} TWDOM_NO_THROW

HRESULT appendChild(Store* s, uint32_t i, IXMLDOMNode* child, IXMLDOMNode** out) try {
  VARIANT none;
  VariantInit(&none);
  return insertBefore(s, i, child, none, out);
} TWDOM_NO_THROW

HRESULT removeChild(Store* s, uint32_t i, IXMLDOMNode* child, IXMLDOMNode** out) try {
  if (out) *out = nullptr;
  uint32_t c = 0;
  HRESULT hr = ArgNode(s, child, &c);
  if (FAILED(hr)) return hr;
  if (s->node(c).parent != i || s->node(c).kind() == kAttribute) {
    return Fail(E_INVALIDARG, u"The node is not a child of this node.");
  }
  s->unlink(c);
  if (out) {
    *out = child;
    child->AddRef();
  }
  return S_OK;
} TWDOM_NO_THROW

HRESULT replaceChild(Store* s, uint32_t i, IXMLDOMNode* child, IXMLDOMNode* old, IXMLDOMNode** out) try {
  if (out) *out = nullptr;
  uint32_t c = 0, o = 0;
  HRESULT hr = ArgNode(s, child, &c);
  if (FAILED(hr)) return hr;
  hr = ArgNode(s, old, &o);
  if (FAILED(hr)) return hr;
  if (s->node(o).parent != i || s->node(o).kind() == kAttribute) {
    return Fail(E_INVALIDARG, u"The node to replace is not a child of this node.");
  }
  if (c != o) {
    // A document element may be replaced by another element: take the old one
    // out first so the one-element rule sees the final state, and put it back
    // if the insertion is refused.
    uint32_t after = s->nextSibling(o);
    if (after == c) after = s->nextSibling(c);
    s->unlink(o);
    hr = InsertCore(s, i, c, after);
    if (FAILED(hr)) {
      s->link(i, o, after);
      return hr;
    }
  }
  if (out) {
    *out = old;
    old->AddRef();
  }
  return S_OK;
} TWDOM_NO_THROW

HRESULT hasChildNodes(Store* s, uint32_t i, VARIANT_BOOL* out) {
  if (!out) return E_POINTER;
  bool has = s->firstChild(i) != 0;
  *out = has ? VARIANT_TRUE : VARIANT_FALSE;
  return has ? S_OK : S_FALSE;
}

HRESULT ownerDocument(Store* s, uint32_t i, IXMLDOMDocument** out) try {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (i == kDocIndex) return S_FALSE;
  return WrapAs(s, kDocIndex, IID_IXMLDOMDocument, reinterpret_cast<void**>(out));
} TWDOM_NO_THROW

HRESULT cloneNode(Store* s, uint32_t i, VARIANT_BOOL deep, IXMLDOMNode** out) try {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (i == kDocIndex) return Fail(E_NOTIMPL, u"Cloning a whole document is not supported.");
  uint32_t c = s->clone(i, deep != VARIANT_FALSE);
  if (!c) return Fail(E_OUTOFMEMORY, u"Out of memory.");
  return WrapAs(s, c, IID_IXMLDOMNode, reinterpret_cast<void**>(out));
} TWDOM_NO_THROW

HRESULT nodeTypeString(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  const char16_t* n = KindName(s->node(i).kind());
  return OutBstr(out, n, Len16(n));
} TWDOM_NO_THROW

HRESULT text(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!s->node(i).hasChildren()) {
    *out = s->textBstr(i);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  // Text and CDATA of the subtree in document order, walked without recursion.
  std::u16string acc;
  uint32_t k = s->firstChild(i);
  while (k) {
    const NodeRec& r = s->node(k);
    if (r.kind() == kText || r.kind() == kCData) s->appendText16(k, acc);
    if (r.hasChildren() && r.el.firstChild) {
      k = r.el.firstChild;
      continue;
    }
    while (k != i && !s->nextSibling(k)) k = s->node(k).parent;
    if (k == i) break;
    k = s->nextSibling(k);
  }
  return OutBstr(out, acc.data(), acc.size());
} TWDOM_NO_THROW

HRESULT putText(Store* s, uint32_t i, BSTR t) try {
  const NodeRec& r = s->node(i);
  size_t n = Len16(t);
  if (!r.hasChildren()) return setCharacterData(s, i, t, n);
  if (r.kind() != kElement) return Fail(E_FAIL, u"The text of a document cannot be set.");
  if (!IsXmlText(t, n)) return Fail(E_INVALIDARG, u"The text holds a character that XML cannot carry.");
  uint32_t tn = 0;
  if (n) {
    tn = s->newNode(kText, 0);
    if (!tn || !s->setText(tn, t, n)) return Fail(E_OUTOFMEMORY, u"Out of memory.");
  }
  while (uint32_t c = s->firstChild(i)) s->unlink(c);
  if (tn) s->link(i, tn, 0);
  return S_OK;
} TWDOM_NO_THROW

HRESULT xml(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::u16string acc;
  HRESULT hr = SerializeToUtf16(s, i, acc);
  if (FAILED(hr)) return hr;
  return OutBstr(out, acc.data(), acc.size());
} TWDOM_NO_THROW

static bool HasName(Store* s, uint32_t i) {
  Kind k = s->node(i).kind();
  return k == kElement || k == kAttribute;
}

HRESULT namespaceURI(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  if (!HasName(s, i)) return OutBstr(out, u"", 0);
  const std::u16string& u = s->ns16(s->name(s->node(i).name()).ns);
  return OutBstr(out, u.data(), u.size());
} TWDOM_NO_THROW

HRESULT prefix(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  if (!HasName(s, i)) return OutBstr(out, u"", 0);
  const NameEntry& e = s->name(s->node(i).name());
  return OutBstr(out, e.qname16.data(), e.prefixLen16);
} TWDOM_NO_THROW

HRESULT baseName(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  Kind k = s->node(i).kind();
  if (k == kPI) {
    *out = s->nameBstr(i);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  if (!HasName(s, i)) return OutBstr(out, u"", 0);
  const NameEntry& e = s->name(s->node(i).name());
  size_t skip = e.prefixLen16 ? e.prefixLen16 + 1 : 0;
  return OutBstr(out, e.qname16.data() + skip, e.qname16.size() - skip);
} TWDOM_NO_THROW

}  // namespace ops

/* ---- DomNode ------------------------------------------------------------ */

DomNode::DomNode(Store* store, uint32_t index) : handle_{store, index} { store->addRef(); }

DomNode::~DomNode() { handle_.store->clearWrapper(handle_.index); }

enum { kBlockNode = 0, kBlockMap = 1 };

DomNode* DomNode::Make(Store* store, uint32_t index) {
  void* mem = store->takeBlock(kBlockNode);
  if (!mem) mem = ::operator new(sizeof(DomNode), std::nothrow);
  if (!mem) return nullptr;
  DomNode* n = new (mem) DomNode(store, index);
  if (!store->setWrapper(index, n)) {
    n->~DomNode();
    ::operator delete(mem);
    store->release();
    return nullptr;
  }
  return n;
}

ULONG DomNode::AddRef() { return ++refs_; }

ULONG DomNode::Release() {
  ULONG n = --refs_;
  if (n == 0) {
    Store* s = handle_.store;
    this->~DomNode();
    if (!s->keepBlock(kBlockNode, this)) ::operator delete(this);
    s->release();  // may free the store and the blocks it kept
  }
  return n;
}

HRESULT DomNode::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_TwDomNodeHandle) {
    *out = &handle_;
    return S_OK;
  }
  Kind k = handle_.store->node(handle_.index).kind();
  if (iid == IID_IUnknown || iid == IID_IXMLDOMNode) {
    *out = asNode();
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else if (iid == IID_IXMLDOMElement) {
    if (k == kElement) *out = static_cast<IXMLDOMElement*>(this);
  } else if (iid == IID_IXMLDOMAttribute) {
    if (k == kAttribute) *out = static_cast<IXMLDOMAttribute*>(this);
  } else if (iid == IID_IXMLDOMCharacterData) {
    if (k == kText || k == kCData) *out = static_cast<IXMLDOMCharacterData*>(static_cast<IXMLDOMCDATASection*>(this));
    if (k == kComment) *out = static_cast<IXMLDOMCharacterData*>(static_cast<IXMLDOMComment*>(this));
  } else if (iid == IID_IXMLDOMText) {
    if (k == kText || k == kCData) *out = static_cast<IXMLDOMText*>(this);
  } else if (iid == IID_IXMLDOMCDATASection) {
    if (k == kCData) *out = static_cast<IXMLDOMCDATASection*>(this);
  } else if (iid == IID_IXMLDOMComment) {
    if (k == kComment) *out = static_cast<IXMLDOMComment*>(this);
  } else if (iid == IID_IXMLDOMProcessingInstruction) {
    if (k == kPI) *out = static_cast<IXMLDOMProcessingInstruction*>(this);
  }
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT DomNode::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID_IXMLDOMNode || iid == IID_IXMLDOMElement || iid == IID_IXMLDOMAttribute ||
                 iid == IID_IXMLDOMCharacterData || iid == IID_IXMLDOMText || iid == IID_IXMLDOMComment ||
                 iid == IID_IXMLDOMCDATASection || iid == IID_IXMLDOMProcessingInstruction
             ? S_OK
             : S_FALSE;
}

HRESULT DomNode::get_tagName(BSTR* name) { return ops::nodeName(handle_.store, handle_.index, name); }

HRESULT DomNode::getAttribute(BSTR name, VARIANT* value) try {
  if (!value) return E_POINTER;
  VariantInit(value);
  value->vt = VT_NULL;
  if (!name) return Fail(E_INVALIDARG, u"The attribute name is missing.");
  Store* s = handle_.store;
  uint32_t a = s->findAttr(handle_.index, std::u16string_view(name, Len16(name)));
  if (!a) return S_FALSE;
  BSTR b = s->textBstr(a);
  if (!b) return E_OUTOFMEMORY;
  value->vt = VT_BSTR;
  value->bstrVal = b;
  return S_OK;
} TWDOM_NO_THROW

HRESULT DomNode::setAttribute(BSTR name, VARIANT value) try {
  Store* s = handle_.store;
  uint32_t e = handle_.index;
  size_t n = Len16(name);
  if (!IsQName(name, n)) return Fail(E_INVALIDARG, u"The attribute name is not a valid XML name.");
  VARIANT t;
  VariantInit(&t);
  HRESULT hr = S_OK;
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
    t.vt = VT_BSTR;
    t.bstrVal = nullptr;
  } else {
    hr = VariantChangeType(&t, &value, 0, VT_BSTR);
    if (FAILED(hr)) return Fail(hr, u"The attribute value cannot be turned into text.");
  }
  std::u16string_view q(name, n);
  uint32_t a = s->findAttr(e, q);
  bool added = false;
  if (!a) {
    uint32_t ns = 0;
    if (q == u"xmlns" || q.substr(0, 6) == u"xmlns:") {
      ns = s->internNs(kXmlnsUri, Len16(kXmlnsUri));
    } else if (q.substr(0, 4) == u"xml:") {
      ns = s->internNs(kXmlUri, Len16(kXmlUri));
    }
    uint32_t id = s->internName(name, n, ns);
    if (id == ~0u || !(a = s->newNode(kAttribute, id))) {
      VariantClear(&t);
      return Fail(E_OUTOFMEMORY, u"Out of memory.");
    }
    added = true;
  }
  hr = ops::setCharacterData(s, a, t.bstrVal, Len16(t.bstrVal));
  VariantClear(&t);
  if (FAILED(hr)) return hr;
  if (added) s->linkAttr(e, a);
  return S_OK;
} TWDOM_NO_THROW

HRESULT DomNode::removeAttribute(BSTR name) try {
  Store* s = handle_.store;
  uint32_t a = s->findAttr(handle_.index, std::u16string_view(name ? name : u"", Len16(name)));
  if (!a) return S_FALSE;
  s->unlink(a);
  return S_OK;
} TWDOM_NO_THROW

HRESULT DomNode::getAttributeNode(BSTR name, IXMLDOMAttribute** attribute) try {
  if (!attribute) return E_POINTER;
  Store* s = handle_.store;
  uint32_t a = s->findAttr(handle_.index, std::u16string_view(name ? name : u"", Len16(name)));
  return WrapAs(s, a, IID_IXMLDOMAttribute, reinterpret_cast<void**>(attribute));
} TWDOM_NO_THROW

HRESULT DomNode::get_name(BSTR* name) { return ops::nodeName(handle_.store, handle_.index, name); }

HRESULT DomNode::get_value(VARIANT* value) { return ops::nodeValue(handle_.store, handle_.index, value); }

HRESULT DomNode::put_value(VARIANT value) { return ops::putNodeValue(handle_.store, handle_.index, value); }

HRESULT DomNode::get_data(BSTR* data) try {
  if (!data) return E_POINTER;
  *data = handle_.store->textBstr(handle_.index);
  return *data ? S_OK : E_OUTOFMEMORY;
} TWDOM_NO_THROW

HRESULT DomNode::put_data(BSTR data) { return ops::setCharacterData(handle_.store, handle_.index, data, Len16(data)); }

HRESULT DomNode::get_length(LONG* length) {
  if (!length) return E_POINTER;
  Store* s = handle_.store;
  std::string_view t = s->text8(handle_.index);
  *length = LONG(Utf16Length(t.data(), t.size()));
  return S_OK;
}

HRESULT DomNode::appendData(BSTR data) try {
  Store* s = handle_.store;
  std::u16string all;
  s->appendText16(handle_.index, all);
  all.append(data ? data : u"", Len16(data));
  return ops::setCharacterData(s, handle_.index, all.data(), all.size());
} TWDOM_NO_THROW

HRESULT DomNode::get_target(BSTR* target) { return ops::nodeName(handle_.store, handle_.index, target); }

/* ---- DomNodeList -------------------------------------------------------- */

DomNodeList::DomNodeList(Store* store, uint32_t parent) : store_(store), parent_(parent) { store_->addRef(); }
DomNodeList::~DomNodeList() { store_->release(); }

ULONG DomNodeList::AddRef() { return ++refs_; }
ULONG DomNodeList::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT DomNodeList::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IXMLDOMNodeList) {
    *out = static_cast<IXMLDOMNodeList*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT DomNodeList::InterfaceSupportsErrorInfo(REFIID iid) { return iid == IID_IXMLDOMNodeList ? S_OK : S_FALSE; }

uint32_t DomNodeList::at(LONG index) {
  if (index < 0) return 0;
  LONG k = 0;
  uint32_t c = store_->firstChild(parent_);
  if (cacheGen_ == store_->generation() && cacheIndex_ >= 0 && cacheIndex_ <= index) {
    k = cacheIndex_;
    c = cacheNode_;
  }
  while (c && k < index) {
    c = store_->nextSibling(c);
    ++k;
  }
  if (c) {
    cacheGen_ = store_->generation();
    cacheIndex_ = k;
    cacheNode_ = c;
  }
  return c;
}

HRESULT DomNodeList::get_item(LONG index, IXMLDOMNode** node) try {
  return WrapAs(store_, at(index), IID_IXMLDOMNode, reinterpret_cast<void**>(node));
} TWDOM_NO_THROW

HRESULT DomNodeList::get_length(LONG* length) {
  if (!length) return E_POINTER;
  LONG n = 0;
  for (uint32_t c = store_->firstChild(parent_); c; c = store_->nextSibling(c)) ++n;
  *length = n;
  return S_OK;
}

HRESULT DomNodeList::nextNode(IXMLDOMNode** node) try {
  HRESULT hr = WrapAs(store_, at(iterIndex_), IID_IXMLDOMNode, reinterpret_cast<void**>(node));
  if (hr == S_OK) ++iterIndex_;
  return hr;
} TWDOM_NO_THROW

HRESULT DomNodeList::reset() {
  iterIndex_ = 0;
  return S_OK;
}

/* ---- DomNamedNodeMap ---------------------------------------------------- */

DomNamedNodeMap::DomNamedNodeMap(Store* store, uint32_t element) : store_(store), element_(element) {
  store_->addRef();
}
DomNamedNodeMap::~DomNamedNodeMap() = default;

DomNamedNodeMap* DomNamedNodeMap::Make(Store* store, uint32_t element) {
  void* mem = store->takeBlock(kBlockMap);
  if (!mem) mem = ::operator new(sizeof(DomNamedNodeMap), std::nothrow);
  return mem ? new (mem) DomNamedNodeMap(store, element) : nullptr;
}

ULONG DomNamedNodeMap::AddRef() { return ++refs_; }
ULONG DomNamedNodeMap::Release() {
  ULONG n = --refs_;
  if (n == 0) {
    Store* s = store_;
    this->~DomNamedNodeMap();
    if (!s->keepBlock(kBlockMap, this)) ::operator delete(this);
    s->release();
  }
  return n;
}

HRESULT DomNamedNodeMap::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IXMLDOMNamedNodeMap) {
    *out = static_cast<IXMLDOMNamedNodeMap*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT DomNamedNodeMap::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID_IXMLDOMNamedNodeMap ? S_OK : S_FALSE;
}

HRESULT DomNamedNodeMap::getNamedItem(BSTR name, IXMLDOMNode** node) try {
  uint32_t a = store_->findAttr(element_, std::u16string_view(name ? name : u"", Len16(name)));
  return WrapAs(store_, a, IID_IXMLDOMNode, reinterpret_cast<void**>(node));
} TWDOM_NO_THROW

HRESULT DomNamedNodeMap::setNamedItem(IXMLDOMNode* node, IXMLDOMNode** outNode) try {
  if (outNode) *outNode = nullptr;
  uint32_t a = 0;
  HRESULT hr = ArgNode(store_, node, &a);
  if (FAILED(hr)) return hr;
  if (store_->node(a).kind() != kAttribute) return Fail(E_INVALIDARG, u"Only attributes can be added to an attribute map.");
  if (store_->node(a).parent && store_->node(a).parent != element_) {
    return Fail(E_FAIL, u"The attribute already belongs to another element.");
  }
  if (store_->node(a).parent != element_) {
    uint32_t old = store_->findAttr(element_, store_->name(store_->node(a).name()).qname16);
    if (old) store_->unlink(old);
    store_->linkAttr(element_, a);
  }
  if (outNode) {
    *outNode = node;
    node->AddRef();
  }
  return S_OK;
} TWDOM_NO_THROW

HRESULT DomNamedNodeMap::removeNamedItem(BSTR name, IXMLDOMNode** outNode) try {
  if (outNode) *outNode = nullptr;
  uint32_t a = store_->findAttr(element_, std::u16string_view(name ? name : u"", Len16(name)));
  if (!a) return S_FALSE;
  HRESULT hr = outNode ? WrapAs(store_, a, IID_IXMLDOMNode, reinterpret_cast<void**>(outNode)) : S_OK;
  store_->unlink(a);
  return hr;
} TWDOM_NO_THROW

HRESULT DomNamedNodeMap::get_item(LONG index, IXMLDOMNode** node) try {
  uint32_t a = store_->firstAttr(element_);
  LONG k = 0;
  // Going through the items in order costs one step each.
  if (cacheGen_ == store_->generation() && cacheIndex_ >= 0 && cacheIndex_ <= index) {
    k = cacheIndex_;
    a = cacheAttr_;
  }
  for (; a && k < index; ++k) a = store_->nextSibling(a);
  if (index < 0) a = 0;
  if (a) {
    cacheGen_ = store_->generation();
    cacheIndex_ = index;
    cacheAttr_ = a;
  }
  return WrapAs(store_, a, IID_IXMLDOMNode, reinterpret_cast<void**>(node));
} TWDOM_NO_THROW

HRESULT DomNamedNodeMap::get_length(LONG* length) {
  if (!length) return E_POINTER;
  LONG n = 0;
  for (uint32_t a = store_->firstAttr(element_); a; a = store_->nextSibling(a)) ++n;
  *length = n;
  return S_OK;
}

/* ---- DomParseError ------------------------------------------------------ */

ULONG DomParseError::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
ULONG DomParseError::Release() {
  ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) delete this;
  return n;
}

HRESULT DomParseError::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IXMLDOMParseError) {
    *out = static_cast<IXMLDOMParseError*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT DomParseError::InterfaceSupportsErrorInfo(REFIID iid) { return iid == IID_IXMLDOMParseError ? S_OK : S_FALSE; }

HRESULT DomParseError::get_errorCode(LONG* code) {
  if (!code) return E_POINTER;
  *code = state_.code;
  return S_OK;
}
HRESULT DomParseError::get_reason(BSTR* reason) {
  if (!reason) return E_POINTER;
  return OutBstr(reason, state_.reason.data(), state_.reason.size());
}
HRESULT DomParseError::get_line(LONG* line) {
  if (!line) return E_POINTER;
  *line = state_.line;
  return S_OK;
}
HRESULT DomParseError::get_linepos(LONG* column) {
  if (!column) return E_POINTER;
  *column = state_.linepos;
  return S_OK;
}
HRESULT DomParseError::get_filepos(LONG* offset) {
  if (!offset) return E_POINTER;
  *offset = state_.filepos;
  return S_OK;
}
HRESULT DomParseError::get_srcText(BSTR* text) try {
  if (!text) return E_POINTER;
  return OutBstr(text, state_.srcText.data(), state_.srcText.size());
} TWDOM_NO_THROW

/* ---- MemoryStream ------------------------------------------------------- */

ULONG MemoryStream::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
ULONG MemoryStream::Release() {
  ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) delete this;
  return n;
}

HRESULT MemoryStream::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
    *out = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT MemoryStream::Read(void* buffer, ULONG count, ULONG* read) {
  size_t n = pos_ < data_.size() ? std::min<size_t>(count, data_.size() - pos_) : 0;
  if (n) std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  if (read) *read = ULONG(n);
  return n == count ? S_OK : S_FALSE;
}

HRESULT MemoryStream::Write(const void* data, ULONG count, ULONG* written) {
  try {
    if (pos_ + count > data_.size()) data_.resize(pos_ + count);
  } catch (const std::bad_alloc&) {
    if (written) *written = 0;
    return STG_E_MEDIUMFULL;
  }
  if (count) std::memcpy(data_.data() + pos_, data, count);
  pos_ += count;
  if (written) *written = count;
  return S_OK;
}

HRESULT MemoryStream::Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) {
  int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? int64_t(pos_) : int64_t(data_.size());
  if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
  int64_t p = base + distance.QuadPart;
  if (p < 0) return STG_E_INVALIDFUNCTION;
  pos_ = size_t(p);
  if (newPosition) newPosition->QuadPart = uint64_t(p);
  return S_OK;
}

HRESULT MemoryStream::SetSize(ULARGE_INTEGER newSize) {
  try {
    data_.resize(size_t(newSize.QuadPart));
  } catch (const std::exception&) {
    return STG_E_MEDIUMFULL;
  }
  return S_OK;
}

HRESULT MemoryStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) { return E_NOTIMPL; }
HRESULT MemoryStream::Commit(DWORD) { return S_OK; }
HRESULT MemoryStream::Revert() { return S_OK; }
HRESULT MemoryStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
HRESULT MemoryStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT MemoryStream::Stat(STATSTG* stat, DWORD) {
  if (!stat) return STG_E_INVALIDPOINTER;
  std::memset(stat, 0, sizeof(*stat));
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = data_.size();
  return S_OK;
}

HRESULT MemoryStream::Clone(IStream** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

}  // namespace twdom
