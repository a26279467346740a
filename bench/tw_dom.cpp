// The DOM document class through its COM interfaces.
#include <cstdio>

#include "engines.h"
#include "mem_istream.h"
#include "twxml/platform/msxml.h"

namespace twbench {
namespace {

unsigned touchBstr(BSTR s) {
  unsigned t = s ? s[0] : 0;
  SysFreeString(s);
  return t;
}

unsigned touchValue(IXMLDOMNode* n) {
  VARIANT v;
  VariantInit(&v);
  n->get_nodeValue(&v);
  unsigned t = v.vt == VT_BSTR && v.bstrVal ? v.bstrVal[0] : 0;
  VariantClear(&v);
  return t;
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

void visit(IXMLDOMNode* n, Result& r) {
  DOMNodeType type = NODE_INVALID;
  n->get_nodeType(&type);
  BSTR s = nullptr;
  n->get_nodeName(&s);
  r.touched += touchBstr(s);
  if (type != NODE_ELEMENT) {
    r.touched += touchValue(n);
    return;
  }
  ++r.elements;
  n->get_namespaceURI(&s);
  r.touched += touchBstr(s);
  IXMLDOMNamedNodeMap* attrs = nullptr;
  if (n->get_attributes(&attrs) == S_OK && attrs) {
    LONG count = 0;
    attrs->get_length(&count);
    for (LONG i = 0; i < count; ++i) {
      IXMLDOMNode* a = nullptr;
      if (attrs->get_item(i, &a) != S_OK || !a) continue;
      a->get_nodeName(&s);
      r.touched += touchBstr(s);
      r.touched += touchValue(a);
      a->Release();
    }
    attrs->Release();
  }
}

// Depth-first over every node, iterative; holds one reference per level.
void walk(IXMLDOMDocument* d, Result& r) {
  IXMLDOMNode* n = nullptr;
  d->get_firstChild(&n);
  while (n) {
    visit(n, r);
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

Result twDomWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Stopwatch sw;
  IXMLDOMDocument* d = newDocument(&r.error);
  if (!d) {
    r.unavailable = true;
    return r;
  }
  if (load(d, in.doc, &r.error)) walk(d, r);
  d->Release();
  sw.stop(r);
  return r;
}

Result twDomSave(const Input& in) {
  Result r;
  IXMLDOMDocument* d = newDocument(&r.error);
  if (!d) {
    r.unavailable = true;
    return r;
  }
  if (!load(d, in.doc, &r.error)) {
    d->Release();
    return r;
  }
  auto* out = new twtest::MemWriteStream(in.doc.size() + in.doc.size() / 8);
  VARIANT dst;
  VariantInit(&dst);
  dst.vt = VT_UNKNOWN;
  dst.punkVal = out;
  Stopwatch sw;
  HRESULT hr = d->save(dst);
  sw.stop(r);
  if (FAILED(hr)) r.error = "save failed";
  r.bytes = out->text().size();
  r.touched = r.bytes ? static_cast<unsigned char>(out->text()[r.bytes / 2]) : 0;
  out->Release();
  d->Release();
  return r;
}

}  // namespace twbench
