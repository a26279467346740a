// Runs the W3C XML conformance suite (XML 1.0 fifth edition and Namespaces
// 1.0 cases) through the reader. The archive is unpacked into the build
// tree at test time; without it the test is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "../../support/w3c_suite.h"
#include "reader_util.h"

namespace fs = std::filesystem;
using namespace twxml::test;
using namespace w3csuite;

namespace {

// Cases this processor is right to answer differently from the catalogue.
const std::set<std::string> kSkip = {
};

// The suite's canonical form of a document: elements with sorted
// attributes, escaped character data, processing instructions; no
// comments, declarations or white space outside the document element.
std::string canonical(const std::string& doc, bool* ok) {
  ReaderPtr r;
  TestStream* s = new TestStream(doc);
  r->SetInput(s);
  s->Release();
  std::string out;
  XmlNodeType t;
  HRESULT hr;
  const WCHAR* p;
  UINT n;
  while ((hr = r->Read(&t)) == S_OK) {
    UINT depth = 0;
    r->GetDepth(&depth);
    switch (t) {
      case XmlNodeType_Element: {
        r->GetQualifiedName(&p, &n);
        std::string name = toUtf8(p, n);
        bool empty = r->IsEmptyElement();
        std::vector<std::pair<std::u16string, std::string>> attrs;
        for (HRESULT a = r->MoveToFirstAttribute(); a == S_OK; a = r->MoveToNextAttribute()) {
          r->GetQualifiedName(&p, &n);
          std::u16string an(p, n);
          r->GetValue(&p, &n);
          attrs.emplace_back(an, toUtf8(p, n));
        }
        std::sort(attrs.begin(), attrs.end());
        out += "<" + name;
        for (auto& a : attrs)
          out += " " + toUtf8(a.first.data(), UINT(a.first.size())) + "=\"" + Escape(a.second) + "\"";
        out += ">";
        if (empty) out += "</" + name + ">";
        break;
      }
      case XmlNodeType_EndElement:
        r->GetQualifiedName(&p, &n);
        out += "</" + toUtf8(p, n) + ">";
        break;
      case XmlNodeType_Text:
      case XmlNodeType_CDATA:
      case XmlNodeType_Whitespace:
        if (depth == 0) break;
        r->GetValue(&p, &n);
        out += Escape(toUtf8(p, n));
        break;
      case XmlNodeType_ProcessingInstruction: {
        r->GetLocalName(&p, &n);
        std::string target = toUtf8(p, n);
        r->GetValue(&p, &n);
        out += "<?" + target + " " + toUtf8(p, n) + "?>";
        break;
      }
      default:
        break;
    }
  }
  *ok = hr == S_FALSE;
  return out;
}

}  // namespace

TEST(W3CConformance, Xml10FifthEditionAndNamespaces10) {
  fs::path archive = fs::path(TWXML_SHARED_DIR) / "xmlts20130923.zip";
  if (!fs::exists(archive)) GTEST_SKIP() << "conformance archive not found: " << archive;
  fs::path work = fs::path(TWXML_TEST_WORK_DIR) / "xmlts";
  std::vector<Case> cases;
  ASSERT_NO_FATAL_FAILURE(LoadCases(archive, work, &cases));
  ASSERT_GT(cases.size(), 1800u);
  size_t passed = 0, total = 0, skipped = 0;
  std::string failures;
  for (const Case& c : cases) {
    if (kSkip.count(c.id)) {
      ++skipped;
      continue;
    }
    ++total;
    std::string data = Slurp(c.file);
    WalkResult w = walk(data, SIZE_MAX, true);
    bool accepted = w.hr == S_FALSE;
    bool want = c.type != "not-wf";
    if (accepted == want) {
      ++passed;
    } else {
      char hr[16];
      std::snprintf(hr, sizeof hr, "%08x", unsigned(w.hr));
      failures += "  " + c.id + " (" + c.type + ", " + c.file.substr(work.string().size()) +
                  ") hr=" + hr + " at " + std::to_string(w.errLine) + ":" +
                  std::to_string(w.errCol) + "\n";
    }
  }
  std::printf("passed %zu/%zu (skipped %zu)\n", passed, total, skipped);
  if (!failures.empty()) std::printf("failures:\n%s", failures.c_str());
  EXPECT_EQ(passed, total);

  // Documents that stand alone (no external entity to read) must also give
  // the suite's canonical output.
  size_t same = 0, compared = 0;
  std::string diffs;
  for (const Case& c : cases) {
    if (c.output.empty() || c.type == "not-wf" || kSkip.count(c.id)) continue;
    if (!c.entities.empty() && c.entities != "none") continue;
    std::string want = Slurp(c.output);
    // The second canonical form lists notations, which the reader does not
    // report.
    if (want.find("<!DOCTYPE") != std::string::npos) continue;
    ++compared;
    bool ok = false;
    std::string got = canonical(Slurp(c.file), &ok);
    if (ok && got == want) {
      ++same;
    } else {
      diffs += "  " + c.id + "\n    got:  " + got.substr(0, 200) + "\n    want: " + want.substr(0, 200) + "\n";
    }
  }
  std::printf("canonical output %zu/%zu\n", same, compared);
  if (!diffs.empty()) std::printf("differences:\n%s", diffs.c_str());
  EXPECT_EQ(same, compared);
}
