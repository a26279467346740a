// Runs the W3C XML conformance suite (XML 1.0 fifth edition and Namespaces
// 1.0 cases) through the reader. The archive is unpacked into the build
// tree at test time; without it the test is skipped.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "reader_util.h"

namespace fs = std::filesystem;
using namespace twxml::test;

namespace {

// Cases this processor is right to answer differently from the catalogue.
const std::set<std::string> kSkip = {
};

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string attr(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
  if (!v) return {};
  std::string s(reinterpret_cast<char*>(v));
  xmlFree(v);
  return s;
}

struct Case {
  std::string id, type, file, entities;
};

void collect(xmlNode* n, const fs::path& dir, std::vector<Case>* out) {
  for (; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (xmlStrcmp(n->name, BAD_CAST "TEST") == 0) {
      std::string type = attr(n, "TYPE");
      std::string version = attr(n, "VERSION");
      std::string rec = attr(n, "RECOMMENDATION");
      std::string edition = attr(n, "EDITION");
      std::string ns = attr(n, "NAMESPACE");
      std::string ents = attr(n, "ENTITIES");
      if (type == "error") continue;
      if (version.find("1.1") != std::string::npos) continue;
      if (rec == "XML1.1" || rec == "NS1.1") continue;
      if (ns == "no") continue;
      if (!edition.empty() && edition.find('5') == std::string::npos) continue;
      if (type == "not-wf" && !ents.empty() && ents != "none") continue;
      out->push_back(Case{attr(n, "ID"), type, (dir / attr(n, "URI")).string(), ents});
    } else {
      collect(n->children, dir, out);
    }
  }
}

}  // namespace

TEST(W3CConformance, Xml10FifthEditionAndNamespaces10) {
  fs::path archive = fs::path(TWXML_SHARED_DIR) / "xmlts20130923.zip";
  if (!fs::exists(archive)) GTEST_SKIP() << "conformance archive not found: " << archive;
  fs::path work = fs::path(TWXML_TEST_WORK_DIR) / "xmlts";
  fs::path master = work / "xmlconf" / "xmlconf.xml";
  if (!fs::exists(master)) {
    fs::create_directories(work);
    std::string cmd = "unzip -q -o '" + archive.string() + "' -d '" + work.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  std::string text = slurp(master);
  std::regex ent(R"(<!ENTITY\s+\S+\s+SYSTEM\s+"([^"]+)\")");
  std::vector<Case> cases;
  for (std::sregex_iterator it(text.begin(), text.end(), ent), end; it != end; ++it) {
    fs::path cat = master.parent_path() / (*it)[1].str();
    // Catalogue files are fragments: several elements, maybe a declaration.
    std::string body = slurp(cat);
    if (body.compare(0, 5, "<?xml") == 0) body.erase(0, body.find("?>") + 2);
    body = "<catalogue>" + body + "</catalogue>";
    xmlDoc* doc = xmlReadMemory(body.data(), int(body.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
    ASSERT_NE(doc, nullptr) << cat;
    collect(xmlDocGetRootElement(doc), cat.parent_path(), &cases);
    xmlFreeDoc(doc);
  }
  ASSERT_GT(cases.size(), 1800u);
  size_t passed = 0, total = 0, skipped = 0;
  std::string failures;
  for (const Case& c : cases) {
    if (kSkip.count(c.id)) {
      ++skipped;
      continue;
    }
    ++total;
    std::string data = slurp(c.file);
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
}
