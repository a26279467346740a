// KxXMLParserImpl: the document object over one DOM document. Loading,
// saving, the root element, node construction and the XML declaration.
#include <cstring>
#include <new>

#include "dom_support.h"
#include "persist_stream.h"
#include "twxml/document.h"
#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"

using twxml_dom::BstrText;
using twxml_dom::LocalBuffer;
using twxml_dom::Ref;
using twxml_dom::WideText;

namespace {

VARIANT MakeI4(int value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT MakeUnknown(IUnknown* unknown) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = unknown;
  return v;
}

BSTR CopyBstr(BSTR text) { return text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr; }

}  // namespace

// ---- Construction ---------------------------------------------------------

KxXMLParserImpl::KxXMLParserImpl() : domDocument(nullptr), defaultNamespaceUri(nullptr) {
  // The DOM's default settings are kept: white-space-only text is dropped
  // on load, nothing external is fetched.
  if (FAILED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IXMLDOMDocument, reinterpret_cast<void**>(&domDocument))))
    domDocument = nullptr;
}

KxXMLParserImpl::KxXMLParserImpl(const KxXMLParserImpl& other)
    : KxXMLParser(other), domDocument(other.domDocument),
      defaultNamespaceUri(CopyBstr(other.defaultNamespaceUri)) {
  if (domDocument) domDocument->AddRef();
}

KxXMLParserImpl& KxXMLParserImpl::operator=(const KxXMLParserImpl& other) {
  if (this == &other) return *this;
  if (other.domDocument) other.domDocument->AddRef();
  if (domDocument) domDocument->Release();
  domDocument = other.domDocument;
  BSTR uri = CopyBstr(other.defaultNamespaceUri);
  SysFreeString(defaultNamespaceUri);
  defaultNamespaceUri = uri;
  return *this;
}

KxXMLParserImpl::~KxXMLParserImpl() {
  if (domDocument) {
    domDocument->Release();
    domDocument = nullptr;
  }
  if (defaultNamespaceUri) {
    SysFreeString(defaultNamespaceUri);
    defaultNamespaceUri = nullptr;
  }
}

bool KxXMLParserImpl::IsValidB() { return domDocument != nullptr; }

// ---- Loading and saving ---------------------------------------------------

int KxXMLParserImpl::LoadFromStreamF(KxStream* stream) {
  KxPersistToStream adapter(stream);
  if (!domDocument) return TWXML_E_HANDLE;
  // The adapter's own reference (from its construction) keeps it alive for
  // the whole call; the DOM gives back whatever it takes before load returns.
  IUnknown* unknown = nullptr;
  if (FAILED(adapter.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown))))
    return TWXML_E_HANDLE;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = domDocument->load(MakeUnknown(unknown), &loaded);
  if (FAILED(hr)) return TWXML_E_CREATE;
  return loaded != VARIANT_FALSE ? TWXML_OK : TWXML_E_CREATE;
}

void KxXMLParserImpl::SaveToStreamV(KxStream* stream) {
  KxPersistToStream adapter(stream);
  if (!domDocument) return;
  IUnknown* unknown = nullptr;
  if (FAILED(adapter.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)))) return;
  const VARIANT source = MakeUnknown(unknown);
  VARIANT destination;
  VariantInit(&destination);
  HRESULT hr = VariantCopy(&destination, &source);
  if (FAILED(hr)) _com_raise_error(hr);
  hr = domDocument->save(destination);
  if (FAILED(hr)) {
    IErrorInfo* info = twxml_dom::TakeErrorInfo(domDocument, IID_IXMLDOMDocument, true);
    VariantClear(&destination);
    _com_raise_error(hr, info);
  }
  VariantClear(&destination);
}

// ---- Root element ---------------------------------------------------------

