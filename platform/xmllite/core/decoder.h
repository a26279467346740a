// Byte-source decoding: turns the input's bytes, in whatever encoding the
// BOM or the XML declaration announces, into UTF-8 holding only characters
// XML allows, with line ends already normalised to LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scan.h"
#include "xmlcore.h"

namespace twxml::xmlcore {

class Decoder {
 public:
  Decoder() = default;
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  void reset(ReadFn fn, void* ctx);

  // Appends up to cap (>= 8) bytes of UTF-8 made of whole characters.
  // Returns the count; 0 means end of input or error (see error()).
  size_t decode(char* out, size_t cap);

  Error error() const { return err_; }
  Msg message() const { return msg_; }
  bool finished() const { return done_; }
  // True when the input had a byte order mark or a UTF-16/32 layout, so
  // an encoding declaration may not contradict it.
  bool wideInput() const { return wide_; }
  const std::string& encodingName() const { return encName_; }

 private:
  enum class Kind : uint8_t { Utf8, Ascii, Utf16LE, Utf16BE, Iconv };
  bool fillRaw();  // reads more raw bytes; false at end or error
  bool sniff();
  size_t decodeUtf8(char* out, size_t cap);
  size_t decodeUtf16(char* out, size_t cap);
  size_t decodeIconv(char* out, size_t cap);
  // Validates UTF-8 from src into out (CR normalisation, char ranges).
  // Returns bytes consumed from src; *written gets bytes produced.
  size_t filterUtf8(const unsigned char* src, size_t n, bool final,
                    char* out, size_t cap, size_t* written);
  // Whether the input ends in zero bytes from here (a bounded number of
  // them: see limits::kMaxTrailingZeros); seen counts those already passed.
  bool restIsZeros(size_t from, size_t seen = 0);
  bool restIsZerosIn(const unsigned char* src, size_t i, size_t n);
  // Whether the named encoding reads markup byte for byte (cd: to UTF-8).
  static bool readsMarkupAsAscii(void* cd);
  // The failure for bytes the current encoding does not allow.
  Msg badBytes() const {
    return kind_ == Kind::Utf8 ? Msg::InvalidUtf8
           : kind_ == Kind::Utf16LE || kind_ == Kind::Utf16BE ? Msg::InvalidUtf16
                                                               : Msg::InvalidBytes;
  }
  // One ASCII character with line ends normalised (CR LF and CR become LF);
  // false for a control character XML does not allow (NUL included).
  bool putAscii(unsigned c, char* out, size_t& o) {
    if (c >= 0x20 || c == 0x09) {
      out[o++] = char(c);
      lastCR_ = false;
    } else if (c == 0x0A) {
      if (!lastCR_) out[o++] = '\n';
      lastCR_ = false;
    } else if (c == 0x0D) {
      out[o++] = '\n';
      lastCR_ = true;
    } else {
      return false;
    }
    return true;
  }
  void fail(Error e, Msg m = Msg::None) {
    if (err_ == Error::None) {
      err_ = e;
      msg_ = m;
    }
    done_ = true;
  }

  const scan::Kernels* kernels_ = &scan::kPlain;  // the level in force at reset
  ReadFn fn_ = nullptr;
  void* ctx_ = nullptr;
  std::vector<unsigned char> raw_;
  size_t rawPos_ = 0, rawEnd_ = 0;
  bool rawEof_ = false;
  bool sniffed_ = false;
  bool done_ = false;
  bool wide_ = false;
  bool lastCR_ = false;
  Kind kind_ = Kind::Utf8;
  Error err_ = Error::None;
  Msg msg_ = Msg::None;
  std::string encName_;
  void* iconv_ = nullptr;  // iconv_t
  std::vector<char> conv_;  // iconv output awaiting the UTF-8 filter
  size_t convPos_ = 0, convEnd_ = 0;
};

}  // namespace twxml::xmlcore
