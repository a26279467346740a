// Drives random sequences of reader and writer handle calls. Input: a line of
// operation letters, a newline, then the document to read (or, for writers,
// the source of names, texts and the encoding). Checks that statuses stay in
// their documented sets, caller buffers are never overrun and always
// terminated, that every document the writer accepted reads back without
// a reader failure, and that a twin reader handle kept to the UTF-16 route
// answers every call as the UTF-8 route does. The input's length picks the
// vector level (../harness.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../harness.h"
#include "lite_internal.h"
#include "twxml/platform/xmllite_internal.h"
#include "twxml/twxml.h"

namespace {

using twfuzz::check;

bool In(int s, std::initializer_list<int> set) {
  for (int v : set)
    if (s == v) return true;
  return false;
}

using twfuzz::Guarded;

// Success writes a terminated text; so does a cut (30), except where 30 means
// an absent attribute and nothing is written at all. Failures write nothing.
void CheckText(const Guarded& g, int status, bool absentAllowed = false) {
  if (status == 30 && absentAllowed && g.Untouched()) return g.CheckBounds(false);
  g.CheckBounds(status == 0 || status == 30);
  if (status != 0 && status != 30) check(g.Untouched());
}

const char* const kAttrNames[] = {"id", "k", "a", "", "x:k", nullptr, "caf\xc3\xa9", "\xc3"};

void RunReader(const std::string& ops, const std::string& doc) {
  _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(doc.c_str());
  if (r == nullptr) return;
  _XmlLiteReaderS* twin = XmlLiteCreateMemReaderH(doc.c_str());
  check(twin != nullptr);
  twin->utf8Reader = nullptr;  // the UTF-16 route
  bool failed = false;
  size_t pick = 0;
  for (char op : ops) {
    int s = -1, ts = -1;
    unsigned int size = 1 + static_cast<unsigned char>(op) % 9;
    // A text call on both handles: the same status and the same bytes.
    const auto both = [&](unsigned int n, auto call, bool absentAllowed) {
      Guarded g(n), tg(n);
      s = call(r, g.data(), g.size);
      ts = call(twin, tg.data(), tg.size);
      check(In(s, {0, 30, 255}));
      CheckText(g, s, absentAllowed);
      check(g.Untouched() == tg.Untouched());
      if (!g.Untouched()) check(std::strcmp(g.data(), tg.data()) == 0);
    };
    switch (op) {
      case 'R': s = XmlLiteReadElemF(r), ts = XmlLiteReadElemF(twin); check(In(s, {0, 30, 76, 255})); break;
      case 'P': s = XmlLitePeekElemF(r), ts = XmlLitePeekElemF(twin); check(In(s, {0, 30, 76, 255})); break;
      case 'E': s = XmlLiteReadEndElemF(r), ts = XmlLiteReadEndElemF(twin); check(In(s, {0, 30, 76, 255})); break;
      case 'S': s = XmlLiteSkipLevelF(r), ts = XmlLiteSkipLevelF(twin); check(In(s, {0, 76, 255})); break;
      case 'N': case 'n':
        both(op == 'N' ? 256 : size, [](_XmlLiteReaderS* h, char* b, unsigned int n) {
          return XmlLiteGetElemNameToBufF(h, b, n);
        }, false);
        break;
      case 'A': case 'a': {
        const char* name = kAttrNames[pick++ % std::size(kAttrNames)];
        both(op == 'A' ? 256 : size, [name](_XmlLiteReaderS* h, char* b, unsigned int n) {
          return XmlLiteGetAttrValueToBufF(h, name, b, n);
        }, true);
        break;
      }
      case 'V': case 'v':
        both(op == 'V' ? 256 : size, [](_XmlLiteReaderS* h, char* b, unsigned int n) {
          return XmlLiteGetElemValueToBufF(h, b, n);
        }, false);
        break;
      default: break;
    }
    check(s == ts);
    // Once the reader failed it never reports a clean end of input.
    if (op == 'R' || op == 'P' || op == 'E' || op == 'S') {
      if (failed) check(s != 76);
      if (s == 255) failed = true;
    }
  }
  check(XmlLiteIsReaderHndValidB(r) == 1);
  check(XmlLiteCloseReaderF(r) == 0);
  check(XmlLiteCloseReaderF(twin) == 0);
}

// Reads everything back; false when the reader fails.
bool ReadsBack(const char* text) {
  _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(text);
  if (r == nullptr) return true;
  int s = 0;
  char buffer[64];
  for (int guard = 0; guard < 100000; ++guard) {
    s = XmlLiteReadElemF(r);
    if (s == 30) s = XmlLiteReadEndElemF(r);
    if (s == 30) s = XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer);
    if (s == 76 || s == 255) break;
  }
  XmlLiteCloseReaderF(r);
  return s != 255;
}

