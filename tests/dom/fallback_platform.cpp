// Stand-in for the platform and kernel layers while they are not in the
// library: just what the document face calls, UTF-8 as the only code page,
// no DOM class registered. Removed from the build once the real layers are
// there.
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "twxml/twxml.h"

namespace {

thread_local DWORD t_lastError;
thread_local int t_apartments;
thread_local IErrorInfo* t_errorInfo;

bool DecodeUtf8(const unsigned char*& p, const unsigned char* end, uint32_t& c) {
  const unsigned lead = *p++;
  if (lead < 0x80) {
    c = lead;
    return true;
  }
  const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
  if (more < 0 || lead > 0xF4) return false;
  c = lead & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    if (p >= end || (*p & 0xC0) != 0x80) return false;
    c = (c << 6) | (*p++ & 0x3F);
  }
  if ((more == 2 && c < 0x800) || (more == 3 && c < 0x10000) || (c >= 0xD800 && c < 0xE000) ||
      c > 0x10FFFF)
    return false;
  return true;
}

void EncodeUtf8(uint32_t c, std::string& out) {
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

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool NameUnit(uint32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '-' || c == '.' || c >= 0x80;
}

struct ClassEntry {
  CLSID id;
  TwClassFactoryFn factory;
};
ClassEntry g_classes[8];
int g_classCount;

}  // namespace

extern "C" {

DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }
int lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }
int lstrlenW(LPCWSTR text) { return text ? static_cast<int>(wcslen16(text)) : 0; }
size_t wcslen16(const WCHAR* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}
const WCHAR* wcschr16(const WCHAR* text, WCHAR ch) {
  for (; *text; ++text)
    if (*text == ch) return text;
  return ch ? nullptr : text;
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
  if (srcLen < 0) srcLen = static_cast<int>(std::strlen(src)) + 1;
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(src);
  const unsigned char* end = p + srcLen;
  while (p < end) {
    uint32_t c = 0;
    if (!DecodeUtf8(p, end, c)) {
      t_lastError = ERROR_NO_UNICODE_TRANSLATION;
      return 0;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  if (!dst || dstLen == 0) return static_cast<int>(out.size());
  if (static_cast<int>(out.size()) > dstLen) {
    t_lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(dst, out.data(), out.size() * sizeof(WCHAR));
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR src, int srcLen, LPSTR dst, int dstLen, LPCSTR,
                        BOOL*) {
  if (srcLen < 0) srcLen = lstrlenW(src) + 1;
  std::string out;
  for (int i = 0; i < srcLen; ++i) {
    uint32_t c = src[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < srcLen && src[i + 1] >= 0xDC00 && src[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = '?';
    }
    EncodeUtf8(c, out);
  }
  if (!dst || dstLen == 0) return static_cast<int>(out.size());
  if (static_cast<int>(out.size()) > dstLen) {
    t_lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}

int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
int _strnicmp(const char* a, const char* b, size_t n) { return strncasecmp(a, b, n); }
errno_t strcpy_s(char* dst, size_t dstSize, const char* src) {
  const size_t length = std::strlen(src);
  if (length >= dstSize) {
    if (dstSize) dst[0] = 0;
    return ERANGE;
  }
  std::memcpy(dst, src, length + 1);
  return 0;
}
int sprintf_s(char* dst, size_t dstSize, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(dst, dstSize, format, args);
  va_end(args);
  return n;
}

HRESULT CoInitializeEx(void*, DWORD) { return t_apartments++ ? S_FALSE : S_OK; }
HRESULT CoInitialize(void*) { return CoInitializeEx(nullptr, 0); }
void CoUninitialize(void) {
  if (t_apartments) --t_apartments;
}
HRESULT TwRegisterClass(REFCLSID clsid, TwClassFactoryFn factory) {
  if (g_classCount == 8) return E_OUTOFMEMORY;
  g_classes[g_classCount++] = {clsid, factory};
  return S_OK;
}
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** out) {
  *out = nullptr;
  if (!t_apartments) return CO_E_NOTINITIALIZED;
  for (int i = 0; i < g_classCount; ++i)
    if (g_classes[i].id == clsid) return g_classes[i].factory(outer, iid, out);
  return REGDB_E_CLASSNOTREG;
}
HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
  if (info) info->AddRef();
  if (t_errorInfo) t_errorInfo->Release();
  t_errorInfo = info;
  return S_OK;
}
HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
  *info = t_errorInfo;
  t_errorInfo = nullptr;
  return *info ? S_OK : S_FALSE;
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  char* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + (length + 1) * sizeof(WCHAR)));
  if (!block) return nullptr;
  const uint32_t bytes = length * sizeof(WCHAR);
  std::memcpy(block, &bytes, sizeof bytes);
  BSTR bstr = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(bstr, text, length * sizeof(WCHAR));
  else
    std::memset(bstr, 0, length * sizeof(WCHAR));
  bstr[length] = 0;
  return bstr;
}
BSTR SysAllocString(const OLECHAR* text) {
  return text ? SysAllocStringLen(text, static_cast<UINT>(wcslen16(text))) : nullptr;
}
void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}
UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<char*>(text) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(WCHAR);
}

