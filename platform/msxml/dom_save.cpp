// The serialiser: walks records without recursion, writes UTF-8 into a
// staging buffer and hands it to an encoder (UTF-8, UTF-16 or any iconv
// encoding) in large blocks.
#include <errno.h>
#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "dom_objects.h"
#include "markup_sample.h"
#include "save_buffer.h"
#include "twxml/platform/simd.h"
#include "twxml/platform/com_internal.h"
#include "twxml/platform/xmllite.h"

namespace twdom {

namespace {

constexpr size_t kFlushAt = 64 * 1024;
constexpr size_t kRunStep = 64 * 1024;
constexpr std::string_view kXmlUri8 = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kXmlnsUri8 = "http://www.w3.org/2000/xmlns/";

bool IsSpace(char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualsNoCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = char16_t(x - 32);
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != char16_t(y)) return false;
  }
  return true;
}

/* Where the bytes go and in which encoding. */
class Encoder {
 public:
  enum Mode { kUtf8, kUtf16, kIconv, kString16 };

  ~Encoder() {
    if (cd_ != iconv_t(-1)) iconv_close(cd_);
    if (probe_ != iconv_t(-1)) iconv_close(probe_);
  }

  HRESULT openBytes(ByteSink* sink, std::u16string_view encoding) {
    sink_ = sink;
    if (encoding.empty() || EqualsNoCase(encoding, "UTF-8") || EqualsNoCase(encoding, "UTF8")) {
      mode_ = kUtf8;
      return S_OK;
    }
    if (EqualsNoCase(encoding, "UTF-16") || EqualsNoCase(encoding, "UTF16") || EqualsNoCase(encoding, "UCS-2") ||
        EqualsNoCase(encoding, "ISO-10646-UCS-2") || EqualsNoCase(encoding, "UNICODE")) {
      mode_ = kUtf16;
      static const char kBom[2] = {char(0xFF), char(0xFE)};
      return sink_->write(kBom, 2);
    }
    std::string name;
    for (char16_t c : encoding) {
      if (c > 0x7E || c < 0x21) return Fail(MX_E_ENCODING, u"The encoding named by the XML declaration is not supported.");
      name += char(c);
    }
    cd_ = iconv_open(name.c_str(), "UTF-8");
    probe_ = iconv_open(name.c_str(), "UTF-8");
    if (cd_ == iconv_t(-1) || probe_ == iconv_t(-1)) {
      return Fail(MX_E_ENCODING, u"The encoding named by the XML declaration is not supported.");
    }
    mode_ = kIconv;
    // Markup needs the ASCII repertoire.
    for (uint32_t c = 0x20; c < 0x7F; ++c) {
      if (!canEncode(c)) return Fail(MX_E_ENCODING, u"The encoding cannot hold XML markup.");
    }
    // ...and must write it byte for byte, or the saved document cannot be
    // read back (e.g. UTF-7 writes '<' as "+ADw-").
    if (!markupIsAscii()) return Fail(MX_E_ENCODING, u"The encoding cannot hold XML markup.");
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    return S_OK;
  }

  void openString(std::u16string* out) {
    mode_ = kString16;
    out16_ = out;
  }

  bool checksRepertoire() const { return mode_ == kIconv; }

