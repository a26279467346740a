// XmlInterface with each engine: the element job read through the
// streaming and the DOM engine, the records written through the DOM engine.
#include <cstring>

#include "engines.h"
#include "record_writer.h"
#include "twxml/handles.h"
#include "twxml/kernel.h"
#include "twxml/platform/msxml.h"
#include "twxml/xmlinterface.h"

namespace twbench {
namespace {

char* C(const char* s) { return const_cast<char*>(s); }

// The engine a factory would pick must be there, or the job is skipped.
bool engineMissing(bool dom, Result& r) {
  if (!dom) {
    if (XmlLiteIsDllFoundB()) return false;
    r.error = "streaming module not found";
  } else {
    IXMLDOMDocument* d = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IXMLDOMDocument, reinterpret_cast<void**>(&d)))) {
      d->Release();
      return false;
    }
    r.error = "DOM document class not registered";
  }
  r.unavailable = true;
  return true;
}

Result readWalk(const Input& in, bool forceDom) {
  Result r;
  r.bytes = in.doc.size();
  char name[256], value[4096];
  if (engineMissing(forceDom, r)) return r;
  Stopwatch sw;
  XmlInterface* x = nullptr;
  int rc = XmlInterface::CreateReaderFromMemF(C(in.doc.c_str()),
                                              static_cast<unsigned long>(in.doc.size()), &x,
                                              forceDom);
  if (rc != 0 || !x) {
    r.error = "CreateReaderFromMemF failed";
    return r;
  }
  unsigned depth = 0;
  for (;;) {
    if (x->SelectElemB()) {
      ++depth;
      ++r.work.elements;
      x->GetElemNameToBufB(name, sizeof name);
      r.touched += static_cast<unsigned char>(name[0]);
      // The DOM engine names prefixed elements with their prefix; this
      // document has none, so the attribute table applies to both.
      for (const char* const* a = knownAttributes(name); *a; ++a) {
        if (x->GetAttrValueToBufB(C(*a), value, sizeof value)) {
          ++r.work.attributes;
          r.touched += static_cast<unsigned char>(value[0]);
          if (in.verify) r.work.attrBytes += std::strlen(value);
        }
      }
      value[0] = 0;
      x->GetElemValueToBufB(value, sizeof value);
      r.touched += static_cast<unsigned char>(value[0]);
      if (in.verify) r.work.textBytes += std::strlen(value);
      continue;
    }
    if (depth == 0) break;
    if (!x->EndElemB()) {
      r.error = "EndElemB failed";
      break;
    }
    --depth;
  }
  delete x;
  sw.stop(r);
  return r;
}

}  // namespace

Result twXmlIfStreamRead(const Input& in) { return readWalk(in, false); }
Result twXmlIfDomRead(const Input& in) { return readWalk(in, true); }

namespace {

struct XmlIfWriter {
  XmlInterface* x;
  bool ok = true;
  void start(const char* prefix, const char* local, const char* ns) {
    ok &= prefix || ns ? x->WriteStartElemNsB(C(prefix), C(local), C(ns))
                       : x->WriteStartElemB(C(local));
  }
  void declare(const char* prefix, const char* uri) {
    ok &= x->WriteAttrNsB(C("xmlns"), C(prefix), nullptr, C(uri));
  }
  void attribute(const char* prefix, const char* local, const char* ns, const char* value) {
    ok &= prefix ? x->WriteAttrNsB(C(prefix), C(local), C(ns), C(value))
                 : x->WriteAttrB(C(local), C(value));
  }
  void text(const char* s) { ok &= x->WriteValueB(C(s)); }
  void end() { ok &= x->EndElemB(); }
};

}  // namespace

Result twXmlIfDomWrite(const Input& in) {
  Result r;
  if (engineMissing(true, r)) return r;
  Stopwatch sw;
  XmlIfWriter w{nullptr};
  if (XmlInterface::CreateWriterToMemF(&w.x, false, true, nullptr) != 0 || !w.x) {
    r.error = "CreateWriterToMemF failed";
    return r;
  }
  writeRecords(w, in.records);
  unsigned int size = 0;
  char* text = w.x->AllocMemP(&size);
  if (!text) w.ok = false;
  r.bytes = size;
  r.touched = text && size ? static_cast<unsigned char>(text[size / 2]) : 0;
  if (in.verify && text) r.work = countDocument(text, size);
  MemFreeF(text);
  delete w.x;
  sw.stop(r);
  if (!w.ok) r.error = "an XmlInterface write failed";
  return r;
}

}  // namespace twbench
