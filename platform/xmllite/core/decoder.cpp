// Input bytes in any supported encoding to checked, line-normalised UTF-8.
#include "decoder.h"

#include "markup_sample.h"
#include "parse_limits.h"
#include "twxml/platform/utf.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace twxml::xmlcore {

namespace {

constexpr size_t kRawChunk = 64 * 1024;

bool ieq(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i];
    if (x >= 'a' && x <= 'z') x = char(x - 32);
    char y = b[i];
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != y) return false;
  }
  return true;
}


}  // namespace

Decoder::~Decoder() {
  if (iconv_) iconv_close(static_cast<iconv_t>(iconv_));
}

void Decoder::reset(ReadFn fn, void* ctx) {
  kernels_ = &scan::Active();
  if (iconv_) iconv_close(static_cast<iconv_t>(iconv_));
  iconv_ = nullptr;
  fn_ = fn;
  ctx_ = ctx;
  if (fn != nullptr && raw_.size() < kRawChunk) raw_.resize(kRawChunk);
  rawPos_ = rawEnd_ = 0;
  rawEof_ = false;
  sniffed_ = false;
  done_ = false;
  wide_ = false;
  lastCR_ = false;
  kind_ = Kind::Utf8;
  err_ = Error::None;
  msg_ = Msg::None;
  encName_.clear();
  convPos_ = convEnd_ = 0;
}

bool Decoder::fillRaw() {
  if (rawEof_) return false;
  if (rawPos_ > 0) {
    std::memmove(raw_.data(), raw_.data() + rawPos_, rawEnd_ - rawPos_);
    rawEnd_ -= rawPos_;
    rawPos_ = 0;
  }
  if (raw_.size() - rawEnd_ < kRawChunk / 2) raw_.resize(raw_.size() * 2);
  if (!fn_) {
    rawEof_ = true;
    return false;
  }
  long n = fn_(ctx_, raw_.data() + rawEnd_, raw_.size() - rawEnd_);
  if (n < 0) {
    rawEof_ = true;
    fail(Error::Stream);
    return false;
  }
  if (n == 0) {
    rawEof_ = true;
    return false;
  }
  rawEnd_ += size_t(n);
  return true;
}

// The rest of the input, from raw offset `from`, holds only zero bytes, and
// not too many: endless zeros (a device, a sparse file) are refused soon.
bool Decoder::restIsZeros(size_t from, size_t seen) {
  for (;;) {
    for (size_t i = from; i < rawEnd_; ++i)
      if (raw_[i] != 0 || ++seen > limits::kMaxTrailingZeros) return false;
    rawPos_ = rawEnd_;
    from = 0;
    if (!fillRaw()) return err_ == Error::None;
  }
}

bool Decoder::restIsZerosIn(const unsigned char* src, size_t i, size_t n) {
  if (n - i > limits::kMaxTrailingZeros) n = i + limits::kMaxTrailingZeros + 1;
  for (size_t k = i; k < n; ++k)
    if (src[k] != 0) return false;
  if (kind_ == Kind::Iconv) {
    convPos_ = convEnd_ = 0;
    return restIsZeros(rawPos_, n - i);
  }
  return restIsZeros(rawEnd_, n - i);
}

bool Decoder::readsMarkupAsAscii(void* cd) {
  std::string out;
  return convertMarkupSample(static_cast<iconv_t>(cd), &out) && isMarkupSample(out);
}