  bool canEncode(uint32_t cp) {
    if (mode_ != kIconv) return true;
    auto it = known_.find(cp);
    if (it != known_.end()) return it->second;
    char in[4];
    size_t n;
    if (cp < 0x80) {
      in[0] = char(cp);
      n = 1;
    } else if (cp < 0x800) {
      in[0] = char(0xC0 | (cp >> 6));
      in[1] = char(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      in[0] = char(0xE0 | (cp >> 12));
      in[1] = char(0x80 | ((cp >> 6) & 0x3F));
      in[2] = char(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      in[0] = char(0xF0 | (cp >> 18));
      in[1] = char(0x80 | ((cp >> 12) & 0x3F));
      in[2] = char(0x80 | ((cp >> 6) & 0x3F));
      in[3] = char(0x80 | (cp & 0x3F));
      n = 4;
    }
    char out[32];
    char* ip = in;
    char* op = out;
    size_t il = n, ol = sizeof(out);
    iconv(probe_, nullptr, nullptr, nullptr, nullptr);
    bool ok = iconv(probe_, &ip, &il, &op, &ol) != size_t(-1) && il == 0;
    known_.emplace(cp, ok);
    return ok;
  }

  SaveBuffer& buffer() { return buf_; }

  bool markupIsAscii() {
    std::string out;
    if (!twxml::xmlcore::convertMarkupSample(probe_, &out)) return false;
    // Wide encodings (UTF-16BE, UTF-32, ...) put zero bytes beside the ASCII
    // ones; the reader recognises those by their first bytes.
    return out.find('\0') != std::string::npos || twxml::xmlcore::isMarkupSample(out);
  }

  HRESULT flush(bool final) {
    HRESULT hr = S_OK;
    switch (mode_) {
      case kUtf8:
        if (!buf_.empty()) hr = sink_->write(buf_.data(), buf_.size());
        break;
      case kUtf16:
      case kString16: {
        size_t old = wide_.size();
        wide_.resize(buf_.size());
        size_t n = Utf8ToUtf16(buf_.data(), buf_.size(), wide_.data());
        if (mode_ == kString16) {
          out16_->append(wide_.data(), n);
        } else {
          hr = sink_->write(reinterpret_cast<const char*>(wide_.data()), n * 2);
        }
        (void)old;
        break;
      }
      case kIconv:
        hr = convert(final);
        break;
    }
    buf_.clear();
    if (FAILED(hr)) return Fail(hr, u"Writing the document failed.");
    return S_OK;
  }

 private:
  HRESULT convert(bool final) {
    char* ip = const_cast<char*>(buf_.data());  // iconv does not write its input
    size_t il = buf_.size();
    char out[16384];
    for (;;) {
      char* op = out;
      size_t ol = sizeof(out);
      size_t r = il ? iconv(cd_, &ip, &il, &op, &ol) : (final ? iconv(cd_, nullptr, nullptr, &op, &ol) : 0);
      int err = r == size_t(-1) ? errno : 0;
      if (op != out) {
        HRESULT hr = sink_->write(out, size_t(op - out));
        if (FAILED(hr)) return hr;
      }
      if (err == E2BIG) continue;
      if (err) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
      if (il == 0) return S_OK;
    }
  }

  Mode mode_ = kUtf8;
  ByteSink* sink_ = nullptr;
  std::u16string* out16_ = nullptr;
  SaveBuffer buf_;
  std::u16string wide_;
  iconv_t cd_ = iconv_t(-1);
  iconv_t probe_ = iconv_t(-1);
  std::unordered_map<uint32_t, bool> known_;
};

/* Byte classes for escaping: bit 1 text, bit 2 attribute value, bit 4 non-ASCII. */
struct EscapeTable {
  uint8_t t[256];
  constexpr EscapeTable() : t() {
    t[uint8_t('&')] = 3;
    t[uint8_t('<')] = 3;
    t[uint8_t('>')] = 1;
    t[uint8_t('\r')] = 3;
    t[uint8_t('"')] = 2;
    t[uint8_t('\t')] = 2;
    t[uint8_t('\n')] = 2;
    for (int i = 0x80; i < 256; ++i) t[i] = 4;
  }
};
constexpr EscapeTable kEscape;

#if defined(__SSE2__)
/* The bytes of v the table marks for the classes m, as a bit mask. */
inline unsigned Special16(__m128i v, uint8_t m) {
  auto is = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  __m128i hit = _mm_or_si128(_mm_or_si128(is('&'), is('<')), is('\r'));
  if (m & 1) hit = _mm_or_si128(hit, is('>'));
  if (m & 2) hit = _mm_or_si128(_mm_or_si128(hit, is('"')), _mm_or_si128(is('\t'), is('\n')));
  unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
  if (m & 4) mask |= static_cast<unsigned>(_mm_movemask_epi8(v));  // non-ASCII
  return mask;
}
#endif

/* Copies the leading run of p[0, n) that the table leaves alone for the
   classes m to d (which has SaveBuffer::kSlack spare bytes past d[n - 1])
   and gives its length. Sixteen bytes are copied and tested a step; the
   last few are read as one block when that stays within p's page (most
   values are shorter than sixteen bytes), though the address and thread
   checkers would call the bytes past p's end out of bounds. */
__attribute__((no_sanitize("address", "thread"))) size_t CopyRun(const char* p, size_t n, char* d,
                                                                 uint8_t m) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
    if (const unsigned hit = Special16(v, m)) return i + static_cast<size_t>(__builtin_ctz(hit));
  }
  if (i < n && twxml::simd::SixteenOnOnePage(p + i)) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
    const unsigned hit = Special16(v, m) | (1u << (n - i));
    return i + static_cast<size_t>(__builtin_ctz(hit));
  }
