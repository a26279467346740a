#include "corpus.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>

#include "support/files.h"

namespace corpus {

namespace {

std::string Str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

bool Blank(const std::string& s) {
  return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

void Convert(xmlNodePtr e, Node* out) {
  out->local = Str(e->name);
  out->prefix = e->ns ? Str(e->ns->prefix) : "";
  out->ns = e->ns ? Str(e->ns->href) : "";
  for (xmlAttrPtr a = e->properties; a; a = a->next) {
    Attr attr;
    attr.local = Str(a->name);
    attr.prefix = a->ns ? Str(a->ns->prefix) : "";
    attr.ns = a->ns ? Str(a->ns->href) : "";
    xmlChar* v = xmlNodeListGetString(e->doc, a->children, 1);
    attr.value = Str(v);
    xmlFree(v);
    out->attrs.push_back(attr);
  }
  std::sort(out->attrs.begin(), out->attrs.end(), [](const Attr& x, const Attr& y) {
    return std::tie(x.ns, x.local) < std::tie(y.ns, y.local);
  });
  bool hasText = false;
  for (xmlNodePtr c = e->children; c; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) {
      out->children.emplace_back();
      Convert(c, &out->children.back());
    } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
      std::string t = Str(c->content);
      if (!Blank(t)) {
        out->text += t;
        hasText = true;
      }
    }
  }
  out->mixed = hasText && !out->children.empty();
}

const char* const kNames[] = {"item", "record", "name", "value", "title", "entry", "data",
                              "x", "café", "größe", "名前", "line-item", "a.b", "_n1"};
const char* const kTexts[] = {"plain", "Fish &amp; Chips", "a &lt; b &gt; c", "caf\xc3\xa9",
                              "&#x20AC;42", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "q &quot;x&quot; &apos;y&apos;",
                              "  padded  ", "line one\nline two", "\xf0\x9f\x98\x80 emoji", "12abc",
                              "tab\there", "&#65;&#x42;C"};
const char* const kAttrValues[] = {"1", "-42", "2147483647", "v", "a&amp;b", "&lt;tag&gt;",
                                   "say &quot;hi&quot;", "it&apos;s", "\xc3\xa9t\xc3\xa9",
                                   "&#x20AC;", "", "x y  z", "abc", "007", "2147483648", "-2147483648"};

template <typename T, size_t N>
const T& Pick(std::mt19937& rng, const T (&items)[N]) {
  return items[std::uniform_int_distribution<size_t>(0, N - 1)(rng)];
}

int Roll(std::mt19937& rng, int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

void GenerateElement(std::mt19937& rng, bool data, int depth, bool ns, std::string& out) {
  std::string name = Pick(rng, kNames);
  if (ns && Roll(rng, 3) == 0) name = "p:" + name;
  out += "<" + name;
  int attrs = Roll(rng, 4);
  std::vector<std::string> used;
  for (int i = 0; i < attrs; ++i) {
    std::string a = std::string("a") + char('a' + Roll(rng, 6));
    if (ns && Roll(rng, 4) == 0) a = "p:" + a;
    if (std::find(used.begin(), used.end(), a) != used.end()) continue;
    used.push_back(a);
    char quote = Roll(rng, 2) ? '"' : '\'';
    out += " " + a + "=" + quote + Pick(rng, kAttrValues) + quote;
  }
  int children = depth < 4 ? Roll(rng, 5) : 0;
  if (children == 0 && Roll(rng, 4) == 0) {
    out += "/>";
    return;
  }
  out += ">";
  bool pretty = Roll(rng, 2) == 0;
  if (children == 0) {
    if (Roll(rng, 5) != 0) out += Pick(rng, kTexts);
  } else {
    for (int i = 0; i < children; ++i) {
      if (pretty) out += "\n" + std::string(static_cast<size_t>(depth + 1) * 2, ' ');
      if (Roll(rng, 6) == 0) out += "<!-- note " + std::to_string(i) + " -->";
      if (!data && Roll(rng, 3) == 0) out += Pick(rng, kTexts);
      GenerateElement(rng, data, depth + 1, ns, out);
    }
    if (!data && Roll(rng, 3) == 0) out += Pick(rng, kTexts);
    if (pretty) out += "\n" + std::string(static_cast<size_t>(depth) * 2, ' ');
  }
  out += "</" + name + ">";
}

}  // namespace

std::string Dump(const Node& n, int depth) {
  std::string out(static_cast<size_t>(depth) * 2, ' ');
  out += "{" + n.ns + "}" + n.QName();
  for (const Attr& a : n.attrs) out += " {" + a.ns + "}" + a.QName() + "=\"" + a.value + "\"";
  if (!n.text.empty()) out += " text=\"" + n.text + "\"";
  out += "\n";
  for (const Node& c : n.children) out += Dump(c, depth + 1);
  return out;
}

bool Parse(const std::string& bytes, Node* root, std::string* error, std::string* encoding) {
  xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "doc.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) {
    const xmlError* e = xmlGetLastError();
    *error = e && e->message ? e->message : "libxml2 refused the document";
    return false;
  }
  *root = Node();
  Convert(xmlDocGetRootElement(doc), root);
  if (encoding) *encoding = Str(doc->encoding);
  xmlFreeDoc(doc);
  return true;
}

