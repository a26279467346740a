#include "xmlgen.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "../../../support/iconv_text.h"

namespace twgen {
namespace {

struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {
    if (!s) s = 1;
  }
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
  }
  size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }
  bool chance(unsigned percent) { return below(100) < percent; }
  template <class T>
  const T& pick(const std::vector<T>& v) { return v[below(v.size())]; }
};

const std::vector<std::string> kAsciiNames = {"item", "entry", "a", "b-c", "d.e", "_f", "g1",
                                              "list", "value", "x"};
const std::vector<std::string> kLatin1Names = {"donn\xC3\xA9" "es", "\xC3\xBC" "ber", "na\xC3\xAFve",
                                               "\xC3\x86on"};
const std::vector<std::string> kWideNames = {"\xE5\x90\x8D\xE5\x89\x8D", "\xCE\xA9mega",
                                             "x\xC2\xB7y", "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5"};
const std::vector<std::string> kPrefixes = {"p", "q", "ns1", "n.s"};
const std::vector<std::string> kUris = {"urn:a", "urn:b", "http://example.org/ns",
                                        "urn:x-with%20escape", "urn:%C3%BC"};
const std::vector<std::string> kAttrNames = {"id", "name", "k", "v-1", "t.x", "def", "tok", "lang2"};
const std::vector<std::string> kAsciiWords = {"hello", "world", "a > b", "1 < 2", "x & y",
                                              "\"quoted\"", "it's", "[x] ", "tab\there", "  ",
                                              "line\nbreak", "crlf\r\nend", "cr\rend"};
const std::vector<std::string> kLatin1Words = {"caf\xC3\xA9", "\xC2\xA9 2024", "gro\xC3\x9F",
                                               "\xC3\xA0 la"};
const std::vector<std::string> kWideWords = {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                             "\xCE\xB1\xCE\xB2\xCE\xB3", "\xF0\x9F\x98\x80",
                                             "\xE2\x82\xAC"};
const std::vector<std::string> kRefs = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#233;",
                                        "&#x1F600;", "&#x3C;", "&#38;", "&#x20AC;", "&#10;",
                                        "&#9;", "&#32;"};
const std::vector<std::string> kPiTargets = {"pi", "app-data", "tgt.x", "php"};

struct Gen {
  Rng rng;
  Options o;
  std::string out;
  std::vector<std::map<std::string, std::string>> scopes;  // prefix -> uri ("" = default)
  std::vector<std::string> textEntities;    // usable anywhere
  std::vector<std::string> markupEntities;  // content only

  Gen(uint64_t seed, const Options& opt) : rng(seed), o(opt) {}

  std::string name() {
    if (o.nonAscii && !o.latin1Only && rng.chance(10)) return rng.pick(kWideNames);
    if (o.nonAscii && rng.chance(10)) return rng.pick(kLatin1Names);
    return rng.pick(kAsciiNames);
  }

  std::string word() {
    if (o.nonAscii && !o.latin1Only && rng.chance(15)) return rng.pick(kWideWords);
    if (o.nonAscii && rng.chance(15)) return rng.pick(kLatin1Words);
    return rng.pick(kAsciiWords);
  }

  // Text as it stands in content: markup characters escaped, references mixed in.
  std::string text(bool attribute, char quote) {
    std::string t;
    size_t n = 1 + rng.below(5);
    for (size_t i = 0; i < n; ++i) {
      if (rng.chance(25)) {
        std::string r = rng.pick(kRefs);
        if (o.latin1Only && (r == "&#x1F600;" || r == "&#x20AC;")) r = "&#233;";
        t += r;
        continue;
      }
      if (!textEntities.empty() && rng.chance(12)) {
        t += "&" + rng.pick(textEntities) + ";";
        continue;
      }
      for (char c : word()) {
        if (c == '&') t += "&amp;";
        else if (c == '<') t += "&lt;";
        else if (attribute && c == quote) t += quote == '"' ? "&quot;" : "&apos;";
        else t += c;
      }
      if (rng.chance(50)) t += ' ';
    }
    return t;
  }