bool Decoder::sniff() {
  sniffed_ = true;
  while (rawEnd_ - rawPos_ < 4 && fillRaw()) {
  }
  if (err_ != Error::None) return false;
  const unsigned char* b = raw_.data() + rawPos_;
  size_t n = rawEnd_ - rawPos_;
  auto has = [&](std::initializer_list<int> pat) {
    if (n < pat.size()) return false;
    size_t i = 0;
    for (int v : pat)
      if (b[i++] != v) return false;
    return true;
  };
  const char* wideName = nullptr;
  size_t bom = 0;
  bool utf8Bom = false;
  if (has({0x00, 0x00, 0xFE, 0xFF})) {
    wideName = "UTF-32BE";
    bom = 4;
  } else if (has({0xFF, 0xFE, 0x00, 0x00})) {
    wideName = "UTF-32LE";
    bom = 4;
  } else if (has({0xFE, 0xFF})) {
    kind_ = Kind::Utf16BE;
    bom = 2;
  } else if (has({0xFF, 0xFE})) {
    kind_ = Kind::Utf16LE;
    bom = 2;
  } else if (has({0xEF, 0xBB, 0xBF})) {
    bom = 3;
    utf8Bom = true;
  } else if (has({0x00, 0x00, 0x00, 0x3C})) {
    wideName = "UTF-32BE";
  } else if (has({0x3C, 0x00, 0x00, 0x00})) {
    wideName = "UTF-32LE";
  } else if (has({0x00, 0x3C, 0x00, 0x3F})) {
    kind_ = Kind::Utf16BE;
  } else if (has({0x3C, 0x00, 0x3F, 0x00})) {
    kind_ = Kind::Utf16LE;
  }
  rawPos_ += bom;
  if (wideName) {
    wide_ = true;
    encName_ = wideName;
    iconv_t cd = iconv_open("UTF-8", wideName);
    if (cd == iconv_t(-1)) {
      fail(Error::UnsupportedEncoding, Msg::UnsupportedEncoding);
      return false;
    }
    iconv_ = cd;
    kind_ = Kind::Iconv;
    return true;
  }
  if (kind_ == Kind::Utf16LE || kind_ == Kind::Utf16BE) {
    wide_ = true;
    encName_ = "UTF-16";
    return true;
  }
  // Byte-oriented input: an XML declaration may name the encoding.
  for (;;) {
    b = raw_.data() + rawPos_;
    n = rawEnd_ - rawPos_;
    if (n >= 5 && std::memcmp(b, "<?xml", 5) != 0) break;
    if (n < 5 && (rawEof_ || std::memcmp(b, "<?xml", n) != 0)) break;
    // "<?xml" and a name character start a processing instruction such as
    // <?xml-stylesheet ...?>, not the declaration: its data names no encoding.
    if (n >= 6 && b[5] != ' ' && b[5] != '\t' && b[5] != '\n' && b[5] != '\r') break;
    const void* end = n > 5 ? std::memchr(b, '>', n) : nullptr;
    size_t declLen = end ? size_t(static_cast<const unsigned char*>(end) - b) + 1 : n;
    if (declLen > limits::kMaxDeclaration) {
      fail(Error::UnsupportedEncoding, Msg::DeclarationTooLong);
      return false;
    }
    if (end || rawEof_) {
      size_t lim = end ? size_t(static_cast<const unsigned char*>(end) - b) : n;
      std::string decl(reinterpret_cast<const char*>(b), lim);
      size_t at = decl.find("encoding");
      if (at == std::string::npos) break;
      at += 8;
      while (at < decl.size() && (decl[at] == ' ' || decl[at] == '\t' ||
                                  decl[at] == '\n' || decl[at] == '\r'))
        ++at;
      if (at >= decl.size() || decl[at] != '=') break;
      ++at;
      while (at < decl.size() && (decl[at] == ' ' || decl[at] == '\t' ||
                                  decl[at] == '\n' || decl[at] == '\r'))
        ++at;
      if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) break;
      size_t close = decl.find(decl[at], at + 1);
      if (close == std::string::npos) break;
      if (close - at - 1 > limits::kMaxEncodingName) {
        fail(Error::UnsupportedEncoding, Msg::EncodingNameTooLong);
        return false;
      }
      encName_ = decl.substr(at + 1, close - at - 1);
      break;
    }
    if (!fillRaw()) {
      if (err_ != Error::None) return false;
    }
  }
  if (encName_.empty() || ieq(encName_, "UTF-8") || ieq(encName_, "UTF8")) {
    kind_ = Kind::Utf8;
    return true;
  }
  if (ieq(encName_, "US-ASCII") || ieq(encName_, "ASCII")) {
    kind_ = utf8Bom ? Kind::Utf8 : Kind::Ascii;
    return true;
  }
  if (utf8Bom || ieq(encName_, "UTF-16") || ieq(encName_, "UTF-16LE") ||
      ieq(encName_, "UTF-16BE") || ieq(encName_, "ISO-10646-UCS-2") ||
      ieq(encName_, "UCS-2") || ieq(encName_, "UTF-32") ||
      ieq(encName_, "ISO-10646-UCS-4") || ieq(encName_, "UCS-4")) {
    // Declared wide (or contradicting a UTF-8 mark) but laid out as bytes.
    fail(Error::Encoding, Msg::EncodingMismatch);
    return false;
  }
  for (char c : encName_) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
          c == ':')) {
      fail(Error::UnsupportedEncoding, Msg::UnsupportedEncoding);
      return false;
    }
  }
  iconv_t cd = iconv_open("UTF-8", encName_.c_str());
  if (cd == iconv_t(-1)) {
    fail(Error::UnsupportedEncoding, Msg::UnsupportedEncoding);
    return false;
  }
  iconv_ = cd;
  if (!readsMarkupAsAscii(cd)) {
    // Markup that is not byte for byte hides from byte-level filters.
    fail(Error::UnsupportedEncoding, Msg::EncodingRefused);
    return false;
  }
  kind_ = Kind::Iconv;
  return true;
}

