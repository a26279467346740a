// Helpers shared by the document-model tests: owning pointers for interfaces
// and strings, node creation, text conversion, and a stream failing part way.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/iconv_text.h"
#include "support/mem_istream.h"
#include "twxml/platform/com.h"
#include "twxml/platform/msxml.h"

namespace domtest {

template <class T>
class Ptr {
 public:
  Ptr() = default;
  explicit Ptr(T* p) : p_(p) {}
  Ptr(const Ptr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
  Ptr& operator=(Ptr o) { std::swap(p_, o.p_); return *this; }
  ~Ptr() { if (p_) p_->Release(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** out() {
    if (p_) p_->Release();
    p_ = nullptr;
    return &p_;
  }
  void** vout() { return reinterpret_cast<void**>(out()); }
  template <class U>
  Ptr<U> as(REFIID iid) const {
    Ptr<U> r;
    if (p_) p_->QueryInterface(iid, r.vout());
    return r;
  }

 private:
  T* p_ = nullptr;
};
using Node = Ptr<IXMLDOMNode>;

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::u16string& s) : b_(SysAllocStringLen(s.data(), UINT(s.size()))) {}
  Bstr(const char16_t* s) : b_(s ? SysAllocString(s) : nullptr) {}
  Bstr(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  operator BSTR() const { return b_; }
  BSTR* out() { SysFreeString(std::exchange(b_, nullptr)); return &b_; }
  std::u16string str() const { return b_ ? std::u16string(b_, SysStringLen(b_)) : std::u16string(); }

 private:
  BSTR b_ = nullptr;
};

inline std::string U8(const std::u16string& s) { return twtest::utf8(s); }
inline std::u16string U16(const std::string& s) {
  std::string o;
  twtest::convert(s, "UTF-8", "UTF-16LE", &o);
  return std::u16string(reinterpret_cast<const char16_t*>(o.data()), o.size() / 2);
}

class DomTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

inline Ptr<IXMLDOMDocument> NewDoc() {
  Ptr<IXMLDOMDocument> d;
  EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, d.vout()), S_OK);
  return d;
}

/* A string property of any node as UTF-8. */
template <class T, class F>
std::string Str(T* n, F get) {
  Bstr b;
  (n->*get)(b.out());
  return U8(b.str());
}
template <class T, class F>
std::string Str(const Ptr<T>& n, F get) { return Str(n.get(), get); }
template <class P> std::string Xml(const P& n) { return Str(n, &IXMLDOMNode::get_xml); }
template <class P> std::string Name(const P& n) { return Str(n, &IXMLDOMNode::get_nodeName); }
template <class P> std::string Text(const P& n) { return Str(n, &IXMLDOMNode::get_text); }

// The attribute nodes of an element, in the map's order.
template <class P>
std::vector<Node> Attributes(const P& n) {
  std::vector<Node> out;
  Ptr<IXMLDOMNamedNodeMap> map;
  n->get_attributes(map.out());
  LONG len = 0;
  if (map) map->get_length(&len);
  for (LONG i = 0; i < len; ++i) {
    Node a;
    map->get_item(i, a.out());
    out.push_back(std::move(a));
  }
  return out;
}

/* Takes the thread's error information and gives its description. */
inline std::string TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return std::string();
  Bstr d;
  info->GetDescription(d.out());
  info->Release();
  return U8(d.str());
}

inline VARIANT VI4(LONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}
inline VARIANT VUnk(IUnknown* u) {  // borrowed: never cleared
  VARIANT v = VI4(0);
  v.vt = VT_UNKNOWN;
  v.punkVal = u;
  return v;
}
/* A string variant that frees itself. */
struct VStr : VARIANT {
  explicit VStr(const char16_t* s) { VariantInit(this); vt = VT_BSTR; bstrVal = SysAllocString(s); }
  ~VStr() { VariantClear(this); }
};

inline Node Create(const Ptr<IXMLDOMDocument>& d, int type, const char16_t* name, const char16_t* ns = nullptr,
                   const char16_t* text = nullptr) {
  Node n;
  Bstr bn(name), bu(ns), bt(text);
  d->createNode(VI4(type), bn, bu, n.out());
  if (n && text) {
    EXPECT_EQ(n->put_text(bt), S_OK);
  }
  return n;
}

template <class P, class C>
HRESULT Append(const P& parent, const C& child) {
  Node out;
  return parent->appendChild(child.get(), out.out());
}

/* A stream on the test's stack: reads and writes can fail part way. */
class TestStream final : public twtest::MemIStreamBase {
 public:
  explicit TestStream(std::string data = std::string()) : data_(std::move(data)) {}
  std::string data_;
  size_t failWriteAfter = SIZE_MAX;  // bytes accepted before writes fail
  size_t failReadAfter = SIZE_MAX;   // bytes delivered before reads fail
  ULONG refs = 1;

  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    if (pos_ >= failReadAfter) return STG_E_READFAULT;
    size_t n = std::min({size_t(count), data_.size() - std::min(pos_, data_.size()), failReadAfter - pos_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    if (read) *read = ULONG(n);
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT Write(const void* p, ULONG count, ULONG* written) override {
    if (written) *written = 0;
    if (data_.size() + count > failWriteAfter) return STG_E_MEDIUMFULL;
    data_.append(static_cast<const char*>(p), count);
    if (written) *written = count;
    return S_OK;
  }

 protected:
  size_t size() const override { return data_.size(); }
};

}  // namespace domtest
