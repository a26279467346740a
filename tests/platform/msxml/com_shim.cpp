// Minimal runtime for building the document-model tests in a tree that has
// no component runtime yet (strings, variants, error slot, class table).
// Only compiled when the tw_com component is absent.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "twxml/platform/com.h"

namespace {
thread_local IErrorInfo* g_error = nullptr;
thread_local int g_apartments = 0;
std::map<std::string, TwClassFactoryFn>& Classes() {
  static std::map<std::string, TwClassFactoryFn> m;
  return m;
}
std::string Key(REFCLSID id) { return std::string(reinterpret_cast<const char*>(&id), sizeof(id)); }

class ErrorInfo final : public IErrorInfo {
 public:
  ErrorInfo(REFGUID g, LPCOLESTR src, LPCOLESTR desc) : guid_(g) {
    source_ = SysAllocString(src);
    desc_ = SysAllocString(desc);
  }
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IErrorInfo) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (!n) {
      SysFreeString(source_);
      SysFreeString(desc_);
      delete this;
    }
    return n;
  }
  HRESULT GetGUID(GUID* g) override {
    *g = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* s) override {
    *s = SysAllocString(source_);
    return S_OK;
  }
  HRESULT GetDescription(BSTR* s) override {
    *s = SysAllocString(desc_);
    return S_OK;
  }
  HRESULT GetHelpFile(BSTR* s) override {
    *s = nullptr;
    return S_OK;
  }
  HRESULT GetHelpContext(DWORD* c) override {
    *c = 0;
    return S_OK;
  }

 private:
  GUID guid_;
  BSTR source_;
  BSTR desc_;
  ULONG refs_ = 1;
};
}  // namespace

extern "C" {
HRESULT CoInitialize(void*) { return CoInitializeEx(nullptr, 0); }
HRESULT CoInitializeEx(void*, DWORD) { return g_apartments++ ? S_FALSE : S_OK; }
void CoUninitialize(void) {
  if (g_apartments) --g_apartments;
}
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** out) {
  *out = nullptr;
  if (!g_apartments) return CO_E_NOTINITIALIZED;
  auto it = Classes().find(Key(clsid));
  if (it == Classes().end()) return REGDB_E_CLASSNOTREG;
  return it->second(outer, iid, out);
}
HRESULT TwRegisterClass(REFCLSID clsid, TwClassFactoryFn f) {
  Classes()[Key(clsid)] = f;
  return S_OK;
}
HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
  if (info) info->AddRef();
  if (g_error) g_error->Release();
  g_error = info;
  return S_OK;
}
HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
  *info = g_error;
  g_error = nullptr;
  return *info ? S_OK : S_FALSE;
}
HRESULT TwCreateErrorInfo(REFGUID g, LPCOLESTR src, LPCOLESTR desc, IErrorInfo** out) {
  *out = new ErrorInfo(g, src, desc);
  return S_OK;
}
BSTR SysAllocString(const OLECHAR* t) {
  if (!t) return nullptr;
  UINT n = 0;
  while (t[n]) ++n;
  return SysAllocStringLen(t, n);
}
BSTR SysAllocStringLen(const OLECHAR* t, UINT n) {
  char* p = static_cast<char*>(std::malloc(4 + (size_t(n) + 1) * 2));
  if (!p) return nullptr;
  uint32_t bytes = n * 2;
  std::memcpy(p, &bytes, 4);
  BSTR b = reinterpret_cast<BSTR>(p + 4);
  if (t) std::memcpy(b, t, size_t(n) * 2);
  b[n] = 0;
  return b;
}
void SysFreeString(BSTR b) {
  if (b) std::free(reinterpret_cast<char*>(b) - 4);
}
UINT SysStringLen(BSTR b) {
  if (!b) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(b) - 4, 4);
  return bytes / 2;
}
void VariantInit(VARIANT* v) { std::memset(v, 0, sizeof(*v)); }
HRESULT VariantClear(VARIANT* v) {
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) v->punkVal->Release();
  VariantInit(v);
  return S_OK;
}
HRESULT VariantCopy(VARIANT* d, const VARIANT* s) {
  VARIANT t = *s;
  if (t.vt == VT_BSTR) t.bstrVal = SysAllocStringLen(s->bstrVal, SysStringLen(s->bstrVal));
  if ((t.vt == VT_UNKNOWN || t.vt == VT_DISPATCH) && t.punkVal) t.punkVal->AddRef();
  VariantClear(d);
  *d = t;
  return S_OK;
}
HRESULT VariantChangeType(VARIANT* d, const VARIANT* s, unsigned short, VARTYPE vt) {
  VARIANT r;
  VariantInit(&r);
  if (s->vt == vt) {
    VariantCopy(&r, s);
  } else if (vt == VT_BSTR) {
    std::string t;
    switch (s->vt) {
      case VT_I4: t = std::to_string(s->lVal); break;
      case VT_I2: t = std::to_string(s->iVal); break;
      case VT_UI4: t = std::to_string(s->ulVal); break;
      case VT_R8: t = std::to_string(s->dblVal); break;
      case VT_EMPTY: break;
      default: return DISP_E_TYPEMISMATCH;
    }
    std::u16string w(t.begin(), t.end());
    r.vt = VT_BSTR;
    r.bstrVal = SysAllocStringLen(w.data(), UINT(w.size()));
  } else if (vt == VT_I4) {
    long long x;
    if (s->vt == VT_I2) x = s->iVal;
    else if (s->vt == VT_UI4) x = s->ulVal;
    else if (s->vt == VT_BSTR) {
      std::string t;
      for (UINT i = 0; i < SysStringLen(s->bstrVal); ++i) t += char(s->bstrVal[i]);
      char* end = nullptr;
      if (t.empty()) return DISP_E_TYPEMISMATCH;
      x = std::strtoll(t.c_str(), &end, 10);
      if (*end) return DISP_E_TYPEMISMATCH;
    } else return DISP_E_TYPEMISMATCH;
    if (x < INT32_MIN || x > INT32_MAX) return DISP_E_OVERFLOW;
    r.vt = VT_I4;
    r.lVal = LONG(x);
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  if (d == s) VariantClear(d);
  *d = r;
  return S_OK;
}
}
