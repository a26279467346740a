// Fuzz harness for the streaming reader: bytes go through IXmlReader
// in-process; every node and attribute is visited and every getter called.
// Besides crashes and leaks it traps on broken promises: strings that are
// not zero-terminated at their length, failures that do not stick, a reader
// that reports nodes after the end.
//
// The first input byte selects options: bit 0 prohibits DTDs, bit 1 caps
// the element depth, bit 2 lowers the entity expansion limit, bit 3 makes
// the stream fail half way, bit 4 reads values in small chunks first, bits
// 5 and 6 pick the vector level (../harness.h).
//
// A second pass reads the same bytes through ReadSignificant, the handle
// functions' way: the nodes it passes over aside, it must give the same
// nodes, the same answer and the same failure place as the first.
#include <cstdint>
#include <cstring>
#include <string>

#include "../harness.h"
#include "mem_istream.h"
#include "seeds.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

namespace {

using twfuzz::check;

void checkString(HRESULT hr, LPCWSTR s, UINT n) {
  if (hr != S_OK) return;
  check(s != nullptr);
  // Reading every unit lets the sanitizer see a short buffer.
  volatile WCHAR sink = 0;
  for (UINT i = 0; i < n; ++i) sink = static_cast<WCHAR>(sink ^ s[i]);
  check(s[n] == 0);
}

void visitStrings(IXmlReader* r) {
  LPCWSTR s = nullptr;
  UINT n = 0;
  HRESULT hr;
  hr = r->GetQualifiedName(&s, &n);
  checkString(hr, s, n);
  hr = r->GetNamespaceUri(&s, &n);
  checkString(hr, s, n);
  hr = r->GetLocalName(&s, &n);
  checkString(hr, s, n);
  hr = r->GetPrefix(&s, &n);
  checkString(hr, s, n);
  hr = r->GetBaseUri(&s, &n);
  checkString(hr, s, n);
  hr = r->GetValue(&s, &n);
  checkString(hr, s, n);
  // Null length pointers are allowed.
  r->GetLocalName(&s, nullptr);
  r->GetValue(&s, nullptr);
  UINT u = 0;
  r->GetLineNumber(&u);
  r->GetLinePosition(&u);
  r->GetDepth(&u);
  r->GetAttributeCount(&u);
  r->IsDefault();
  r->IsEmptyElement();
  XmlNodeType t;
  r->GetNodeType(&t);
}

// Kind, local name and value of every node but those ReadSignificant passes
// over, then the final answer and where the reader stands.
std::u16string trace(IXmlReader* r, IXmlReaderUtf8* significant) {
  std::u16string out;
  XmlNodeType t;
  BOOL empty;
  HRESULT hr;
  int nodes = 0;
  while ((hr = significant ? significant->ReadSignificant(&t, &empty) : r->Read(&t)) == S_OK) {
    if (t == XmlNodeType_Comment || t == XmlNodeType_Whitespace || t == XmlNodeType_XmlDeclaration) {
      check(significant == nullptr);
      continue;
    }
    if (++nodes >= 200000) break;
    LPCWSTR s = nullptr;
    UINT n = 0;
    out += char16_t(t);
    if (r->GetLocalName(&s, &n) == S_OK) out.append(s, n);
    out += u'\1';
    if (r->GetValue(&s, &n) == S_OK) out.append(s, n);
    out += u'\2';
  }
  UINT line = 0, column = 0;
  r->GetLineNumber(&line);
  r->GetLinePosition(&column);
  for (uint32_t v : {uint32_t(hr), uint32_t(line), uint32_t(column)}) {
    out += char16_t(v >> 16);
    out += char16_t(v & 0xFFFF);
  }
  return out;
}

// A reader over the bytes with the options of the first input byte; null
// when none could be made.
IXmlReader* open(const uint8_t* data, size_t size, uint8_t opt) {
  IXmlReader* r = nullptr;
  if (FAILED(TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&r)))) return nullptr;
  if (opt & 1) r->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
  if (opt & 2) r->SetProperty(XmlReaderProperty_MaxElementDepth, 8);
  if (opt & 4) r->SetProperty(XmlReaderProperty_MaxEntityExpansion, 500);
  auto* stream = new twtest::MemReadStream(data, size, (opt & 8) ? size / 2 : SIZE_MAX);
  r->SetInput(stream);
  stream->Release();
  return r;
}

std::u16string readAll(const uint8_t* data, size_t size, uint8_t opt, bool significant) {
  IXmlReader* r = open(data, size, opt);
  if (!r) return {};
  IXmlReaderUtf8* utf8 = nullptr;
  if (significant) check(SUCCEEDED(r->QueryInterface(IID_TwXmlReaderUtf8, reinterpret_cast<void**>(&utf8))));
  std::u16string out = trace(r, utf8);
  if (utf8) utf8->Release();
  r->Release();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Option bytes the seeds are written with: plain, DTD prohibited, chunked.
  twfuzz::WriteSeedsIfAsked(twfuzz::seedInputs({0x00, 0x01, 0x10}));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t opt = data[0];
  ++data;
  --size;
  twfuzz::PickLevel(opt >> 5);
  IXmlReader* r = open(data, size, opt);
  if (!r) return 0;

  XmlNodeType t;
  HRESULT hr;
  int nodes = 0;
  while ((hr = r->Read(&t)) == S_OK && ++nodes < 200000) {
    if ((opt & 16) && (t == XmlNodeType_Text || t == XmlNodeType_Whitespace ||
                       t == XmlNodeType_CDATA || t == XmlNodeType_Comment)) {
      WCHAR chunk[3];
      UINT got = 0;
      for (int i = 0; i < 4 && r->ReadValueChunk(chunk, 3, &got) == S_OK; ++i) check(got <= 3);
    }
    visitStrings(r);
    if (t == XmlNodeType_Element) {
      UINT count = 0, seen = 0;
      r->GetAttributeCount(&count);
      for (HRESULT a = r->MoveToFirstAttribute(); a == S_OK; a = r->MoveToNextAttribute()) {
        ++seen;
        visitStrings(r);
      }
      check(seen == count);
      r->MoveToAttributeByName(u"id", nullptr);
      r->MoveToAttributeByName(u"lang", u"http://www.w3.org/XML/1998/namespace");
      r->MoveToElement();
      visitStrings(r);
    }
  }
  if (FAILED(hr)) {
    // A failure sticks.
    check(FAILED(r->Read(&t)));
    visitStrings(r);
  } else if (hr == S_FALSE) {
    check(r->Read(&t) == S_FALSE);
    check(r->IsEOF());
  }
  check(readAll(data, size, opt, false) == readAll(data, size, opt, true));
  // Detaching and reusing the reader must work after any state.
  r->SetInput(nullptr);
  auto* again = new twtest::MemReadStream("<r/>", 4);
  r->SetInput(again);
  again->Release();
  check(r->Read(&t) == S_OK && t == XmlNodeType_Element);
  r->Release();
  return 0;
}
