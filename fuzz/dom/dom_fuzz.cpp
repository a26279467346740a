// Fuzz harness for the DOM document class: load fuzzed bytes, save the tree
// and take its text. Saved bytes must load again to the same tree (up to
// CDATA boundaries: a character the save encoding cannot hold leaves a CDATA
// section as a character reference between two sections), the text
// must load again and then reach a fixed point (the reloaded tree gives the
// same text again), and a save into a stream that refuses writes must fail
// cleanly.
//
// The first input byte selects options: bit 0 preserves white space, bit 1
// loads through loadXML (the bytes taken as UTF-8 text) instead of load,
// bits 2 and 3 pick the vector level (../harness.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../harness.h"
#include "mem_istream.h"
#include "seeds.h"
#include "twxml/platform/msxml.h"
#include "twxml/platform/utf.h"

namespace {

using twfuzz::check;

// Why a load failed, when replaying with TWXML_FUZZ_DEBUG set.
void debugParseError(IXMLDOMDocument* d) {
  IXMLDOMParseError* pe = nullptr;
  if (FAILED(d->get_parseError(&pe)) || !pe) return;
  BSTR reason = nullptr;
  pe->get_reason(&reason);
  twfuzz::Debug("parse error", std::u16string(reason ? reason : u""));
  SysFreeString(reason);
  pe->Release();
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

std::u16string widen(const uint8_t* p, size_t n) {  // invalid bytes become U+FFFD
  std::u16string out(n, u'\0');
  out.resize(twxml::utf::Utf8ToUtf16Replacing(reinterpret_cast<const char*>(p), n, out.data()));
  return out;
}

std::u16string xmlOf(IXMLDOMDocument* d) {
  BSTR xml = nullptr;
  check(SUCCEEDED(d->get_xml(&xml)));
  std::u16string s = xml ? std::u16string(xml, SysStringLen(xml)) : std::u16string();
  SysFreeString(xml);
  return s;
}

// The text with the leading XML declaration's layout made uniform: loaded
// from text the declaration keeps its data as written (quotes, blanks around
// '='), loaded from bytes it is rebuilt in one form. Only its pseudo-attribute
// names and values are compared.
std::u16string sameQuotes(std::u16string s) {
  if (s.compare(0, 5, u"<?xml") != 0) return s;
  size_t end = s.find(u"?>");
  if (end == std::u16string::npos) return s;
  std::u16string decl;
  for (size_t i = 5; i < end; ++i) {
    char16_t c = s[i];
    if (c == u'\'') c = u'"';
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') continue;
    decl += c;
  }
  return u"<?xml " + decl + s.substr(end);
}

// CDATA sections written as the escaped text they hold, so a section split
// around a character reference compares equal to the whole one.
std::u16string cdataAsText(const std::u16string& s) {
  std::u16string out;
  size_t at = 0;
  for (;;) {
    size_t open = s.find(u"<![CDATA[", at);
    size_t close = open == std::u16string::npos ? open : s.find(u"]]>", open + 9);
    if (close == std::u16string::npos) break;
    out.append(s, at, open - at);
    for (size_t i = open + 9; i < close; ++i) {
      char16_t c = s[i];
      out += c == u'<' ? u"&lt;" : c == u'>' ? u"&gt;" : c == u'&' ? u"&amp;" : std::u16string(1, c);
    }
    at = close + 3;
  }
  return out + s.substr(at);
}

bool loadText(IXMLDOMDocument* d, const std::u16string& text) {
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = d->loadXML(b, &ok);
  SysFreeString(b);
  check(SUCCEEDED(hr) || ok == VARIANT_FALSE);
  if (hr != S_OK || ok != VARIANT_TRUE) {
    twfuzz::Debug("loadXML refused", text);
    debugParseError(d);
  }
  return hr == S_OK && ok == VARIANT_TRUE;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  twfuzz::WriteSeedsIfAsked(twfuzz::seedInputs({0x00, 0x01, 0x02}));
  check(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t opt = data[0];
  ++data;
  --size;
  twfuzz::PickLevel(opt >> 2);
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

  // Saving may fail (an encoding named in the declaration that iconv does
  // not know); when it succeeds, the bytes load again to the same tree.
  auto* out = new twtest::MemWriteStream();
  bool saved = SUCCEEDED(d->save(unknownVariant(out)));

  // Saving into a stream that refuses every write fails, nothing crashes.
  auto* refusing = new twtest::MemReadStream("", 0);
  check(FAILED(d->save(unknownVariant(refusing))));
  refusing->Release();

  std::u16string first = xmlOf(d);
  d->Release();

  if (saved) {
    IXMLDOMDocument* reloaded = newDocument(preserve);
    auto* in = new twtest::MemReadStream(out->text().data(), out->text().size());
    VARIANT_BOOL ok = VARIANT_FALSE;
    twfuzz::Debug("saved", out->text());
    twfuzz::Debug("xml", first);
    HRESULT hr = reloaded->load(unknownVariant(in), &ok);
    if (hr != S_OK || ok != VARIANT_TRUE) debugParseError(reloaded);
    check(hr == S_OK && ok == VARIANT_TRUE);
    in->Release();
    twfuzz::Debug("xml after reloading the saved bytes", xmlOf(reloaded));
    check(cdataAsText(sameQuotes(xmlOf(reloaded))) == cdataAsText(sameQuotes(first)));
    reloaded->Release();
  }
  out->Release();

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
