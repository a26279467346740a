// KxXMLNodeImpl: the node object over one DOM node. Names and values as
// BSTRs and as narrow text, the walk over element children, attributes.
#include <cstring>
#include <memory>
#include <new>

#include <typeinfo>

#include "dom_support.h"
#include "own_records.h"
#include "twxml/document.h"
#include "twxml/kernel.h"
#include "twxml/platform/com_internal.h"
#include "twxml/platform/msxml_internal.h"
#include "twxml/platform/win32_internal.h"

using twxml_dom::BstrText;
using twxml_dom::LocalBuffer;
using twxml_dom::NarrowName;
using twxml_dom::NarrowText;
using twxml_dom::RecordText;
using twxml_dom::Ref;
using twxml_dom::WideText;

namespace {

// A name as the DOM gave it, freed when the holder goes.
class OwnedBstr {
 public:
  explicit OwnedBstr(BSTR text) : text_(text) {}
  ~OwnedBstr() { SysFreeString(text_); }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
  BSTR get() const { return text_; }

 private:
  BSTR text_;
};

using twdom::NodeRecord;
using twdom::RecordOf;

// A variant the call owns, cleared when the holder goes.
class OwnedVariant {
 public:
  OwnedVariant() { VariantInit(&value); }
  ~OwnedVariant() { VariantClear(&value); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  VARIANT value;
};

}  // namespace

// ---- Object ---------------------------------------------------------------

KxXMLNodeImpl::KxXMLNodeImpl(IXMLDOMNode* node) : domNode(node) {
  if (domNode) domNode->AddRef();
}

KxXMLNodeImpl::KxXMLNodeImpl(const KxXMLNodeImpl& other) : KxXMLNode(other), domNode(other.domNode) {
  if (domNode) domNode->AddRef();
}

KxXMLNodeImpl& KxXMLNodeImpl::operator=(const KxXMLNodeImpl& other) {
  if (other.domNode) other.domNode->AddRef();
  if (domNode) domNode->Release();
  domNode = other.domNode;
  return *this;
}

KxXMLNodeImpl::~KxXMLNodeImpl() {
  if (domNode) {
    domNode->Release();
    domNode = nullptr;
  }
}

void* KxXMLNodeImpl::operator new(std::size_t size) {
  if (void* block = TwSmallAlloc(size)) return block;
  throw std::bad_alloc();
}

void* KxXMLNodeImpl::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return TwSmallAlloc(size);
}

void KxXMLNodeImpl::operator delete(void* block, std::size_t size) noexcept { TwSmallFree(block, size); }

IXMLDOMNode* KxXMLNodeImpl::GetInterfaceP() const {
  if (!domNode) return nullptr;
  domNode->AddRef();
  return domNode;
}

// ---- Name, value, text, children -----------------------------------------

WCHAR* KxXMLNodeImpl::GetNameBstr() {
  if (!domNode) return nullptr;
  BSTR name = nullptr;
  domNode->get_nodeName(&name);
  return name;
}

int KxXMLNodeImpl::AppendNodeF(KxXMLNode* child) {
  if (!domNode) return TWXML_E_DOM;
  // Only the library's own node objects carry a DOM node.
  const KxXMLNodeImpl* impl = dynamic_cast<KxXMLNodeImpl*>(child);
  if (!impl || !impl->domNode) return TWXML_E_DOM;
  Ref<IXMLDOMNode> childNode(impl->domNode);
  childNode->AddRef();
  Ref<IXMLDOMNode> appended;
  return SUCCEEDED(domNode->appendChild(childNode.get(), appended.out())) ? TWXML_OK : TWXML_E_DOM;
}

WCHAR* KxXMLNodeImpl::GetValueBstr() {
  if (!domNode) return nullptr;
  VARIANT value;
  VariantInit(&value);
  domNode->get_nodeValue(&value);
  if (value.vt == VT_BSTR) return value.bstrVal;
  VariantClear(&value);
  return nullptr;
}

int KxXMLNodeImpl::PutValueF(WCHAR* text) {
  if (!domNode) return TWXML_E_DOM;
  return SUCCEEDED(domNode->put_text(text)) ? TWXML_OK : TWXML_E_DOM;
}

IXMLDOMNode* KxXMLNodeImpl::GetNextChildNodepo(IXMLDOMNode* previous, tagDOMNodeType wanted) {
  if (!domNode) return nullptr;
  // The library's own model steps over the records; a node object is made
  // only for the node found.
  if (const NodeRecord* from = RecordOf(previous ? previous : domNode)) {
    const uint32_t found =
        previous ? from->nextSiblingOfType(wanted) : from->firstChildOfType(wanted);
    return found ? from->nodeObject(found) : nullptr;
  }
  IXMLDOMNode* candidate = nullptr;
  const HRESULT hr =
      previous ? previous->get_nextSibling(&candidate) : domNode->get_firstChild(&candidate);
  if (FAILED(hr) || !candidate) {
    if (candidate) candidate->Release();
    return nullptr;
  }
  for (;;) {
    // A node whose type cannot be read counts as an attribute, which no
    // caller asks for.
    DOMNodeType type = NODE_ATTRIBUTE;
    if (FAILED(candidate->get_nodeType(&type))) type = NODE_ATTRIBUTE;
    if (type == wanted) return candidate;
    IXMLDOMNode* next = nullptr;
    if (FAILED(candidate->get_nextSibling(&next))) {
      if (next) next->Release();
      next = nullptr;
    }
    candidate->Release();
    if (!next) return nullptr;
    candidate = next;
  }
}