size_t Decoder::decode(char* out, size_t cap) {
  if (done_) return 0;
  if (!sniffed_ && !sniff()) return 0;
  size_t r = 0;
  switch (kind_) {
    case Kind::Utf8:
    case Kind::Ascii: r = decodeUtf8(out, cap); break;
    case Kind::Utf16LE:
    case Kind::Utf16BE: r = decodeUtf16(out, cap); break;
    case Kind::Iconv: r = decodeIconv(out, cap); break;
  }
  return r;
}

size_t Decoder::filterUtf8(const unsigned char* src, size_t n, bool final,
                           char* out, size_t cap, size_t* written) {
  size_t i = 0, o = 0;
  const bool ascii = kind_ == Kind::Ascii;
  // In place (src == out) the output trails the input; it only falls
  // behind when a CR LF pair shrinks to LF.
  const bool inPlace = static_cast<const void*>(src) == static_cast<const void*>(out);
  size_t byHandUntil = 0;  // characters taken one by one before the kernel is asked again
  while (i < n) {
    if (i >= byHandUntil && !lastCR_) {
      // The kernel vouches for the plain part; in place and not behind,
      // there is not even a byte to move.
      const size_t limit = n - i < cap - o ? n - i : cap - o;
      size_t k = kernels_->clean(src + i, limit);
      if (ascii) k = twxml::utf::AsciiPrefix(src + i, k);
      if (k) {
        if (!inPlace || i != o) std::memmove(out + o, src + i, k);
        i += k;
        o += k;
        if (i >= n) break;
      }
      // The kernel stopped at or before something to look at: one character
      // by hand, or a block of them where it could not tell exactly.
      byHandUntil = k ? i + 1 : i + 32;
    }
    if (i >= n || o + 4 > cap) break;
    unsigned c = src[i];
    if (c < 0x80) {
      if (!putAscii(c, out, o)) {
        *written = o;
        if (c == 0 && restIsZerosIn(src, i, n)) {
          done_ = true;
          return n;
        }
        fail(Error::InvalidChar, c == 0 ? Msg::NulByte : Msg::None);
        return i;
      }
      ++i;
      continue;
    }
    lastCR_ = false;
    if (ascii) {
      *written = o;
      fail(Error::Encoding, badBytes());
      return i;
    }
    // Runs of well-formed two- and three-byte characters, the common case
    // of non-ASCII text, without the general checks below.
    for (;;) {
      if (c >= 0xC2 && c <= 0xDF && i + 2 <= n && o + 2 <= cap &&
          (src[i + 1] & 0xC0) == 0x80) {
        out[o] = char(c);
        out[o + 1] = char(src[i + 1]);
        i += 2;
        o += 2;
      } else if (c >= 0xE1 && c <= 0xEC && i + 3 <= n && o + 3 <= cap &&
                 (src[i + 1] & 0xC0) == 0x80 && (src[i + 2] & 0xC0) == 0x80) {
        // E1..EC: no overlong form, no surrogate, no U+FFFE/FFFF possible.
        out[o] = char(c);
        out[o + 1] = char(src[i + 1]);
        out[o + 2] = char(src[i + 2]);
        i += 3;
        o += 3;
      } else {
        break;
      }
      if (i >= n) break;
      c = src[i];
      if (c < 0x80) break;
    }
    if (i >= n || c < 0x80 || o + 4 > cap) continue;
    const twxml::utf::Utf8Char ch = twxml::utf::DecodeUtf8Char(src + i, n - i);
    if (!ch.ok) {
      // A character the input so far cuts short waits for more (unless this
      // is all there is).
      if (ch.cut && !final) break;
      *written = o;
      fail(Error::Encoding, badBytes());
      return i;
    }
    const uint32_t cp = ch.cp;
    const size_t len = ch.len;
    if (cp == 0xFFFE || cp == 0xFFFF) {
      *written = o;
      fail(Error::InvalidChar);
      return i;
    }
    std::memmove(out + o, src + i, len);
    o += len;
    i += len;
  }
  *written = o;
  return i;
}

