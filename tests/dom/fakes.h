// Test helpers: text conversions, one byte buffer that is both a KxStream and
// an IStream (so it sits on either side of the stream adapter) and fails on
// demand, and a DOM node of the test's own, reached through COM calls only.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "twxml/platform/com_internal.h"
#include "twxml/twxml.h"

namespace dom_test {

inline char* C(const char* text) { return const_cast<char*>(text); }
inline char* C(const std::string& text) { return const_cast<char*>(text.c_str()); }
inline WCHAR* W(const char16_t* text) { return const_cast<WCHAR*>(text); }
inline std::u16string TakeBstr(BSTR text) {
  std::u16string s = text ? std::u16string(text) : u"<null>";
  SysFreeString(text);
  return s;
}
// A BSTR freed at the end of the statement or scope that holds it: the wide
// text forms take BSTRs, whose length is stored in front of the text.
using BstrPtr = std::unique_ptr<OLECHAR, decltype(&SysFreeString)>;
inline BstrPtr MakeBstr(const char16_t* text) { return BstrPtr(SysAllocString(text), &SysFreeString); }
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

  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
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
    stat->cbSize.QuadPart = reportedSize >= 0 ? static_cast<ULONGLONG>(reportedSize) : data.size();
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

  std::string data;
  size_t position = 0;
  int failReadAt = 0, shortReadAt = 0, failWriteAt = 0, shortWriteAt = 0;
  HRESULT writeResult = S_OK, statResult = S_OK;
  long long reportedSize = -1, contentSize = -1;
  DWORD statFlags = 0xFFFFFFFFu;
  std::vector<ULONG> readSizes, writeSizes;
};

#define FAKE_NOTIMPL(name, ...) \
  HRESULT name(__VA_ARGS__) override { return E_NOTIMPL; }

// Every node operation unanswered; the fakes override what they script.
template <class Face>
struct NodeStub : Face {
  FAKE_NOTIMPL(get_nodeName, BSTR*) FAKE_NOTIMPL(get_nodeValue, VARIANT*) FAKE_NOTIMPL(put_nodeValue, VARIANT)
  FAKE_NOTIMPL(get_nodeType, DOMNodeType*) FAKE_NOTIMPL(get_parentNode, IXMLDOMNode**)
  FAKE_NOTIMPL(get_childNodes, IXMLDOMNodeList**) FAKE_NOTIMPL(get_firstChild, IXMLDOMNode**)
  FAKE_NOTIMPL(get_lastChild, IXMLDOMNode**) FAKE_NOTIMPL(get_previousSibling, IXMLDOMNode**)
  FAKE_NOTIMPL(get_nextSibling, IXMLDOMNode**) FAKE_NOTIMPL(get_attributes, IXMLDOMNamedNodeMap**)
  FAKE_NOTIMPL(insertBefore, IXMLDOMNode*, VARIANT, IXMLDOMNode**)
  FAKE_NOTIMPL(replaceChild, IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode**)
  FAKE_NOTIMPL(removeChild, IXMLDOMNode*, IXMLDOMNode**) FAKE_NOTIMPL(appendChild, IXMLDOMNode*, IXMLDOMNode**)
  FAKE_NOTIMPL(hasChildNodes, VARIANT_BOOL*) FAKE_NOTIMPL(get_ownerDocument, IXMLDOMDocument**)
  FAKE_NOTIMPL(cloneNode, VARIANT_BOOL, IXMLDOMNode**) FAKE_NOTIMPL(get_nodeTypeString, BSTR*)
  FAKE_NOTIMPL(get_text, BSTR*) FAKE_NOTIMPL(put_text, BSTR) FAKE_NOTIMPL(get_xml, BSTR*)
  FAKE_NOTIMPL(get_namespaceURI, BSTR*) FAKE_NOTIMPL(get_prefix, BSTR*) FAKE_NOTIMPL(get_baseName, BSTR*)
  virtual ~NodeStub() = default;
};

