// The W3C XML conformance suite through the document model: the same case
// selection as the reader's conformance test (XML 1.0 fifth edition and
// Namespaces 1.0), each document loaded through IXMLDOMDocument::load. Well-
// formed documents must load, the others must fail with a parse error and
// leave the document empty; documents that stand alone must give the suite's
// canonical output when written out from the model's tree, also after a
// save and a second load. The archive is
// unpacked into the build tree at test time; without it the test is skipped.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "../../support/w3c_suite.h"
#include "dom_test_stream.h"
#include "dom_test_util.h"

namespace fs = std::filesystem;
using namespace domtest;
using namespace w3csuite;

namespace {

/* The suite's canonical form written from the model's tree: elements with
   attributes sorted by name, character data escaped, processing
   instructions; no comments and no declaration. */
void Canonical(IXMLDOMNode* first, std::string& out) {
  Ptr<IXMLDOMNode> n(first);
  if (first) first->AddRef();
  while (n) {
    DOMNodeType t;
    n->get_nodeType(&t);
    Bstr name, value;
    switch (t) {
      case NODE_ELEMENT: {
        n->get_nodeName(name.out());
        std::vector<std::pair<std::u16string, std::string>> attrs;
        Ptr<IXMLDOMNamedNodeMap> map;
        n->get_attributes(map.out());
        LONG len = 0;
        map->get_length(&len);
        for (LONG i = 0; i < len; ++i) {
          Ptr<IXMLDOMNode> a;
          map->get_item(i, a.out());
          Bstr an, av;
          a->get_nodeName(an.out());
          a->get_text(av.out());
          attrs.emplace_back(an.str(), U8(av.str()));
        }
        std::sort(attrs.begin(), attrs.end());
        out += "<" + U8(name.str());
        for (auto& a : attrs) out += " " + U8(a.first) + "=\"" + Escape(a.second) + "\"";
        out += ">";
        Ptr<IXMLDOMNode> c;
        n->get_firstChild(c.out());
        Canonical(c.get(), out);
        out += "</" + U8(name.str()) + ">";
        break;
      }
      case NODE_TEXT:
      case NODE_CDATA_SECTION:
        n->get_text(value.out());
        out += Escape(U8(value.str()));
        break;
      case NODE_PROCESSING_INSTRUCTION:
        n->get_nodeName(name.out());
        if (name.str() == u"xml") break;
        n->get_text(value.out());
        out += "<?" + U8(name.str()) + " " + U8(value.str()) + "?>";
        break;
      default:
        break;
    }
    Ptr<IXMLDOMNode> next;
    n->get_nextSibling(next.out());
    n = next;
  }
}

class DomW3C : public DomTest {};

TEST_F(DomW3C, Xml10FifthEditionAndNamespaces10) {
  const char* shared = std::getenv("TWXML_SHARED_DIR");
  fs::path archive = fs::path(shared ? shared : TWXML_SHARED_DIR) / "xmlts20130923.zip";
  if (!fs::exists(archive)) GTEST_SKIP() << "conformance archive not found: " << archive;
  fs::path work = fs::path(TWXML_TEST_WORK_DIR) / "xmlts";
  std::vector<Case> cases;
  ASSERT_NO_FATAL_FAILURE(LoadCases(archive, work, &cases));
  ASSERT_GT(cases.size(), 1800u);

  size_t passed = 0, same = 0, compared = 0;
  std::string failures, diffs;
  auto d = NewDoc();
  ASSERT_EQ(d->put_preserveWhiteSpace(VARIANT_TRUE), S_OK);
  for (const Case& c : cases) {
    TestStream s(Slurp(c.file));
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr = d->load(VUnk(&s), &ok);
    bool accepted = hr == S_OK && ok == VARIANT_TRUE;
    bool want = c.type != "not-wf";
    Ptr<IXMLDOMNode> first;
    d->get_firstChild(first.out());
    if (accepted == want && (accepted || !first)) {
      ++passed;
    } else {
      Ptr<IXMLDOMParseError> pe;
      d->get_parseError(pe.out());
      LONG code = 0, line = 0, col = 0;
      pe->get_errorCode(&code);
      pe->get_line(&line);
      pe->get_linepos(&col);
      char buf[64];
      std::snprintf(buf, sizeof buf, " code=%08x at %d:%d", unsigned(code), int(line), int(col));
      failures += "  " + c.id + " (" + c.type + ")" + buf + "\n";
    }
    if (!accepted || c.output.empty() || (!c.entities.empty() && c.entities != "none")) continue;
    std::string wantText = Slurp(c.output);
    if (wantText.find("<!DOCTYPE") != std::string::npos) continue;  // notations: not in the model
    ++compared;
    std::string got;
    Canonical(first.get(), got);
    // What the model writes loads back to the same tree.
    TestStream saved;
    std::string again;
    auto d2 = NewDoc();
    d2->put_preserveWhiteSpace(VARIANT_TRUE);
    if (d->save(VUnk(&saved)) == S_OK) {
      TestStream in(saved.data_);
      VARIANT_BOOL ok2 = VARIANT_FALSE;
      d2->load(VUnk(&in), &ok2);
      Ptr<IXMLDOMNode> first2;
      d2->get_firstChild(first2.out());
      Canonical(first2.get(), again);
    }
    if (got == wantText && again == wantText) {
      ++same;
    } else {
      diffs += "  " + c.id + "\n    got:  " + got.substr(0, 200) + "\n    saved and loaded: " + again.substr(0, 200) +
               "\n    want: " + wantText.substr(0, 200) + "\n";
    }
  }
  std::printf("loaded as expected %zu/%zu, canonical output %zu/%zu\n", passed, cases.size(), same, compared);
  if (!failures.empty()) std::printf("failures:\n%s", failures.c_str());
  if (!diffs.empty()) std::printf("differences:\n%s", diffs.c_str());
  EXPECT_EQ(passed, cases.size());
  EXPECT_EQ(same, compared);
}

}  // namespace