KxXMLNode* KxXMLParserImpl::GetRootElementP() {
  if (!domDocument) return nullptr;
  Ref<IXMLDOMElement> element;
  if (FAILED(domDocument->get_documentElement(element.out())) || !element) return nullptr;
  Ref<IXMLDOMNode> node;
  if (FAILED(element->QueryInterface(IID_IXMLDOMNode, node.outVoid())) || !node) return nullptr;
  return new (std::nothrow) KxXMLNodeImpl(node.get());
}

int KxXMLParserImpl::PutRootElementF(KxXMLNode* element) {
  if (!domDocument) return TWXML_E_DOM;
  // Only the library's own node objects carry a DOM node.
  const KxXMLNodeImpl* impl = dynamic_cast<KxXMLNodeImpl*>(element);
  if (!impl) return TWXML_E_DOM;
  Ref<IXMLDOMNode> node(impl->GetInterfaceP());
  if (!node) return TWXML_E_DOM;
  Ref<IXMLDOMElement> domElement;
  if (FAILED(node->QueryInterface(IID_IXMLDOMElement, domElement.outVoid())) || !domElement)
    return TWXML_E_DOM;
  return SUCCEEDED(domDocument->putref_documentElement(domElement.get())) ? TWXML_OK
                                                                          : TWXML_E_DOM;
}

// ---- Node construction ----------------------------------------------------

KxXMLNode* KxXMLParserImpl::CreateElementP(int nodeType, WCHAR* name, WCHAR* namespaceUri) {
  if (!domDocument) return nullptr;
  const VARIANT type = MakeI4(nodeType);
  // Whether the name is prefixed is decided before illegal characters go.
  const bool prefixed = name && wcschr16(name, u':') != nullptr;
  WCHAR* uri = namespaceUri;
  if (!prefixed && !namespaceUri) uri = defaultNamespaceUri;

  LocalBuffer<WCHAR, 256> cleaned;
  WCHAR* cleanName = nullptr;
  if (name) {
    const size_t units = wcslen16(name) + 1;
    if (!cleaned.Reserve(units)) return nullptr;
    std::memcpy(cleaned.get(), name, units * sizeof(WCHAR));
    StrRemoveIllegalXMLNameWCharV(cleaned.get());
    cleanName = cleaned.get();
  }

  Ref<IXMLDOMNode> created;
  if (FAILED(domDocument->createNode(type, cleanName, uri, created.out())) || !created)
    return nullptr;
  KxXMLNodeImpl* node = new (std::nothrow) KxXMLNodeImpl(created.get());
  created.reset();
  if (node == nullptr) return nullptr;

  // An unprefixed element created with a namespace URI of the caller's own
  // (the empty one included) makes that URI the one later unprefixed
  // elements without a URI join.
  if (!prefixed && uri != nullptr && uri != defaultNamespaceUri) {
    if (defaultNamespaceUri) SysFreeString(defaultNamespaceUri);
    defaultNamespaceUri = SysAllocString(namespaceUri);
  }
  return node;
}

KxXMLNode* KxXMLParserImpl::CreateElementP(WCHAR* name, WCHAR* namespaceUri) {
  return CreateElementP(NODE_ELEMENT, name, namespaceUri);
}

KxXMLNode* KxXMLParserImpl::CreateElementP(char* name, char* namespaceUri) {
  WideText wideName(name);
  WideText wideUri(namespaceUri);
  return CreateElementP(wideName.get(), wideUri.get());
}

namespace {

// Text and comment nodes: created nameless, then filled through the node
// object's PutValueF.
KxXMLNode* CreateCharacterNode(IXMLDOMDocument* document, DOMNodeType type, WCHAR* text) {
  if (!document) return nullptr;
  Ref<IXMLDOMNode> created;
  if (FAILED(document->createNode(MakeI4(type), nullptr, nullptr, created.out())) || !created)
    return nullptr;
  KxXMLNode* node = new (std::nothrow) KxXMLNodeImpl(created.get());
  created.reset();
  if (node == nullptr || node->PutValueF(text) != 0) {
    delete node;
    return nullptr;
  }
  return node;
}

}  // namespace

