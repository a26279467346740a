// The platform DOM document through its COM interfaces: a load and a free.
#include <cstdio>

#include "engines.h"
#include "mem_istream.h"
#include "twxml/platform/msxml.h"

namespace twbench {
namespace {

// UTF-8 length of a node's value (text, CDATA, attribute).
uint64_t valueBytes(IXMLDOMNode* n) {
  VARIANT v;
  VariantInit(&v);
  n->get_nodeValue(&v);
  uint64_t len = v.vt == VT_BSTR && v.bstrVal ? utf8Length(v.bstrVal, SysStringLen(v.bstrVal)) : 0;
  VariantClear(&v);
  return len;
}

IXMLDOMDocument* newDocument(std::string* error) {
  IXMLDOMDocument* d = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IXMLDOMDocument, reinterpret_cast<void**>(&d));
  if (FAILED(hr)) *error = "DOM document class not registered";
  return d;
}

bool load(IXMLDOMDocument* d, const std::string& doc, std::string* error) {
  auto* stream = new twtest::MemReadStream(doc.data(), doc.size());
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_UNKNOWN;
  src.punkVal = stream;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = d->load(src, &ok);
  stream->Release();
  if (hr != S_OK || ok != VARIANT_TRUE) {
    *error = "load failed";
    IXMLDOMParseError* pe = nullptr;
    if (SUCCEEDED(d->get_parseError(&pe)) && pe) {
      LONG code = 0, line = 0, col = 0;
      BSTR reason = nullptr;
      pe->get_errorCode(&code);
      pe->get_line(&line);
      pe->get_linepos(&col);
      pe->get_reason(&reason);
      char buf[96];
      std::snprintf(buf, sizeof buf, " (0x%08X at %d:%d: ", static_cast<unsigned>(code),
                    static_cast<int>(line), static_cast<int>(col));
      *error += buf;
      for (UINT i = 0; reason && i < SysStringLen(reason) && i < 120; ++i)
        *error += reason[i] < 0x80 ? static_cast<char>(reason[i]) : '?';
      *error += ")";
      SysFreeString(reason);
      pe->Release();
    }
    return false;
  }
  return true;
}

// Counts one node the way the other DOMs count theirs: namespace
// declarations among the attributes, text and CDATA as character data.
void count(IXMLDOMNode* n, Work& w) {
  DOMNodeType type = NODE_INVALID;
  n->get_nodeType(&type);
  if (type == NODE_TEXT || type == NODE_CDATA_SECTION) w.textBytes += valueBytes(n);
  if (type != NODE_ELEMENT) return;
  ++w.elements;
  IXMLDOMNamedNodeMap* attrs = nullptr;
  if (n->get_attributes(&attrs) == S_OK && attrs) {
    LONG length = 0;
    attrs->get_length(&length);
    for (LONG i = 0; i < length; ++i) {
      IXMLDOMNode* a = nullptr;
      if (attrs->get_item(i, &a) != S_OK || !a) continue;
      ++w.attributes;
      w.attrBytes += valueBytes(a);
      a->Release();
    }
    attrs->Release();
  }
}

// Depth-first over every node, iterative; holds one reference per level.
void countTree(IXMLDOMDocument* d, Work& w) {
  IXMLDOMNode* n = nullptr;
  d->get_firstChild(&n);
  while (n) {
    count(n, w);
    IXMLDOMNode* next = nullptr;
    if (n->get_firstChild(&next) == S_OK && next) {
      n->Release();
      n = next;
      continue;
    }
    while (n) {
      if (n->get_nextSibling(&next) == S_OK && next) {
        n->Release();
        n = next;
        break;
      }
      IXMLDOMNode* parent = nullptr;
      n->get_parentNode(&parent);
      n->Release();
      n = nullptr;
      if (parent) {
        DOMNodeType pt = NODE_INVALID;
        parent->get_nodeType(&pt);
        if (pt == NODE_DOCUMENT) {
          parent->Release();
        } else {
          n = parent;
        }
      }
    }
  }
}

}  // namespace

Result twDomLoad(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    IXMLDOMDocument* d = newDocument(&r.error);
    if (!d) {
      r.unavailable = true;
      return;
    }
    if (load(d, in.doc, &r.error) && in.verify) countTree(d, r.work);
    d->Release();
  });
}

}  // namespace twbench