void RunWriter(const std::string& ops, const std::string& source) {
  // The source's first line may name an encoding.
  std::string encoding = source.substr(0, source.find('\n'));
  bool useEncoding = !ops.empty() && ops[0] == 'W';
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(ops.size() % 2,
                                               useEncoding ? encoding.c_str() : nullptr);
  if (w == nullptr) return;
  size_t cursor = 0;
  auto piece = [&](size_t maxLen) {
    if (source.empty()) return std::string("e");
    size_t len = 1 + (cursor * 7 + 3) % maxLen;
    std::string s;
    for (size_t i = 0; i < len; ++i) s.push_back(source[(cursor + i) % source.size()]);
    cursor += len;
    return std::string(s.c_str());  // up to an embedded zero
  };
  const char* const names[] = {"r", "item", "a1", "x", "caf\xc3\xa9"};
  // Roots are counted until the document is first ended; what the writer
  // does with writes after that is its own affair (they are never flushed).
  int depth = 0, roots = 0;
  bool ended = false;
  for (char op : ops) {
    int s = -1;
    switch (op) {
      case 's': s = XmlLiteWriteStartElemF(w, nullptr, names[cursor++ % 5], nullptr);
        if (s == 0 && depth++ == 0 && !ended) ++roots;
        break;
      case 'S': s = XmlLiteWriteStartElemF(w, nullptr, piece(8).c_str(), nullptr);
        if (s == 0 && depth++ == 0 && !ended) ++roots;
        break;
      case 'a': s = XmlLiteWriteAttrF(w, nullptr, names[cursor++ % 5], nullptr, piece(12).c_str()); break;
      case 't': s = XmlLiteWriteAttrF(w, "p", "k", "urn:p", piece(6).c_str()); break;
      case 'v': s = XmlLiteWriteValueF(w, piece(20).c_str()); break;
      case 'V': s = XmlLiteWriteValueF(w, nullptr); break;
      case 'e': s = XmlLiteWriteEndElemF(w); if (s == 0 && depth > 0) --depth; break;
      case 'g': {
        char* text = nullptr;
        unsigned int length = 0;
        s = XmlLiteGetMemF(w, &text, &length);
        check(s == 0 && text != nullptr && text[length] == '\0');
        if (!useEncoding && roots == 1 && !ended) check(ReadsBack(text));
        MemFreeF(text);
        depth = 0;  // the document is ended: everything is closed
        ended = true;
        break;
      }
      default: break;
    }
    check(s == -1 || In(s, {0, 255}));
    check(roots <= 1);  // a second root element must be refused
  }
  check(XmlLiteIsWriterHndValidB(w) == 1);
  check(XmlLiteCloseWriterF(w) == 0);
}

// Seeds: an op line, a newline, then the document (or writer source).
const char* const kOpLines[] = {"RRREEEVNRE", "PPRESRE", "RVAAEN", "RRSRRE", "RRRRRRRR",
                                "RnaavvEEpS", "PRNAVEPRSE"};
const char* const kDocuments[] = {
    "<r><a/><b>x</b></r>",
    "<?xml version='1.0'?><!--c--><r><a><b/><c>t</c></a></r>",
    "<r id='1' k='&lt;v&gt;'>text &amp; more</r>",
    "<r><x:item xmlns:x='u'>t</x:item><?pi d?><![CDATA[c]]></r>",
    "<r><a></b></r>",
    "<!DOCTYPE r [<!ENTITY e 'ent'>]><r a='&e;'>&e;<s/>caf\xc3\xa9</r>",
    "<r>\n  <a k='1'>\xe4\xb8\xad</a>\n  <b/>\n</r>"};
const char* const kWriterSeeds[] = {"wsatvewsavvegw\n", "WsatvesvEeeg\nUTF-16",
                                    "wssaavveeeegGc\nISO-8859-1", "wSaSvVeetg\nname\x01<&>",
                                    "Wsvesveg\nno-such-encoding"};

// The seed corpus: every operation line over every document, and the writers.
std::vector<std::string> Seeds() {
  std::vector<std::string> seeds;
  for (const char* ops : kOpLines)
    for (const char* doc : kDocuments) seeds.push_back(std::string(ops) + "\n" + doc);
  for (const char* w : kWriterSeeds) seeds.push_back(w);
  return seeds;
}

HRESULT CreateReaderInProc(REFIID iid, void** out, IMalloc*) {
  return TwCreateXmlReaderInProc(iid, out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  twfuzz::WriteSeedsIfAsked(Seeds());
#if TWXML_FUZZ_HAS_WRITER
  twxml::lite::SetFactoriesForTest(&CreateReaderInProc, &CreateXmlWriter,
                                   &CreateXmlWriterOutputWithEncodingName);
#else
  twxml::lite::SetFactoriesForTest(&CreateReaderInProc, nullptr, nullptr);
#endif
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  twfuzz::PickLevel(unsigned(size));
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string ops, rest;
  twfuzz::SplitOps(input, &ops, &rest);
  bool writer = !ops.empty() && (ops[0] == 'w' || ops[0] == 'W');
  if (writer)
    RunWriter(ops, rest);
  else
    RunReader(ops, rest);
  // Bad handles on the way: never anything but 44.
  check(XmlLiteReadElemF(nullptr) == 44);
  check(XmlLiteWriteEndElemF(nullptr) == 44);
  return 0;
}
