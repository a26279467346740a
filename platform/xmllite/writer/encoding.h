// Output encodings of the writer. The writer composes its output as UTF-8
// and the sink turns each buffer into the target encoding on its way to the
// stream: UTF-8 goes out as is, UTF-16 is converted by hand, every other
// encoding through iconv. The sink also answers which characters the target
// can hold, so that the writer can use character references for the rest.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "twxml/platform/com.h"

namespace twxml::xmlwriter {

enum class EncodingKind : uint8_t { Utf8, Utf16LE, Iconv };

struct EncodingSpec {
  EncodingKind kind = EncodingKind::Utf8;
  bool bomByDefault = false;  // UTF-16 starts with a byte order mark
  std::string declName = "UTF-8";  // the name the XML declaration carries
  std::string iconvName;           // for EncodingKind::Iconv
};

// Checks a caller's encoding name and says how to produce it. Names iconv
// does not know, names an XML declaration cannot carry and encodings that
// cannot hold the ASCII characters of markup give WR_E_UNKNOWNENCODING.
HRESULT resolveEncoding(const char16_t* name, EncodingSpec& out);

// Writes all bytes or fails: a short write counts as a full medium.
HRESULT writeAll(ISequentialStream* stream, const void* data, size_t size);

class OutputSink {
 public:
  OutputSink();
  ~OutputSink();
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // Prepares for a new output; the stream itself is passed to each write.
  HRESULT open(const EncodingSpec& spec);
  void close();

  const EncodingSpec& spec() const { return spec_; }
  // Code points below this are always representable (fast test).
  uint32_t reprLimit() const { return reprLimit_; }
  // Whether the target encoding holds the code point and gives it back
  // unchanged when decoded.
  bool representable(uint32_t cp);

  // Encodes complete UTF-8 text and writes it. The first write of an output
  // starts with a byte order mark when bom is set and the encoding has one.
  HRESULT write(ISequentialStream* stream, const char* utf8, size_t size, bool bom);
  // Returns a stateful encoding to its initial shift state.
  HRESULT finish(ISequentialStream* stream);

 private:
  bool probe(uint32_t cp);

  EncodingSpec spec_;
  uint32_t reprLimit_ = 0x110000;
  bool started_ = false;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
  iconv_t probeTo_ = reinterpret_cast<iconv_t>(-1);
  iconv_t probeBack_ = reinterpret_cast<iconv_t>(-1);
  std::unique_ptr<char[]> conv_;
  // Probe results for the BMP: 0 unknown, 1 representable, 2 not.
  std::unique_ptr<uint8_t[]> bmp_;
  std::unordered_map<uint32_t, bool> astral_;
};

}  // namespace twxml::xmlwriter
