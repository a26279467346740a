// A canonical text form of a document tree, made once from libxml2's tree
// and once from the model through its node interfaces, so the two can be
// compared line by line. White-space-only text is dropped the way the model
// drops it (unless xml:space="preserve" is in scope); namespace declarations
// are compared through the namespace of each name, not as attributes.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>

#include "dom_test_util.h"

namespace domtest {

inline bool AllSpace(const std::string& s) {
  for (char c : s) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

inline std::string Escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '\n') {
      o += "\\n";
    } else if (c == '\r') {
      o += "\\r";
    } else if (c == '\\') {
      o += "\\\\";
    } else {
      o += c;
    }
  }
  return o;
}

/* Set where the output encoding splits CDATA sections around character
   references: CDATA then counts as text. */
inline bool& CDataAsText() {
  static bool on = false;
  return on;
}

/* Adjacent CDATA sections read back as one (libxml2 joins them). */
inline void AddCData(std::string& out, const std::string& data) {
  size_t lineStart = out.size() >= 2 ? out.rfind('\n', out.size() - 2) : std::string::npos;
  lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
  if (out.size() > lineStart && out.compare(lineStart, 2, "D ") == 0) {
    out.pop_back();  // the newline
    out += Escape(data) + "\n";
    return;
  }
  out += "D " + Escape(data) + "\n";
}

/* Compares two canonical forms and reports the first differing line. */
inline ::testing::AssertionResult SameTree(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t line = 1, i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) {
    if (got[i] == '\n') ++line;
    ++i;
  }
  size_t from = got.rfind('\n', i ? i - 1 : 0);
  from = from == std::string::npos ? 0 : from + 1;
  return ::testing::AssertionFailure() << "trees differ at line " << line << " (sizes " << got.size() << " vs "
                                       << want.size() << ")\n  got:  " << got.substr(from, 200)
                                       << "\n  want: " << want.substr(from, 200);
}

/* Set while canonicalising for a document that keeps all white space:
   xml:space then changes nothing. */
inline bool& CanonPreserveAll() {
  static bool on = false;
  return on;
}

/* ---- libxml2 side ------------------------------------------------------- */

inline std::string LxName(const xmlChar* prefix, const xmlChar* local) {
  std::string n;
  if (prefix) n = std::string(reinterpret_cast<const char*>(prefix)) + ":";
  return n + reinterpret_cast<const char*>(local);
}

inline void LxCanon(xmlNodePtr n, bool preserve, std::string& out, std::string& pending) {
  auto flush = [&] {
    if (!pending.empty() && (preserve || !AllSpace(pending))) out += "T " + Escape(pending) + "\n";
    pending.clear();
  };
  for (; n; n = n->next) {
    switch (n->type) {
      case XML_TEXT_NODE:
        pending += reinterpret_cast<const char*>(n->content);
        continue;
      case XML_ELEMENT_NODE: {
        flush();
        std::string uri = n->ns && n->ns->href ? reinterpret_cast<const char*>(n->ns->href) : "";
        out += "E {" + uri + "}" + LxName(n->ns ? n->ns->prefix : nullptr, n->name) + "\n";
        bool keep = preserve;
        for (xmlAttrPtr a = n->properties; a; a = a->next) {
          xmlChar* v = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
          std::string val = v ? reinterpret_cast<const char*>(v) : "";
          xmlFree(v);
          std::string auri = a->ns && a->ns->href ? reinterpret_cast<const char*>(a->ns->href) : "";
          std::string an = LxName(a->ns ? a->ns->prefix : nullptr, a->name);
          out += "A {" + auri + "}" + an + "=" + Escape(val) + "\n";
          if (an == "xml:space" && !CanonPreserveAll()) {
            keep = val == "preserve" ? true : val == "default" ? false : keep;
          }
        }
        std::string inner;
        LxCanon(n->children, keep, out, inner);
        out += "/E\n";
        continue;
      }
      case XML_CDATA_SECTION_NODE:
        if (CDataAsText()) {
          pending += reinterpret_cast<const char*>(n->content);
          continue;
        }
        flush();
        AddCData(out, reinterpret_cast<const char*>(n->content));
        continue;
      case XML_COMMENT_NODE:
        flush();
        out += "C " + Escape(reinterpret_cast<const char*>(n->content)) + "\n";
        continue;
      case XML_PI_NODE:
        flush();
        out += "P " + std::string(reinterpret_cast<const char*>(n->name)) + " " +
               Escape(n->content ? reinterpret_cast<const char*>(n->content) : "") + "\n";
        continue;
      default:
        continue;  // document type, entity declarations
    }
  }
  flush();
}

