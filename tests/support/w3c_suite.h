// The W3C XML conformance suite as the conformance tests use it: the archive
// unpacked into the build tree once, and the selection of cases this
// processor answers for (XML 1.0 fifth edition and Namespaces 1.0, no error
// cases, no not-wf cases that depend on external entities). libxml2 reads
// the catalogues.
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"

namespace w3csuite {

namespace fs = std::filesystem;

struct Case {
  std::string id, type, file, entities, output;
};

using twtest::Slurp;

// Escaping of the suite's canonical output form.
inline std::string Escape(const std::string& v) {
  std::string o;
  for (char c : v) {
    switch (c) {
      case '&': o += "&amp;"; break;
      case '<': o += "&lt;"; break;
      case '>': o += "&gt;"; break;
      case '"': o += "&quot;"; break;
      case '\t': o += "&#9;"; break;
      case '\n': o += "&#10;"; break;
      case '\r': o += "&#13;"; break;
      default: o += c;
    }
  }
  return o;
}

inline std::string Attr(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
  if (!v) return {};
  std::string s(reinterpret_cast<char*>(v));
  xmlFree(v);
  return s;
}

inline void Collect(xmlNode* n, const fs::path& dir, std::vector<Case>* out) {
  for (; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (xmlStrcmp(n->name, BAD_CAST "TEST") == 0) {
      std::string type = Attr(n, "TYPE");
      std::string version = Attr(n, "VERSION");
      std::string rec = Attr(n, "RECOMMENDATION");
      std::string edition = Attr(n, "EDITION");
      std::string ns = Attr(n, "NAMESPACE");
      std::string ents = Attr(n, "ENTITIES");
      if (type == "error") continue;
      if (version.find("1.1") != std::string::npos) continue;
      if (rec == "XML1.1" || rec == "NS1.1") continue;
      if (ns == "no") continue;
      if (!edition.empty() && edition.find('5') == std::string::npos) continue;
      if (type == "not-wf" && !ents.empty() && ents != "none") continue;
      std::string output = Attr(n, "OUTPUT");
      out->push_back(Case{Attr(n, "ID"), type, (dir / Attr(n, "URI")).string(), ents,
                          output.empty() ? std::string() : (dir / output).string()});
    } else {
      Collect(n->children, dir, out);
    }
  }
}

// Unpacks archive below work (once) and appends the selected cases. Call it
// through ASSERT_NO_FATAL_FAILURE: a failed unzip or an unreadable catalogue
// is a fatal test failure.
inline void LoadCases(const fs::path& archive, const fs::path& work, std::vector<Case>* cases) {
  fs::path master = work / "xmlconf" / "xmlconf.xml";
  if (!fs::exists(master)) {
    fs::create_directories(work);
    std::string cmd = "unzip -q -o '" + archive.string() + "' -d '" + work.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  std::string text = Slurp(master);
  std::regex ent(R"(<!ENTITY\s+\S+\s+SYSTEM\s+"([^"]+)\")");
  for (std::sregex_iterator it(text.begin(), text.end(), ent), end; it != end; ++it) {
    fs::path cat = master.parent_path() / (*it)[1].str();
    // Catalogue files are fragments: several elements, maybe a declaration.
    std::string body = Slurp(cat);
    if (body.compare(0, 5, "<?xml") == 0) body.erase(0, body.find("?>") + 2);
    body = "<catalogue>" + body + "</catalogue>";
    xmlDoc* doc = xmlReadMemory(body.data(), int(body.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
    ASSERT_NE(doc, nullptr) << cat;
    Collect(xmlDocGetRootElement(doc), cat.parent_path(), cases);
    xmlFreeDoc(doc);
  }
}

}  // namespace w3csuite
