// The output object and the module's two writer factories.
#include "output.h"

#include <new>

#include "xml_writer.h"

namespace twxml::xmlwriter {

XmlWriterOutput::XmlWriterOutput(ISequentialStream* stream, EncodingSpec spec)
    : stream_(stream), spec_(std::move(spec)) {
  stream_->AddRef();
}

XmlWriterOutput::~XmlWriterOutput() { stream_->Release(); }

HRESULT XmlWriterOutput::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IXmlWriterOutput || iid == IID_TwXmlWriterOutputImpl) {
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG XmlWriterOutput::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG XmlWriterOutput::Release() {
  ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

ISequentialStream* queryStream(IUnknown* object) {
  void* p = nullptr;
  if (SUCCEEDED(object->QueryInterface(IID_ISequentialStream, &p)) && p)
    return static_cast<ISequentialStream*>(p);
  p = nullptr;
  if (SUCCEEDED(object->QueryInterface(IID_IStream, &p)) && p)
    return static_cast<IStream*>(p);
  return nullptr;
}

}  // namespace twxml::xmlwriter

using twxml::xmlwriter::EncodingSpec;
using twxml::xmlwriter::XmlWriter;
using twxml::xmlwriter::XmlWriterOutput;

extern "C" TWXML_API HRESULT CreateXmlWriter(REFIID iid, void** out, IMalloc* /*malloc*/) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  XmlWriter* writer;
  try {
    writer = new XmlWriter();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = writer->QueryInterface(iid, out);
  writer->Release();
  return hr;
}

extern "C" TWXML_API HRESULT CreateXmlWriterOutputWithEncodingName(IUnknown* stream,
                                                                   IMalloc* /*malloc*/,
                                                                   LPCWSTR encodingName,
                                                                   IUnknown** output) {
  if (!output) return E_INVALIDARG;
  *output = nullptr;
  if (!stream || !encodingName) return E_INVALIDARG;
  try {
    EncodingSpec spec;
    HRESULT hr = twxml::xmlwriter::resolveEncoding(encodingName, spec);
    if (FAILED(hr)) return hr;
    ISequentialStream* s = twxml::xmlwriter::queryStream(stream);
    if (!s) return E_NOINTERFACE;
    XmlWriterOutput* o = new (std::nothrow) XmlWriterOutput(s, std::move(spec));
    s->Release();
    if (!o) return E_OUTOFMEMORY;
    *output = o;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
