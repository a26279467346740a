// Test doubles: one byte buffer that is both a KxStream and an IStream (so it
// sits on either side of the stream adapter), and a DOM node whose answers
// the test sets, for paths a real DOM rarely takes.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "twxml/platform/com_internal.h"
#include "twxml/twxml.h"

namespace dom_test {

#define DOM_TEST_NOTIMPL(name, ...) \
  HRESULT name(__VA_ARGS__) override { return E_NOTIMPL; }

inline char* C(const char* text) { return const_cast<char*>(text); }
inline char* C(const std::string& text) { return const_cast<char*>(text.c_str()); }
inline WCHAR* W(const char16_t* text) { return const_cast<WCHAR*>(text); }
inline std::u16string Show(const WCHAR* text) { return text ? std::u16string(text) : u"<null>"; }
inline std::u16string TakeBstr(BSTR text) {
  std::u16string s = Show(text);
  SysFreeString(text);
  return s;
}
// Drops whatever error information a test left on the thread.
inline void ClearErrorInfo() {
  IErrorInfo* info = nullptr;
  GetErrorInfo(0, &info);
  if (info) info->Release();
}

// Bytes with the size of every call recorded; failAt/shortAt count calls from 1.
class Bytes : public KxStream, public IStream {
 public:
  explicit Bytes(std::string bytes = {}) : data(std::move(bytes)) {}
  virtual ~Bytes() = default;