size_t Decoder::decodeUtf8(char* out, size_t cap) {
  // Little or nothing buffered (at most a character cut at the last read's
  // end): read straight into the caller's buffer behind it and check the
  // bytes there, saving a copy.
  if (rawEnd_ - rawPos_ < 16 && !rawEof_ && fn_ && cap >= 4096) {
    size_t k = rawEnd_ - rawPos_;
    std::memcpy(out, raw_.data() + rawPos_, k);
    rawPos_ = rawEnd_ = 0;
    long n = fn_(ctx_, out + k, cap - k);
    if (n < 0) {
      rawEof_ = true;
      fail(Error::Stream);
      return 0;
    }
    if (size_t(n) > cap - k) n = long(cap - k);
    if (n == 0) rawEof_ = true;
    size_t total = k + size_t(n);
    if (total == 0) {
      done_ = true;
      return 0;
    }
    size_t written = 0;
    size_t used = filterUtf8(reinterpret_cast<const unsigned char*>(out), total, rawEof_, out,
                             cap, &written);
    if (done_) return written;
    // An incomplete character at the end waits for the next read.
    size_t left = total - used;
    std::memcpy(raw_.data(), out + used, left);
    rawPos_ = 0;
    rawEnd_ = left;
    if (written) return written;
    if (rawEof_ && left) {
      fail(Error::Encoding, badBytes());
      return 0;
    }
  }
  for (;;) {
    if (rawPos_ == rawEnd_ || (rawEnd_ - rawPos_ < 4 && !rawEof_)) {
      if (!fillRaw() && err_ != Error::None) return 0;
      if (rawPos_ == rawEnd_) {
        done_ = true;
        return 0;
      }
    }
    size_t written = 0;
    size_t used = filterUtf8(raw_.data() + rawPos_, rawEnd_ - rawPos_, rawEof_,
                             out, cap, &written);
    rawPos_ += used;
    if (written || done_) return written;
    // Only an incomplete character was left: read more.
    if (rawEof_) {
      fail(Error::Encoding, badBytes());
      return 0;
    }
    if (!fillRaw() && err_ != Error::None) return 0;
  }
}

