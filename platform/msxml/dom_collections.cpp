// Node lists and attribute maps: live views over a record's children and
// attributes.
#include <new>

#include "dom_objects.h"

namespace twdom {

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
}  // namespace twdom