KxXMLNode* KxXMLNodeImpl::GetNextChildNodePo(KxXMLNode* previous) {
  IXMLDOMNode* previousNode = nullptr;
  if (previous) {
    // Most previous nodes are of this very class: no cast search for them.
    const KxXMLNodeImpl* impl = typeid(*previous) == typeid(KxXMLNodeImpl)
                                    ? static_cast<KxXMLNodeImpl*>(previous)
                                    : dynamic_cast<KxXMLNodeImpl*>(previous);
    if (impl) previousNode = impl->domNode;
  }
  Ref<IXMLDOMNode> found(GetNextChildNodepo(previousNode, NODE_ELEMENT));
  if (!found) return nullptr;
  return new (std::nothrow) KxXMLNodeImpl(found.get());
}

// ---- Names and values as narrow text -------------------------------------

int KxXMLNodeImpl::ExtractNameF(char* leading, char* buffer, unsigned int size) {
  int result = TWXML_E_NOTFOUND;
  NarrowName name(this, domNode);
  char* text = name.get();
  if (!text) return result;
  // A null leading text counts as none.
  const char* lead = leading ? leading : "";
  const size_t leadLength = std::strlen(lead);
  if (_strnicmp(text, lead, leadLength) != 0) return result;
  char* rest = text + leadLength;
  StrTrimStrRightU(rest);
  // A rest that does not fit fails whole; it is never cut.
  if (buffer && std::strlen(rest) < size) {
    strcpy_s(buffer, size, rest);
    result = TWXML_OK;
  }
  return result;
}

bool KxXMLNodeImpl::IsThisNameB(char* leading, char* name) {
  if (!name) return false;
  const size_t length = std::strlen(name) + 1;
  if (length > 0xFFFFFFFFu) return false;
  const unsigned int m = static_cast<unsigned int>(length);
  LocalBuffer<char, 256> wanted;
  LocalBuffer<char, 256> extracted;
  if (!wanted.Reserve(m) || !extracted.Reserve(m)) return false;
  // The caller's name loses what element creation would have removed, so a
  // name written with blanks still matches.
  StrNCopyRTrimV(name, wanted.get(), m);
  StrRemoveIllegalXMLNameCharV(wanted.get());
  if (ExtractNameF(leading, extracted.get(), m) != 0) return false;
  return _stricmp(wanted.get(), extracted.get()) == 0;
}

void KxXMLNodeImpl::GetTagNameV(char* buffer, unsigned int size) {
  if (!buffer) return;
  NarrowName name(this, domNode);
  if (!name.present()) {
    buffer[0] = 0;
    return;
  }
  StrNCopyRTrimV(name.get(), buffer, size);
}

char* KxXMLNodeImpl::GetValuePsz(char* buffer, unsigned int size) {
  if (!buffer) return buffer;
  buffer[0] = 0;
  if (const NodeRecord* h = RecordOf(domNode)) {
    const uint32_t found = h->firstChildOfType(NODE_TEXT);
    return found ? twxml_dom::ValueText(*h, found, buffer, size) : buffer;
  }
  IXMLDOMNode* found = GetNextChildNodepo(nullptr, NODE_TEXT);
  if (!found) return buffer;
  KxXMLNodeImpl text(found);
  found->Release();

  OwnedVariant value;
  text.domNode->get_nodeValue(&value.value);
  if (value.value.vt != VT_BSTR) return buffer;
  const WCHAR* bstr = value.value.bstrVal;
  return twxml_dom::ValueText(bstr, bstr ? wcslen16(bstr) : 0, buffer, size);
}

KxXMLNode* KxXMLNodeImpl::FindChildNodePo(char* leading, char* name) {
  std::unique_ptr<KxXMLNode> child(GetNextChildNodePo(nullptr));
  while (child) {
    if (child->IsThisNameB(leading, name)) return child.release();
    child.reset(GetNextChildNodePo(child.get()));
  }
  return nullptr;
}

// ---- Attributes -----------------------------------------------------------

namespace {

// Reads one attribute of element into a variant changed to type; the
// variant is the caller's to clear. False when there is no such value.
bool ReadAttribute(IXMLDOMElement* element, const char* name, VARIANT* value, VARTYPE type) {
  WideText wideName(name);
  if (FAILED(element->getAttribute(wideName.get(), value))) return false;
  // A missing attribute comes back as a variant without value, which does
  // not change into text or a number.
  return SUCCEEDED(VariantChangeType(value, value, 0, type));
}

}  // namespace

