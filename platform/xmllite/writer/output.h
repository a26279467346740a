// The output object of CreateXmlWriterOutputWithEncodingName: a stream and
// the encoding the writer is to produce in it.
#pragma once

#include <atomic>

#include "encoding.h"
#include "twxml/platform/xmllite.h"

namespace twxml::xmlwriter {

// Answered only by our own output objects, so that the writer can tell them
// from streams and from anything else passed to SetOutput.
TW_DEFINE_GUID(IID_TwXmlWriterOutputImpl, 0x6a1f3e2f, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77,
               0x78, 0x6d, 0x6c, 0x7f);

class XmlWriterOutput final : public IUnknown {
 public:
  XmlWriterOutput(ISequentialStream* stream, EncodingSpec spec);
  ~XmlWriterOutput();
  XmlWriterOutput(const XmlWriterOutput&) = delete;
  XmlWriterOutput& operator=(const XmlWriterOutput&) = delete;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;

  ISequentialStream* stream() const { return stream_; }
  const EncodingSpec& spec() const { return spec_; }

 private:
  std::atomic<ULONG> refs_{1};
  ISequentialStream* stream_;
  EncodingSpec spec_;
};

// The stream interface of an object given as output: ISequentialStream, or
// IStream for objects that only answer that. A new reference, or null.
ISequentialStream* queryStream(IUnknown* object);

}  // namespace twxml::xmlwriter
