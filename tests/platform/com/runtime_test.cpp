// Apartment counting, error information, _com_error. (The class table is
// what the document factory and the document tests' own DOM class go
// through; threads on every face: tests/lib/concurrency_test.cpp.)
#include <gtest/gtest.h>

#include <thread>

#include "twxml/platform/com_internal.h"

namespace {

TW_DEFINE_GUID(CLSID_Unregistered, 0x99999999, 0x2222, 0x3333, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb);

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
