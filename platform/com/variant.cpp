// VARIANT: initialisation, release, copy and type conversion.
//
// Conversions go through one of three number forms (signed, unsigned, real)
// so every pair of numeric types shares one range check. Results are built
// in a temporary and stored only on success, so a failed call leaves the
// destination as it was and the source may be the destination.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>

#include "twxml/platform/com.h"

namespace {

constexpr VARTYPE kByRef = 0x4000;

bool IsScalar(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_ERROR: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsInterface(VARTYPE vt) { return vt == VT_UNKNOWN || vt == VT_DISPATCH; }

bool IsKnown(VARTYPE vt) { return IsScalar(vt) || IsInterface(vt) || vt == VT_BSTR; }

bool IsNumeric(VARTYPE vt) {
  switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BOOL: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

struct Num {
  enum Kind { Signed, Unsigned, Real } kind = Signed;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
};

Num FromSigned(int64_t v) { Num n; n.kind = Num::Signed; n.i = v; return n; }
Num FromUnsigned(uint64_t v) { Num n; n.kind = Num::Unsigned; n.u = v; return n; }
Num FromReal(double v) { Num n; n.kind = Num::Real; n.d = v; return n; }

Num NumberOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return FromSigned(v.cVal);
    case VT_UI1: return FromUnsigned(v.bVal);
    case VT_I2: return FromSigned(v.iVal);
    case VT_UI2: return FromUnsigned(v.uiVal);
    case VT_I4: return FromSigned(v.lVal);
    case VT_UI4: return FromUnsigned(v.ulVal);
    case VT_INT: return FromSigned(v.intVal);
    case VT_UINT: return FromUnsigned(v.uintVal);
    case VT_I8: return FromSigned(v.llVal);
    case VT_UI8: return FromUnsigned(v.ullVal);
    case VT_R4: return FromReal(v.fltVal);
    case VT_R8: return FromReal(v.dblVal);
    case VT_BOOL: return FromSigned(v.boolVal);
    default: return FromSigned(0);  // VT_EMPTY
  }
}

// ---- text -> number -------------------------------------------------------

bool IsBlank(char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// The text with surrounding blanks removed, as ASCII; false when it holds
// anything outside ASCII (then it is no number).
bool TrimmedAscii(BSTR text, std::string* out) {
  const UINT len = SysStringLen(text);
  UINT b = 0, e = len;
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  out->clear();
  for (UINT k = b; k < e; ++k) {
    if (text[k] >= 0x80 || text[k] == 0) return false;
    out->push_back(static_cast<char>(text[k]));
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Sign and decimal digits.
HRESULT ParseInteger(const std::string& s, Num* n) {
  size_t k = 0;
  bool negative = false;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) negative = s[k++] == '-';
  if (k == s.size()) return DISP_E_TYPEMISMATCH;
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; k < s.size(); ++k) {
    if (!IsDigit(s[k])) return DISP_E_TYPEMISMATCH;
    const uint64_t d = static_cast<uint64_t>(s[k] - '0');
    if (magnitude > (std::numeric_limits<uint64_t>::max() - d) / 10) overflow = true;
    magnitude = magnitude * 10 + d;
  }
  if (overflow) return DISP_E_OVERFLOW;
  if (!negative) {
    *n = FromUnsigned(magnitude);
  } else if (magnitude <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) {
    *n = FromSigned(static_cast<int64_t>(0 - magnitude));
  } else {
    return DISP_E_OVERFLOW;
  }
  return S_OK;
}

// Sign, digits with an optional fraction, optional exponent.
HRESULT ParseReal(const std::string& s, Num* n) {
  size_t k = 0;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
  size_t digits = 0;
  while (k < s.size() && IsDigit(s[k])) ++k, ++digits;
  if (k < s.size() && s[k] == '.') {
    ++k;
    while (k < s.size() && IsDigit(s[k])) ++k, ++digits;
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    ++k;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    size_t expDigits = 0;
    while (k < s.size() && IsDigit(s[k])) ++k, ++expDigits;
    if (expDigits == 0) return DISP_E_TYPEMISMATCH;
  }
  if (k != s.size()) return DISP_E_TYPEMISMATCH;
  // The syntax is checked; strtod in the "C" locale reads it whatever the
  // thread's decimal separator.
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  const double d = cLocale ? strtod_l(s.c_str(), nullptr, cLocale) : std::strtod(s.c_str(), nullptr);
  if (std::isinf(d)) return DISP_E_OVERFLOW;
  *n = FromReal(d);
  return S_OK;
}

bool EqualsIgnoreCase(const std::string& s, const char* word) {
  size_t k = 0;
  for (; word[k]; ++k) {
    if (k >= s.size()) return false;
    char c = s[k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[k]) return false;
  }
  return k == s.size();
}

// ---- number -> target ----------------------------------------------------

bool InRange(const Num& n, int64_t lo, uint64_t hi, int64_t* sOut, uint64_t* uOut) {
  switch (n.kind) {
    case Num::Signed:
      if (n.i < lo) return false;
      if (n.i >= 0 && static_cast<uint64_t>(n.i) > hi) return false;
      *sOut = n.i;
      *uOut = static_cast<uint64_t>(n.i);
      return true;
    case Num::Unsigned:
      if (n.u > hi) return false;
      *sOut = static_cast<int64_t>(n.u);
      *uOut = n.u;
      return true;
    case Num::Real: {
      if (std::isnan(n.d)) return false;
      const double r = std::nearbyint(n.d);  // halves go to the even neighbour
      if (r < static_cast<double>(lo) || r >= static_cast<double>(hi) + 1.0) return false;
      if (r < 0) {
        *sOut = static_cast<int64_t>(r);
        *uOut = static_cast<uint64_t>(*sOut);
      } else {
        *uOut = static_cast<uint64_t>(r);
        *sOut = static_cast<int64_t>(*uOut);
      }
      return true;
    }
  }
  return false;
}

double RealOf(const Num& n) {
  switch (n.kind) {
    case Num::Signed: return static_cast<double>(n.i);
    case Num::Unsigned: return static_cast<double>(n.u);
    default: return n.d;
  }
}

HRESULT StoreNumber(const Num& n, VARTYPE vt, VARIANT* out) {
  int64_t s = 0;
  uint64_t u = 0;
  VariantInit(out);
  auto fits = [&](int64_t lo, uint64_t hi) { return InRange(n, lo, hi, &s, &u); };
  switch (vt) {
    case VT_I1: if (!fits(INT8_MIN, INT8_MAX)) return DISP_E_OVERFLOW; out->cVal = static_cast<signed char>(s); break;
    case VT_UI1: if (!fits(0, UINT8_MAX)) return DISP_E_OVERFLOW; out->bVal = static_cast<BYTE>(u); break;
    case VT_I2: if (!fits(INT16_MIN, INT16_MAX)) return DISP_E_OVERFLOW; out->iVal = static_cast<short>(s); break;
    case VT_UI2: if (!fits(0, UINT16_MAX)) return DISP_E_OVERFLOW; out->uiVal = static_cast<unsigned short>(u); break;
    case VT_I4: if (!fits(INT32_MIN, INT32_MAX)) return DISP_E_OVERFLOW; out->lVal = static_cast<LONG>(s); break;
    case VT_INT: if (!fits(INT32_MIN, INT32_MAX)) return DISP_E_OVERFLOW; out->intVal = static_cast<int>(s); break;
    case VT_UI4: if (!fits(0, UINT32_MAX)) return DISP_E_OVERFLOW; out->ulVal = static_cast<ULONG>(u); break;
    case VT_UINT: if (!fits(0, UINT32_MAX)) return DISP_E_OVERFLOW; out->uintVal = static_cast<unsigned>(u); break;
    case VT_I8:
      if (n.kind == Num::Real && RealOf(n) >= 9223372036854775808.0) return DISP_E_OVERFLOW;
      if (!fits(INT64_MIN, INT64_MAX)) return DISP_E_OVERFLOW;
      out->llVal = s;
      break;
    case VT_UI8:
      if (n.kind == Num::Real && RealOf(n) >= 18446744073709551616.0) return DISP_E_OVERFLOW;
      if (!fits(0, UINT64_MAX)) return DISP_E_OVERFLOW;
      out->ullVal = u;
      break;
    case VT_R8: out->dblVal = RealOf(n); break;
    case VT_R4: {
      const double d = RealOf(n);
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
      break;
    }
    case VT_BOOL: {
      const bool truth = n.kind == Num::Signed ? n.i != 0 : n.kind == Num::Unsigned ? n.u != 0 : n.d != 0;
      out->boolVal = truth ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  out->vt = vt;
  return S_OK;
}

// ---- number -> text ------------------------------------------------------

HRESULT StoreText(const std::string& ascii, VARIANT* out) {
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(ascii.size()));
  if (s == nullptr) return E_OUTOFMEMORY;
  for (size_t k = 0; k < ascii.size(); ++k) s[k] = static_cast<OLECHAR>(static_cast<unsigned char>(ascii[k]));
  VariantInit(out);
  out->vt = VT_BSTR;
  out->bstrVal = s;
  return S_OK;
}

std::string RealText(double d, int precision) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, precision);
  std::string s(buf, r.ptr);
  for (char& c : s) {
    if (c == 'e') c = 'E';
  }
  return s;
}

std::string TextOf(const VARIANT& v) {
  if (v.vt == VT_BOOL) return v.boolVal ? "True" : "False";
  if (v.vt == VT_R8) return RealText(v.dblVal, 15);
  if (v.vt == VT_R4) return RealText(v.fltVal, 7);
  const Num n = NumberOf(v);
  char buf[32];
  auto r = n.kind == Num::Unsigned ? std::to_chars(buf, buf + sizeof buf, n.u)
                                   : std::to_chars(buf, buf + sizeof buf, n.i);
  return std::string(buf, r.ptr);
}

HRESULT CopyInto(VARIANT* out, const VARIANT& src) {
  VariantInit(out);
  if (src.vt == VT_BSTR) {
    BSTR copy = nullptr;
    if (src.bstrVal != nullptr) {
      copy = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    out->vt = VT_BSTR;
    out->bstrVal = copy;
    return S_OK;
  }
  std::memcpy(static_cast<void*>(out), &src, sizeof(VARIANT));
  if (IsInterface(src.vt) && src.punkVal) src.punkVal->AddRef();
  return S_OK;
}

HRESULT Convert(const VARIANT& src, VARTYPE vt, VARIANT* out) {
  if (!IsKnown(src.vt) || !IsKnown(vt)) return DISP_E_BADVARTYPE;
  if (src.vt == vt) return CopyInto(out, src);
  if (vt == VT_EMPTY) {
    VariantInit(out);
    return S_OK;
  }
  if (src.vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  if (vt == VT_NULL) {
    if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    VariantInit(out);
    out->vt = VT_NULL;
    return S_OK;
  }
  if (IsInterface(src.vt) || IsInterface(vt) || src.vt == VT_ERROR || vt == VT_ERROR) {
    return DISP_E_TYPEMISMATCH;
  }
  if (vt == VT_BSTR) return StoreText(src.vt == VT_EMPTY ? std::string() : TextOf(src), out);
  if (src.vt == VT_BSTR) {
    std::string s;
    if (!TrimmedAscii(src.bstrVal, &s)) return DISP_E_TYPEMISMATCH;
    Num n;
    HRESULT hr;
    if (vt == VT_BOOL) {
      if (EqualsIgnoreCase(s, "true")) return StoreNumber(FromSigned(1), vt, out);
      if (EqualsIgnoreCase(s, "false")) return StoreNumber(FromSigned(0), vt, out);
      hr = ParseReal(s, &n);
    } else if (vt == VT_R4 || vt == VT_R8) {
      hr = ParseReal(s, &n);
    } else {
      hr = ParseInteger(s, &n);
    }
    if (FAILED(hr)) return hr;
    return StoreNumber(n, vt, out);
  }
  if ((src.vt == VT_EMPTY || IsNumeric(src.vt)) && IsNumeric(vt)) {
    return StoreNumber(NumberOf(src), vt, out);
  }
  return DISP_E_TYPEMISMATCH;
}

}  // namespace

extern "C" {

void VariantInit(VARIANT* v) {
  if (v == nullptr) return;
  std::memset(static_cast<void*>(v), 0, sizeof(VARIANT));
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if ((v->vt & kByRef) == 0 && !IsKnown(v->vt)) return DISP_E_BADVARTYPE;
  if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
  } else if (IsInterface(v->vt) && v->punkVal != nullptr) {
    v->punkVal->Release();
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (dst == src) return S_OK;
  if (!IsKnown(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT tmp;
  const HRESULT hr = CopyInto(&tmp, *src);
  if (FAILED(hr)) return hr;
  const HRESULT cleared = VariantClear(dst);
  if (FAILED(cleared)) {
    VariantClear(&tmp);
    return cleared;
  }
  *dst = tmp;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, unsigned short /*flags*/, VARTYPE vt) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  VARIANT tmp;
  const HRESULT hr = Convert(*src, vt, &tmp);
  if (FAILED(hr)) return hr;
  // src may be dst: tmp owns its own copy, so clearing dst is safe now.
  const HRESULT cleared = VariantClear(dst);
  if (FAILED(cleared)) {
    VariantClear(&tmp);
    return cleared;
  }
  *dst = tmp;
  return S_OK;
}

}  // extern "C"
