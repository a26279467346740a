// Helpers of the document face: text conversions, scoped references, refusals.
#include "dom_support.h"

#include <cstring>

#include "twxml/platform/utf.h"
#include "twxml/platform/win32_internal.h"

namespace twxml_dom {

namespace {

// In a UTF-8 code page ASCII text converts unit for unit: the shared ASCII
// kernels give what the code-page conversion gives, without its set-up.
bool AsciiInUtf8(const char* text, size_t n) {
  return twxml::utf::AsciiPrefix(reinterpret_cast<const unsigned char*>(text), n) == n &&
         twxml::win32::ThreadCodePageIsUtf8();
}

bool AsciiInUtf8(const WCHAR* text, size_t n) {
  return twxml::utf::AsciiPrefix(text, n) == n && twxml::win32::ThreadCodePageIsUtf8();
}

}  // namespace

WideText::WideText(const char* text) {
  if (!text) return;
  const size_t units = static_cast<size_t>(lstrlenA(text)) + 1;
  if (units > kMaxConvertUnits) return;
  if (!buffer_.Reserve(units)) return;
  if (AsciiInUtf8(text, units - 1)) {
    twxml::utf::WidenAscii(reinterpret_cast<const unsigned char*>(text), units - 1, buffer_.get());
    buffer_.get()[units - 1] = 0;
    ok_ = true;
    return;
  }
  buffer_.get()[0] = 0;
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, buffer_.get(), static_cast<int>(units)) == 0)
    return;
  ok_ = true;
}

NarrowText::NarrowText(const WCHAR* text) {
  if (!text) return;
  const size_t units = static_cast<size_t>(lstrlenW(text)) + 1;
  if (units > kMaxConvertUnits) return;
  if (AsciiInUtf8(text, units - 1)) {
    if (!buffer_.Reserve(units)) return;
    twxml::utf::NarrowAscii(text, units - 1, buffer_.get());
    buffer_.get()[units - 1] = 0;
    ok_ = true;
    return;
  }
  // A short text converts straight into the call-local buffer in one pass:
  // four bytes a unit hold it in every code page without shift states. Only
  // when that is not enough is the size asked first.
  if (units <= kShortUnits) {
    buffer_.Reserve(kShortUnits * 4);
    const DWORD lastError = GetLastError();
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, buffer_.get(), static_cast<int>(kShortUnits * 4),
                            nullptr, nullptr) > 0) {
      ok_ = true;
      return;
    }
    SetLastError(lastError);
  }
  const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  if (!buffer_.Reserve(static_cast<size_t>(bytes))) return;
  buffer_.get()[0] = 0;
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, buffer_.get(), bytes, nullptr, nullptr) == 0)
    return;
  ok_ = true;
}

BstrText::BstrText(const char* text) {
  if (!text) return;
  const size_t length = std::strlen(text);
  if (length < kMaxConvertUnits && AsciiInUtf8(text, length)) {
    bstr_ = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (bstr_) twxml::utf::WidenAscii(reinterpret_cast<const unsigned char*>(text), length, bstr_);
    return;
  }
  // A short text converts into a call-local buffer in one pass (its bytes
  // make at most as many units), then is copied into a BSTR of its length.
  WCHAR local[kShortBytes];
  if (length < kShortBytes) {
    const DWORD lastError = GetLastError();
    const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, local, kShortBytes);
    if (units > 0) {
      bstr_ = SysAllocStringLen(local, static_cast<UINT>(units - 1));
      return;
    }
    SetLastError(lastError);
  }
  const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
  if (units <= 0) return;
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(units - 1));
  if (!bstr) return;
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, bstr, units) != units) {
    SysFreeString(bstr);
    return;
  }
  bstr_ = bstr;
}

BstrText::~BstrText() { SysFreeString(bstr_); }

IErrorInfo* TakeErrorInfo(IUnknown* object, REFIID iid, bool requireSOk) {
  Ref<ISupportErrorInfo> support;
  if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.outVoid())) || !support)
    return nullptr;
  const HRESULT supports = support->InterfaceSupportsErrorInfo(iid);
  if (requireSOk ? supports != S_OK : FAILED(supports)) return nullptr;
  IErrorInfo* info = nullptr;
  if (FAILED(GetErrorInfo(0, &info))) {
    if (info) info->Release();
    return nullptr;
  }
  return info;
}

}  // namespace twxml_dom