void VariantInit(VARIANT* v) { std::memset(v, 0, sizeof *v); }
HRESULT VariantClear(VARIANT* v) {
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  if (v->vt == VT_UNKNOWN && v->punkVal) v->punkVal->Release();
  VariantInit(v);
  return S_OK;
}
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  }
  if (src->vt == VT_UNKNOWN && src->punkVal) src->punkVal->AddRef();
  VariantClear(dst);
  *dst = copy;
  return S_OK;
}
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, unsigned short, VARTYPE vt) {
  VARIANT result;
  VariantInit(&result);
  result.vt = vt;
  if (vt == VT_BSTR && src->vt == VT_BSTR) {
    result.bstrVal = src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
  } else if (vt == VT_BSTR && src->vt == VT_I4) {
    const std::string digits = std::to_string(src->lVal);
    const std::u16string wide(digits.begin(), digits.end());
    result.bstrVal = SysAllocString(wide.c_str());
  } else if (vt == VT_I4 && src->vt == VT_I4) {
    result.lVal = src->lVal;
  } else if (vt == VT_I4 && src->vt == VT_BSTR) {
    const std::u16string wide = src->bstrVal ? src->bstrVal : u"";
    std::string text(wide.begin(), wide.end());
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) return DISP_E_TYPEMISMATCH;
    text.erase(0, start);
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (*end || end == text.c_str()) return DISP_E_TYPEMISMATCH;
    if (errno || number > INT32_MAX || number < INT32_MIN) return DISP_E_OVERFLOW;
    result.lVal = static_cast<LONG>(number);
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  VariantClear(dst);
  *dst = result;
  return S_OK;
}

void* MemAllocP(size_t size) { return std::malloc(size ? size : 1); }
int MemFreeF(void* block) {
  std::free(block);
  return 0;
}
unsigned int StrTrimStrRightU(char* text) {
  size_t n = std::strlen(text);
  while (n && Blank(text[n - 1])) text[--n] = 0;
  return static_cast<unsigned int>(n);
}
void StrNCopyRTrimV(const char* src, char* dst, unsigned int size) {
  if (!size) return;
  if (!src) {
    dst[0] = 0;
    return;
  }
  size_t n = std::strlen(src);
  if (n > size - 1) n = size - 1;
  std::memcpy(dst, src, n);
  dst[n] = 0;
  StrTrimStrRightU(dst);
}
void StrRemoveIllegalXMLNameCharV(char* text) {
  char* out = text;
  for (; *text; ++text)
    if (NameUnit(static_cast<unsigned char>(*text))) *out++ = *text;
  *out = 0;
}
void StrRemoveIllegalXMLNameWCharV(WCHAR* text) {
  WCHAR* out = text;
  for (; *text; ++text)
    if (NameUnit(*text)) *out++ = *text;
  *out = 0;
}
int VarCnvBStrToStrF(const WCHAR* text, char** out) {
  if (!text) return TWXML_E_NOTFOUND;
  const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  char* copy = static_cast<char*>(MemAllocP(static_cast<size_t>(n)));
  if (!copy) return TWXML_E_ALLOC;
  WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, copy, n, nullptr, nullptr);
  *out = copy;
  return 0;
}
int VarCnvBStrToStrBufF(const WCHAR* text, char* buffer, unsigned int size) {
  if (!buffer || !size) return TWXML_E_NOTFOUND;
  if (!text) {
    buffer[0] = 0;
    return 0;
  }
  const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), n, nullptr, nullptr);
  if (static_cast<unsigned int>(n) <= size) {
    std::memcpy(buffer, narrow.data(), static_cast<size_t>(n));
    return 0;
  }
  size_t cut = size - 1;
  while (cut && (static_cast<unsigned char>(narrow[cut]) & 0xC0) == 0x80) --cut;
  std::memcpy(buffer, narrow.data(), cut);
  buffer[cut] = 0;
  return TWXML_E_NOTFOUND;
}

}  // extern "C"

_com_error::_com_error(HRESULT hr, IErrorInfo* info, bool addRef) : hr_(hr), info_(info) {
  if (info_ && addRef) info_->AddRef();
}
_com_error::_com_error(const _com_error& other) : hr_(other.hr_), info_(other.info_) {
  if (info_) info_->AddRef();
}
_com_error& _com_error::operator=(const _com_error& other) {
  if (other.info_) other.info_->AddRef();
  if (info_) info_->Release();
  hr_ = other.hr_;
  info_ = other.info_;
  return *this;
}
_com_error::~_com_error() {
  if (info_) info_->Release();
}
std::u16string _com_error::Description() const {
  if (!info_) return {};
  BSTR text = nullptr;
  info_->GetDescription(&text);
  std::u16string description = text ? text : u"";
  SysFreeString(text);
  return description;
}
const char* _com_error::ErrorMessage() const { return "COM error"; }
void _com_raise_error(HRESULT hr, IErrorInfo* info) { throw _com_error(hr, info); }

KxStream::~KxStream() {}
char* KxStream::GetMemP() { return nullptr; }
unsigned int KxStream::GetContentSizeUl() { return GetSizeUl(); }
char* KxStream::AllocMemP(unsigned int* size) {
  char* memory = GetMemP();
  if (!memory) return nullptr;
  const unsigned int n = GetSizeUl();
  char* copy = static_cast<char*>(MemAllocP(n + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, memory, n);
  copy[n] = 0;
  if (size) *size = n;
  return copy;
}
