// Helpers shared by the document-model tests: owning pointers for COM
// interfaces and strings, document creation, and UTF-8/UTF-16 conversion.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "dom_objects.h"
#include "twxml/platform/com.h"
#include "twxml/platform/msxml.h"

namespace domtest {

template <class T>
class Ptr {
 public:
  Ptr() = default;
  explicit Ptr(T* p) : p_(p) {}
  Ptr(const Ptr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ptr& operator=(Ptr o) {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ptr() {
    if (p_) p_->Release();
  }
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

/* An owned BSTR. */
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::u16string& s) : b_(SysAllocStringLen(s.data(), UINT(s.size()))) {}
  Bstr(const char16_t* s) : b_(s ? SysAllocString(s) : nullptr) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR get() const { return b_; }
  operator BSTR() const { return b_; }
  BSTR* out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::u16string str() const { return b_ ? std::u16string(b_, SysStringLen(b_)) : std::u16string(); }

 private:
  BSTR b_ = nullptr;
};

/* COM initialised for the test's thread. */
class DomTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

inline Ptr<IXMLDOMDocument> NewDoc() {
  Ptr<IXMLDOMDocument> d;
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, d.vout());
  EXPECT_EQ(hr, S_OK);
  return d;
}

inline std::string U8(const std::u16string& s) {
  std::string o;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (c < 0x80) {
      o += char(c);
    } else if (c < 0x800) {
      o += char(0xC0 | (c >> 6));
      o += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      o += char(0xE0 | (c >> 12));
      o += char(0x80 | ((c >> 6) & 0x3F));
      o += char(0x80 | (c & 0x3F));
    } else {
      o += char(0xF0 | (c >> 18));
      o += char(0x80 | ((c >> 12) & 0x3F));
      o += char(0x80 | ((c >> 6) & 0x3F));
      o += char(0x80 | (c & 0x3F));
    }
  }
  return o;
}

inline std::u16string U16(const std::string& s) {
  std::u16string o;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    uint32_t cp;
    if (c < 0x80) {
      cp = c;
      i += 1;
    } else if (c < 0xE0) {
      cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
      i += 2;
    } else if (c < 0xF0) {
      cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      i += 3;
    } else {
      cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
      i += 4;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      o += char16_t(0xD800 + (cp >> 10));
      o += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      o += char16_t(cp);
    }
  }
  return o;
}

/* get_xml of any node as UTF-8. */
template <class T>
std::string Xml(const Ptr<T>& n) {
  Bstr b;
  EXPECT_EQ(n->get_xml(b.out()), S_OK);
  return U8(b.str());
}

template <class T>
std::string Name(const Ptr<T>& n) {
  Bstr b;
  n->get_nodeName(b.out());
  return U8(b.str());
}

template <class T>
std::string Text(const Ptr<T>& n) {
  Bstr b;
  n->get_text(b.out());
  return U8(b.str());
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

inline Ptr<IXMLDOMNode> Create(const Ptr<IXMLDOMDocument>& d, int type, const char16_t* name,
                               const char16_t* ns = nullptr) {
  VARIANT t;
  VariantInit(&t);
  t.vt = VT_I4;
  t.lVal = type;
  Ptr<IXMLDOMNode> n;
  Bstr bn(name), bu(ns);
  d->createNode(t, bn, bu, n.out());
  return n;
}

inline HRESULT Append(const Ptr<IXMLDOMNode>& parent, const Ptr<IXMLDOMNode>& child) {
  Ptr<IXMLDOMNode> out;
  return parent->appendChild(child.get(), out.out());
}

inline VARIANT VStr(const char16_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

inline VARIANT VUnk(IUnknown* u) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = u;
  return v;
}

}  // namespace domtest
