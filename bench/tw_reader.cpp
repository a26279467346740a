// The platform's streaming reader through IXmlReader, linked in-process.
#include "engines.h"
#include "mem_istream.h"
#include "repeat_source.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

namespace twbench {
namespace {

// Every node: names, prefixes and namespace URIs of elements and attributes,
// attribute values, texts, comments.
void walk(IStream* stream, const Input& in, Result& r) {
  IXmlReader* rd = nullptr;
  if (FAILED(TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&rd)))) {
    r.error = "TwCreateXmlReaderInProc failed";
    return;
  }
  rd->SetInput(stream);
  XmlNodeType type;
  HRESULT hr;
  LPCWSTR s;
  UINT n;
  // Only a verifying run tracks depth: the reader reports white space
  // outside the root element, which the other readers leave out.
  long depth = 0;
  while ((hr = rd->Read(&type)) == S_OK) {
    if (type == XmlNodeType_Element) {
      ++r.work.elements;
      rd->GetLocalName(&s, &n);
      r.touched += s[0];
      rd->GetPrefix(&s, &n);
      r.touched += s[0];
      rd->GetNamespaceUri(&s, &n);
      r.touched += s[0];
      BOOL empty = rd->IsEmptyElement();
      r.touched += empty ? 1 : 0;
      for (HRESULT a = rd->MoveToFirstAttribute(); a == S_OK; a = rd->MoveToNextAttribute()) {
        ++r.work.attributes;
        rd->GetLocalName(&s, &n);
        r.touched += s[0];
        rd->GetPrefix(&s, &n);
        r.touched += s[0];
        rd->GetNamespaceUri(&s, &n);
        r.touched += s[0];
        rd->GetValue(&s, &n);
        r.touched += s[0];
        if (in.verify) r.work.attrBytes += utf8Length(s, n);
      }
      rd->MoveToElement();
      if (in.verify && !empty) ++depth;
    } else if (type == XmlNodeType_EndElement) {
      rd->GetLocalName(&s, &n);
      r.touched += s[0];
      if (in.verify) --depth;
    } else {
      rd->GetValue(&s, &n);
      r.touched += s[0];
      if (in.verify && depth > 0 &&
          (type == XmlNodeType_Text || type == XmlNodeType_CDATA ||
           type == XmlNodeType_Whitespace))
        r.work.textBytes += utf8Length(s, n);
    }
  }
  rd->Release();
  if (hr != S_FALSE) r.error = "Read failed";
}

// Reads a document made on the fly, piece by piece.
class RepeatStream final : public twtest::MemIStreamBase {
 public:
  RepeatStream(const std::string& doc, unsigned repeat) : src_(doc, repeat) {}
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    auto n = static_cast<ULONG>(src_.read(static_cast<char*>(buffer), count));
    pos_ += n;
    if (read) *read = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  size_t total() const { return src_.total(); }

 protected:
  size_t size() const override { return src_.size(); }

 private:
  RepeatSource src_;
};

}  // namespace

Result twReaderWalk(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    auto* stream = new twtest::MemReadStream(in.doc.data(), in.doc.size());
    walk(stream, in, r);
    stream->Release();
  });
}

Result twReaderStream(const Input& in) {
  return timed(0, [&](Result& r) {
    auto* stream = new RepeatStream(in.doc, in.repeat);
    walk(stream, in, r);
    r.bytes = stream->total();
    stream->Release();
  });
}

}  // namespace twbench
