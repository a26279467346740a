// The W3C XML conformance suite (XML 1.0 fifth edition and Namespaces 1.0
// cases) through the reader and through the document model: well-formed
// documents read to their end and load, the others fail and leave the
// document empty; documents that stand alone give the suite's canonical
// output from the reader's nodes and from the model's tree, also after a
// save and a second load. Skipped without the archive.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "../xmllite/reader_util.h"
#include "dom_test_util.h"
#include "support/w3c_suite.h"

namespace fs = std::filesystem;
using namespace domtest;
using namespace w3csuite;
using twxml::test::ReaderPtr;
using twxml::test::toUtf8;
using twxml::test::walk;
using twxml::test::WalkResult;

namespace {

// The suite's canonical form from the reader's nodes: elements with
// sorted attributes, escaped character data, processing instructions; no
// comments, declarations or white space outside the document element.
std::string ReaderCanonical(const std::string& doc, bool* ok) {
  ReaderPtr r;
  r.input(doc);
  std::string out;
  XmlNodeType t;
  HRESULT hr;
  const WCHAR* p;
  UINT n, depth;
  auto get = [&](HRESULT (IXmlReader::*f)(const WCHAR**, UINT*)) {
    (r.r->*f)(&p, &n);
    return toUtf8(p, n);
  };
  while ((hr = r->Read(&t)) == S_OK) {
    r->GetDepth(&depth);
    if (t == XmlNodeType_Element) {
      std::string name = get(&IXmlReader::GetQualifiedName);
      bool empty = r->IsEmptyElement();
      std::vector<std::pair<std::u16string, std::string>> attrs;  // UTF-16 order
      for (HRESULT a = r->MoveToFirstAttribute(); a == S_OK; a = r->MoveToNextAttribute()) {
        r->GetQualifiedName(&p, &n);
        std::u16string an(p, n);
        attrs.emplace_back(an, get(&IXmlReader::GetValue));
      }
      std::sort(attrs.begin(), attrs.end());
      out += "<" + name;
      for (auto& a : attrs) out += " " + toUtf8(a.first.data(), UINT(a.first.size())) + "=\"" + Escape(a.second) + "\"";
      out += empty ? "></" + name + ">" : ">";
    } else if (t == XmlNodeType_EndElement) {
      out += "</" + get(&IXmlReader::GetQualifiedName) + ">";
    } else if ((t == XmlNodeType_Text || t == XmlNodeType_CDATA || t == XmlNodeType_Whitespace) && depth) {
      out += Escape(get(&IXmlReader::GetValue));
    } else if (t == XmlNodeType_ProcessingInstruction) {
      out += "<?" + get(&IXmlReader::GetLocalName) + " " + get(&IXmlReader::GetValue) + "?>";
    }
  }
  *ok = hr == S_FALSE;
  return out;
}

/* The suite's canonical form from the model's tree: attributes sorted by
   name, character data escaped, processing instructions; no comments. */
void Canonical(IXMLDOMNode* first, std::string& out) {
  Node n(first);
  if (first) first->AddRef();
  for (Node next; n; n->get_nextSibling(next.out()), n = next) {
    DOMNodeType t;
    n->get_nodeType(&t);
    if (t == NODE_TEXT || t == NODE_CDATA_SECTION) out += Escape(Text(n));
    if (t == NODE_PROCESSING_INSTRUCTION && Name(n) != "xml") out += "<?" + Name(n) + " " + Text(n) + "?>";
    if (t != NODE_ELEMENT) continue;
    std::vector<std::pair<std::u16string, std::string>> attrs;  // sorted by code unit
    for (const Node& a : Attributes(n)) attrs.emplace_back(U16(Name(a)), Text(a));
    std::sort(attrs.begin(), attrs.end());
    out += "<" + Name(n);
    for (auto& a : attrs) out += " " + U8(a.first) + "=\"" + Escape(a.second) + "\"";
    out += ">";
    Node c;
    n->get_firstChild(c.out());
    Canonical(c.get(), out);
    out += "</" + Name(n) + ">";
  }
}

/* Loads bytes with white space kept; the canonical form when they load. */
bool LoadCanonical(const Ptr<IXMLDOMDocument>& d, const std::string& bytes, std::string* canon) {
  TestStream s(bytes);
  VARIANT_BOOL ok = VARIANT_FALSE;
  bool loaded = d->put_preserveWhiteSpace(VARIANT_TRUE) == S_OK && d->load(VUnk(&s), &ok) == S_OK && ok == VARIANT_TRUE;
  Node first;
  if (d->get_firstChild(first.out()) == S_OK && !loaded) *canon = "(content after a failed load)";
  if (loaded) Canonical(first.get(), *canon);
  return loaded;
}

class W3C : public DomTest {};

TEST_F(W3C, ReaderAndDocumentModel) {
  const char* shared = std::getenv("TWXML_SHARED_DIR");
  fs::path archive = fs::path(shared ? shared : TWXML_SHARED_DIR) / "xmlts20130923.zip";
  if (!fs::exists(archive)) GTEST_SKIP() << "conformance archive not found: " << archive;
  std::vector<Case> cases;
  ASSERT_NO_FATAL_FAILURE(LoadCases(archive, fs::path(TWXML_TEST_WORK_DIR) / "xmlts", &cases));
  ASSERT_GT(cases.size(), 1800u);
  size_t passed = 0, same = 0, compared = 0;
  std::string failures;
  auto d = NewDoc();
  for (const Case& c : cases) {
    const std::string data = Slurp(c.file);
    WalkResult w = walk(data);
    if ((w.hr == S_FALSE) != (c.type != "not-wf")) {
      failures += "  reader: " + c.id + " (" + c.type + ") at " + std::to_string(w.errLine) + ":" +
                  std::to_string(w.errCol) + "\n";
    }
    std::string got;
    bool accepted = LoadCanonical(d, data, &got);
    if (accepted == (c.type != "not-wf") && (accepted || got.empty())) {
      ++passed;
    } else {
      Ptr<IXMLDOMParseError> pe;
      d->get_parseError(pe.out());
      LONG code = 0;
      pe->get_errorCode(&code);
      failures += "  " + c.id + " (" + c.type + ") code " + std::to_string(code) + " " + got.substr(0, 40) + "\n";
    }
    if (!accepted || c.output.empty() || (!c.entities.empty() && c.entities != "none")) continue;
    std::string want = Slurp(c.output);
    if (want.find("<!DOCTYPE") != std::string::npos) continue;  // notations: not in the model
    ++compared;
    TestStream saved;  // what the model writes loads back to the same tree
    std::string again;
    if (d->save(VUnk(&saved)) == S_OK) LoadCanonical(NewDoc(), saved.data_, &again);
    bool read = false;
    const std::string fromReader = ReaderCanonical(data, &read);
    if (!read || fromReader != want) failures += "  reader: " + c.id + "\n    got:  " + fromReader.substr(0, 200) + "\n";
    if (got == want && again == want) {
      ++same;
    } else {
      failures += "  " + c.id + "\n    got:  " + got.substr(0, 200) + "\n    saved and loaded: " +
                  again.substr(0, 200) + "\n    want: " + want.substr(0, 200) + "\n";
    }
  }
  std::printf("loaded as expected %zu/%zu, canonical output %zu/%zu\n", passed, cases.size(), same, compared);
  EXPECT_EQ(failures, "");
}

}  // namespace
