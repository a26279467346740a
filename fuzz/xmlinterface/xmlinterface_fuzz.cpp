// Fuzz harness for XmlInterface: random call sequences on both engines, as
// a reader over fuzzed documents and as a writer of fuzzed names and texts.
// Properties: caller buffers are never overrun and hold terminated text when
// a call answers true; a document written by calls that all succeeded, with
// every element ended, loads again; deleting an object releases everything
// (the leak checker watches).
//
// Input: byte 0 picks engine (bit 0: document engine), role (bit 1:
// writer), indentation (bit 2) and the vector level (bits 3 and 4,
// ../harness.h); then a line of operation letters, a newline, and the
// document to read (or, for writers, the text source).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../harness.h"
#include "lite_engine.h"
#include "lite_internal.h"
#include "twxml/platform/xmllite_internal.h"
#include "twxml/twxml.h"

namespace {

using twfuzz::check;

char* S(const char* text) { return const_cast<char*>(text); }

using twfuzz::Guarded;  // true answers write terminated text

const char* const kNames[] = {"id", "k", "a", "", "x:k", "item", "r", "n"};

std::unique_ptr<XmlInterface> Reader(bool dom, std::string& doc) {
  XmlInterface* x = nullptr;
  if (dom) {
    if (XmlInterface::CreateReaderFromMemF(doc.data(), static_cast<unsigned long>(doc.size()), &x,
                                           true) != 0)
      return nullptr;
  } else {
    _XmlLiteReaderS* h = XmlLiteCreateMemReaderH(doc.c_str());
    if (h == nullptr) return nullptr;
    x = new XmlInterfaceToLite(h);
  }
  return std::unique_ptr<XmlInterface>(x);
}

void RunReader(bool dom, const std::string& ops, std::string doc) {
  std::unique_ptr<XmlInterface> x = Reader(dom, doc);
  if (!x) return;
  size_t pick = 0;
  for (char op : ops) {
    const unsigned int size = 1 + static_cast<unsigned char>(op) % 9;
    const char* name = kNames[pick++ % std::size(kNames)];
    switch (op) {
      case 'S': x->SelectElemB(); break;
      case 'P': x->PeekElemB(); break;
      case 'R': x->ReadElemB(pick % 2 == 0); break;
      case 'E': x->EndElemB(); break;
      case 'K': x->SkipLevelB(); break;
      case 'N': case 'n': {
        Guarded g(op == 'N' ? 256 : size);
        g.CheckBounds(x->GetElemNameToBufB(g.data(), g.size));
        break;
      }
      case 'A': case 'a': {
        Guarded g(op == 'A' ? 256 : size);
        g.CheckBounds(x->GetAttrValueToBufB(S(name), g.data(), g.size));
        break;
      }
      case 'I': {
        int value = 0;
        x->GetAttrValueToIntB(S(name), &value);
        break;
      }
      case 'V': case 'v': {
        Guarded g(op == 'V' ? 256 : size);
        g.CheckBounds(x->GetElemValueToBufB(g.data(), g.size));
        break;
      }
      case 'X': case 'x': {
        Guarded g(op == 'X' ? 256 : size);
        g.CheckBounds(x->ExtractNameB(op == 'X' ? nullptr : S("x"), g.data(), g.size));
        break;
      }
      case 'T': x->IsThisNameB(pick % 2 ? nullptr : S("x"), S(name)); break;
      default: break;
    }
  }
}

// Whether a written document loads again, on the document engine.
bool Loads(char* text, unsigned int size) {
  XmlInterface* x = nullptr;
  if (XmlInterface::CreateReaderFromMemF(text, size, &x, true) != 0) return false;
  delete x;
  return true;
}

void RunWriter(bool dom, bool indent, const std::string& ops, const std::string& source) {
  XmlInterface* raw = nullptr;
  if (dom) {
    check(XmlInterface::CreateWriterToMemF(&raw, indent, true, nullptr) == 0);
  } else {
    _XmlLiteWriterS* h = XmlLiteCreateMemWriterH(indent ? 1 : 0, "UTF-8");
    check(h != nullptr);
    raw = new XmlInterfaceToLite(h);
  }
  std::unique_ptr<XmlInterface> x(raw);
  size_t cursor = 0;
  auto piece = [&](size_t maxLen) {
    if (source.empty()) return std::string("e");
    const size_t len = 1 + (cursor * 7 + 3) % maxLen;
    std::string s;
    for (size_t i = 0; i < len; ++i) s.push_back(source[(cursor + i) % source.size()]);
    cursor += len;
    return std::string(s.c_str());  // up to an embedded zero
  };
  const char* const names[] = {"r", "item", "a1", "x", "caf\xc3\xa9"};
  int depth = 0, roots = 0;
  bool allOk = true;
  try {
    for (char op : ops) {
      bool ok = true;
      switch (op) {
        case 's': ok = x->WriteStartElemB(S(names[cursor++ % 5])); depth += ok; roots += ok && depth == 1; break;
        case 'S': {
          const std::string name = piece(8);
          ok = x->WriteStartElemB(S(name.c_str()));
          depth += ok;
          roots += ok && depth == 1;
          // The document engine takes a prefixed name as it is, bound or not.
          allOk = allOk && !(dom && name.find(':') != std::string::npos);
          break;
        }
        case 'n':
          ok = x->WriteStartElemNsB(S("p"), S(names[cursor++ % 5]), S("urn:p"));
          depth += ok;
          roots += ok && depth == 1;
          break;
        case 'a': ok = x->WriteAttrB(S(names[cursor++ % 5]), S(piece(12).c_str())); break;
        case 'm':
          ok = x->WriteAttrNsB(S("q"), S("k"), S("urn:q"), S(piece(6).c_str()));
          // The document engine does not declare an attribute's namespace:
          // its prefix is left unbound and the document does not load again
          // (as the document classes specify).
          allOk = allOk && !dom;
          break;
        case 'i': ok = x->WriteIntAttrB(S("n"), static_cast<int>(cursor * 7919)); break;
        case 'v': ok = x->WriteValueB(S(piece(20).c_str())); break;
        case 'e': ok = x->EndElemB(); if (ok && depth > 0) --depth; break;
        case 'f':
          x->FlushV();
          // The document engine saves its document once, at the first flush.
          allOk = allOk && !dom;
          break;
        default: break;
      }
      allOk = allOk && ok;
    }
  } catch (const _com_error&) {
    return;  // the document engine's refusal of an attribute: allowed out
  }
  unsigned int size = 0;
  char* text = x->AllocMemP(&size);
  if (text != nullptr) {
    check(text[size] == '\0');
    if (std::getenv("TWXML_FUZZ_DEBUG") != nullptr) std::fprintf(stderr, "written: %s\n", text);
    if (allOk && depth == 0 && roots == 1) check(Loads(text, size));
    MemFreeF(text);
  }
}

const char* const kOps[] = {"SSNAVESSKE", "PPSEXTSE", "SVAAEN", "SSKSSE", "SnaavvEEpK", "PSNAVIPSKE"};
const char* const kDocs[] = {
    "<r><a/><b>x</b></r>",
    "<?xml version='1.0'?><!--c--><r><a><b/><c>t</c></a></r>",
    "<r id='1' k='&lt;v&gt;'>text &amp; more</r>",
    "<r><x:item xmlns:x='u' n='12'>t</x:item><?pi d?><![CDATA[c]]></r>",
    "<r><a></b></r>",
    "<!DOCTYPE r [<!ENTITY e 'ent'>]><r a='&e;'>&e;<s/>caf\xc3\xa9</r>"};
const char* const kWriterOps[] = {"sasvesavvee", "nmivesvee", "ssaavveeee", "SaSveef"};

std::vector<std::string> Seeds() {
  std::vector<std::string> seeds;
  for (char options : {'\0', '\1'}) {
    for (const char* ops : kOps)
      for (const char* doc : kDocs) seeds.push_back(std::string(1, options) + ops + "\n" + doc);
    for (const char* ops : kWriterOps)
      seeds.push_back(std::string(1, static_cast<char>(options | 2)) + ops + "\nname\x01<&>\xc3\xa9");
  }
  return seeds;
}

HRESULT CreateReaderInProc(REFIID iid, void** out, IMalloc*) {
  return TwCreateXmlReaderInProc(iid, out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  twfuzz::WriteSeedsIfAsked(Seeds());
  twxml::lite::SetFactoriesForTest(&CreateReaderInProc, &CreateXmlWriter,
                                   &CreateXmlWriterOutputWithEncodingName);
  check(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  twfuzz::PickLevel(options >> 3);
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string ops, rest;
  twfuzz::SplitOps(input, &ops, &rest);
  const bool dom = options & 1;
  if (options & 2) RunWriter(dom, (options & 4) != 0, ops, rest);
  else RunReader(dom, ops, rest);
  return 0;
}
