// The handle interface (XmlLite* functions) read and written the way its
// callers use it: names, known attributes and text copied to caller buffers.
#include <cstring>

#include "engines.h"
#include "twxml/handles.h"
#include "twxml/kernel.h"

namespace twbench {

Result twHandleRead(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  char name[256], value[4096];
  if (!XmlLiteIsDllFoundB()) {
    r.unavailable = true;
    r.error = "streaming module not found";
    return r;
  }
  Stopwatch sw;
  _XmlLiteReaderS* h = XmlLiteCreateMemReaderH(in.doc.c_str());
  if (!h) {
    r.error = "XmlLiteCreateMemReaderH failed";
    return r;
  }
  for (;;) {
    int rc = XmlLiteReadElemF(h);
    if (rc == TWXML_OK) {
      ++r.elements;
      XmlLiteGetElemNameToBufF(h, name, sizeof name);
      r.touched += static_cast<unsigned char>(name[0]);
      for (const char* const* a = knownAttributes(name); *a; ++a)
        if (XmlLiteGetAttrValueToBufF(h, *a, value, sizeof value) == TWXML_OK)
          r.touched += static_cast<unsigned char>(value[0]);
      XmlLiteGetElemValueToBufF(h, value, sizeof value);
      r.touched += static_cast<unsigned char>(value[0]);
      continue;
    }
    if (rc == TWXML_E_NOTFOUND) {
      // Something else is held: an end element, or text after a child.
      if (XmlLiteReadEndElemF(h) == TWXML_OK) continue;
      value[0] = 1;
      XmlLiteGetElemValueToBufF(h, value, sizeof value);
      if (value[0] != 0) continue;
      r.error = "handle walk stuck on a node it cannot take";
    } else if (rc != TWXML_E_EOF) {
      r.error = "XmlLiteReadElemF failed";
    }
    break;
  }
  XmlLiteCloseReaderF(h);
  sw.stop(r);
  return r;
}

Result twHandleWrite(const Input& in) {
  Result r;
  if (!XmlLiteIsDllFoundB()) {
    r.unavailable = true;
    r.error = "streaming module not found";
    return r;
  }
  Stopwatch sw;
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
  if (!w) {
    r.error = "XmlLiteCreateMemWriterH failed";
    return r;
  }
  int rc = XmlLiteWriteStartElemF(w, nullptr, "records", nullptr);
  rc |= XmlLiteWriteAttrF(w, "xmlns", "meta", nullptr, kMetaNs);
  rc |= XmlLiteWriteAttrF(w, nullptr, "generator", nullptr, "twxml-bench");
  ++r.elements;
  for (const Record& rec : in.records) {
    rc |= XmlLiteWriteStartElemF(w, nullptr, "record", nullptr);
    rc |= XmlLiteWriteAttrF(w, nullptr, "id", nullptr, rec.id.c_str());
    rc |= XmlLiteWriteAttrF(w, nullptr, "kind", nullptr, rec.kind.c_str());
    rc |= XmlLiteWriteAttrF(w, "meta", "region", kMetaNs, rec.region.c_str());
    rc |= XmlLiteWriteAttrF(w, nullptr, "status", nullptr, rec.status.c_str());
    rc |= XmlLiteWriteStartElemF(w, nullptr, "customer", nullptr);
    rc |= XmlLiteWriteValueF(w, rec.customer.c_str());
    rc |= XmlLiteWriteEndElemF(w);
    rc |= XmlLiteWriteStartElemF(w, nullptr, "amount", nullptr);
    rc |= XmlLiteWriteAttrF(w, nullptr, "currency", nullptr, rec.currency.c_str());
    rc |= XmlLiteWriteValueF(w, rec.amount.c_str());
    rc |= XmlLiteWriteEndElemF(w);
    rc |= XmlLiteWriteStartElemF(w, nullptr, "note", nullptr);
    rc |= XmlLiteWriteValueF(w, rec.note.c_str());
    rc |= XmlLiteWriteEndElemF(w);
    r.elements += 4;
    if (rec.archived) {
      rc |= XmlLiteWriteStartElemF(w, nullptr, "archived", nullptr);
      rc |= XmlLiteWriteEndElemF(w);
      ++r.elements;
    }
    if (!rec.tags.empty()) {
      rc |= XmlLiteWriteStartElemF(w, nullptr, "tags", nullptr);
      for (const std::string& t : rec.tags) {
        rc |= XmlLiteWriteStartElemF(w, nullptr, "tag", nullptr);
        rc |= XmlLiteWriteValueF(w, t.c_str());
        rc |= XmlLiteWriteEndElemF(w);
      }
      rc |= XmlLiteWriteEndElemF(w);
      r.elements += 1 + rec.tags.size();
    }
    rc |= XmlLiteWriteEndElemF(w);
  }
  rc |= XmlLiteWriteEndElemF(w);
  char* text = nullptr;
  unsigned int length = 0;
  rc |= XmlLiteGetMemF(w, &text, &length);
  r.bytes = length;
  r.touched = text && length ? static_cast<unsigned char>(text[length / 2]) : 0;
  MemFreeF(text);
  XmlLiteCloseWriterF(w);
  sw.stop(r);
  if (rc != 0) r.error = "a writer handle call failed";
  return r;
}

}  // namespace twbench