KxXMLNode* KxXMLParserImpl::CreateTextP(WCHAR* text) {
  return CreateCharacterNode(domDocument, NODE_TEXT, text);
}

KxXMLNode* KxXMLParserImpl::CreateTextP(char* text) {
  WideText wide(text);
  return CreateTextP(wide.get());
}

KxXMLNode* KxXMLParserImpl::CreateCommentP(WCHAR* text) {
  return CreateCharacterNode(domDocument, NODE_COMMENT, text);
}

KxXMLNode* KxXMLParserImpl::CreateCommentP(char* text) {
  WideText wide(text);
  return CreateCommentP(wide.get());
}

// ---- Appending ------------------------------------------------------------

namespace {

// Hands a freshly created node to the parent and drops the node object; the
// DOM node stays only if the parent took it.
int AppendCreated(KxXMLNode* parent, KxXMLNode* created) {
  if (!created) return TWXML_E_DOM;
  const int appended = parent ? parent->AppendNodeF(created) : TWXML_E_DOM;
  delete created;
  return appended == 0 ? TWXML_OK : TWXML_E_DOM;
}

}  // namespace

int KxXMLParserImpl::AppendElementF(KxXMLNode* parent, KxXMLNode* child) {
  return parent ? parent->AppendNodeF(child) : TWXML_E_DOM;
}

int KxXMLParserImpl::AppendElementF(KxXMLNode* parent, WCHAR* name, WCHAR* namespaceUri) {
  return AppendCreated(parent, CreateElementP(name, namespaceUri));
}

int KxXMLParserImpl::AppendElementF(KxXMLNode* parent, char* name, char* namespaceUri) {
  WideText wideName(name);
  WideText wideUri(namespaceUri);
  return AppendElementF(parent, wideName.get(), wideUri.get());
}

int KxXMLParserImpl::AppendTextF(KxXMLNode* parent, WCHAR* text) {
  return AppendCreated(parent, CreateTextP(text));
}

int KxXMLParserImpl::AppendTextF(KxXMLNode* parent, char* text) {
  WideText wide(text);
  return AppendTextF(parent, wide.get());
}

int KxXMLParserImpl::AppendCommentF(KxXMLNode* parent, WCHAR* text) {
  return AppendCreated(parent, CreateCommentP(text));
}

int KxXMLParserImpl::AppendCommentF(KxXMLNode* parent, char* text) {
  WideText wide(text);
  return AppendCommentF(parent, wide.get());
}

// ---- Encoding declaration -------------------------------------------------

int KxXMLParserImpl::SetEncodingF(char* encoding) {
  if (!domDocument) return TWXML_E_DOM;
  const char* name = encoding ? encoding : "UTF-8";
  // The data needs the name's length plus 26 bytes, terminator included.
  const size_t size = std::strlen(name) + 28;
  LocalBuffer<char, 128> data;
  if (!data.Reserve(size)) return TWXML_E_DOM;
  sprintf_s(data.get(), size, "version='1.0' encoding='%s'", name);
  WideText wideData(data.get());

  static WCHAR target[] = u"xml";
  Ref<IXMLDOMProcessingInstruction> declaration;
  if (FAILED(domDocument->createProcessingInstruction(target, wideData.get(), declaration.out())) ||
      !declaration)
    return TWXML_E_DOM;
  Ref<IXMLDOMNode> first;
  if (FAILED(domDocument->get_firstChild(first.out()))) return TWXML_E_DOM;
  // With no child yet the reference is null and the DOM appends.
  Ref<IXMLDOMNode> inserted;
  if (FAILED(domDocument->insertBefore(declaration.get(), MakeUnknown(first.get()), inserted.out())))
    return TWXML_E_DOM;
  return TWXML_OK;
}