  int WriteF(void* bytes, unsigned int count) override {
    ULONG done = 0;
    return Write(bytes, count, &done) == S_OK && done == count ? 0 : 1;
  }
  int ReadF(void* buffer, unsigned int count) override {
    ULONG done = 0;
    return Read(buffer, count, &done) == S_OK && done == count ? 0 : 1;
  }
  unsigned int GetSizeUl() override { return static_cast<unsigned int>(data.size()); }
  int RewindF() override { return static_cast<int>(position = 0); }
  unsigned int GetContentSizeUl() override {
    return contentSize >= 0 ? static_cast<unsigned int>(contentSize) : KxStream::GetContentSizeUl();
  }

  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_ISequentialStream && iid != IID_IStream) return E_NOINTERFACE;
    *out = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    readSizes.push_back(count);
    if (static_cast<int>(readSizes.size()) == failReadAt) return E_FAIL;
    ULONG n = std::min<ULONG>(count, static_cast<ULONG>(data.size() - position));
    if (static_cast<int>(readSizes.size()) == shortReadAt && n > 0) --n;
    std::memcpy(buffer, data.data() + position, n);
    position += n;
    if (read) *read = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* bytes, ULONG count, ULONG* written) override {
    writeSizes.push_back(count);
    if (static_cast<int>(writeSizes.size()) == failWriteAt) return STG_E_MEDIUMFULL;
    ULONG n = count;
    if (static_cast<int>(writeSizes.size()) == shortWriteAt && n > 0) --n;
    data.append(static_cast<const char*>(bytes), n);
    if (written) *written = n;
    return writeResult;
  }
  HRESULT Stat(STATSTG* stat, DWORD flags) override {
    statFlags = flags;
    if (FAILED(statResult)) return statResult;
    std::memset(stat, 0, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = reportedSize >= 0 ? static_cast<ULONGLONG>(reportedSize) : data.size();
    return S_OK;
  }
  DOM_TEST_NOTIMPL(Seek, LARGE_INTEGER, DWORD, ULARGE_INTEGER*)
  DOM_TEST_NOTIMPL(SetSize, ULARGE_INTEGER)
  DOM_TEST_NOTIMPL(CopyTo, IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*)
  DOM_TEST_NOTIMPL(Commit, DWORD)
  DOM_TEST_NOTIMPL(Revert)
  DOM_TEST_NOTIMPL(LockRegion, ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
  DOM_TEST_NOTIMPL(UnlockRegion, ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
  DOM_TEST_NOTIMPL(Clone, IStream**)

  std::string data;
  size_t position = 0;
  ULONG refs = 1;
  int failReadAt = 0, shortReadAt = 0, failWriteAt = 0, shortWriteAt = 0;
  HRESULT writeResult = S_OK, statResult = S_OK;
  long long reportedSize = -1, contentSize = -1;
  DWORD statFlags = 0xFFFFFFFFu;
  std::vector<ULONG> readSizes, writeSizes;
};

// Every node operation unanswered; fakes override what they script.
template <class Face>
struct NodeStub : Face {
  DOM_TEST_NOTIMPL(get_nodeName, BSTR*)
  DOM_TEST_NOTIMPL(get_nodeValue, VARIANT*)
  DOM_TEST_NOTIMPL(put_nodeValue, VARIANT)
  DOM_TEST_NOTIMPL(get_nodeType, DOMNodeType*)
  DOM_TEST_NOTIMPL(get_parentNode, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(get_childNodes, IXMLDOMNodeList**)
  DOM_TEST_NOTIMPL(get_firstChild, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(get_lastChild, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(get_previousSibling, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(get_nextSibling, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(get_attributes, IXMLDOMNamedNodeMap**)
  DOM_TEST_NOTIMPL(insertBefore, IXMLDOMNode*, VARIANT, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(replaceChild, IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(removeChild, IXMLDOMNode*, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(appendChild, IXMLDOMNode*, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(hasChildNodes, VARIANT_BOOL*)
  DOM_TEST_NOTIMPL(get_ownerDocument, IXMLDOMDocument**)
  DOM_TEST_NOTIMPL(cloneNode, VARIANT_BOOL, IXMLDOMNode**)
  DOM_TEST_NOTIMPL(get_nodeTypeString, BSTR*)
  DOM_TEST_NOTIMPL(get_text, BSTR*)
  DOM_TEST_NOTIMPL(put_text, BSTR)
  DOM_TEST_NOTIMPL(get_xml, BSTR*)
  DOM_TEST_NOTIMPL(get_namespaceURI, BSTR*)
  DOM_TEST_NOTIMPL(get_prefix, BSTR*)
  DOM_TEST_NOTIMPL(get_baseName, BSTR*)
  virtual ~NodeStub() = default;
};

// A DOM node (and element face) whose answers the test sets. Siblings are
// linked by plain pointers; the test owns every node and checks the counts.
class FakeNode : public NodeStub<IXMLDOMElement>, public ISupportErrorInfo {
 public:
  FakeNode(DOMNodeType nodeType, std::u16string nodeName, std::u16string nodeText = {})
      : type(nodeType), name(std::move(nodeName)), text(std::move(nodeText)) {}

  // Both faces share one count.
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IXMLDOMNode || (iid == IID_IXMLDOMElement && type == NODE_ELEMENT))
      *out = static_cast<IXMLDOMElement*>(this);
    else if (iid == IID_ISupportErrorInfo && offersErrorInfo)
      *out = static_cast<ISupportErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    ++refs;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    askedErrorInfoFor = iid;
    return supportsErrorInfo;
  }

  HRESULT get_nodeName(BSTR* out) override {
    *out = hasName ? SysAllocString(name.c_str()) : nullptr;
    return hasName ? S_OK : E_FAIL;
  }
  HRESULT get_tagName(BSTR* out) override { return get_nodeName(out); }
  HRESULT get_nodeValue(VARIANT* value) override {
    VariantInit(value);
    value->vt = type == NODE_ELEMENT ? VT_NULL : valueIsNumber ? VT_I4 : VT_BSTR;
    if (value->vt == VT_I4) value->lVal = 7;
    if (value->vt == VT_BSTR) value->bstrVal = SysAllocString(text.c_str());
    return type == NODE_ELEMENT ? S_FALSE : S_OK;
  }
  HRESULT get_nodeType(DOMNodeType* out) override {
    if (typeFails) return E_FAIL;
    *out = type;
    return S_OK;
  }
  HRESULT get_firstChild(IXMLDOMNode** out) override {
    return Hand(firstChildFails, children.empty() ? nullptr : children.front(), out);
  }
  HRESULT get_nextSibling(IXMLDOMNode** out) override { return Hand(nextSiblingFails, next, out); }
  HRESULT appendChild(IXMLDOMNode* child, IXMLDOMNode** out) override {
    if (out) *out = nullptr;
    if (refuseChildren) return E_FAIL;
    auto* node = static_cast<FakeNode*>(static_cast<IXMLDOMElement*>(child));
    if (!children.empty()) children.back()->next = node;
    children.push_back(node);
    if (out) (*out = child)->AddRef();
    return S_OK;
  }
  HRESULT put_text(BSTR value) override {
    if (refuseText) return E_FAIL;
    text = value ? value : u"";
    return S_OK;
  }
  HRESULT getAttribute(BSTR attributeName, VARIANT* value) override {
    VariantInit(value);
    if (getAttributeFails) return E_FAIL;
    value->vt = VT_NULL;
    for (auto& a : attributes)
      if (attributeName && a.first == attributeName) {
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(a.second.c_str());
        return S_OK;
      }
    return S_FALSE;
  }
  HRESULT setAttribute(BSTR attributeName, VARIANT value) override {
    lastSetType = value.vt;
    if (setAttributeResult != S_OK) {
      IErrorInfo* info = nullptr;
      if (!errorText.empty() && TwCreateErrorInfo(GUID_NULL, u"fake", errorText.c_str(), &info) == S_OK) {
        SetErrorInfo(0, info);
        info->Release();
      }
      return setAttributeResult;
    }
    VARIANT asText;
    VariantInit(&asText);
    if (FAILED(VariantChangeType(&asText, &value, 0, VT_BSTR))) return E_INVALIDARG;
    std::u16string key = attributeName ? attributeName : u"", val = asText.bstrVal ? asText.bstrVal : u"";
    VariantClear(&asText);
    auto it = std::find_if(attributes.begin(), attributes.end(), [&](auto& a) { return a.first == key; });
    if (it != attributes.end()) it->second = val;
    else attributes.emplace_back(key, val);
    return S_OK;
  }
  DOM_TEST_NOTIMPL(removeAttribute, BSTR)
  DOM_TEST_NOTIMPL(getAttributeNode, BSTR, IXMLDOMAttribute**)

  IXMLDOMNode* node() { return static_cast<IXMLDOMElement*>(this); }
  void Append(FakeNode* child) { appendChild(child->node(), nullptr); }

  DOMNodeType type;
  std::u16string name, text, errorText;
  std::vector<FakeNode*> children;
  FakeNode* next = nullptr;
  std::vector<std::pair<std::u16string, std::u16string>> attributes;
  ULONG refs = 1;
  bool hasName = true, typeFails = false, firstChildFails = false, nextSiblingFails = false;
  bool refuseChildren = false, refuseText = false, valueIsNumber = false, getAttributeFails = false;
  bool offersErrorInfo = true;
  HRESULT supportsErrorInfo = S_OK, setAttributeResult = S_OK;
  GUID askedErrorInfoFor = GUID_NULL;
  VARTYPE lastSetType = VT_EMPTY;

 private:
  static HRESULT Hand(bool fails, FakeNode* node, IXMLDOMNode** out) {
    *out = nullptr;
    if (fails) return E_FAIL;
    if (!node) return S_FALSE;
    (*out = node->node())->AddRef();
    return S_OK;
  }
};

}  // namespace dom_test