size_t Decoder::decodeUtf16(char* out, size_t cap) {
  const bool be = kind_ == Kind::Utf16BE;
  for (;;) {
    if (rawEnd_ - rawPos_ < 4 && !rawEof_) {
      fillRaw();
      if (err_ != Error::None) return 0;
      continue;
    }
    size_t o = 0;
    const unsigned char* s = raw_.data();
    size_t i = rawPos_;
    while (i + 2 <= rawEnd_ && o + 4 <= cap) {
      uint32_t u = be ? (uint32_t(s[i]) << 8 | s[i + 1])
                      : (uint32_t(s[i + 1]) << 8 | s[i]);
      if (u < 0x80) {
        if (!putAscii(u, out, o)) {
          rawPos_ = i;
          if (u == 0 && restIsZeros(i)) {
            done_ = true;
            return o;
          }
          fail(Error::InvalidChar, u == 0 ? Msg::NulByte : Msg::None);
          return o;
        }
        i += 2;
        continue;
      }
      lastCR_ = false;
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (i + 4 > rawEnd_) {
          if (rawEof_) {
            rawPos_ = i;
            fail(Error::Encoding, badBytes());
            return o;
          }
          break;
        }
        uint32_t l = be ? (uint32_t(s[i + 2]) << 8 | s[i + 3])
                        : (uint32_t(s[i + 3]) << 8 | s[i + 2]);
        if (l < 0xDC00 || l > 0xDFFF) {
          rawPos_ = i;
          fail(Error::Encoding, badBytes());
          return o;
        }
        uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (l - 0xDC00);
        o += twxml::utf::PutUtf8(cp, out + o);
        i += 4;
        continue;
      }
      if (u >= 0xDC00 && u <= 0xDFFF) {
        rawPos_ = i;
        fail(Error::Encoding, badBytes());
        return o;
      }
      if (u == 0xFFFE || u == 0xFFFF) {
        rawPos_ = i;
        fail(Error::InvalidChar);
        return o;
      }
      o += twxml::utf::PutUtf8(u, out + o);
      i += 2;
    }
    rawPos_ = i;
    if (o) return o;
    if (rawEof_) {
      if (rawEnd_ - rawPos_ == 1 && raw_[rawPos_] != 0) {
        fail(Error::Encoding, badBytes());
        return 0;
      }
      if (rawEnd_ - rawPos_ >= 2) continue;  // a pending surrogate pair
      done_ = true;
      return 0;
    }
    fillRaw();
    if (err_ != Error::None) return 0;
  }
}

size_t Decoder::decodeIconv(char* out, size_t cap) {
  iconv_t cd = static_cast<iconv_t>(iconv_);
  if (conv_.size() < kRawChunk) conv_.resize(kRawChunk);
  for (;;) {
    if (convPos_ < convEnd_) {
      size_t written = 0;
      size_t used = filterUtf8(
          reinterpret_cast<const unsigned char*>(conv_.data()) + convPos_,
          convEnd_ - convPos_, false, out, cap, &written);
      convPos_ += used;
      if (written || done_) return written;
    }
    if (convPos_ > 0) {
      std::memmove(conv_.data(), conv_.data() + convPos_, convEnd_ - convPos_);
      convEnd_ -= convPos_;
      convPos_ = 0;
    }
    if (rawPos_ == rawEnd_ && !rawEof_) {
      fillRaw();
      if (err_ != Error::None) return 0;
    }
    if (rawPos_ == rawEnd_) {
      if (convEnd_ > 0) {
        fail(Error::Encoding, badBytes());
        return 0;
      }
      done_ = true;
      return 0;
    }
    char* in = reinterpret_cast<char*>(raw_.data() + rawPos_);
    size_t inLeft = rawEnd_ - rawPos_;
    char* o = conv_.data() + convEnd_;
    size_t oLeft = conv_.size() - convEnd_;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    int e = errno;
    rawPos_ = size_t(reinterpret_cast<unsigned char*>(in) - raw_.data());
    size_t produced = size_t(o - conv_.data()) - convEnd_;
    convEnd_ += produced;
    if (r == size_t(-1)) {
      if (e == EILSEQ) {
        if (produced == 0 && convPos_ == convEnd_) {
          fail(Error::Encoding, badBytes());
          return 0;
        }
        // Deliver what converted first; the next round fails.
        continue;
      }
      if (e == EINVAL) {
        if (rawEof_ && produced == 0) {
          fail(Error::Encoding, badBytes());
          return 0;
        }
        if (produced == 0) {
          fillRaw();
          if (err_ != Error::None) return 0;
        }
        continue;
      }
      if (e == E2BIG) continue;
      fail(Error::Encoding, badBytes());
      return 0;
    }
  }
}

}  // namespace twxml::xmlcore
