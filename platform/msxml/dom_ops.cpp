// Node operations shared by the document and node objects: names, values,
// the tree and its changes, text and serialised forms.
#include <cstring>
#include <new>

#include "dom_objects.h"

namespace twdom {

namespace {

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

}  // namespace

HRESULT OutBstr(BSTR* out, const char16_t* s, size_t n) try {
  *out = SysAllocStringLen(s, UINT(n));
  return *out ? S_OK : E_OUTOFMEMORY;
} TWDOM_NO_THROW

HRESULT ArgNode(Store* s, IXMLDOMNode* node, uint32_t* out) try {
  if (!node) return Fail(E_INVALIDARG, u"A node argument is missing.");
  const NodeRecord* h = RecordOf(node);
  if (!h) return Fail(E_INVALIDARG, u"The node was not made by this document model.");
  if (h->store != s) return Fail(E_INVALIDARG, u"The node belongs to another document.");
  *out = h->index;
  return S_OK;
} TWDOM_NO_THROW

HRESULT Fail(HRESULT hr, const char16_t* description) try {
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(TwCreateErrorInfo(IID_IXMLDOMDocument, u"DOMDocument", description, &info)) && info) {
    SetErrorInfo(0, info);
    info->Release();
  }
  return hr;
} TWDOM_NO_THROW

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

namespace {

/* The names of nodes without a name of their own, in both forms. */
template <class Char>
const Char* FixedName(Kind k) {
  if constexpr (sizeof(Char) == 2) {
    switch (k) {
      case kText: return u"#text";
      case kCData: return u"#cdata-section";
      case kComment: return u"#comment";
      case kDocument: return u"#document";
      case kFragment: return u"#document-fragment";
      default: return u"";
    }
  } else {
    switch (k) {
      case kText: return "#text";
      case kCData: return "#cdata-section";
      case kComment: return "#comment";
      case kDocument: return "#document";
      case kFragment: return "#document-fragment";
      default: return "";
    }
  }
}

bool HasOwnName(Kind k) { return k == kElement || k == kAttribute || k == kPI; }

}  // namespace

const char16_t* nameOf(Store* s, uint32_t i, size_t* length) {
  Kind k = s->node(i).kind();
  if (HasOwnName(k)) {
    const std::u16string& q = s->name(s->node(i).name()).qname16;
    *length = q.size();
    return q.c_str();
  }
  const char16_t* n = FixedName<char16_t>(k);
  *length = Len16(n);
  return n;
}

const char* nameOf8(Store* s, uint32_t i, size_t* length) {
  Kind k = s->node(i).kind();
  if (HasOwnName(k)) {
    const std::string& q = s->name(s->node(i).name()).qname8;
    *length = q.size();
    return q.c_str();
  }
  const char* n = FixedName<char>(k);
  *length = std::strlen(n);
  return n;
}

HRESULT nodeName(Store* s, uint32_t i, BSTR* out) try {
  if (!out) return E_POINTER;
  size_t n;
  const char16_t* name = nameOf(s, i, &n);
  return OutBstr(out, name, n);
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

uint32_t attributeFor(Store* s, uint32_t e, std::u16string_view q, bool* added) {
  *added = false;
  if (uint32_t a = s->findAttr(e, q)) return a;
  uint32_t ns = 0;
  if (q == u"xmlns" || q.substr(0, 6) == u"xmlns:") {
    ns = s->internNs(kXmlnsUri, Len16(kXmlnsUri));
  } else if (q.substr(0, 4) == u"xml:") {
    ns = s->internNs(kXmlUri, Len16(kXmlUri));
  }
  uint32_t id = s->internName(q.data(), q.size(), ns);
  uint32_t a = id == ~0u ? 0 : s->newNode(kAttribute, id);
  *added = a != 0;
  return a;
}

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
      const NodeRecord* h = RecordOf(ref.punkVal);
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

}  // namespace twdom
