// XmlInterface with each engine: the element-by-element read and write.
#include <cstring>

#include "engines.h"
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
      ++r.elements;
      x->GetElemNameToBufB(name, sizeof name);
      r.touched += static_cast<unsigned char>(name[0]);
      // The DOM engine names prefixed elements with their prefix; this
      // document has none, so the attribute table applies to both.
      for (const char* const* a = knownAttributes(name); *a; ++a)
        if (x->GetAttrValueToBufB(C(*a), value, sizeof value))
          r.touched += static_cast<unsigned char>(value[0]);
      value[0] = 0;
      x->GetElemValueToBufB(value, sizeof value);
      r.touched += static_cast<unsigned char>(value[0]);
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

Result twXmlIfWrite(const Input& in) {
  Result r;
  if (engineMissing(false, r)) return r;
  Stopwatch sw;
  XmlInterface* x = nullptr;
  if (XmlInterface::CreateWriterToMemF(&x, false, false, nullptr) != 0 || !x) {
    r.error = "CreateWriterToMemF failed";
    return r;
  }
  bool ok = x->WriteStartElemB(C("records"));
  ok &= x->WriteAttrNsB(C("xmlns"), C("meta"), nullptr, C(kMetaNs));
  ok &= x->WriteAttrB(C("generator"), C("twxml-bench"));
  ++r.elements;
  for (const Record& rec : in.records) {
    ok &= x->WriteStartElemB(C("record"));
    ok &= x->WriteAttrB(C("id"), C(rec.id.c_str()));
    ok &= x->WriteAttrB(C("kind"), C(rec.kind.c_str()));
    ok &= x->WriteAttrNsB(C("meta"), C("region"), C(kMetaNs), C(rec.region.c_str()));
    ok &= x->WriteAttrB(C("status"), C(rec.status.c_str()));
    ok &= x->WriteStartElemB(C("customer"));
    ok &= x->WriteValueB(C(rec.customer.c_str()));
    ok &= x->EndElemB();
    ok &= x->WriteStartElemB(C("amount"));
    ok &= x->WriteAttrB(C("currency"), C(rec.currency.c_str()));
    ok &= x->WriteValueB(C(rec.amount.c_str()));
    ok &= x->EndElemB();
    ok &= x->WriteStartElemB(C("note"));
    ok &= x->WriteValueB(C(rec.note.c_str()));
    ok &= x->EndElemB();
    r.elements += 4;
    if (rec.archived) {
      ok &= x->WriteStartElemB(C("archived"));
      ok &= x->EndElemB();
      ++r.elements;
    }
    if (!rec.tags.empty()) {
      ok &= x->WriteStartElemB(C("tags"));
      for (const std::string& t : rec.tags) {
        ok &= x->WriteStartElemB(C("tag"));
        ok &= x->WriteValueB(C(t.c_str()));
        ok &= x->EndElemB();
      }
      ok &= x->EndElemB();
      r.elements += 1 + rec.tags.size();
    }
    ok &= x->EndElemB();
  }
  ok &= x->EndElemB();
  unsigned int size = 0;
  char* text = x->AllocMemP(&size);
  if (!text) ok = false;
  r.bytes = size;
  r.touched = text && size ? static_cast<unsigned char>(text[size / 2]) : 0;
  MemFreeF(text);
  delete x;
  sw.stop(r);
  if (!ok) r.error = "an XmlInterface write failed";
  return r;
}

}  // namespace twbench
