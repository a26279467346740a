// Test doubles: byte streams on both sides of the stream adapter, and DOM
// nodes whose answers a test sets, for paths a real DOM rarely takes.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "twxml/document.h"

namespace dom_test {

// A KxStream over a byte vector that records the size of every call and can
// be told to fail the n-th ReadF or WriteF (counted from 1).
class FakeKxStream : public KxStream {
 public:
  FakeKxStream() = default;
  explicit FakeKxStream(std::string bytes) : data(std::move(bytes)) {}

  int WriteF(void* bytes, unsigned int count) override {
    writeSizes.push_back(count);
    if (static_cast<int>(writeSizes.size()) == failWriteAt) return 1;
    data.append(static_cast<const char*>(bytes), count);
    return 0;
  }
  int ReadF(void* buffer, unsigned int count) override {
    readSizes.push_back(count);
    if (static_cast<int>(readSizes.size()) == failReadAt) return 1;
    if (position + count > data.size()) return 1;
    std::memcpy(buffer, data.data() + position, count);
    position += count;
    return 0;
  }
  unsigned int GetSizeUl() override { return static_cast<unsigned int>(data.size()); }
  int RewindF() override {
    position = 0;
    return 0;
  }
  unsigned int GetContentSizeUl() override {
    return contentSizeOverride >= 0 ? static_cast<unsigned int>(contentSizeOverride)
                                    : KxStream::GetContentSizeUl();
  }

  std::string data;
  size_t position = 0;
  int failReadAt = 0;
  int failWriteAt = 0;
  long long contentSizeOverride = -1;
  std::vector<unsigned int> readSizes;
  std::vector<unsigned int> writeSizes;
};

// An IStream over a byte vector with failure injection. Reference counted
// so that tests can check nothing is kept.
class FakeIStream : public IStream {
 public:
  explicit FakeIStream(std::string bytes = {}) : data(std::move(bytes)) {}
  virtual ~FakeIStream() = default;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }

  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    readSizes.push_back(count);
    if (static_cast<int>(readSizes.size()) == failReadAt) return readFailure;
    ULONG n = std::min<ULONG>(count, static_cast<ULONG>(data.size() - position));
    if (static_cast<int>(readSizes.size()) == shortReadAt && n > 0) --n;
    std::memcpy(buffer, data.data() + position, n);
    position += n;
    if (read) *read = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* bytes, ULONG count, ULONG* written) override {
    writeSizes.push_back(count);
    if (static_cast<int>(writeSizes.size()) == failWriteAt) return writeFailure;
    ULONG n = count;
    if (static_cast<int>(writeSizes.size()) == shortWriteAt && n > 0) --n;
    data.append(static_cast<const char*>(bytes), n);
    if (written) *written = n;
    return writeResult;
  }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG* stat, DWORD flags) override {
    statFlags = flags;
    if (FAILED(statResult)) return statResult;
    std::memset(stat, 0, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = reportedSize >= 0 ? static_cast<ULONGLONG>(reportedSize) : data.size();
    return S_OK;
  }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

  std::string data;
  size_t position = 0;
  ULONG refs = 1;
  long long reportedSize = -1;
  HRESULT statResult = S_OK;
  DWORD statFlags = 0xFFFFFFFFu;
  int failReadAt = 0;
  int shortReadAt = 0;
  int failWriteAt = 0;
  int shortWriteAt = 0;
  HRESULT readFailure = E_FAIL;
  HRESULT writeFailure = STG_E_MEDIUMFULL;
  HRESULT writeResult = S_OK;
  std::vector<ULONG> readSizes;
  std::vector<ULONG> writeSizes;
};

// Error information that a fake element leaves in the thread's slot.
class FakeErrorInfo : public IErrorInfo {
 public:
  explicit FakeErrorInfo(std::u16string text) : description(std::move(text)) {}
  virtual ~FakeErrorInfo() = default;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IErrorInfo) {
      *out = static_cast<IErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    const ULONG left = --refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetGUID(GUID* guid) override {
    *guid = GUID_NULL;
    return S_OK;
  }
  HRESULT GetSource(BSTR* source) override {
    *source = SysAllocString(u"fake");
    return S_OK;
  }
  HRESULT GetDescription(BSTR* text) override {
    *text = SysAllocString(description.c_str());
    return S_OK;
  }
  HRESULT GetHelpFile(BSTR* file) override {
    *file = nullptr;
    return S_OK;
  }
  HRESULT GetHelpContext(DWORD* context) override {
    *context = 0;
    return S_OK;
  }

  std::u16string description;
  ULONG refs = 1;
};

// A DOM node (and element face) whose answers the test sets. Siblings are
// linked by plain pointers; the test owns every node and checks the counts.
class FakeNode : public IXMLDOMElement, public ISupportErrorInfo {
 public:
  FakeNode(DOMNodeType nodeType, std::u16string nodeName, std::u16string nodeText = {})
      : type(nodeType), name(std::move(nodeName)), text(std::move(nodeText)) {}
  virtual ~FakeNode() = default;

