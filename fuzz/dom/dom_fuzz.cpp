// Fuzz harness for the DOM document class: load fuzzed bytes, save the tree
// and take its text. What loaded must save, and the saved text must load
// again and then reach a fixed point (saving the reloaded tree gives the
// same text again); a save into a stream that refuses writes must fail
// cleanly.
//
// The first input byte selects options: bit 0 preserves white space, bit 1
// loads through loadXML (the bytes taken as UTF-8 text) instead of load.
#include <cstdint>
#include <string>

#include "mem_istream.h"
#include "seeds.h"
#include "twxml/platform/msxml.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

IXMLDOMDocument* newDocument(bool preserve) {
  IXMLDOMDocument* d = nullptr;
  check(SUCCEEDED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IXMLDOMDocument, reinterpret_cast<void**>(&d))));
  d->put_async(VARIANT_FALSE);
  if (preserve) d->put_preserveWhiteSpace(VARIANT_TRUE);
  return d;
}

VARIANT unknownVariant(IUnknown* u) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = u;
  return v;
}

std::u16string widen(const uint8_t* p, size_t n) {
  // Plain UTF-8 decoding; invalid bytes become U+FFFD.
  std::u16string out;
  for (size_t i = 0; i < n;) {
    uint32_t c = p[i], len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!len || i + len > n) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (len > 1) c &= 0x3F >> (len - 1);
    for (uint32_t k = 1; k < len; ++k) c = (c << 6) | (p[i + k] & 0x3F);
    i += len;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::u16string xmlOf(IXMLDOMDocument* d) {
  BSTR xml = nullptr;
  check(SUCCEEDED(d->get_xml(&xml)));
  std::u16string s = xml ? std::u16string(xml, SysStringLen(xml)) : std::u16string();
  SysFreeString(xml);
  return s;
}

bool loadText(IXMLDOMDocument* d, const std::u16string& text) {
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = d->loadXML(b, &ok);
  SysFreeString(b);
  check(SUCCEEDED(hr) || ok == VARIANT_FALSE);
  return hr == S_OK && ok == VARIANT_TRUE;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  twfuzz::writeSeedsIfAsked({0x00, 0x01, 0x02});
  check(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t opt = data[0];
  ++data;
  --size;
  const bool preserve = opt & 1;
  IXMLDOMDocument* d = newDocument(preserve);
  bool loaded;
  if (opt & 2) {
    loaded = loadText(d, widen(data, size));
  } else {
    auto* in = new twtest::MemReadStream(data, size);
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr = d->load(unknownVariant(in), &ok);
    in->Release();
    loaded = hr == S_OK && ok == VARIANT_TRUE;
  }
  if (!loaded) {
    // A failed load leaves an empty document with the reason set.
    IXMLDOMParseError* err = nullptr;
    if (SUCCEEDED(d->get_parseError(&err)) && err) {
      LONG code = 0;
      err->get_errorCode(&code);
      check(code != 0);
      err->Release();
    }
    IXMLDOMElement* root = nullptr;
    d->get_documentElement(&root);
    check(root == nullptr);
    d->Release();
    return 0;
  }

  auto* out = new twtest::MemWriteStream();
  check(SUCCEEDED(d->save(unknownVariant(out))));
  out->Release();

  // Saving into a stream that refuses every write fails, nothing crashes.
  auto* refusing = new twtest::MemReadStream("", 0);
  check(FAILED(d->save(unknownVariant(refusing))));
  refusing->Release();

  std::u16string first = xmlOf(d);
  d->Release();

  IXMLDOMDocument* again = newDocument(preserve);
  check(loadText(again, first));
  std::u16string second = xmlOf(again);
  again->Release();
  IXMLDOMDocument* third = newDocument(preserve);
  check(loadText(third, second));
  check(xmlOf(third) == second);
  third->Release();
  return 0;
}
