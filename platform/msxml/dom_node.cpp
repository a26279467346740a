// The node object: one COM object per record a caller holds, answering the
// faces of its record's kind (element, attribute, character data,
// processing instruction).
#include <new>

#include "dom_objects.h"

namespace twdom {

/* ---- DomNode ------------------------------------------------------------ */

DomNode::DomNode(Store* store, uint32_t index) : handle_(store, index) { store->addRef(); }

DomNode::~DomNode() { handle_.store->clearWrapper(handle_.index); }

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
    *out = static_cast<NodeRecord*>(&handle_);
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
  const char16_t* text = nullptr;  // EMPTY and NULL values set empty text
  if (value.vt == VT_BSTR) {
    text = value.bstrVal;  // read in place: no copy
  } else if (value.vt != VT_EMPTY && value.vt != VT_NULL) {
    hr = VariantChangeType(&t, &value, 0, VT_BSTR);
    if (FAILED(hr)) return Fail(hr, u"The attribute value cannot be turned into text.");
    text = t.bstrVal;
  }
  bool added = false;
  uint32_t a = ops::attributeFor(s, e, std::u16string_view(name, n), &added);
  if (!a) {
    VariantClear(&t);
    return Fail(E_OUTOFMEMORY, u"Out of memory.");
  }
  hr = ops::setCharacterData(s, a, text, Len16(text));
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

}  // namespace twdom
