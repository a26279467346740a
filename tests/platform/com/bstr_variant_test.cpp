// BSTR layout and VARIANT copy/clear/conversion rules.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "twxml/platform/com.h"

namespace {

using u16 = std::u16string;

TEST(Bstr, LayoutLengthsAndReallocation) {
  BSTR s = SysAllocStringLen(u"a\0b", 3);  // embedded zeros count
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(3u, SysStringLen(s));
  EXPECT_EQ(6u, SysStringByteLen(s));
  EXPECT_EQ(6u, reinterpret_cast<uint32_t*>(s)[-1]);  // byte count in front
  EXPECT_EQ(u16(u"a\0b\0", 4), u16(s, 4));
  SysFreeString(s);
  s = SysAllocStringLen(nullptr, 4);  // room, terminated
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(4u, SysStringLen(s));
  EXPECT_EQ(0, s[4]);
  SysFreeString(s);
  EXPECT_EQ(nullptr, SysAllocString(nullptr));
  EXPECT_EQ(0u, SysStringLen(nullptr));
  EXPECT_EQ(0u, SysStringByteLen(nullptr));
  SysFreeString(nullptr);
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0x7FFFFFFFu));
  s = SysAllocString(u"abcdef");
  ASSERT_TRUE(SysReAllocString(&s, s + 2));  // from text inside the old string
  EXPECT_EQ(u16(u"cdef"), u16(s, SysStringLen(s)));
  SysFreeString(s);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
VARIANT I4(LONG x) { VARIANT v = Make(VT_I4); v.lVal = x; return v; }
VARIANT R8(double x) { VARIANT v = Make(VT_R8); v.dblVal = x; return v; }
VARIANT Bool(bool x) { VARIANT v = Make(VT_BOOL); v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; }
VARIANT Str(const char16_t* s) { VARIANT v = Make(VT_BSTR); v.bstrVal = SysAllocString(s); return v; }

// The value of a variant as comparable text.
std::string Show(const VARIANT& v) {
  char buf[64];
  switch (v.vt) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_I2: return "i2:" + std::to_string(v.iVal);
    case VT_I4: return "i4:" + std::to_string(v.lVal);
    case VT_UI4: return "ui4:" + std::to_string(v.ulVal);
    case VT_BOOL: return std::string("bool:") + (v.boolVal == VARIANT_TRUE ? "T" : v.boolVal == 0 ? "F" : "?");
    case VT_R8: snprintf(buf, sizeof buf, "r8:%.17g", v.dblVal); return buf;
    case VT_BSTR: return "bstr:" + std::string(v.bstrVal, v.bstrVal + SysStringLen(v.bstrVal));
    default: return "vt" + std::to_string(v.vt);
  }
}

