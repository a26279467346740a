// The writer's output encodings: UTF-8 composed text turned into the target.
#include "encoding.h"

#include <cerrno>
#include <cstring>

#include "twxml/platform/utf.h"
#include "twxml/platform/xmllite.h"

namespace twxml::xmlwriter {

namespace {

constexpr size_t kConvSize = 128 * 1024;
const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

bool isEncNameChar(char c, bool first) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (first) return false;
  return (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

std::string upper(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}


// One conversion through cd from the initial state, flushed back to it.
// Returns the converted length, or -1 when iconv refuses or reports an
// irreversible (approximate) conversion.
long convertOnce(iconv_t cd, const char* in, size_t inLen, char* out, size_t outCap) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* src = const_cast<char*>(in);
  size_t srcLeft = inLen;
  char* dst = out;
  size_t dstLeft = outCap;
  size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  if (r != 0 || srcLeft != 0) return -1;
  if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return -1;
  return static_cast<long>(dst - out);
}

// The declaration carries the registered name for the common aliases, so
// that parsers without iconv's list of aliases can read it; any other name
// goes in as the caller spelled it.
std::string preferredName(const std::string& up, const std::string& given) {
  static const struct {
    const char* alias;
    const char* name;
  } kAliases[] = {
      {"LATIN1", "ISO-8859-1"},   {"L1", "ISO-8859-1"},        {"ISO8859-1", "ISO-8859-1"},
      {"ISO_8859-1", "ISO-8859-1"}, {"CP1252", "windows-1252"}, {"WINDOWS1252", "windows-1252"},
      {"SJIS", "Shift_JIS"},      {"SHIFT-JIS", "Shift_JIS"},  {"MS_KANJI", "Shift_JIS"},
      {"EUCJP", "EUC-JP"},        {"ASCII", "US-ASCII"},       {"ANSI_X3.4-1968", "US-ASCII"},
      {"KOI8R", "KOI8-R"},        {"UTF16BE", "UTF-16BE"},     {"UTF32", "UTF-32"},
  };
  for (const auto& a : kAliases)
    if (up == a.alias) return a.name;
  return given;
}

}  // namespace

HRESULT writeAll(ISequentialStream* stream, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    ULONG written = 0;
    HRESULT hr = stream->Write(p, chunk, &written);
    if (FAILED(hr)) return hr;
    if (written == 0 || written > chunk) return STG_E_MEDIUMFULL;
    p += written;
    size -= written;
  }
  return S_OK;
}

HRESULT resolveEncoding(const char16_t* name, EncodingSpec& out) {
  if (!name) return E_INVALIDARG;
  std::string ascii;
  for (const char16_t* p = name; *p; ++p) {
    if (*p >= 0x80 || ascii.size() >= 64 || !isEncNameChar(static_cast<char>(*p), p == name))
      return WR_E_UNKNOWNENCODING;
    ascii.push_back(static_cast<char>(*p));
  }
  if (ascii.empty()) return WR_E_UNKNOWNENCODING;
  const std::string up = upper(ascii);
  EncodingSpec spec;
  if (up == "UTF-8" || up == "UTF8") {
    spec.kind = EncodingKind::Utf8;
    spec.declName = "UTF-8";
  } else if (up == "UTF-16" || up == "UTF16") {
    spec.kind = EncodingKind::Utf16LE;
    spec.bomByDefault = true;
    spec.declName = "UTF-16";
  } else if (up == "UTF-16LE" || up == "UTF16LE") {
    spec.kind = EncodingKind::Utf16LE;
    spec.declName = "UTF-16LE";
  } else {
    spec.kind = EncodingKind::Iconv;
    spec.declName = preferredName(up, ascii);
    spec.iconvName = ascii;
    // Opening the sink checks that iconv knows the name and that markup fits.
    OutputSink probe;
    HRESULT hr = probe.open(spec);
    if (FAILED(hr)) return hr;
  }
  out = std::move(spec);
  return S_OK;
}

OutputSink::OutputSink() = default;

OutputSink::~OutputSink() { close(); }

void OutputSink::close() {
  for (iconv_t* cd : {&cd_, &probeTo_, &probeBack_}) {
    if (*cd != kNoIconv) iconv_close(*cd);
    *cd = kNoIconv;
  }
  bmp_.reset();
  astral_.clear();
  started_ = false;
  reprLimit_ = 0x110000;
  spec_ = EncodingSpec();
}

