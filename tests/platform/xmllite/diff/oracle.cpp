#include "oracle.h"

#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mem_istream.h"
#include "twxml/platform/xmllite.h"

namespace twdiff {
namespace {

std::string utf8(const WCHAR* s, UINT n) {
  std::string out;
  if (!s) return out;
  for (UINT i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

using Getter = HRESULT (IXmlReader::*)(LPCWSTR*, UINT*);
std::string get(IXmlReader* r, Getter g) {
  LPCWSTR s = nullptr;
  UINT n = 0;
  if ((r->*g)(&s, &n) != S_OK) return "<getter failed>";
  return utf8(s, n);
}

std::string str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

struct Libxml2Errors {
  int count = 0;
  std::string first;
};

void onLibxml2Error(void* ud, xmlErrorPtr e) {
  auto* errs = static_cast<Libxml2Errors*>(ud);
  // Failing to fetch an external subset is not a well-formedness matter:
  // neither reader fetches anything.
  if (!e || e->level < XML_ERR_ERROR || e->domain == XML_FROM_IO) return;
  // libxml2 refuses namespace names that do not parse as URIs; the
  // Namespaces recommendation makes that no well-formedness error, and our
  // reader takes them as they are.
  if (e->domain == XML_FROM_NAMESPACE && e->message &&
      std::strstr(e->message, "is not a valid URI"))
    return;
  if (errs->count++ == 0 && e->message) {
    errs->first = e->message;
    while (!errs->first.empty() && errs->first.back() == '\n') errs->first.pop_back();
  }
}

void silence(void*, const char*, ...) {}

// Neither reader may fetch anything: external entities and subsets stay
// unread for libxml2 too (a file next to a test document would otherwise be
// read).
xmlParserInputPtr refuseExternal(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

}  // namespace

Walk readOurs(const std::string& bytes) {
  Walk w;
  IXmlReader* r = nullptr;
  if (FAILED(TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&r)))) {
    w.error = "reader not created";
    return w;
  }
  auto* stream = new twtest::MemReadStream(bytes.data(), bytes.size());
  r->SetInput(stream);
  stream->Release();
  XmlNodeType t;
  HRESULT hr;
  while ((hr = r->Read(&t)) == S_OK) {
    Node n;
    n.type = t;
    UINT depth = 0;
    r->GetDepth(&depth);
    n.depth = static_cast<int>(depth);
    if (t == XmlNodeType_Element || t == XmlNodeType_EndElement) {
      n.prefix = get(r, &IXmlReader::GetPrefix);
      n.local = get(r, &IXmlReader::GetLocalName);
      n.ns = get(r, &IXmlReader::GetNamespaceUri);
    } else if (t == XmlNodeType_ProcessingInstruction || t == XmlNodeType_DocumentType) {
      n.local = get(r, &IXmlReader::GetLocalName);
    }
    if (t != XmlNodeType_Element && t != XmlNodeType_EndElement && t != XmlNodeType_DocumentType)
      n.value = get(r, &IXmlReader::GetValue);
    if (t == XmlNodeType_Element) {
      n.empty = r->IsEmptyElement() != 0;
      for (HRESULT a = r->MoveToFirstAttribute(); a == S_OK; a = r->MoveToNextAttribute()) {
        Attr at;
        at.prefix = get(r, &IXmlReader::GetPrefix);
        at.local = get(r, &IXmlReader::GetLocalName);
        at.ns = get(r, &IXmlReader::GetNamespaceUri);
        at.value = get(r, &IXmlReader::GetValue);
        at.isDefault = r->IsDefault() != 0;
        n.attrs.push_back(at);
      }
      r->MoveToElement();
    }
    w.nodes.push_back(std::move(n));
  }
  w.accepted = hr == S_FALSE;
  if (!w.accepted) {
    char buf[64];
    UINT line = 0, col = 0;
    r->GetLineNumber(&line);
    r->GetLinePosition(&col);
    std::snprintf(buf, sizeof buf, "HRESULT 0x%08X at %u:%u", static_cast<unsigned>(hr), line, col);
    w.error = buf;
  }
  r->Release();
  return w;
}

Walk readLibxml2(const std::string& bytes) {
  static const bool quiet = [] {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, silence);
    xmlSetExternalEntityLoader(refuseExternal);
    return true;
  }();
  (void)quiet;
  Walk w;
  // NUL bytes at the very end count as the end of input for our reader;
  // libxml2 calls them content, so they are cut off for it (in 8-bit and
  // UTF-8 documents; in UTF-16/32 a zero byte is half a character).
  std::string in = bytes;
  bool wide = in.size() >= 2 && (in[0] == '\0' || in[1] == '\0' ||
                                 (in[0] == '\xFF' && in[1] == '\xFE') ||
                                 (in[0] == '\xFE' && in[1] == '\xFF'));
  while (!wide && !in.empty() && in.back() == '\0') in.pop_back();
  xmlTextReaderPtr r = xmlReaderForMemory(in.data(), static_cast<int>(in.size()), "doc.xml",
                                          nullptr,
                                          XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET);
  if (!r) {
    w.error = "libxml2 reader not created";
    return w;
  }
  Libxml2Errors errs;
  xmlTextReaderSetStructuredErrorHandler(r, onLibxml2Error, &errs);
  int ret;
  while ((ret = xmlTextReaderRead(r)) == 1) {
    Node n;
    n.type = xmlTextReaderNodeType(r);
    n.depth = xmlTextReaderDepth(r);
    if (n.type == XML_READER_TYPE_ELEMENT || n.type == XML_READER_TYPE_END_ELEMENT) {
      n.prefix = str(xmlTextReaderConstPrefix(r));
      n.local = str(xmlTextReaderConstLocalName(r));
      n.ns = str(xmlTextReaderConstNamespaceUri(r));
    } else if (n.type == XML_READER_TYPE_PROCESSING_INSTRUCTION ||
               n.type == XML_READER_TYPE_DOCUMENT_TYPE) {
      n.local = str(xmlTextReaderConstLocalName(r));
    }
    if (n.type != XML_READER_TYPE_ELEMENT && n.type != XML_READER_TYPE_END_ELEMENT &&
        n.type != XML_READER_TYPE_DOCUMENT_TYPE)
      n.value = str(xmlTextReaderConstValue(r));
    if (n.type == XML_READER_TYPE_ELEMENT) {
      n.empty = xmlTextReaderIsEmptyElement(r) == 1;
      while (xmlTextReaderMoveToNextAttribute(r) == 1) {
        Attr at;
        at.prefix = str(xmlTextReaderConstPrefix(r));
        at.local = str(xmlTextReaderConstLocalName(r));
        at.ns = str(xmlTextReaderConstNamespaceUri(r));
        at.value = str(xmlTextReaderConstValue(r));
        at.isDefault = xmlTextReaderIsDefault(r) == 1;
        n.attrs.push_back(at);
      }
      xmlTextReaderMoveToElement(r);
    }
    w.nodes.push_back(std::move(n));
  }
  w.accepted = ret == 0 && errs.count == 0;
  if (!w.accepted) w.error = errs.first.empty() ? "xmlTextReaderRead failed" : errs.first;
  xmlFreeTextReader(r);
  return w;
}

void collapseEmptyPairs(Walk& w) {
  std::vector<Node> out;
  for (Node& n : w.nodes) {
    if (n.type == 15 && !out.empty() && out.back().type == 1 && !out.back().empty &&
        out.back().depth == n.depth) {
      out.back().empty = true;
      continue;
    }
    out.push_back(std::move(n));
  }
  w.nodes = std::move(out);
}

void normalise(Walk& w) {
  std::vector<Node> out;
  for (Node& n : w.nodes) {
    // libxml2's reader says no attribute is a default (xmlTextReaderIsDefault
    // answers 0 even for attributes it added from the DTD), so the flag is
    // left out here; the values of defaulted attributes are still compared,
    // and our flag is checked on its own (OwnAnswersWhereLibxml2Differs).
    for (Attr& a : n.attrs) a.isDefault = false;
    // libxml2 keeps CR and CR LF inside CDATA sections in some inputs where
    // the end-of-line rule turns them into LF; and it merges adjacent CDATA
    // sections into one node.
    if (n.type == 4) {
      std::string v;
      for (size_t i = 0; i < n.value.size(); ++i) {
        if (n.value[i] == '\r') {
          v += '\n';
          if (i + 1 < n.value.size() && n.value[i + 1] == '\n') ++i;
        } else {
          v += n.value[i];
        }
      }
      n.value = v;
      if (!out.empty() && out.back().type == 4) {
        out.back().value += n.value;
        continue;
      }
    }
    // The XML declaration is a node for our reader only.
    if (n.type == XmlNodeType_XmlDeclaration) continue;
    // Text, white space (13) and libxml2's significant white space (14) are
    // one kind here: which of them a run of blanks is reported as differs
    // between the readers (libxml2 looks at xml:space and the content
    // model), the characters must not.
    bool text = n.type == 3 || n.type == 13 || n.type == 14;
    // libxml2 does not report white space outside the document element.
    if (text && n.depth == 0) continue;
    if (text) {
      n.type = 3;
      // Adjacent text runs (split by the reader at entity boundaries or
      // buffer ends) are merged before comparing.
      if (!out.empty() && out.back().type == 3) {
        out.back().value += n.value;
        continue;
      }
    }
    std::sort(n.attrs.begin(), n.attrs.end());
    out.push_back(std::move(n));
  }
  w.nodes = std::move(out);
}

std::string printable(const std::string& bytes, size_t limit) {
  std::string out;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else out += static_cast<char>(c);
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

std::string describe(const Node& n) {
  std::string s = "type " + std::to_string(n.type) + " depth " + std::to_string(n.depth);
  if (!n.prefix.empty() || !n.local.empty()) s += " name {" + n.ns + "}" + n.prefix + ":" + n.local;
  if (!n.value.empty() || n.type == 3) s += " value \"" + printable(n.value, 120) + "\"";
  if (n.empty) s += " empty";
  for (const Attr& a : n.attrs)
    s += " @{" + a.ns + "}" + a.prefix + ":" + a.local + "=\"" + printable(a.value, 80) + "\"" +
         (a.isDefault ? "(default)" : "");
  return s;
}

}  // namespace twdiff