// Every conversion into a fresh destination and in place; failures leave the
// destination untouched; numbers that become text read back as the same number.
TEST(Variant, ChangeTypeTable) {
  const HRESULT OVF = DISP_E_OVERFLOW, MIS = DISP_E_TYPEMISMATCH;
  struct Case {
    VARIANT src;
    VARTYPE to;
    HRESULT hr;
    std::string want;  // when hr is S_OK
  };
  std::vector<Case> cases = {
      // text -> numbers (the library's attribute numbers; the DOM takes any
      // value as text)
      {Str(u"  -17\t"), VT_I4, S_OK, "i4:-17"},
      {Str(u"2147483647"), VT_I4, S_OK, "i4:2147483647"},
      {Str(u"-2147483648"), VT_I4, S_OK, "i4:-2147483648"},
      {Str(u"2147483648"), VT_I4, OVF, ""},
      {Str(u"99999999999999999999999"), VT_I4, OVF, ""},
      {Str(u"12abc"), VT_I4, MIS, ""},
      {Str(u""), VT_I4, MIS, ""},
      {Str(u"   "), VT_I4, MIS, ""},
      {Str(u"-"), VT_I4, MIS, ""},
      {Str(u"1 2"), VT_I4, MIS, ""},
      {Str(u"\uFF11"), VT_I4, MIS, ""},
      {Str(u"1.5"), VT_I4, MIS, ""},
      // numbers -> text
      {I4(-123), VT_BSTR, S_OK, "bstr:-123"},
      {I4(-2147483647 - 1), VT_BSTR, S_OK, "bstr:-2147483648"},
      {R8(0.1), VT_BSTR, S_OK, "bstr:0.1"},
      {R8(1e20), VT_BSTR, S_OK, "bstr:1E+20"},
      {R8(1.0 / 3), VT_BSTR, S_OK, ""},  // only the round trip is checked
      {R8(6.02214076e23), VT_BSTR, S_OK, ""},
      {Bool(true), VT_BSTR, S_OK, "bstr:True"},
      // empty, null and other types
      {Make(VT_EMPTY), VT_BSTR, S_OK, "bstr:"},
      {Make(VT_EMPTY), VT_I4, S_OK, "i4:0"},
      {Make(VT_EMPTY), VT_NULL, S_OK, "null"},
      {Make(VT_NULL), VT_I4, MIS, ""},
      {Make(VT_NULL), VT_EMPTY, S_OK, "empty"},
      {Make(VT_BSTR), VT_BSTR, S_OK, "bstr:"},  // a null BSTR is the empty text...
      {Make(VT_BSTR), VT_I4, MIS, ""},          // ...which is no number
      {I4(5), VT_NULL, MIS, ""},
      {I4(5), VT_EMPTY, S_OK, "empty"},
      {I4(5), VT_UNKNOWN, MIS, ""},
      {I4(5), static_cast<VARTYPE>(99), DISP_E_BADVARTYPE, ""},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(Show(c.src) + " -> " + std::to_string(c.to));
    VARIANT dst = I4(-999);
    const HRESULT hr = VariantChangeType(&dst, &c.src, 0, c.to);
    EXPECT_EQ(c.hr, hr);
    const std::string got = Show(dst);
    EXPECT_EQ(FAILED(hr) ? "i4:-999" : c.want.empty() ? got : c.want, got);
    if (SUCCEEDED(hr) && c.to == VT_BSTR && c.src.vt != VT_BOOL && c.src.vt != VT_EMPTY &&
        c.src.vt != VT_BSTR) {
      VARIANT back = Make(VT_EMPTY);
      ASSERT_EQ(S_OK, VariantChangeType(&back, &dst, 0, c.src.vt));
      if (c.src.vt == VT_R8) {
        EXPECT_NEAR(c.src.dblVal, back.dblVal, std::fabs(c.src.dblVal) * 1e-14);
      } else {
        EXPECT_EQ(Show(c.src), Show(back));
      }
    }
    VariantClear(&dst);
    const std::string before = Show(c.src);
    EXPECT_EQ(c.hr, VariantChangeType(&c.src, &c.src, 0, c.to));
    const std::string inPlace = Show(c.src);
    EXPECT_EQ(FAILED(c.hr) ? before : c.want.empty() ? inPlace : c.want, inPlace);
    VariantClear(&c.src);
  }
}

struct Counted final : IUnknown {
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

TEST(Variant, CopyAndClearOwnership) {
  VARIANT a = Str(u"text"), b = Make(VT_EMPTY), c = Make(VT_EMPTY), u = Make(VT_UNKNOWN);
  ASSERT_EQ(S_OK, VariantCopy(&b, &a));
  EXPECT_NE(a.bstrVal, b.bstrVal);  // a copy of its own
  EXPECT_EQ(S_OK, VariantCopy(&b, &b));
  EXPECT_EQ(S_OK, VariantClear(&a));
  EXPECT_EQ(VT_EMPTY, a.vt);
  EXPECT_EQ("bstr:text", Show(b));

  Counted obj;
  u.punkVal = &obj;
  obj.AddRef();
  ASSERT_EQ(S_OK, VariantCopy(&b, &u));  // replaces (and frees) the BSTR
  EXPECT_EQ(3u, obj.refs);
  ASSERT_EQ(S_OK, VariantChangeType(&c, &u, 0, VT_UNKNOWN));
  EXPECT_EQ(4u, obj.refs);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&c, &u, 0, VT_BSTR));
  VariantClear(&c);
  VariantClear(&b);
  VariantClear(&u);
  EXPECT_EQ(1u, obj.refs);

  VARIANT null_bstr = Make(VT_BSTR);
  ASSERT_EQ(S_OK, VariantCopy(&b, &null_bstr));
  EXPECT_EQ(nullptr, b.bstrVal);
  VARIANT bad = Make(static_cast<VARTYPE>(0x0FFF));
  EXPECT_EQ(DISP_E_BADVARTYPE, VariantClear(&bad));
  EXPECT_EQ(DISP_E_BADVARTYPE, VariantCopy(&b, &bad));
  EXPECT_EQ(E_INVALIDARG, VariantClear(nullptr));
  EXPECT_EQ(E_INVALIDARG, VariantCopy(nullptr, &b));
  EXPECT_EQ(E_INVALIDARG, VariantChangeType(&b, nullptr, 0, VT_I4));
}

}  // namespace
