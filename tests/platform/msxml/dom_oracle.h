// A canonical text form of a document tree, made once from libxml2's tree
// and once from the model through its node interfaces, compared line by line.
// White-space-only text is dropped the way the model drops it (unless
// xml:space="preserve" is in scope); namespace declarations are compared
// through the namespace of each name, not as attributes.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>

#include "dom_test_util.h"

namespace domtest {

struct Canon {
  bool preserveAll = false;  // the document keeps all white space: xml:space changes nothing
  std::string out;

  /* One line per item; adjacent CDATA sections read back as one. */
  void Line(char kind, const std::string& s) {
    std::string e;
    for (char c : s) e += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : std::string(1, c);
    size_t last = out.size() < 2 ? 0 : out.rfind('\n', out.size() - 2) + 1;
    if (kind == 'D' && out.compare(last, 2, "D ") == 0) {
      out.insert(out.size() - 1, e);
    } else {
      out += std::string(1, kind) + " " + e + "\n";
    }
  }

  static std::string S(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }
  static std::string Qn(xmlNsPtr ns, const xmlChar* local) {
    return "{" + (ns ? S(ns->href) : "") + "}" + (ns && ns->prefix ? S(ns->prefix) + ":" : "") + S(local);
  }

  void Lx(xmlNodePtr n, bool keep) {
    std::string text;
    auto flush = [&] {
      if (!text.empty() && (keep || text.find_first_not_of(" \t\r\n") != std::string::npos)) Line('T', text);
      text.clear();
    };
    for (; n; n = n->next) {
      auto t = n->type;
      if (t == XML_TEXT_NODE) {
        text += S(n->content);
        continue;
      }
      if (t != XML_ELEMENT_NODE && t != XML_CDATA_SECTION_NODE && t != XML_COMMENT_NODE && t != XML_PI_NODE) continue;
      flush();
      if (t == XML_CDATA_SECTION_NODE) Line('D', S(n->content));
      if (t == XML_COMMENT_NODE) Line('C', S(n->content));
      if (t == XML_PI_NODE) Line('P', S(n->name) + " " + S(n->content));
      if (t != XML_ELEMENT_NODE) continue;
      out += "E " + Qn(n->ns, n->name) + "\n";
      bool inner = keep;
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        xmlChar* v = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
        std::string name = Qn(a->ns, a->name), val = S(v);
        xmlFree(v);
        Line('A', name + "=" + val);
        if (name == "{http://www.w3.org/XML/1998/namespace}xml:space" && !preserveAll)
          inner = val == "preserve" ? true : val == "default" ? false : inner;
      }
      Lx(n->children, inner);
      out += "/E\n";
    }
    flush();
  }

  void Dom(IXMLDOMNode* first) {
    std::string text;
    auto flush = [&] {
      if (!text.empty()) Line('T', text);
      text.clear();
    };
    Node n(first);
    if (first) first->AddRef();
    for (Node next; n; n->get_nextSibling(next.out()), n = next) {
      DOMNodeType t;
      n->get_nodeType(&t);
      if (t == NODE_TEXT) {
        text += Text(n);
        continue;
      }
      flush();
      if (t == NODE_CDATA_SECTION) Line('D', Text(n));
      if (t == NODE_COMMENT) Line('C', Text(n));
      if (t == NODE_PROCESSING_INSTRUCTION && Name(n) != "xml") Line('P', Name(n) + " " + Text(n));
      if (t != NODE_ELEMENT) continue;
      out += "E {" + Str(n, &IXMLDOMNode::get_namespaceURI) + "}" + Name(n) + "\n";
      for (const Node& a : Attributes(n)) {
        std::string uri = Str(a, &IXMLDOMNode::get_namespaceURI);
        if (uri != "http://www.w3.org/2000/xmlns/") Line('A', "{" + uri + "}" + Name(a) + "=" + Text(a));
      }
      Node c;
      n->get_firstChild(c.out());
      Dom(c.get());
      out += "/E\n";
    }
    flush();
  }
};

/* libxml2's tree of the bytes (entities substituted, DTD defaults added, no
   network); empty when the bytes do not parse. */
inline std::string LibxmlCanonOf(const std::string& bytes, bool preserveAll = false) {
  xmlDocPtr doc = xmlReadMemory(bytes.data(), int(bytes.size()), "mem.xml", nullptr,
                                XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET | XML_PARSE_NOERROR |
                                    XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  if (!doc) return std::string();
  Canon c{preserveAll, {}};
  c.Lx(doc->children, preserveAll);
  xmlFreeDoc(doc);
  return c.out;
}

template <class T>
std::string DomCanonOf(const Ptr<T>& doc) {
  Canon c{false, {}};
  Node first;
  doc->get_firstChild(first.out());
  c.Dom(first.get());
  return c.out;
}

/* Reports the first differing line. */
inline ::testing::AssertionResult SameTree(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = std::mismatch(got.begin(), got.begin() + std::min(got.size(), want.size()), want.begin()).first -
             got.begin();
  size_t from = i ? got.rfind('\n', i - 1) + 1 : 0;
  return ::testing::AssertionFailure() << "trees differ (sizes " << got.size() << " vs " << want.size()
                                       << ")\n  got:  " << got.substr(from, 200) << "\n  want: " << want.substr(from, 200);
}

}  // namespace domtest
