// Apartment counting, class table, error information, _com_error.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "twxml/platform/com_internal.h"

namespace {

TW_DEFINE_GUID(CLSID_TestThing, 0x11111111, 0x2222, 0x3333, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb);
TW_DEFINE_GUID(CLSID_Unregistered, 0x99999999, 0x2222, 0x3333, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb);

std::atomic<int> g_live{0};

struct Thing final : IUnknown {
  Thing() { ++g_live; }
  ~Thing() { --g_live; }
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown ? this : nullptr;
    if (*out) AddRef();
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  std::atomic<ULONG> refs_{1};
};

HRESULT MakeThing(IUnknown* outer, REFIID iid, void** out) {
  if (outer) return CLASS_E_NOAGGREGATION;
  Thing* t = new Thing;
  const HRESULT hr = t->QueryInterface(iid, out);
  t->Release();
  return hr;
}

bool Initialized() {
  void* out = reinterpret_cast<void*>(1);
  return CoCreateInstance(CLSID_Unregistered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out) !=
         CO_E_NOTINITIALIZED;
}

TEST(Apartment, CountsPerThread) {
  std::thread([] {
    EXPECT_FALSE(Initialized());
    EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitialize(nullptr));
    EXPECT_TRUE(Initialized());
    // Another thread has its own count.
    std::thread([] { EXPECT_FALSE(Initialized()); }).join();
    CoUninitialize();
    EXPECT_TRUE(Initialized());  // one more to balance
    CoUninitialize();
    CoUninitialize();  // unbalanced: harmless
    EXPECT_FALSE(Initialized());
    EXPECT_EQ(S_OK, CoInitialize(nullptr));  // a fresh start may pick another model
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(E_INVALIDARG, CoInitializeEx(reinterpret_cast<void*>(1), COINIT_MULTITHREADED));
    EXPECT_FALSE(Initialized());
  }).join();

  // Many threads at once, each balanced.
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < 200; ++i) {
        if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) ++failures;
        if (!Initialized()) ++failures;
        CoUninitialize();
        if (Initialized()) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
}

TEST(ClassTable, CreatesRegisteredClasses) {
  ASSERT_EQ(S_OK, TwRegisterClass(CLSID_TestThing, MakeThing));
  EXPECT_EQ(E_INVALIDARG, TwRegisterClass(CLSID_TestThing, nullptr));
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CO_E_NOTINITIALIZED,
            CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out));
  EXPECT_EQ(nullptr, out);

  ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out));
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(1, g_live.load());
  static_cast<IUnknown*>(out)->Release();
  EXPECT_EQ(0, g_live.load());

  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            CoCreateInstance(CLSID_Unregistered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out));
  EXPECT_EQ(nullptr, out);
  Thing outer;
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            CoCreateInstance(CLSID_TestThing, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &out));
  EXPECT_EQ(nullptr, out);
  // The factory's refusal comes through and leaves nothing behind.
  EXPECT_EQ(E_NOINTERFACE,
            CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IStream, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(1, g_live.load());  // only `outer`
  EXPECT_EQ(E_POINTER, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr));
  CoUninitialize();
}

// Counts references so ownership rules can be checked.
struct CountingInfo final : IErrorInfo {
  HRESULT QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetGUID(GUID* g) override { *g = GUID_NULL; return S_OK; }
  HRESULT GetSource(BSTR* s) override { *s = nullptr; return S_OK; }
  HRESULT GetDescription(BSTR* d) override { *d = SysAllocString(u"counted"); return S_OK; }
  HRESULT GetHelpFile(BSTR* h) override { *h = nullptr; return S_OK; }
  HRESULT GetHelpContext(DWORD* c) override { *c = 0; return S_OK; }
  ULONG refs = 1;
};

TEST(ErrorInfo, SlotIsPerThreadAndHandsOver) {
  IErrorInfo* info = nullptr;
  ASSERT_EQ(S_OK, TwCreateErrorInfo(IID_IStream, u"source", u"it broke", &info));
  BSTR text = nullptr, source = nullptr;
  ASSERT_EQ(S_OK, info->GetDescription(&text));
  ASSERT_EQ(S_OK, info->GetSource(&source));
  EXPECT_EQ(std::u16string(u"it broke|source"),
            std::u16string(text, SysStringLen(text)) + u"|" + std::u16string(source));
  SysFreeString(text);
  SysFreeString(source);
  GUID g;
  info->GetGUID(&g);
  EXPECT_EQ(IID_IStream, g);

  ASSERT_EQ(S_OK, SetErrorInfo(0, info));
  info->Release();  // the slot keeps it alive
  std::thread([] {
    IErrorInfo* other = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, &other));
    EXPECT_EQ(nullptr, other);
  }).join();
  IErrorInfo* got = nullptr;
  ASSERT_EQ(S_OK, GetErrorInfo(0, &got));
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(S_FALSE, GetErrorInfo(0, &info));  // handed over: the slot is empty
  got->Release();
  EXPECT_EQ(E_INVALIDARG, GetErrorInfo(0, nullptr));
  EXPECT_EQ(E_POINTER, TwCreateErrorInfo(GUID_NULL, nullptr, nullptr, nullptr));

  CountingInfo counted;
  SetErrorInfo(0, &counted);
  EXPECT_EQ(2u, counted.refs);
  SetErrorInfo(0, nullptr);  // replacing releases
  EXPECT_EQ(1u, counted.refs);
}

TEST(ComError, CarriesCodeAndInformation) {
  CountingInfo counted;
  {
    _com_error plain(E_FAIL);
    EXPECT_EQ(nullptr, plain.ErrorInfo());
    EXPECT_TRUE(plain.Description().empty());
    EXPECT_STREQ("Unspecified error", plain.ErrorMessage());

    _com_error owned(DISP_E_TYPEMISMATCH, &counted, true);
    EXPECT_EQ(2u, counted.refs);
    {
      _com_error copy(owned);
      EXPECT_EQ(3u, counted.refs);
      plain = copy;
      EXPECT_EQ(4u, counted.refs);
      EXPECT_EQ(u"counted", plain.Description());
    }
    EXPECT_EQ(3u, counted.refs);
    _com_error& alias = plain;
    plain = alias;  // self-assignment keeps the reference count
    EXPECT_EQ(3u, counted.refs);
  }
  EXPECT_EQ(1u, counted.refs);

  try {
    counted.AddRef();  // the reference passes to the exception
    _com_raise_error(E_OUTOFMEMORY, &counted);
  } catch (const _com_error& e) {
    EXPECT_EQ(E_OUTOFMEMORY, e.Error());
    EXPECT_EQ(&counted, e.ErrorInfo());
  }
  EXPECT_EQ(1u, counted.refs);

  EXPECT_STREQ("Class not registered", _com_error(REGDB_E_CLASSNOTREG).ErrorMessage());
  EXPECT_STREQ("Unknown error 0x8ABC0001", _com_error(TW_HR(0x8ABC0001u)).ErrorMessage());
  EXPECT_EQ(TW_HR(0x80070002u), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

}  // namespace
