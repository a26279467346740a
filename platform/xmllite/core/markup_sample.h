// Whether an encoding carries XML markup byte for byte: the markup
// characters converted one way or the other must come out as their ASCII
// bytes (UTF-7, for one, reads "+ADw-" as '<' and writes '<' so). Shared by
// the decoder, which refuses such encodings on input, and the document save.
#pragma once

#include <iconv.h>

#include <cstring>
#include <string>
#include <string_view>

namespace twxml::xmlcore {

inline constexpr char kMarkupSample[] =
    "<?xml version=\"1.0\" encoding='x'?>\t\r\n<a:b c=\"&#38;\"/><!--x--><![CDATA[y]]>+"
    "_-.#;%()[]|,*0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The sample converted with cd (its state reset before and after) into out;
// false when the conversion refuses it.
inline bool convertMarkupSample(iconv_t cd, std::string* out) {
  char in[sizeof kMarkupSample];
  std::memcpy(in, kMarkupSample, sizeof kMarkupSample);
  char buf[4 * sizeof kMarkupSample];
  char* ip = in;
  char* op = buf;
  size_t il = sizeof kMarkupSample - 1, ol = sizeof buf;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  bool ok = iconv(cd, &ip, &il, &op, &ol) != size_t(-1) && il == 0 &&
            iconv(cd, nullptr, nullptr, &op, &ol) != size_t(-1);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out->assign(buf, size_t(op - buf));
  return ok;
}

inline bool isMarkupSample(const std::string& s) {
  return s == std::string_view(kMarkupSample, sizeof kMarkupSample - 1);
}

}  // namespace twxml::xmlcore