std::string Generate(std::mt19937& rng, bool data) {
  std::string out;
  if (Roll(rng, 2)) out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  if (Roll(rng, 3) == 0) out += "<!-- generated -->\n";
  bool ns = Roll(rng, 2) == 0;
  bool defaultNs = Roll(rng, 3) == 0;
  out += "<root";
  if (ns) out += " xmlns:p=\"urn:example:p\"";
  if (defaultNs) out += " xmlns=\"urn:example:default\"";
  out += " version=\"3\">";
  int children = 1 + Roll(rng, 4);
  for (int i = 0; i < children; ++i) GenerateElement(rng, data, 1, ns, out);
  out += "</root>\n";
  return out;
}

Node GenerateTree(std::mt19937& rng, bool mixed, bool asciiNames, int depth) {
  static const char* const kLocal[] = {"item", "record", "name", "café", "名前", "x", "line-item"};
  static const char* const kAsciiLocal[] = {"item", "record", "name", "x", "line-item", "a.b"};
  static const char* const kPlainTexts[] = {"plain", "Fish & Chips", "a < b > c", "caf\xc3\xa9",
                                            "\xe2\x82\xac\x34\x32", "\xe6\x97\xa5\xe6\x9c\xac",
                                            "q \"x\" 'y'", "  padded  ", "line one\nline two",
                                            "\xf0\x9f\x98\x80 emoji", "]]> end"};
  static const char* const kValues[] = {"1", "v", "a&b", "<tag>", "say \"hi\"", "it's",
                                        "\xc3\xa9t\xc3\xa9", "\xe2\x82\xac", "", "x y  z",
                                        "tab\there", "two\nlines"};
  Node n;
  n.local = asciiNames ? Pick(rng, kAsciiLocal) : Pick(rng, kLocal);
  if (depth > 0 && Roll(rng, 3) == 0) {
    n.prefix = "p";
    n.ns = "urn:example:p";
  }
  int attrs = Roll(rng, 4);
  for (int i = 0; i < attrs; ++i) {
    Attr a;
    a.local = std::string("a") + char('a' + i);
    if (!n.prefix.empty() && Roll(rng, 2) == 0) {
      a.prefix = n.prefix;
      a.ns = n.ns;
    }
    a.value = Pick(rng, kValues);
    n.attrs.push_back(a);
  }
  int children = depth < 4 ? Roll(rng, 4) : 0;
  if (children == 0) {
    if (Roll(rng, 4) != 0) n.text = Pick(rng, kPlainTexts);
  } else {
    for (int i = 0; i < children; ++i) n.children.push_back(GenerateTree(rng, mixed, asciiNames, depth + 1));
    if (mixed && Roll(rng, 2) == 0) {
      n.text = Pick(rng, kPlainTexts);
      n.mixed = true;
    }
  }
  return n;
}

Node Expected(Node n) {
  std::sort(n.attrs.begin(), n.attrs.end(), [](const Attr& x, const Attr& y) {
    return std::tie(x.ns, x.local) < std::tie(y.ns, y.local);
  });
  if (Blank(n.text)) n.text.clear();
  n.mixed = !n.text.empty() && !n.children.empty();
  for (Node& c : n.children) c = Expected(c);
  return n;
}

std::vector<Named> RealDocuments() {
  std::vector<Named> docs;
  docs.push_back({"catalogue", twtest::Slurp(TWXML_EXAMPLES_DIR "/catalogue.xml")});
  docs.push_back({"config", "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n"
                            "<config env=\"prod\" retries=\"3\">\r\n"
                            "  <server host=\"db.example\" port=\"5432\" timeout=\"30s\"/>\r\n"
                            "  <greeting lang=\"fr\">Caf\xe9 cr\xe8me</greeting>\r\n"
                            "  <limits max=\"-1\" ratio=\"0.75\"></limits>\r\n"
                            "</config>\r\n"});
  return docs;
}

}  // namespace corpus