  // IUnknown: both faces share one count.
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IXMLDOMNode) {
      *out = static_cast<IXMLDOMNode*>(static_cast<IXMLDOMElement*>(this));
    } else if (iid == IID_IXMLDOMElement && type == NODE_ELEMENT) {
      *out = static_cast<IXMLDOMElement*>(this);
    } else if (iid == IID_ISupportErrorInfo && offersErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    ++refs;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }

  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    askedErrorInfoFor = iid;
    return supportsErrorInfo;
  }

  // IXMLDOMNode
  HRESULT get_nodeName(BSTR* out) override {
    *out = hasName ? SysAllocString(name.c_str()) : nullptr;
    return hasName ? S_OK : E_FAIL;
  }
  HRESULT get_nodeValue(VARIANT* value) override {
    VariantInit(value);
    if (type == NODE_ELEMENT) {
      value->vt = VT_NULL;
      return S_FALSE;
    }
    if (valueIsNumber) {
      value->vt = VT_I4;
      value->lVal = 7;
      return S_OK;
    }
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(text.c_str());
    return S_OK;
  }
  HRESULT put_nodeValue(VARIANT) override { return E_NOTIMPL; }
  HRESULT get_nodeType(DOMNodeType* out) override {
    if (typeFails) return E_FAIL;
    *out = type;
    return S_OK;
  }
  HRESULT get_parentNode(IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_childNodes(IXMLDOMNodeList**) override { return E_NOTIMPL; }
  HRESULT get_firstChild(IXMLDOMNode** out) override {
    *out = nullptr;
    if (firstChildFails) return E_FAIL;
    if (children.empty()) return S_FALSE;
    *out = Face(children.front());
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT get_lastChild(IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_previousSibling(IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_nextSibling(IXMLDOMNode** out) override {
    *out = nullptr;
    if (nextSiblingFails) return E_FAIL;
    if (!next) return S_FALSE;
    *out = Face(next);
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT get_attributes(IXMLDOMNamedNodeMap**) override { return E_NOTIMPL; }
  HRESULT insertBefore(IXMLDOMNode*, VARIANT, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT replaceChild(IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT removeChild(IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT appendChild(IXMLDOMNode* child, IXMLDOMNode** out) override {
    if (out) *out = nullptr;
    if (refuseChildren) return E_FAIL;
    FakeNode* node = static_cast<FakeNode*>(static_cast<IXMLDOMElement*>(child));
    if (!children.empty()) children.back()->next = node;
    children.push_back(node);
    if (out) {
      *out = child;
      child->AddRef();
    }
    return S_OK;
  }
  HRESULT hasChildNodes(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT get_ownerDocument(IXMLDOMDocument**) override { return E_NOTIMPL; }
  HRESULT cloneNode(VARIANT_BOOL, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_nodeTypeString(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_text(BSTR*) override { return E_NOTIMPL; }
  HRESULT put_text(BSTR value) override {
    if (refuseText) return E_FAIL;
    text = value ? std::u16string(value) : std::u16string();
    return S_OK;
  }
  HRESULT get_xml(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_namespaceURI(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_prefix(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_baseName(BSTR*) override { return E_NOTIMPL; }

  // IXMLDOMElement
  HRESULT get_tagName(BSTR* out) override { return get_nodeName(out); }
  HRESULT getAttribute(BSTR attributeName, VARIANT* value) override {
    VariantInit(value);
    if (getAttributeFails) return E_FAIL;
    for (auto& a : attributes) {
      if (attributeName && a.first == attributeName) {
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(a.second.c_str());
        return S_OK;
      }
    }
    value->vt = VT_NULL;
    return S_FALSE;
  }
  HRESULT setAttribute(BSTR attributeName, VARIANT value) override {
    lastSetType = value.vt;
    if (setAttributeResult != S_OK) {
      if (errorText.size()) {
        auto* info = new FakeErrorInfo(errorText);
        SetErrorInfo(0, info);
        info->Release();
      }
      return setAttributeResult;
    }
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) return E_INVALIDARG;
    std::u16string key = attributeName ? attributeName : u"";
    std::u16string val = text.bstrVal ? text.bstrVal : u"";
    VariantClear(&text);
    for (auto& a : attributes) {
      if (a.first == key) {
        a.second = val;
        return S_OK;
      }
    }
    attributes.emplace_back(key, val);
    return S_OK;
  }
  HRESULT removeAttribute(BSTR) override { return E_NOTIMPL; }
  HRESULT getAttributeNode(BSTR, IXMLDOMAttribute**) override { return E_NOTIMPL; }

  static IXMLDOMNode* Face(FakeNode* node) {
    return static_cast<IXMLDOMNode*>(static_cast<IXMLDOMElement*>(node));
  }
  IXMLDOMNode* node() { return Face(this); }

  void Append(FakeNode* child) { appendChild(child->node(), nullptr); }

  DOMNodeType type;
  std::u16string name;
  std::u16string text;
  std::vector<FakeNode*> children;
  FakeNode* next = nullptr;
  std::vector<std::pair<std::u16string, std::u16string>> attributes;
  ULONG refs = 1;
  bool hasName = true;
  bool typeFails = false;
  bool firstChildFails = false;
  bool nextSiblingFails = false;
  bool refuseChildren = false;
  bool refuseText = false;
  bool valueIsNumber = false;
  bool getAttributeFails = false;
  bool offersErrorInfo = true;
  HRESULT supportsErrorInfo = S_OK;
  HRESULT setAttributeResult = S_OK;
  std::u16string errorText;
  GUID askedErrorInfoFor = GUID_NULL;
  VARTYPE lastSetType = VT_EMPTY;
};

inline std::string Narrow(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace dom_test