namespace {

// An attribute of a record read in place: whether the element is the
// library's own (else the DOM is asked through COM) and, when it is, the
// attribute's record (0 when the element has no such attribute or the node
// is no element).
struct OwnAttribute {
  bool own = false;
  const NodeRecord* element = nullptr;
  uint32_t index = 0;
};

OwnAttribute FindOwnAttribute(IXMLDOMNode* node, const char* name) {
  OwnAttribute found;
  const NodeRecord* h = RecordOf(node);
  if (!h) return found;
  if (h->type() != NODE_ELEMENT) {
    found.own = true;
    return found;
  }
  // A name without a wide form goes through COM, which reports it.
  WideText wideName(name);
  if (!wideName.get()) return found;
  found.own = true;
  found.element = h;
  found.index = h->attribute(std::u16string_view(wideName.get(), wcslen16(wideName.get())));
  return found;
}

}  // namespace

int KxXMLNodeImpl::GetAttributeF(char* name, char* buffer, unsigned int size) {
  if (!domNode) return TWXML_E_NOTFOUND;
  if (buffer && RecordOf(domNode)) {
    const OwnAttribute a = FindOwnAttribute(domNode, name);
    if (a.own) {
      if (!a.index) return TWXML_E_NOTFOUND;
      return twxml_dom::CopyTrimmed(*a.element, a.index, buffer, size) ? TWXML_OK : TWXML_E_NOTFOUND;
    }
  }
  Ref<IXMLDOMElement> element;
  if (FAILED(domNode->QueryInterface(IID_IXMLDOMElement, element.outVoid())) || !element)
    return TWXML_E_NOTFOUND;
  OwnedVariant value;
  if (!buffer || !ReadAttribute(element.get(), name, &value.value, VT_BSTR))
    return TWXML_E_NOTFOUND;
  NarrowText narrow(value.value.bstrVal);
  StrNCopyRTrimV(narrow.get(), buffer, size);
  return TWXML_OK;
}

int KxXMLNodeImpl::GetAttributeF(char* name, int* out) {
  if (!domNode) return TWXML_E_NOTFOUND;
  if (out && RecordOf(domNode)) {
    const OwnAttribute a = FindOwnAttribute(domNode, name);
    if (a.own) {
      if (!a.index) return TWXML_E_NOTFOUND;
      // The number is read by the platform's coercion, as the DOM's text.
      RecordText text(*a.element, a.index);
      OwnedVariant value;
      value.value.vt = VT_BSTR;
      value.value.bstrVal = text.get() ? SysAllocStringLen(text.get(), static_cast<UINT>(text.units())) : nullptr;
      if (!value.value.bstrVal || FAILED(VariantChangeType(&value.value, &value.value, 0, VT_I4)))
        return TWXML_E_NOTFOUND;
      *out = value.value.lVal;
      return TWXML_OK;
    }
  }
  Ref<IXMLDOMElement> element;
  if (FAILED(domNode->QueryInterface(IID_IXMLDOMElement, element.outVoid())) || !element)
    return TWXML_E_NOTFOUND;
  OwnedVariant value;
  if (!out || !ReadAttribute(element.get(), name, &value.value, VT_I4)) return TWXML_E_NOTFOUND;
  *out = value.value.lVal;
  return TWXML_OK;
}

namespace {

// Sets one attribute; a refusal of the DOM is raised with the element's
// error information.
int SetAttribute(IXMLDOMNode* node, WCHAR* name, const VARIANT& value) {
  if (!node) return TWXML_E_DOM;
  Ref<IXMLDOMElement> element;
  if (FAILED(node->QueryInterface(IID_IXMLDOMElement, element.outVoid())) || !element)
    return TWXML_E_DOM;
  OwnedVariant owned;
  HRESULT hr = VariantCopy(&owned.value, &value);
  if (FAILED(hr)) _com_raise_error(hr);
  OwnedBstr nameCopy(SysAllocString(name));
  if (!nameCopy.get() && name) _com_raise_error(E_OUTOFMEMORY);
  hr = element->setAttribute(nameCopy.get(), owned.value);
  if (FAILED(hr))
    _com_raise_error(hr, twxml_dom::TakeErrorInfo(element.get(), IID_IXMLDOMElement, false));
  return TWXML_OK;
}

}  // namespace

int KxXMLNodeImpl::AppendAttributeF(WCHAR* name, WCHAR* value) {
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = value;
  return SetAttribute(domNode, name, text);
}

int KxXMLNodeImpl::AppendAttributeF(WCHAR* name, int value) {
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = value;
  return SetAttribute(domNode, name, number);
}

int KxXMLNodeImpl::AppendAttributeF(char* name, char* value) {
  BstrText wideName(name);
  BstrText wideValue(value);
  return AppendAttributeF(wideName.get(), wideValue.get());
}

int KxXMLNodeImpl::AppendAttributeF(char* name, int value) {
  BstrText wideName(name);
  return AppendAttributeF(wideName.get(), value);
}