  std::string lookup(const std::string& prefix) const {
    for (auto it = scopes.rbegin(); it != scopes.rend(); ++it) {
      auto f = it->find(prefix);
      if (f != it->end()) return f->second;
    }
    return prefix == "xml" ? "http://www.w3.org/XML/1998/namespace" : std::string();
  }

  std::vector<std::string> boundPrefixes() const {
    std::set<std::string> s;
    for (auto& sc : scopes)
      for (auto& [p, u] : sc)
        if (!p.empty() && !u.empty()) s.insert(p);
    return {s.begin(), s.end()};
  }

  void misc() {
    size_t k = rng.below(4);
    if (k == 0) comment();
    else if (k == 1) pi();
    else out += rng.chance(50) ? "\n" : "\n  ";
  }

  // One random draw per statement throughout: operand order is unspecified,
  // and a seed must give the same document with every compiler.
  void comment() {
    std::string c;
    if (!rng.chance(20)) {
      c = word();
      c += " - ";
      c += word();
    }
    for (size_t i = 1; i < c.size(); ++i)
      if (c[i] == '-' && c[i - 1] == '-') c[i] = '_';
    out += "<!--" + c + (!c.empty() && c.back() == '-' ? ".-->" : "-->");
  }

  void pi() {
    out += "<?" + rng.pick(kPiTargets);
    if (rng.chance(80)) {
      out += " " + word();
      if (rng.chance(30)) out += " ?x> y";
    }
    out += "?>";
  }

  void cdata() {
    out += "<![CDATA[";
    if (rng.chance(50)) {
      out += "a < b && c ]] d";
    } else {
      out += word();
      out += "<tag>&amp;";
      out += word();
    }
    out += "]]>";
  }

  void doctype(const std::string& rootName) {
    out += "<!DOCTYPE " + rootName;
    if (rng.chance(20)) {
      out += ">";
      return;
    }
    out += " [\n  <!ENTITY e1 \"simple &#233; text\">\n  <!ENTITY e2 'AT&#38;#38;T \"q\"'>\n"
           "  <!ENTITY e4 \"\">\n";
    textEntities = {"e1", "e2", "e4"};
    if (rng.chance(70)) {
      out += "  <!ENTITY e3 \"<em>marked &e1; up</em> tail\">\n";
      markupEntities.push_back("e3");
    }
    if (rng.chance(50)) {
      out += "  <!ENTITY % pe \"<!ENTITY e5 'from a parameter entity'>\">\n  %pe;\n";
      textEntities.push_back("e5");
    }
    out += "  <!ELEMENT item ANY>\n"
           "  <!ATTLIST item def CDATA \"dflt &#169; value\" tok NMTOKENS #IMPLIED>\n"
           "  <!ATTLIST entry kind (a|b|c) \"b\" fixed CDATA #FIXED 'f'>\n"
           "  <!-- comment in the subset -->\n  <?pi-in-dtd data?>\n]>";
  }