#endif
  for (; i < n && !(kEscape.t[static_cast<unsigned char>(p[i])] & m); ++i) d[i] = p[i];
  return i;
}

uint32_t DecodeUtf8(const char* s, size_t n, size_t& i) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  uint32_t c = p[i];
  if (c < 0xE0 && i + 1 < n) {
    c = ((c & 0x1F) << 6) | (p[i + 1] & 0x3F);
    i += 2;
  } else if (c < 0xF0 && i + 2 < n) {
    c = ((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
    i += 3;
  } else if (i + 3 < n) {
    c = ((c & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) | ((p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
    i += 4;
  } else {
    ++i;
    c = 0xFFFD;
  }
  return c;
}

class Serializer {
 public:
  Serializer(Store* s, Encoder& enc) : s_(s), enc_(enc), out_(enc.buffer()) {
    mask_ = enc.checksRepertoire() ? 4 : 0;
    bindings_.push_back({"xml", kXmlUri8});
  }

  HRESULT run(uint32_t start) {
    if (start == kDocIndex) {
      for (uint32_t c = s_->firstChild(kDocIndex); c; c = s_->nextSibling(c)) {
        HRESULT hr = subtree(c);
        if (FAILED(hr)) return hr;
        out_.put("\r\n");
      }
      return maybeFlush();
    }
    if (s_->node(start).kind() == kFragment) {
      for (uint32_t c = s_->firstChild(start); c; c = s_->nextSibling(c)) {
        HRESULT hr = subtree(c);
        if (FAILED(hr)) return hr;
      }
      return S_OK;
    }
    return subtree(start);
  }

 private:
  struct Binding {
    std::string_view prefix;
    std::string_view uri;
  };

  HRESULT maybeFlush() { return out_.size() >= kFlushAt ? enc_.flush(false) : S_OK; }

  std::string_view lookup(std::string_view prefix) const {
    for (size_t i = bindings_.size(); i-- > 0;) {
      if (bindings_[i].prefix == prefix) return bindings_[i].uri;
    }
    return std::string_view();
  }

  /* Markup text (names, comments, PI data): characters outside the output
     encoding's repertoire cannot be escaped there. */
  HRESULT plain(std::string_view v) {
    if (mask_) {
      for (size_t i = 0; i < v.size();) {
        if (static_cast<unsigned char>(v[i]) < 0x80) {
          ++i;
          continue;
        }
        if (!enc_.canEncode(DecodeUtf8(v.data(), v.size(), i))) {
          return Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                      u"A name, comment or processing instruction holds a character the output encoding cannot hold.");
        }
      }
    }
    out_.put(v);
    return S_OK;
  }

  /* Character data with markup characters and characters outside the
     encoding replaced by references. bits: 1 text, 2 attribute value. */
  void escaped(std::string_view v, uint8_t bits) {
    const uint8_t m = uint8_t(bits | mask_);
    const char* p = v.data();
    const char* const end = p + v.size();
    while (p != end) {
      // In bounded steps, so the room asked for stays small for long texts.
      const size_t step = std::min(static_cast<size_t>(end - p), kRunStep);
      const size_t run = CopyRun(p, step, out_.room(step), m);
      out_.advance(run);
      p += run;
      if (p == end) break;
      const uint8_t cls = kEscape.t[static_cast<unsigned char>(*p)] & m;
      if (cls == 0) continue;  // the step ended, not the run
      if (cls & 4 && !(cls & 3)) {
        size_t i = 0;
        const uint32_t cp = DecodeUtf8(p, static_cast<size_t>(end - p), i);
        if (enc_.canEncode(cp)) {
          out_.put(std::string_view(p, i));
        } else {
          charRef(cp);
        }
        p += i;
        continue;
      }
      switch (*p) {
        case '&': out_.put("&amp;"); break;
        case '<': out_.put("&lt;"); break;
        case '>': out_.put("&gt;"); break;
        case '"': out_.put("&quot;"); break;
        case '\r': out_.put("&#13;"); break;
        case '\n': out_.put("&#10;"); break;
        case '\t': out_.put("&#9;"); break;
      }
      ++p;
    }
  }

  void charRef(uint32_t cp) {
    static const char kHex[] = "0123456789ABCDEF";
    char tmp[16];
    int k = 0;
    do {
      tmp[k++] = kHex[cp & 0xF];
      cp >>= 4;
    } while (cp);
    out_.put("&#x");
    while (k) out_.put(tmp[--k]);
    out_.put(';');
  }

  std::string_view qname(uint32_t i) const { return s_->name(s_->node(i).name()).qname8; }

  /* Start tag up to (not including) its closing '>' or '/>'. */
  HRESULT startTag(uint32_t k) {
    marks_.push_back(bindings_.size());
    const NameEntry& e = s_->name(s_->node(k).name());
    std::string_view q = e.qname8;
    out_.put('<');
    HRESULT hr = plain(q);
    if (FAILED(hr)) return hr;
    // Declarations the element carries itself.
    size_t own = bindings_.size();
    for (uint32_t a = s_->firstAttr(k); a; a = s_->nextSibling(a)) {
      const NameEntry& ae = s_->name(s_->node(a).name());
      if (s_->ns8(ae.ns) != kXmlnsUri8) continue;
      std::string_view p = ae.prefixLen8 ? std::string_view(ae.qname8).substr(ae.prefixLen8 + 1) : std::string_view();
      bindings_.push_back({p, s_->text8(a)});
    }
    size_t ownEnd = bindings_.size();
    auto declaredHere = [&](std::string_view p) {
      for (size_t b = own; b < ownEnd; ++b) {
        if (bindings_[b].prefix == p) return true;
      }
      return false;
    };
    auto fix = [&](std::string_view p, std::string_view uri) {
      if (p == "xml" || p == "xmlns") return;
      if (lookup(p) == uri || declaredHere(p)) return;
      for (size_t b = ownEnd; b < bindings_.size(); ++b) {
        if (bindings_[b].prefix == p) return;  // already fixed on this element
      }
      bindings_.push_back({p, uri});
    };
    std::string_view pfx = q.substr(0, e.prefixLen8);
    if (e.ns) {
      fix(pfx, s_->ns8(e.ns));
    } else if (pfx.empty() && !lookup("").empty() && !declaredHere("")) {
      bindings_.push_back({"", ""});
    }
    for (uint32_t a = s_->firstAttr(k); a; a = s_->nextSibling(a)) {
      const NameEntry& ae = s_->name(s_->node(a).name());
      if (!ae.ns || !ae.prefixLen8) continue;
      std::string_view uri = s_->ns8(ae.ns);
      if (uri == kXmlnsUri8 || uri == kXmlUri8) continue;
      fix(std::string_view(ae.qname8).substr(0, ae.prefixLen8), uri);
    }
    for (size_t b = ownEnd; b < bindings_.size(); ++b) {
      if (bindings_[b].prefix.empty()) {
        out_.put(" xmlns=\"");
      } else {
        out_.put(" xmlns:");
        hr = plain(bindings_[b].prefix);
        if (FAILED(hr)) return hr;
        out_.put("=\"");
      }
      escaped(bindings_[b].uri, 2);
      out_.put('"');
    }
    for (uint32_t a = s_->firstAttr(k); a; a = s_->nextSibling(a)) {
      out_.put(' ');
      hr = plain(qname(a));
      if (FAILED(hr)) return hr;
      out_.put("=\"");
      escaped(s_->text8(a), 2);
      out_.put('"');
    }
    return S_OK;
  }

  /* A CDATA section; "]]>" and characters outside the encoding close the
     section, and the latter go out as references between two sections. */
  void cdata(std::string_view v) {
    if (v.empty()) {
      out_.put("<![CDATA[]]>");
      return;
    }
    bool open = false;
    auto emit = [&](size_t from, size_t to) {
      if (from == to) return;
      if (!open) out_.put("<![CDATA[");
      open = true;
      out_.put(std::string_view(v.data() + from, to - from));
    };
    auto close = [&] {
      if (open) out_.put("]]>");
      open = false;
    };
    size_t run = 0;
    for (size_t i = 0; i < v.size();) {
      unsigned char c = static_cast<unsigned char>(v[i]);
      if (c == ']' && v.substr(i, 3) == "]]>") {
        emit(run, i + 2);
        close();
        i += 2;
        run = i;
        continue;
      }
      if (c < 0x80 || !mask_) {
        ++i;
        continue;
      }
      size_t start = i;
      uint32_t cp = DecodeUtf8(v.data(), v.size(), i);
      if (!enc_.canEncode(cp)) {
        emit(run, start);
        close();
        charRef(cp);
        run = i;
      }
    }
    emit(run, v.size());
    close();
  }

  void endScope() {
    bindings_.resize(marks_.back());
    marks_.pop_back();
  }

  HRESULT leaf(uint32_t k) {
    const NodeRec& r = s_->node(k);
    HRESULT hr = S_OK;
    switch (r.kind()) {
      case kText:
        escaped(s_->text8(k), 1);
        break;
      case kCData:
        cdata(s_->text8(k));
        break;
      case kComment:
        out_.put("<!--");
        hr = plain(s_->text8(k));
        out_.put("-->");
        break;
      case kPI: {
        out_.put("<?");
        hr = plain(qname(k));
        std::string_view d = s_->text8(k);
        if (SUCCEEDED(hr) && !d.empty()) {
          out_.put(' ');
          hr = plain(d);
        }
        out_.put("?>");
        break;
      }
      case kAttribute:
        hr = plain(qname(k));
        out_.put("=\"");
        escaped(s_->text8(k), 2);
        out_.put('"');
        break;
      default:
        break;
    }
    return hr;
  }

  HRESULT subtree(uint32_t start) {
    uint32_t k = start;
    for (;;) {
      const NodeRec& r = s_->node(k);
      if (r.kind() == kElement) {
        HRESULT hr = startTag(k);
        if (FAILED(hr)) return hr;
        if (r.el.firstChild) {
          out_.put('>');
          k = r.el.firstChild;
          continue;
        }
        out_.put("/>");
        endScope();
      } else {
        HRESULT hr = leaf(k);
        if (FAILED(hr)) return hr;
      }
      HRESULT hr = maybeFlush();
      if (FAILED(hr)) return hr;
      while (k != start && !s_->nextSibling(k)) {
        k = s_->node(k).parent;
        out_.put("</");
        out_.put(qname(k));
        out_.put('>');
        endScope();
      }
      if (k == start) return S_OK;
      k = s_->nextSibling(k);
    }
  }

  Store* s_;
  Encoder& enc_;
  SaveBuffer& out_;
  uint8_t mask_;
  std::vector<Binding> bindings_;
  std::vector<size_t> marks_;
};

/* Skips "name S? = S? 'value'" at data[i]; gives the value range. */
bool PseudoAttr(std::u16string_view d, size_t& i, std::u16string_view name, size_t* vs, size_t* ve) {
  if (d.substr(i, name.size()) != name) return false;
  size_t j = i + name.size();
  while (j < d.size() && IsSpace(d[j])) ++j;
  if (j >= d.size() || d[j] != '=') return false;
  ++j;
  while (j < d.size() && IsSpace(d[j])) ++j;
  if (j >= d.size() || (d[j] != '"' && d[j] != '\'')) return false;
  char16_t q = d[j++];
  size_t end = d.find(q, j);
  if (end == d.npos) return false;
  *vs = j;
  *ve = end;
  i = end + 1;
  return true;
}

}  // namespace

bool ParseXmlDecl(std::u16string_view d, std::u16string* encoding) {
  if (encoding) encoding->clear();
  size_t i = 0;
  while (i < d.size() && IsSpace(d[i])) ++i;
  size_t vs, ve;
  if (!PseudoAttr(d, i, u"version", &vs, &ve)) return false;
  std::u16string_view ver = d.substr(vs, ve - vs);
  if (ver.size() < 3 || ver.substr(0, 2) != u"1.") return false;
  for (char16_t c : ver.substr(2)) {
    if (c < '0' || c > '9') return false;
  }
  bool sawEncoding = false, sawStandalone = false;
  for (;;) {
    size_t j = i;
    while (j < d.size() && IsSpace(d[j])) ++j;
    if (j == d.size()) return true;
    if (j == i) return false;  // pseudo-attributes are separated by space
    i = j;
    if (!sawEncoding && !sawStandalone && PseudoAttr(d, i, u"encoding", &vs, &ve)) {
      std::u16string_view enc = d.substr(vs, ve - vs);
      if (enc.empty()) return false;
      for (size_t k = 0; k < enc.size(); ++k) {
        char16_t c = enc[k];
        bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alpha && (k == 0 || !((c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'))) return false;
      }
      if (encoding) encoding->assign(enc);
      sawEncoding = true;
    } else if (!sawStandalone && PseudoAttr(d, i, u"standalone", &vs, &ve)) {
      std::u16string_view sa = d.substr(vs, ve - vs);
      if (sa != u"yes" && sa != u"no") return false;
      sawStandalone = true;
    } else {
      return false;
    }
  }
}

bool FindDeclEncoding(std::u16string_view text, size_t* valueStart, size_t* valueEnd) {
  for (size_t i = text.find(u"encoding"); i != text.npos; i = text.find(u"encoding", i + 1)) {
    if (i == 0 || !IsSpace(text[i - 1])) continue;
    size_t j = i;
    if (PseudoAttr(text, j, u"encoding", valueStart, valueEnd)) return true;
  }
  return false;
}

HRESULT SaveDocument(Store* s, ByteSink& sink) {
  try {
    std::u16string encoding;
    uint32_t f = s->firstChild(kDocIndex);
    if (f && s->node(f).kind() == kPI && s->name(s->node(f).name()).isXmlDecl) {
      std::u16string data;
      s->appendText16(f, data);
      ParseXmlDecl(data, &encoding);
    }
    Encoder enc;
    HRESULT hr = enc.openBytes(&sink, encoding);
    if (FAILED(hr)) return hr;
    Serializer ser(s, enc);
    hr = ser.run(kDocIndex);
    if (FAILED(hr)) return hr;
    return enc.flush(true);
  } catch (const std::bad_alloc&) {
    return Fail(E_OUTOFMEMORY, u"Out of memory.");
  }
}

HRESULT SerializeToUtf16(Store* s, uint32_t i, std::u16string& out) {
  try {
    Encoder enc;
    enc.openString(&out);
    Serializer ser(s, enc);
    HRESULT hr = ser.run(i);
    if (FAILED(hr)) return hr;
    return enc.flush(true);
  } catch (const std::bad_alloc&) {
    return Fail(E_OUTOFMEMORY, u"Out of memory.");
  }
}

}  // namespace twdom
