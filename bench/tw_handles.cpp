// The handle interface (XmlLite* functions) read and written the way its
// callers use it: names, known attributes and texts copied to caller
// buffers; the records written element by element.
#include <cstring>

#include "engines.h"
#include "record_writer.h"
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
      ++r.work.elements;
      XmlLiteGetElemNameToBufF(h, name, sizeof name);
      r.touched += static_cast<unsigned char>(name[0]);
      for (const char* const* a = knownAttributes(name); *a; ++a) {
        if (XmlLiteGetAttrValueToBufF(h, *a, value, sizeof value) == TWXML_OK) {
          ++r.work.attributes;
          r.touched += static_cast<unsigned char>(value[0]);
          if (in.verify) r.work.attrBytes += std::strlen(value);
        }
      }
      XmlLiteGetElemValueToBufF(h, value, sizeof value);
      r.touched += static_cast<unsigned char>(value[0]);
      if (in.verify) r.work.textBytes += std::strlen(value);
      continue;
    }
    if (rc == TWXML_E_NOTFOUND) {
      // Something else is held: an end element, or text after a child.
      if (XmlLiteReadEndElemF(h) == TWXML_OK) continue;
      value[0] = 1;
      XmlLiteGetElemValueToBufF(h, value, sizeof value);
      if (in.verify) r.work.textBytes += std::strlen(value);
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

namespace {

struct HandleWriter {
  _XmlLiteWriterS* w;
  int rc = 0;
  void start(const char* prefix, const char* local, const char* ns) {
    rc |= XmlLiteWriteStartElemF(w, prefix, local, ns);
  }
  void declare(const char* prefix, const char* uri) {
    rc |= XmlLiteWriteAttrF(w, "xmlns", prefix, nullptr, uri);
  }
  void attribute(const char* prefix, const char* local, const char* ns, const char* value) {
    rc |= XmlLiteWriteAttrF(w, prefix, local, ns, value);
  }
  void text(const char* s) { rc |= XmlLiteWriteValueF(w, s); }
  void end() { rc |= XmlLiteWriteEndElemF(w); }
};

}  // namespace

Result twHandleWrite(const Input& in) {
  Result r;
  if (!XmlLiteIsDllFoundB()) {
    r.unavailable = true;
    r.error = "streaming module not found";
    return r;
  }
  Stopwatch sw;
  HandleWriter hw{XmlLiteCreateMemWriterH(0, nullptr)};
  if (!hw.w) {
    r.error = "XmlLiteCreateMemWriterH failed";
    return r;
  }
  writeRecords(hw, in.records);
  char* text = nullptr;
  unsigned int length = 0;
  hw.rc |= XmlLiteGetMemF(hw.w, &text, &length);
  r.bytes = length;
  r.touched = text && length ? static_cast<unsigned char>(text[length / 2]) : 0;
  if (in.verify && text) r.work = countDocument(text, length);
  MemFreeF(text);
  XmlLiteCloseWriterF(hw.w);
  sw.stop(r);
  if (hw.rc != 0) r.error = "a writer handle call failed";
  return r;
}

}  // namespace twbench