  // The root takes the name the DOCTYPE gives it.
  void element(int depth, const std::string& rootName = "") {
    std::map<std::string, std::string> decls;
    std::string attrs;
    // Namespace declarations first, so prefixes below may use them.
    if (o.namespaces) {
      if (rng.chance(20)) {
        bool haveDefault = !lookup("").empty();
        std::string uri = haveDefault && rng.chance(30) ? "" : rng.pick(kUris);
        decls[""] = uri;
        attrs += " xmlns=\"" + uri + "\"";
      }
      if (rng.chance(25)) {
        std::string p = rng.pick(kPrefixes);
        if (o.nonAscii && !o.latin1Only && rng.chance(15)) p = "\xC3\xA9";
        std::string uri = rng.pick(kUris);
        decls[p] = uri;
        attrs += " xmlns:" + p + "='" + uri + "'";
      }
    }
    scopes.push_back(decls);
    std::string qname = depth ? name() : rootName;
    auto prefixes = boundPrefixes();
    if (depth && !prefixes.empty() && rng.chance(30)) qname = rng.pick(prefixes) + ":" + qname;
    std::set<std::pair<std::string, std::string>> seen;  // (uri, local)
    for (size_t i = rng.below(5); i > 0; --i) {
      std::string local = rng.chance(10) && o.nonAscii ? name() : rng.pick(kAttrNames);
      std::string prefix;
      if (!prefixes.empty() && rng.chance(25)) prefix = rng.pick(prefixes);
      if (rng.chance(5)) {
        prefix = "xml";
        local = rng.chance(50) ? "lang" : "space";
      }
      std::string uri = prefix.empty() ? "" : lookup(prefix);
      if (!seen.insert({uri, local}).second) continue;
      std::string value = local == "space" && prefix == "xml"
                              ? (rng.chance(50) ? "preserve" : "default")
                              : text(true, '"');
      if (local == "tok") value = "  a  b\t c ";
      attrs += " " + (prefix.empty() ? local : prefix + ":" + local) + "=\"" + value + "\"";
    }
    out += "<" + qname + attrs;
    size_t children = depth >= o.maxDepth ? 0 : rng.below(static_cast<size_t>(o.maxChildren) + 1);
    if (children == 0 && rng.chance(50)) {
      out += rng.chance(50) ? "/>" : " />";
    } else {
      out += ">";
      for (size_t i = 0; i < children; ++i) {
        size_t k = rng.below(12);
        if (k < 4) element(depth + 1);
        else if (k < 6) out += text(false, 0);
        else if (k == 6) cdata();
        else if (k == 7) comment();
        else if (k == 8) pi();
        // Elements in an entity take the default namespace in scope at the
        // reference; libxml2 gives them none, so the generator only
        // references markup entities where no default namespace is set.
        else if (k == 9 && !markupEntities.empty() && lookup("").empty())
          out += "&" + rng.pick(markupEntities) + ";";
        else if (k > 9) out += rng.chance(50) ? "\n    " : "\t";
      }
      out += "</" + qname + (rng.chance(10) ? " >" : ">");
    }
    scopes.pop_back();
  }

  std::string document() {
    if (rng.chance(60))
      out += rng.chance(30) ? "<?xml version='1.0' standalone='yes'?>" : "<?xml version=\"1.0\"?>";
    if (rng.chance(50)) misc();
    std::string rootName = name();
    if (o.doctype && rng.chance(50)) {
      doctype(rootName);
      if (rng.chance(50)) misc();
    }
    element(0, rootName);
    if (rng.chance(50)) misc();
    if (rng.chance(30)) out += "\n";
    return out;
  }
};

}  // namespace

std::string randomDocument(uint64_t seed, const Options& options) {
  Gen g(seed, options);
  return g.document();
}

bool encodeDocument(const std::string& utf8, const std::string& encoding, bool bom,
                    std::string* out) {
  std::string body = utf8;
  bool standalone = false;
  if (body.rfind("<?xml", 0) == 0) {
    size_t end = body.find("?>") + 2;
    standalone = body.substr(0, end).find("standalone") != std::string::npos;
    body.erase(0, end);
  }
  body = "<?xml version=\"1.0\" encoding=\"" + encoding + "\"" +
         (standalone ? " standalone=\"yes\"" : "") + "?>" + body;
  // iconv's plain UTF-16/32 write a BOM of their own; pick the byte order here.
  std::string target = encoding == "UTF-16" ? "UTF-16LE" : encoding == "UTF-32" ? "UTF-32LE" : encoding;
  if (!twtest::convert(body, "UTF-8", target.c_str(), out)) return false;
  const std::pair<const char*, std::string> boms[] = {
      {"UTF-8", "\xEF\xBB\xBF"}, {"UTF-16LE", std::string("\xFF\xFE", 2)},
      {"UTF-16BE", std::string("\xFE\xFF", 2)}, {"UTF-32LE", std::string("\xFF\xFE\0\0", 4)},
      {"UTF-32BE", std::string("\0\0\xFE\xFF", 4)}};
  for (const auto& [name, mark] : boms)
    if (bom && target == name) out->insert(0, mark);
  return true;
}

