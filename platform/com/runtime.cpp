// Apartment counting, the class table behind CoCreateInstance, task memory
// and the per-thread error information slot.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "twxml/platform/com_internal.h"

namespace {

constexpr DWORD kModelMask = COINIT_APARTMENTTHREADED;

struct ErrorSlot {
  IErrorInfo* info = nullptr;
  ~ErrorSlot() { Reset(nullptr); }
  void Reset(IErrorInfo* next) {
    IErrorInfo* old = info;
    info = next;
    if (old) old->Release();
  }
};

struct Apartment {
  unsigned count = 0;
  DWORD model = 0;
};

thread_local Apartment t_apartment;
thread_local ErrorSlot t_errorInfo;

struct ClassTable {
  std::mutex mutex;
  std::vector<std::pair<CLSID, TwClassFactoryFn>> classes;
};

ClassTable& Classes() {
  // Never destroyed: modules may register or create during process exit.
  static ClassTable* table = new ClassTable;
  return *table;
}

class ErrorInfoObject final : public IErrorInfo {
 public:
  ErrorInfoObject(const GUID& guid, std::u16string source, std::u16string description)
      : guid_(guid), source_(std::move(source)), description_(std::move(description)) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IErrorInfo) {
      *out = static_cast<IErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetGUID(GUID* guid) override {
    if (guid == nullptr) return E_INVALIDARG;
    *guid = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* source) override { return Copy(source_, source); }
  HRESULT GetDescription(BSTR* description) override { return Copy(description_, description); }
  HRESULT GetHelpFile(BSTR* helpFile) override {
    if (helpFile == nullptr) return E_INVALIDARG;
    *helpFile = nullptr;
    return S_OK;
  }
  HRESULT GetHelpContext(DWORD* helpContext) override {
    if (helpContext == nullptr) return E_INVALIDARG;
    *helpContext = 0;
    return S_OK;
  }

 private:
  static HRESULT Copy(const std::u16string& text, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  std::atomic<ULONG> refs_{1};
  GUID guid_;
  std::u16string source_;
  std::u16string description_;
};

}  // namespace

extern "C" {

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void* reserved, DWORD coInit) {
  if (reserved != nullptr) return E_INVALIDARG;
  const DWORD model = coInit & kModelMask;
  Apartment& a = t_apartment;
  if (a.count == 0) {
    a.model = model;
    a.count = 1;
    return S_OK;
  }
  if (a.model != model) return RPC_E_CHANGED_MODE;
  ++a.count;
  return S_FALSE;
}

void CoUninitialize(void) {
  Apartment& a = t_apartment;
  if (a.count == 0) return;
  if (--a.count == 0) t_errorInfo.Reset(nullptr);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD /*context*/, REFIID iid,
                         void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (t_apartment.count == 0) return CO_E_NOTINITIALIZED;
  TwClassFactoryFn factory = nullptr;
  {
    ClassTable& t = Classes();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& entry : t.classes) {
      if (entry.first == clsid) {
        factory = entry.second;
        break;
      }
    }
  }
  if (factory == nullptr) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  const HRESULT hr = factory(nullptr, iid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

HRESULT TwRegisterClass(REFCLSID clsid, TwClassFactoryFn factory) {
  if (factory == nullptr) return E_INVALIDARG;
  ClassTable& t = Classes();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& entry : t.classes) {
    if (entry.first == clsid) {
      entry.second = factory;  // a module loaded again registers again
      return S_OK;
    }
  }
  try {
    t.classes.emplace_back(clsid, factory);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void* CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(void* block) { std::free(block); }

HRESULT SetErrorInfo(ULONG /*reserved*/, IErrorInfo* info) {
  if (info) info->AddRef();
  t_errorInfo.Reset(info);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG /*reserved*/, IErrorInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = t_errorInfo.info;
  t_errorInfo.info = nullptr;
  return *info ? S_OK : S_FALSE;
}

HRESULT TwCreateErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description,
                          IErrorInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    *out = new ErrorInfoObject(guid, source ? std::u16string(source) : std::u16string(),
                               description ? std::u16string(description) : std::u16string());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // extern "C"