// Every document operation unanswered besides.
struct DocumentStub : NodeStub<IXMLDOMDocument> {
  FAKE_NOTIMPL(get_documentElement, IXMLDOMElement**) FAKE_NOTIMPL(putref_documentElement, IXMLDOMElement*)
  FAKE_NOTIMPL(createElement, BSTR, IXMLDOMElement**) FAKE_NOTIMPL(createTextNode, BSTR, IXMLDOMText**)
  FAKE_NOTIMPL(createComment, BSTR, IXMLDOMComment**) FAKE_NOTIMPL(createCDATASection, BSTR, IXMLDOMCDATASection**)
  FAKE_NOTIMPL(createProcessingInstruction, BSTR, BSTR, IXMLDOMProcessingInstruction**)
  FAKE_NOTIMPL(createAttribute, BSTR, IXMLDOMAttribute**) FAKE_NOTIMPL(createNode, VARIANT, BSTR, BSTR, IXMLDOMNode**)
  FAKE_NOTIMPL(load, VARIANT, VARIANT_BOOL*) FAKE_NOTIMPL(loadXML, BSTR, VARIANT_BOOL*) FAKE_NOTIMPL(save, VARIANT)
  FAKE_NOTIMPL(get_parseError, IXMLDOMParseError**) FAKE_NOTIMPL(get_async, VARIANT_BOOL*)
  FAKE_NOTIMPL(put_async, VARIANT_BOOL) FAKE_NOTIMPL(get_preserveWhiteSpace, VARIANT_BOOL*)
  FAKE_NOTIMPL(put_preserveWhiteSpace, VARIANT_BOOL)
};

// Sets the thread's error information, as a refusing DOM does.
inline void SetError(const char16_t* text) {
  IErrorInfo* info = nullptr;
  if (TwCreateErrorInfo(GUID_NULL, u"fake", text, &info) == S_OK) {
    SetErrorInfo(0, info);
    info->Release();
  }
}

// A node with a name, a value, attributes and children, that cannot be
// changed and whose walk fails where it is told to. The test owns it and
// checks its count.
class FakeNode : public NodeStub<IXMLDOMElement>, public ISupportErrorInfo {
 public:
  FakeNode(DOMNodeType nodeType, std::u16string nodeName, std::u16string nodeText = {})
      : type(nodeType), name(std::move(nodeName)), text(std::move(nodeText)) {}
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
  HRESULT InterfaceSupportsErrorInfo(REFIID) override { return supportsErrorInfo; }
  HRESULT get_nodeName(BSTR* out) override {
    *out = hasName ? SysAllocString(name.c_str()) : nullptr;
    return hasName ? S_OK : E_FAIL;
  }
  HRESULT get_tagName(BSTR* out) override { return get_nodeName(out); }
  HRESULT get_nodeValue(VARIANT* value) override {  // a value of another type than text is no value
    VariantInit(value);
    value->vt = type == NODE_ELEMENT ? VT_NULL : valueIsNumber ? VT_I4 : VT_BSTR;
    if (value->vt == VT_BSTR) value->bstrVal = SysAllocString(text.c_str());
    return type == NODE_ELEMENT ? S_FALSE : S_OK;
  }
  HRESULT get_nodeType(DOMNodeType* out) override { return typeFails ? E_FAIL : (*out = type, S_OK); }
  HRESULT get_firstChild(IXMLDOMNode** out) override {
    return Hand(firstChildFails, children.empty() ? nullptr : children.front(), out);
  }
  HRESULT get_nextSibling(IXMLDOMNode** out) override { return Hand(nextSiblingFails, next, out); }
  HRESULT put_text(BSTR) override { return E_FAIL; }
  HRESULT getAttribute(BSTR key, VARIANT* value) override {
    VariantInit(value);
    for (auto& a : attributes)
      if (key && a.first == key) return value->vt = VT_BSTR, value->bstrVal = SysAllocString(a.second.c_str()), S_OK;
    return E_FAIL;
  }
  HRESULT setAttribute(BSTR, VARIANT) override { return SetError(u"bad name"), E_INVALIDARG; }
  FAKE_NOTIMPL(removeAttribute, BSTR) FAKE_NOTIMPL(getAttributeNode, BSTR, IXMLDOMAttribute**)

  IXMLDOMNode* node() { return static_cast<IXMLDOMElement*>(this); }
  void Append(FakeNode* child) {
    if (!children.empty()) children.back()->next = child;
    children.push_back(child);
  }

  DOMNodeType type;
  std::u16string name, text;
  std::vector<std::pair<std::u16string, std::u16string>> attributes;
  std::vector<FakeNode*> children;
  FakeNode* next = nullptr;
  ULONG refs = 1;
  bool hasName = true, typeFails = false, firstChildFails = false, nextSiblingFails = false;
  bool valueIsNumber = false, offersErrorInfo = true;
  HRESULT supportsErrorInfo = S_OK;

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