std::vector<std::string> constructSamples() {
  return {
      "<r/>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<r></r>",
      "<r a=\"1\" b='2' c=\"&lt;&amp;&gt;&quot;&apos;&#65;&#x42;\"/>",
      "<r>text &amp; more &#233;&#x1F600; end</r>",
      "<r><![CDATA[ <not> &markup; ]] ]]></r>",
      "<!-- c1 --><?pi data?><r><!-- c2 --><?target?></r><!-- c3 -->",
      "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\"><p:a p:x=\"1\" y=\"2\"><b xmlns=\"\"/></p:a></r>",
      "<r xml:lang=\"en\" xml:space=\"preserve\">  </r>",
      "<!DOCTYPE r [<!ENTITY e \"v&#233;\"><!ENTITY m \"<b>&e;</b>\">"
      "<!ATTLIST r d CDATA \"def\" t NMTOKENS #IMPLIED>]><r t=\"  a   b \">&e;&m;</r>",
      "<!DOCTYPE r [<!ENTITY % p \"<!ENTITY q 'Q'>\"> %p;]><r>&q;</r>",
      "<!DOCTYPE r SYSTEM \"r.dtd\"><r/>",
      "<r>a\r\nb\rc\n</r>",
      "<r a=\"x\ty\nz\r\nw\"/>",
      "<donn\xC3\xA9" "es \xC3\xA9t\xC3\xA9=\"\xE6\x97\xA5\"/>",
      "<r><a><b><c><d/></c></b></a>mixed<e>t</e>tail</r>",
      "\xEF\xBB\xBF<r/>",
      std::string("\xFF\xFE<\0r\0/\0>\0", 10),
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xE9t\xE9</r>",
      "<r>\n  <a/>\n  <b/>\n</r>\n",
      // A processing instruction whose target begins with xml is no declaration.
      "<?xml-stylesheet href=\"s.xsl\" encoding=\"ISO-8859-1\"?><r>\xC3\xA9</r>",
  };
}

const char* mutationName(Mutation m) {
  static const char* const names[] = {"truncate",     "insert byte",  "delete byte",
                                      "replace byte", "mismatch tag", "duplicate attribute"};
  return names[static_cast<int>(m)];
}

std::string mutate(const std::string& doc, uint64_t seed, Mutation* kind) {
  Rng rng(seed);
  std::string d = doc;
  static const char kStray[] = {'<', '&', '>', '"', '\'', ']', '\0', '\x01', '\x80', '\xFF',
                                '\xC3', '=', '/', '!', '?', ' ', ';', '#', ':', '-'};
  auto all = [&d](const char* s) {
    std::vector<size_t> at;
    for (size_t p = d.find(s); p != std::string::npos; p = d.find(s, p + 2)) at.push_back(p);
    return at;
  };
  const std::vector<size_t> ends = all("</"), eqs = all("=\"");
  Mutation m = static_cast<Mutation>(rng.below(6));
  if (d.empty()) m = Mutation::InsertByte;
  if (m == Mutation::MismatchTag && ends.empty()) m = Mutation::Truncate;
  if (m == Mutation::DuplicateAttr && eqs.empty()) m = Mutation::DeleteByte;
  switch (m) {
    case Mutation::Truncate: d.resize(rng.below(d.size())); break;
    case Mutation::InsertByte: {
      size_t at = rng.below(d.size() + 1);
      d.insert(at, 1, kStray[rng.below(sizeof kStray)]);
      break;
    }
    case Mutation::DeleteByte: d.erase(rng.below(d.size()), 1); break;
    case Mutation::ReplaceByte: {
      size_t at = rng.below(d.size());
      d[at] = static_cast<char>(rng.next() & 0xFF);
      break;
    }
    case Mutation::MismatchTag: {
      size_t p = ends[rng.below(ends.size())] + 2;
      d[p] = d[p] == 'Z' ? 'Y' : 'Z';
      break;
    }
    case Mutation::DuplicateAttr: {
      size_t eq = eqs[rng.below(eqs.size())];
      size_t start = d.find_last_of(" \t\n", eq), close = d.find('"', eq + 2);
      if (start == std::string::npos || close == std::string::npos) {
        d.resize(eq);
        m = Mutation::Truncate;
      } else {
        d.insert(close + 1, d.substr(start, close + 1 - start));
      }
      break;
    }
  }
  *kind = m;
  return d;
}

}  // namespace twgen