HRESULT OutputSink::open(const EncodingSpec& spec) {
  close();
  spec_ = spec;
  if (spec.kind != EncodingKind::Utf8 && !conv_) conv_.reset(new char[kConvSize]);
  if (spec.kind != EncodingKind::Iconv) return S_OK;

  cd_ = iconv_open(spec.iconvName.c_str(), "UTF-8");
  probeTo_ = iconv_open(spec.iconvName.c_str(), "UTF-8");
  probeBack_ = iconv_open("UTF-8", spec.iconvName.c_str());
  if (cd_ == kNoIconv || probeTo_ == kNoIconv || probeBack_ == kNoIconv) {
    close();
    return WR_E_UNKNOWNENCODING;
  }
  bmp_.reset(new uint8_t[0x10000]());
  reprLimit_ = 0;
  // Markup needs letters, digits, white space and a few marks; an encoding
  // that cannot carry them cannot carry XML. Other ASCII characters it lacks
  // (a backslash, say) become character references like any other.
  static const char kMarkup[] = "\t\n\r <>&;#\"'=/?![]-:_.";
  bool asciiComplete = true;
  for (uint32_t c = 0x09; c < 0x7F; ++c) {
    if (c > 0x0D && c < 0x20) continue;
    if (c == 0x0B || c == 0x0C) continue;
    if (representable(c)) continue;
    asciiComplete = false;
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (alnum || std::strchr(kMarkup, static_cast<int>(c))) {
      close();
      return WR_E_UNKNOWNENCODING;
    }
  }
  reprLimit_ = asciiComplete ? 0x80 : 0;
  return S_OK;
}

bool OutputSink::probe(uint32_t cp) {
  char in[4];
  size_t n = twxml::utf::PutUtf8(cp, in);
  char enc[32];
  long m = convertOnce(probeTo_, in, n, enc, sizeof enc);
  if (m <= 0) return false;
  char back[32];
  long k = convertOnce(probeBack_, enc, static_cast<size_t>(m), back, sizeof back);
  return k == static_cast<long>(n) && std::memcmp(back, in, n) == 0;
}

bool OutputSink::representable(uint32_t cp) {
  if (cp < reprLimit_) return true;
  if (spec_.kind != EncodingKind::Iconv) return true;
  if (cp < 0x10000) {
    uint8_t& state = bmp_[cp];
    if (state == 0) state = probe(cp) ? 1 : 2;
    return state == 1;
  }
  auto it = astral_.find(cp);
  if (it != astral_.end()) return it->second;
  bool ok = probe(cp);
  if (astral_.size() < 4096) astral_.emplace(cp, ok);
  return ok;
}

HRESULT OutputSink::write(ISequentialStream* stream, const char* utf8, size_t size, bool bom) {
  const bool first = !started_;
  started_ = true;
  switch (spec_.kind) {
    case EncodingKind::Utf8:
      return size ? writeAll(stream, utf8, size) : S_OK;

    case EncodingKind::Utf16LE: {
      unsigned char* out = reinterpret_cast<unsigned char*>(conv_.get());
      size_t o = 0;
      if (first && bom && spec_.bomByDefault) {
        out[o++] = 0xFF;
        out[o++] = 0xFE;
      }
      const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
      const unsigned char* e = p + size;
      while (p < e) {
        if (o + 8 > kConvSize) {
          HRESULT hr = writeAll(stream, out, o);
          if (FAILED(hr)) return hr;
          o = 0;
        }
        uint32_t c = *p;
        if (c < 0x80) {
          ++p;
        } else if (c < 0xE0) {
          c = ((c & 0x1F) << 6) | (p[1] & 0x3F);
          p += 2;
        } else if (c < 0xF0) {
          c = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
          p += 3;
        } else {
          c = ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
          p += 4;
          c -= 0x10000;
          uint32_t hi = 0xD800 + (c >> 10);
          out[o++] = static_cast<unsigned char>(hi);
          out[o++] = static_cast<unsigned char>(hi >> 8);
          c = 0xDC00 + (c & 0x3FF);
        }
        out[o++] = static_cast<unsigned char>(c);
        out[o++] = static_cast<unsigned char>(c >> 8);
      }
      return o ? writeAll(stream, out, o) : S_OK;
    }

    case EncodingKind::Iconv: {
      char* src = const_cast<char*>(utf8);
      size_t srcLeft = size;
      while (srcLeft > 0) {
        char* dst = conv_.get();
        size_t dstLeft = kConvSize;
        size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
        size_t produced = kConvSize - dstLeft;
        if (produced) {
          HRESULT hr = writeAll(stream, conv_.get(), produced);
          if (FAILED(hr)) return hr;
        }
        // Only E2BIG is expected: every character was checked beforehand.
        if (r == static_cast<size_t>(-1) && errno != E2BIG) return E_FAIL;
      }
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT OutputSink::finish(ISequentialStream* stream) {
  if (spec_.kind != EncodingKind::Iconv || !started_) return S_OK;
  char* dst = conv_.get();
  size_t dstLeft = kConvSize;
  if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return E_FAIL;
  size_t produced = kConvSize - dstLeft;
  return produced ? writeAll(stream, conv_.get(), produced) : S_OK;
}

}  // namespace twxml::xmlwriter
