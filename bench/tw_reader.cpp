// The streaming reader through IXmlReader, linked in-process.
#include "engines.h"
#include "mem_istream.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

namespace twbench {

Result twReaderWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Stopwatch sw;
  IXmlReader* rd = nullptr;
  if (FAILED(TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&rd)))) {
    r.error = "TwCreateXmlReaderInProc failed";
    return r;
  }
  auto* stream = new twtest::MemReadStream(in.doc.data(), in.doc.size());
  rd->SetInput(stream);
  stream->Release();
  XmlNodeType type;
  HRESULT hr;
  LPCWSTR s;
  UINT n;
  while ((hr = rd->Read(&type)) == S_OK) {
    if (type == XmlNodeType_Element) {
      ++r.elements;
      rd->GetLocalName(&s, &n);
      r.touched += s[0];
      rd->GetPrefix(&s, &n);
      r.touched += s[0];
      rd->GetNamespaceUri(&s, &n);
      r.touched += s[0];
      r.touched += rd->IsEmptyElement() ? 1 : 0;
      for (HRESULT a = rd->MoveToFirstAttribute(); a == S_OK; a = rd->MoveToNextAttribute()) {
        rd->GetLocalName(&s, &n);
        r.touched += s[0];
        rd->GetPrefix(&s, &n);
        r.touched += s[0];
        rd->GetNamespaceUri(&s, &n);
        r.touched += s[0];
        rd->GetValue(&s, &n);
        r.touched += s[0];
      }
      rd->MoveToElement();
    } else if (type == XmlNodeType_EndElement) {
      rd->GetLocalName(&s, &n);
      r.touched += s[0];
    } else {
      rd->GetValue(&s, &n);
      r.touched += s[0];
    }
  }
  rd->Release();
  sw.stop(r);
  if (hr != S_FALSE) r.error = "Read failed";
  return r;
}

}  // namespace twbench
