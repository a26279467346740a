#include "tree_util.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>

namespace tree {

std::string Dump(const Element& e, int depth) {
  std::string pad(depth * 2, ' ');
  std::string out = pad + "<" + e.name;
  for (const auto& [k, v] : e.attrs) out += " " + k + "=[" + v + "]";
  out += ">";
  if (!e.text.empty()) out += " text=[" + e.text + "]";
  out += "\n";
  for (const Element& c : e.children) out += Dump(c, depth + 1);
  return out;
}

namespace {

const char* const kNames[] = {"a", "item", "Record", "x-y", "n.1", "_u",
                              "long_element_name_with_digits_0123", "caf\xc3\xa9",
                              "\xe4\xb8\xad\xe6\x96\x87"};
const char* const kPieces[] = {"plain", " ", "<", ">", "&", "\"", "'", "]]>", "\t", "\n",
                               "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "&amp;", "x",
                               "0123456789"};

std::string RandomText(std::mt19937& rng, bool allowEmpty) {
  std::uniform_int_distribution<int> count(allowEmpty ? 0 : 1, 6);
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::string out;
  int n = count(rng);
  for (int i = 0; i < n; ++i) out += kPieces[piece(rng)];
  // Only-blank text reads as ignorable white space: keep one visible char.
  if (!out.empty() && out.find_first_not_of(" \t\n") == std::string::npos) out += "v";
  return out;
}

}  // namespace

Element Random(std::mt19937& rng, bool asciiNames, int depth) {
  std::uniform_int_distribution<size_t> name(0, std::size(kNames) - (asciiNames ? 4 : 1));
  std::uniform_int_distribution<int> small(0, 3);
  Element e;
  e.name = kNames[name(rng)];
  int attrs = small(rng);
  for (int i = 0; i < attrs; ++i) {
    std::string key = std::string(kNames[name(rng)]) + std::to_string(i);
    e.attrs.emplace_back(key, RandomText(rng, true));
  }
  int children = depth < 4 ? small(rng) : 0;
  if (children == 0) {
    if (small(rng) != 0) e.text = RandomText(rng, false);
  } else {
    for (int i = 0; i < children; ++i) e.children.push_back(Random(rng, asciiNames, depth + 1));
  }
  return e;
}

int Write(_XmlLiteWriterS* w, const Element& e) {
  int status = XmlLiteWriteStartElemF(w, nullptr, e.name.c_str(), nullptr);
  for (const auto& [k, v] : e.attrs)
    if (status == 0) status = XmlLiteWriteAttrF(w, nullptr, k.c_str(), nullptr, v.c_str());
  if (status == 0 && !e.text.empty()) status = XmlLiteWriteValueF(w, e.text.c_str());
  for (const Element& c : e.children)
    if (status == 0) status = Write(w, c);
  if (status == 0) status = XmlLiteWriteEndElemF(w);
  return status;
}

bool Read(_XmlLiteReaderS* r, const Element& shape, Element* out, std::string* error) {
  static thread_local char buffer[1 << 16];
  int s = XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer);
  if (s != 0) return *error = "name " + std::to_string(s), false;
  out->name = buffer;
  for (const auto& attr : shape.attrs) {
    s = XmlLiteGetAttrValueToBufF(r, attr.first.c_str(), buffer, sizeof buffer);
    if (s != 0) return *error = "attr " + attr.first + " " + std::to_string(s), false;
    out->attrs.emplace_back(attr.first, buffer);
  }
  s = XmlLiteGetAttrValueToBufF(r, "absent-attribute", buffer, sizeof buffer);
  if (s != 30) return *error = "absent attr " + std::to_string(s), false;
  s = XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer);
  if (s != 0) return *error = "value " + std::to_string(s), false;
  out->text = buffer;
  for (size_t i = 0;; ++i) {
    s = XmlLiteReadElemF(r);
    if (s == 30) break;
    if (s != 0) return *error = "child " + std::to_string(s), false;
    if (i >= shape.children.size()) return *error = "extra child in " + out->name, false;
    out->children.emplace_back();
    if (!Read(r, shape.children[i], &out->children.back(), error)) return false;
  }
  s = XmlLiteReadEndElemF(r);
  if (s != 0) return *error = "end of " + out->name + " " + std::to_string(s), false;
  return true;
}

namespace {

std::string Str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

void Convert(xmlNode* node, Element* out) {
  out->name = Str(node->name);
  for (xmlAttr* a = node->properties; a; a = a->next) {
    xmlChar* v = xmlNodeListGetString(node->doc, a->children, 1);
    out->attrs.emplace_back(Str(a->name), Str(v));
    xmlFree(v);
  }
  for (xmlNode* c = node->children; c; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) {
      out->children.emplace_back();
      Convert(c, &out->children.back());
    } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
      out->text += Str(c->content);
    }
  }
  // Text around child elements is only layout (indentation) here.
  if (!out->children.empty()) out->text.clear();
  if (out->text.find_first_not_of(" \t\r\n") == std::string::npos) out->text.clear();
}

}  // namespace

bool ParseWithLibxml2(const std::string& bytes, Element* out, std::string* error,
                      std::string* encoding) {
  xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "mem.xml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) {
    const xmlError* e = xmlGetLastError();
    *error = e && e->message ? e->message : "libxml2 refused the document";
    return false;
  }
  if (encoding) *encoding = Str(doc->encoding);
  xmlNode* root = xmlDocGetRootElement(doc);
  if (root) Convert(root, out);
  xmlFreeDoc(doc);
  return root != nullptr;
}

}  // namespace tree
