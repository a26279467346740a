// BSTR layout and VARIANT copy/clear/conversion rules.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "twxml/platform/com.h"

namespace {

using u16 = std::u16string;

TEST(Bstr, LayoutAndLengths) {
  BSTR s = SysAllocString(u"hello");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(5u, SysStringLen(s));
  EXPECT_EQ(10u, SysStringByteLen(s));
  EXPECT_EQ(10u, reinterpret_cast<uint32_t*>(s)[-1]);  // byte count in front
  EXPECT_EQ(0, s[5]);
  SysFreeString(s);

  // Embedded zeros count; SysAllocStringLen(null, n) leaves room and terminates.
  s = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(3u, SysStringLen(s));
  EXPECT_EQ(u16(u"a\0b", 3), u16(s, 3));
  SysFreeString(s);
  s = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(4u, SysStringLen(s));
  EXPECT_EQ(0, s[4]);
  for (int i = 0; i < 4; ++i) s[i] = u'x';
  SysFreeString(s);
  s = SysAllocStringLen(nullptr, 0);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0u, SysStringLen(s));
  SysFreeString(s);

  EXPECT_EQ(nullptr, SysAllocString(nullptr));
  EXPECT_EQ(0u, SysStringLen(nullptr));
  EXPECT_EQ(0u, SysStringByteLen(nullptr));
  SysFreeString(nullptr);
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0x7FFFFFFFu));

  // Reallocation from text inside the old string.
  s = SysAllocString(u"abcdef");
  ASSERT_TRUE(SysReAllocString(&s, s + 2));
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
VARIANT I2(short x) { VARIANT v = Make(VT_I2); v.iVal = x; return v; }
VARIANT UI4(ULONG x) { VARIANT v = Make(VT_UI4); v.ulVal = x; return v; }
VARIANT R8(double x) { VARIANT v = Make(VT_R8); v.dblVal = x; return v; }
VARIANT Bool(bool x) { VARIANT v = Make(VT_BOOL); v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; }
VARIANT Str(const char16_t* s) { VARIANT v = Make(VT_BSTR); v.bstrVal = SysAllocString(s); return v; }

// The value of a converted variant as comparable text.
std::string Show(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_I2: return "i2:" + std::to_string(v.iVal);
    case VT_I4: return "i4:" + std::to_string(v.lVal);
    case VT_UI4: return "ui4:" + std::to_string(v.ulVal);
    case VT_BOOL: return std::string("bool:") + (v.boolVal == VARIANT_TRUE ? "T" : v.boolVal == 0 ? "F" : "?");
    case VT_R8: {
      char buf[64];
      snprintf(buf, sizeof buf, "r8:%.17g", v.dblVal);
      return buf;
    }
    case VT_BSTR: {
      std::string s = "bstr:";
      for (UINT i = 0; i < SysStringLen(v.bstrVal); ++i) s.push_back(static_cast<char>(v.bstrVal[i]));
      return s;
    }
    default: return "vt" + std::to_string(v.vt);
  }
}