inline std::string LibxmlCanon(xmlDocPtr doc, bool preserveAll = false) {
  std::string out, pending;
  CanonPreserveAll() = preserveAll;
  LxCanon(doc->children, preserveAll, out, pending);
  CanonPreserveAll() = false;
  return out;
}

/* Parses bytes with libxml2 (entities substituted, DTD defaults added, no
   network); empty string when the bytes do not parse. */
inline std::string LibxmlCanonOf(const std::string& bytes, bool preserveAll = false) {
  xmlDocPtr doc = xmlReadMemory(bytes.data(), int(bytes.size()), "mem.xml", nullptr,
                                XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET | XML_PARSE_NOERROR |
                                    XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  if (!doc) return std::string();
  std::string c = LibxmlCanon(doc, preserveAll);
  xmlFreeDoc(doc);
  return c;
}

/* ---- model side --------------------------------------------------------- */

inline std::string DomStr(BSTR b) { return U8(std::u16string(b ? b : u"", b ? SysStringLen(b) : 0)); }

inline void DomCanon(IXMLDOMNode* first, std::string& out) {
  std::string pending;
  auto flush = [&] {
    if (!pending.empty()) out += "T " + Escape(pending) + "\n";
    pending.clear();
  };
  Ptr<IXMLDOMNode> n(first);
  if (first) first->AddRef();
  while (n) {
    DOMNodeType t;
    n->get_nodeType(&t);
    Bstr name, value, uri;
    n->get_nodeName(name.out());
    switch (t) {
      case NODE_TEXT: {
        n->get_text(value.out());
        pending += DomStr(value);
        break;
      }
      case NODE_ELEMENT: {
        flush();
        n->get_namespaceURI(uri.out());
        out += "E {" + DomStr(uri) + "}" + DomStr(name) + "\n";
        Ptr<IXMLDOMNamedNodeMap> attrs;
        n->get_attributes(attrs.out());
        LONG len = 0;
        attrs->get_length(&len);
        for (LONG i = 0; i < len; ++i) {
          Ptr<IXMLDOMNode> a;
          attrs->get_item(i, a.out());
          Bstr an, av, au;
          a->get_nodeName(an.out());
          a->get_text(av.out());
          a->get_namespaceURI(au.out());
          if (DomStr(au) == "http://www.w3.org/2000/xmlns/") continue;
          out += "A {" + DomStr(au) + "}" + DomStr(an) + "=" + Escape(DomStr(av)) + "\n";
        }
        Ptr<IXMLDOMNode> c;
        n->get_firstChild(c.out());
        DomCanon(c.get(), out);
        out += "/E\n";
        break;
      }
      case NODE_CDATA_SECTION:
        n->get_text(value.out());
        if (CDataAsText()) {
          pending += DomStr(value);
          break;
        }
        flush();
        AddCData(out, DomStr(value));
        break;
      case NODE_COMMENT:
        flush();
        n->get_text(value.out());
        out += "C " + Escape(DomStr(value)) + "\n";
        break;
      case NODE_PROCESSING_INSTRUCTION:
        flush();
        if (DomStr(name) == "xml") break;  // the declaration is not a node there
        n->get_text(value.out());
        out += "P " + DomStr(name) + " " + Escape(DomStr(value)) + "\n";
        break;
      default:
        break;
    }
    Ptr<IXMLDOMNode> next;
    n->get_nextSibling(next.out());
    n = next;
  }
  flush();
}

template <class T>
std::string DomCanonOf(const Ptr<T>& doc) {
  std::string out;
  Ptr<IXMLDOMNode> c;
  doc->get_firstChild(c.out());
  DomCanon(c.get(), out);
  return out;
}

}  // namespace domtest