TEST(Variant, ChangeTypeTable) {
  struct Case {
    VARIANT src;
    VARTYPE to;
    HRESULT hr;
    std::string want;  // when hr is S_OK
  };
  std::vector<Case> cases = {
      // text -> numbers
      {Str(u"42"), VT_I4, S_OK, "i4:42"},
      {Str(u"  -17\t"), VT_I4, S_OK, "i4:-17"},
      {Str(u"+8"), VT_I2, S_OK, "i2:8"},
      {Str(u"2147483647"), VT_I4, S_OK, "i4:2147483647"},
      {Str(u"-2147483648"), VT_I4, S_OK, "i4:-2147483648"},
      {Str(u"2147483648"), VT_I4, DISP_E_OVERFLOW, ""},
      {Str(u"99999999999999999999999"), VT_I4, DISP_E_OVERFLOW, ""},
      {Str(u"32768"), VT_I2, DISP_E_OVERFLOW, ""},
      {Str(u"4294967295"), VT_UI4, S_OK, "ui4:4294967295"},
      {Str(u"-1"), VT_UI4, DISP_E_OVERFLOW, ""},
      {Str(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Str(u""), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Str(u"   "), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Str(u"-"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Str(u"1 2"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Str(u"\uFF11"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Str(u"1.5"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Str(u" 1.5e3 "), VT_R8, S_OK, "r8:1500"},
      {Str(u"-.25"), VT_R8, S_OK, "r8:-0.25"},
      {Str(u"7."), VT_R8, S_OK, "r8:7"},
      {Str(u"1e"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {Str(u"."), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {Str(u"1e999"), VT_R8, DISP_E_OVERFLOW, ""},
      {Str(u"TRUE"), VT_BOOL, S_OK, "bool:T"},
      {Str(u" false "), VT_BOOL, S_OK, "bool:F"},
      {Str(u"0"), VT_BOOL, S_OK, "bool:F"},
      {Str(u"-3"), VT_BOOL, S_OK, "bool:T"},
      {Str(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, ""},
      // numbers -> text
      {I4(-123), VT_BSTR, S_OK, "bstr:-123"},
      {UI4(4000000000u), VT_BSTR, S_OK, "bstr:4000000000"},
      {I2(-32768), VT_BSTR, S_OK, "bstr:-32768"},
      {R8(0.1), VT_BSTR, S_OK, "bstr:0.1"},
      {R8(2.5), VT_BSTR, S_OK, "bstr:2.5"},
      {R8(1e20), VT_BSTR, S_OK, "bstr:1E+20"},
      {Bool(true), VT_BSTR, S_OK, "bstr:True"},
      {Bool(false), VT_BSTR, S_OK, "bstr:False"},
      // numbers -> numbers
      {I4(40000), VT_I2, DISP_E_OVERFLOW, ""},
      {I4(-1), VT_UI4, DISP_E_OVERFLOW, ""},
      {UI4(4294967295u), VT_I4, DISP_E_OVERFLOW, ""},
      {R8(2.5), VT_I4, S_OK, "i4:2"},   // halves to even
      {R8(3.5), VT_I4, S_OK, "i4:4"},
      {R8(-2.5), VT_I4, S_OK, "i4:-2"},
      {R8(2147483647.4), VT_I4, S_OK, "i4:2147483647"},
      {R8(2147483647.5), VT_I4, DISP_E_OVERFLOW, ""},
      {R8(NAN), VT_I4, DISP_E_OVERFLOW, ""},
      {R8(-0.4), VT_UI4, S_OK, "ui4:0"},
      {Bool(true), VT_I4, S_OK, "i4:-1"},
      {Bool(true), VT_UI4, DISP_E_OVERFLOW, ""},
      {I4(7), VT_BOOL, S_OK, "bool:T"},
      {I4(0), VT_BOOL, S_OK, "bool:F"},
      {I4(7), VT_R8, S_OK, "r8:7"},
      // empty and null
      {Make(VT_EMPTY), VT_BSTR, S_OK, "bstr:"},
      {Make(VT_EMPTY), VT_I4, S_OK, "i4:0"},
      {Make(VT_EMPTY), VT_BOOL, S_OK, "bool:F"},
      {Make(VT_EMPTY), VT_NULL, S_OK, "null"},
      {Make(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {Make(VT_NULL), VT_BSTR, DISP_E_TYPEMISMATCH, ""},
      {Make(VT_NULL), VT_NULL, S_OK, "null"},
      {Make(VT_NULL), VT_EMPTY, S_OK, "empty"},
      {I4(5), VT_NULL, DISP_E_TYPEMISMATCH, ""},
      {I4(5), VT_EMPTY, S_OK, "empty"},
      {I4(5), VT_UNKNOWN, DISP_E_TYPEMISMATCH, ""},
      {I4(5), static_cast<VARTYPE>(99), DISP_E_BADVARTYPE, ""},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(Show(c.src) + " -> " + std::to_string(c.to));
    // Into a fresh destination...
    VARIANT dst = I4(-999);
    const HRESULT hr = VariantChangeType(&dst, &c.src, 0, c.to);
    EXPECT_EQ(c.hr, hr);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(c.want, Show(dst));
    } else {
      EXPECT_EQ("i4:-999", Show(dst));  // untouched on failure
    }
    VariantClear(&dst);
    // ...and in place.
    const std::string before = Show(c.src);
    const HRESULT again = VariantChangeType(&c.src, &c.src, 0, c.to);
    EXPECT_EQ(c.hr, again);
    EXPECT_EQ(SUCCEEDED(again) ? c.want : before, Show(c.src));
    VariantClear(&c.src);
  }
}

class Counted final : public IUnknown {
 public:
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
  VARIANT a = Str(u"text");
  VARIANT b;
  VariantInit(&b);
  ASSERT_EQ(S_OK, VariantCopy(&b, &a));
  ASSERT_EQ(VT_BSTR, b.vt);
  EXPECT_NE(a.bstrVal, b.bstrVal);  // a copy of its own
  EXPECT_EQ(u16(u"text"), u16(b.bstrVal));
  EXPECT_EQ(S_OK, VariantCopy(&b, &b));
  EXPECT_EQ(S_OK, VariantClear(&a));
  EXPECT_EQ(VT_EMPTY, a.vt);
  EXPECT_EQ(u16(u"text"), u16(b.bstrVal));

  Counted obj;
  VARIANT u = Make(VT_UNKNOWN);
  u.punkVal = &obj;
  obj.AddRef();
  ASSERT_EQ(S_OK, VariantCopy(&b, &u));  // replaces (and frees) the BSTR
  EXPECT_EQ(3u, obj.refs);
  VARIANT c;
  VariantInit(&c);
  ASSERT_EQ(S_OK, VariantChangeType(&c, &u, 0, VT_UNKNOWN));
  EXPECT_EQ(4u, obj.refs);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&c, &u, 0, VT_BSTR));
  VariantClear(&c);
  VariantClear(&b);
  VariantClear(&u);
  EXPECT_EQ(1u, obj.refs);

  VARIANT null_bstr = Make(VT_BSTR);  // a null BSTR is the empty text
  ASSERT_EQ(S_OK, VariantCopy(&b, &null_bstr));
  EXPECT_EQ(nullptr, b.bstrVal);
  EXPECT_EQ(S_OK, VariantChangeType(&b, &null_bstr, 0, VT_BSTR));
  EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&b, &null_bstr, 0, VT_I4));
  VariantClear(&b);

  VARIANT bad = Make(static_cast<VARTYPE>(0x0FFF));
  EXPECT_EQ(DISP_E_BADVARTYPE, VariantClear(&bad));
  EXPECT_EQ(DISP_E_BADVARTYPE, VariantCopy(&b, &bad));
  EXPECT_EQ(E_INVALIDARG, VariantClear(nullptr));
  EXPECT_EQ(E_INVALIDARG, VariantCopy(nullptr, &b));
  EXPECT_EQ(E_INVALIDARG, VariantChangeType(&b, nullptr, 0, VT_I4));
}

TEST(Variant, NumbersRoundTripThroughText) {
  const double values[] = {0, -0.5, 1.0 / 3, 123456789.125, -1e-7, 6.02214076e23};
  for (double d : values) {
    VARIANT v = R8(d), t, back;
    VariantInit(&t);
    VariantInit(&back);
    ASSERT_EQ(S_OK, VariantChangeType(&t, &v, 0, VT_BSTR));
    ASSERT_EQ(S_OK, VariantChangeType(&back, &t, 0, VT_R8));
    EXPECT_NEAR(d, back.dblVal, std::fabs(d) * 1e-14);
    VariantClear(&t);
  }
  for (LONG x : {0, 1, -1, 2147483647, -2147483647 - 1, 65536}) {
    VARIANT v = I4(x), t, back;
    VariantInit(&t);
    VariantInit(&back);
    ASSERT_EQ(S_OK, VariantChangeType(&t, &v, 0, VT_BSTR));
    ASSERT_EQ(S_OK, VariantChangeType(&back, &t, 0, VT_I4));
    EXPECT_EQ(x, back.lVal);
    VariantClear(&t);
  }
}

}  // namespace
