#include "xml_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "output.h"
#include "xml_chars.h"

namespace twxml::xmlwriter {

namespace {

using u16view = std::u16string_view;

constexpr u16view kXmlNs = u"http://www.w3.org/XML/1998/namespace";
constexpr u16view kXmlnsNs = u"http://www.w3.org/2000/xmlns/";

// Bytes one UTF-16 unit can grow into in the UTF-8 composition buffer: an
// escape ("&quot;") or a character reference ("&#xFFFD;", "&#x10FFFF;" for a
// pair) at most. Space checks use this bound for every piece of text.
constexpr size_t kMaxPerUnit = 8;
// Room behind the buffer's nominal end: escapes are stored with one fixed
// 8-byte copy that may reach a few bytes past the room a call reserved.
constexpr size_t kSlack = 64;

// Length of zero-terminated UTF-16 text. The vector loop reads whole aligned
// 16-byte blocks (never across a page), which may lie partly outside the
// string: the address and thread sanitizers are told so.
__attribute__((no_sanitize("address", "thread"))) size_t len16(const char16_t* s) {
  if (!s) return 0;
#ifdef __SSE2__
  const uintptr_t addr = reinterpret_cast<uintptr_t>(s);
  if ((addr & 1) == 0) {
    const __m128i zero = _mm_setzero_si128();
    const char* block = reinterpret_cast<const char*>(addr & ~uintptr_t(15));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    mask &= ~0u << (addr & 15);
    while (mask == 0) {
      block += 16;
      mask = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    }
    return static_cast<size_t>(block + __builtin_ctz(mask) - reinterpret_cast<const char*>(s)) / 2;
  }
#endif
  const char16_t* p = s;
  while (*p) ++p;
  return static_cast<size_t>(p - s);
}

u16view view(const char16_t* s) { return s ? u16view(s, len16(s)) : u16view(); }

struct EscapeText {
  char text[8];
  uint8_t len;
};
constexpr EscapeText kEscapes[] = {{"", 0},       {"", 0},       {"&lt;", 4},
                                   {"&amp;", 5},  {"&gt;", 4},   {"&quot;", 6},
                                   {"&#x9;", 5},  {"&#xA;", 5},  {"&#xD;", 5}};

// Per ASCII character: 0 written as is, 1 not an XML character, otherwise the
// index of its escape in kEscapes.
struct ClassTable {
  uint8_t c[128];
};
constexpr ClassTable makeTable(int mode) {
  ClassTable t{};
  for (int i = 0; i < 128; ++i) t.c[i] = (i < 0x20 && i != 0x9 && i != 0xA && i != 0xD) ? 1 : 0;
  if (mode != 2) {
    t.c[static_cast<int>('<')] = 2;
    t.c[static_cast<int>('&')] = 3;
    t.c[static_cast<int>('>')] = 4;
    t.c[static_cast<int>('\r')] = 8;
  }
  if (mode == 1) {
    t.c[static_cast<int>('"')] = 5;
    t.c[static_cast<int>('\t')] = 6;
    t.c[static_cast<int>('\n')] = 7;
  }
  return t;
}
constexpr ClassTable kClassTables[3] = {makeTable(0), makeTable(1), makeTable(2)};

inline char* putUtf8(char* p, uint32_t cp) {
  if (cp < 0x800) {
    p[0] = static_cast<char>(0xC0 | (cp >> 6));
    p[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return p + 2;
  }
  if (cp < 0x10000) {
    p[0] = static_cast<char>(0xE0 | (cp >> 12));
    p[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    p[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return p + 3;
  }
  p[0] = static_cast<char>(0xF0 | (cp >> 18));
  p[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  p[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  p[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return p + 4;
}

inline char* putRef(char* p, uint32_t cp) {
  char tmp[8];
  int k = 0;
  do {
    tmp[k++] = "0123456789ABCDEF"[cp & 15];
    cp >>= 4;
  } while (cp);
  *p++ = '&';
  *p++ = '#';
  *p++ = 'x';
  while (k) *p++ = tmp[--k];
  *p++ = ';';
  return p;
}

// Names are checked before they are stored, so pairs are well formed here.
void appendUtf8(Arena<char>& out, u16view s) {
  // Most names are ASCII: one pass that narrows as it goes.
  char* p = out.extend(s.size());
  size_t i = 0;
  while (i < s.size() && s[i] < 0x80) {
    p[i] = static_cast<char>(s[i]);
    ++i;
  }
  if (i == s.size()) return;
  out.truncate(out.size() - (s.size() - i));
  for (; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c < 0x80) {
      *out.extend(1) = static_cast<char>(c);
      continue;
    }
    if (isHighSurrogate(c) && i + 1 < s.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    char tmp[4];
    char* e = putUtf8(tmp, c);
    out.append(tmp, static_cast<size_t>(e - tmp));
  }
}

bool allWhitespace(const char16_t* s, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!isXmlWhitespace(s[i])) return false;
  return true;
}

// ASCII name characters: 1 may start a name, 2 may follow.
struct NameTable {
  uint8_t c[128];
};
constexpr NameTable makeNameTable() {
  NameTable t{};
  for (int i = 0; i < 128; ++i) {
    const bool letter = (i >= 'a' && i <= 'z') || (i >= 'A' && i <= 'Z') || i == '_';
    const bool more = letter || (i >= '0' && i <= '9') || i == '-' || i == '.';
    t.c[i] = static_cast<uint8_t>((letter ? 1 : 0) | (more ? 2 : 0));
  }
  return t;
}
constexpr NameTable kNameTable = makeNameTable();

bool isNCName(u16view s) {
  if (s.empty()) return false;
  if (s[0] >= 0x80 || !(kNameTable.c[s[0]] & 1))
    return isValidName(s.data(), s.size(), NameKind::NCName);
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] >= 0x80 || !(kNameTable.c[s[i]] & 2))
      return isValidName(s.data(), s.size(), NameKind::NCName);
  }
  return true;
}

bool contains(u16view s, u16view what) { return s.find(what) != u16view::npos; }

bool equalsIgnoreAsciiCase(u16view s, const char* ascii) {
  size_t n = std::strlen(ascii);
  if (s.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(ascii[i])) return false;
  }
  return true;
}

bool isPubidChar(char16_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c == 0x20 || c == 0xD || c == 0xA || (c < 0x80 && std::strchr("-'()+,./:=?;!*#@$_%", c) && c);
}

}  // namespace

// ---- Life cycle and IUnknown ----------------------------------------------

XmlWriter::XmlWriter() : buf_(new char[kBufferSize + kSlack]) {
  setupClasses();
  stack_.reserve(64);
  names_.reserve(1024);
  bindings_.reserve(32);
  nsText_.reserve(512);
  attrs_.reserve(32);
  attrText_.reserve(512);
}

XmlWriter::~XmlWriter() {
  if (stream_) {
    if (!FAILED(broken_) && SUCCEEDED(flushBuffer())) sink_.finish(stream_);
    stream_->Release();
  }
}

HRESULT XmlWriter::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IXmlWriter) {
    AddRef();
    *out = static_cast<IXmlWriter*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG XmlWriter::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG XmlWriter::Release() {
  ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

void XmlWriter::setupClasses() {
  asciiPlain_ = sink_.reprLimit() >= 0x80;
  for (int m = 0; m < 3; ++m) {
    std::memcpy(classes_[m], kClassTables[m].c, 128);
    if (sink_.reprLimit() >= 0x80) continue;
    for (uint32_t c = 0; c < 0x80; ++c) {
      if (classes_[m][c] == 0 && !sink_.representable(c))
        classes_[m][c] = m == static_cast<int>(Esc::Verbatim) ? 1 : 9;
    }
  }
}

void XmlWriter::resetDocument() {
  mode_ = conformance_ == XmlConformanceLevel_Fragment ? Mode::Fragment
          : conformance_ == XmlConformanceLevel_Auto   ? Mode::Auto
                                                       : Mode::Document;
  started_ = anyOutput_ = rootStarted_ = doctypeDone_ = ended_ = tagOpen_ = topMixed_ = false;
  stack_.clear();
  names_.clear();
  bindings_.clear();
  nsText_.clear();
  attrs_.clear();
  attrIndex_.clear();
  attrText_.clear();
}

HRESULT XmlWriter::SetOutput(IUnknown* output) {
  return guarded([&]() -> HRESULT {
    if (stream_) {
      if (!FAILED(broken_) && SUCCEEDED(flushBuffer())) sink_.finish(stream_);
      stream_->Release();
      stream_ = nullptr;
    }
    sink_.close();
    setupClasses();
    pos_ = mark_ = 0;
    broken_ = S_OK;
    resetDocument();
    if (!output) return S_OK;

    void* impl = nullptr;
    if (SUCCEEDED(output->QueryInterface(IID_TwXmlWriterOutputImpl, &impl)) && impl) {
      auto* o = static_cast<XmlWriterOutput*>(static_cast<IUnknown*>(impl));
      struct Hold {  // given back however open() ends
        XmlWriterOutput* o;
        ~Hold() { o->Release(); }
      } hold{o};
      HRESULT hr = sink_.open(o->spec());
      if (SUCCEEDED(hr)) {
        stream_ = o->stream();
        stream_->AddRef();
      }
      setupClasses();
      return hr;
    }
    stream_ = queryStream(output);
    if (!stream_) return E_NOINTERFACE;
    HRESULT hr = sink_.open(EncodingSpec());
    setupClasses();
    return hr;
  });
}

HRESULT XmlWriter::GetProperty(UINT property, LONG_PTR* value) {
  if (!value) return E_INVALIDARG;
  switch (property) {
    case XmlWriterProperty_MultiLanguage: *value = multiLanguage_; return S_OK;
    case XmlWriterProperty_Indent: *value = indent_; return S_OK;
    case XmlWriterProperty_ByteOrderMark: *value = bom_; return S_OK;
    case XmlWriterProperty_OmitXmlDeclaration: *value = omitDecl_; return S_OK;
    case XmlWriterProperty_ConformanceLevel: *value = conformance_; return S_OK;
    default: return E_INVALIDARG;
  }
}

HRESULT XmlWriter::SetProperty(UINT property, LONG_PTR value) {
  switch (property) {
    case XmlWriterProperty_MultiLanguage: multiLanguage_ = value; return S_OK;
    case XmlWriterProperty_Indent: indent_ = value != 0; return S_OK;
    default: break;
  }
  // The rest shape the document from its first byte on.
  switch (property) {
    case XmlWriterProperty_ByteOrderMark:
      if (started_) return WR_E_INVALIDACTION;
      bom_ = value != 0;
      return S_OK;
    case XmlWriterProperty_OmitXmlDeclaration:
      if (started_) return WR_E_INVALIDACTION;
      omitDecl_ = value != 0;
      return S_OK;
    case XmlWriterProperty_ConformanceLevel:
      if (value < XmlConformanceLevel_Auto || value > XmlConformanceLevel_Document)
        return E_INVALIDARG;
      if (started_) return WR_E_INVALIDACTION;
      conformance_ = static_cast<XmlConformanceLevel>(value);
      resetDocument();
      return S_OK;
    default: return E_INVALIDARG;
  }
}

// ---- Output primitives ------------------------------------------------------

HRESULT XmlWriter::ready() const {
  if (!stream_) return E_UNEXPECTED;
  return broken_;
}

HRESULT XmlWriter::flushBuffer() {
  if (pos_ == 0) return S_OK;
  HRESULT hr = sink_.write(stream_, buf_.get(), pos_, bom_);
  pos_ = mark_ = 0;
  flushedInCall_ = true;
  if (FAILED(hr)) broken_ = hr;
  return hr;
}

// A call that composes at most `worst` bytes gets them in one piece, so that
// a refusal found half way can be taken back. Calls bigger than the buffer
// are streamed in pieces; their callers check the text first.
HRESULT XmlWriter::beginCall(size_t worst, bool* chunked) {
  *chunked = worst > kBufferSize;
  if (!*chunked && pos_ + worst > kBufferSize) {
    HRESULT hr = flushBuffer();
    if (FAILED(hr)) return hr;
  }
  flushedInCall_ = false;
  mark_ = pos_;
  return S_OK;
}

HRESULT XmlWriter::fail(HRESULT hr) {
  if (FAILED(broken_)) return broken_;
  if (!flushedInCall_) {
    pos_ = mark_;
  } else {
    // Part of the call already reached the stream: nothing more may follow.
    broken_ = hr;
  }
  return hr;
}

HRESULT XmlWriter::putAsciiSlow(const char* s, size_t n) {
  while (n > 0) {
    const size_t space = this->space();
    if (space == 0) {
      HRESULT hr = flushBuffer();
      if (FAILED(hr)) return hr;
      continue;
    }
    size_t k = std::min(space, n);
    std::memcpy(buf_.get() + pos_, s, k);
    pos_ += k;
    s += k;
    n -= k;
  }
  return S_OK;
}

HRESULT XmlWriter::putIndent(size_t depth) {
  static const char kSpaces[] = "\n                                                               ";
  HRESULT hr = putAscii(kSpaces, 1);
  size_t n = depth * 2;
  while (SUCCEEDED(hr) && n > 0) {
    size_t k = std::min(n, sizeof kSpaces - 2);
    hr = putAscii(kSpaces + 1, k);
    n -= k;
  }
  return hr;
}

HRESULT XmlWriter::putCharRef(uint32_t cp) {
  HRESULT hr = ensure(16);
  if (FAILED(hr)) return hr;
  char* p = putRef(buf_.get() + pos_, cp);
  pos_ = static_cast<size_t>(p - buf_.get());
  return S_OK;
}

// Escapes (per M), checks and encodes s[0..n) at p in one pass; the caller
// has made room for kMaxPerUnit bytes per unit. A surrogate pair must not be
// cut by n. Plain ASCII goes eight characters at a time. Returns the end of
// the output, or null with *hr set.
template <XmlWriter::Esc M>
inline char* XmlWriter::encodeText(const char16_t* s, size_t n, char* p, HRESULT* hr) {
  const uint8_t* table = classes_[static_cast<int>(M)];
  size_t i = 0;
  // One character that is not plain ASCII (or any character, for encodings
  // that lack some of ASCII).
  auto one = [&]() __attribute__((always_inline)) -> bool {
    uint32_t c = s[i++];
    if (c < 0x80) {
      const uint8_t k = table[c];
      if (k == 0) {
        *p++ = static_cast<char>(c);
      } else if (k == 1) {
        *hr = WR_E_INVALIDCHARACTER;
        return false;
      } else if (k == 9) {
        p = putRef(p, c);
      } else {
        std::memcpy(p, kEscapes[k].text, 8);
        p += kEscapes[k].len;
      }
      return true;
    }
    if (isSurrogate(c)) {
      if (c >= 0xDC00 || i >= n || !isLowSurrogate(s[i])) {
        *hr = WR_E_INVALIDSURROGATEPAIR;
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i] - 0xDC00u);
      ++i;
    } else if (c >= 0xFFFE) {
      *hr = WR_E_INVALIDCHARACTER;
      return false;
    }
    if (c >= sink_.reprLimit() && !sink_.representable(c)) {
      if (M == Esc::Verbatim) {
        *hr = WR_E_INVALIDCHARACTER;
        return false;
      }
      p = putRef(p, c);
      return true;
    }
    p = putUtf8(p, c);
    return true;
  };
#ifdef __SSE2__
  if (asciiPlain_) {
    const __m128i below = _mm_set1_epi16(0x20), above = _mm_set1_epi16(0x7E);
    while (i + 8 <= n) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      __m128i bad = _mm_or_si128(_mm_cmplt_epi16(v, below), _mm_cmpgt_epi16(v, above));
      if (M != Esc::Verbatim) {
        bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('<')));
        bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('&')));
        bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('>')));
        if (M == Esc::Attr) bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16('"')));
      }
      _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(bad));
      if (mask == 0) {
        p += 8;
        i += 8;
        continue;
      }
      const unsigned k = static_cast<unsigned>(__builtin_ctz(mask)) / 2;
      p += k;
      i += k;
      if (!one()) return nullptr;
    }
  }
#endif
  while (i < n) {
    const uint32_t c = s[i];
    if (c < 0x80 && table[c] == 0) {
      *p++ = static_cast<char>(c);
      ++i;
    } else if (!one()) {
      return nullptr;
    }
  }
  return p;
}

template <XmlWriter::Esc M>
HRESULT XmlWriter::putText(const char16_t* s, size_t n) {
  HRESULT hr = S_OK;
  if (pos_ + n * kMaxPerUnit <= kBufferSize) {
    char* end = encodeText<M>(s, n, buf_.get() + pos_, &hr);
    if (!end) return hr;
    pos_ = static_cast<size_t>(end - buf_.get());
    return S_OK;
  }
  // Longer than the room left: in pieces, never cutting a surrogate pair.
  size_t i = 0;
  while (i < n) {
    const size_t room = space() / kMaxPerUnit;
    if (room < 2) {
      hr = flushBuffer();
      if (FAILED(hr)) return hr;
      continue;
    }
    size_t stop = std::min(n, i + room);
    if (stop < n && isHighSurrogate(s[stop - 1])) --stop;
    char* end = encodeText<M>(s + i, stop - i, buf_.get() + pos_, &hr);
    if (!end) return hr;
    pos_ = static_cast<size_t>(end - buf_.get());
    i = stop;
  }
  return S_OK;
}

// A checked name: ASCII names (the usual case) are copied straight in.
HRESULT XmlWriter::putName(u16view name) {
  const size_t n = name.size();
  if (pos_ + n <= kBufferSize) {
    char* p = buf_.get() + pos_;
    size_t i = 0;
    while (i < n && name[i] < 0x80) {
      p[i] = static_cast<char>(name[i]);
      ++i;
    }
    if (i == n) {
      pos_ += n;
      return S_OK;
    }
  }
  return putText<Esc::Verbatim>(name.data(), n);
}

HRESULT XmlWriter::putQName(u16view prefix, u16view local) {
  HRESULT hr = S_OK;
  if (!prefix.empty()) {
    hr = putName(prefix);
    if (SUCCEEDED(hr)) hr = putAscii(":", 1);
  }
  if (SUCCEEDED(hr)) hr = putName(local);
  return hr;
}

HRESULT XmlWriter::putDecl(const Decl& d) {
  HRESULT hr = putAscii(" xmlns", 6);
  if (SUCCEEDED(hr) && !d.prefix.empty()) {
    hr = putAscii(":", 1);
    if (SUCCEEDED(hr)) hr = putName(d.prefix);
  }
  if (SUCCEEDED(hr)) hr = putAscii("=\"", 2);
  if (SUCCEEDED(hr)) hr = putText<Esc::Attr>(d.uri.data(), d.uri.size());
  if (SUCCEEDED(hr)) hr = putAscii("\"", 1);
  return hr;
}

// ---- Checks -------------------------------------------------------------------

HRESULT XmlWriter::checkChars(const char16_t* s, size_t n, bool verbatim) {
  const uint32_t limit = sink_.reprLimit();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (isSurrogate(c)) {
      if (c >= 0xDC00 || i + 1 >= n || !isLowSurrogate(s[i + 1])) return WR_E_INVALIDSURROGATEPAIR;
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (!isXmlChar(c)) {
      return WR_E_INVALIDCHARACTER;
    }
    if (verbatim && c >= limit && !sink_.representable(c)) return WR_E_INVALIDCHARACTER;
  }
  return S_OK;
}

HRESULT XmlWriter::checkNameChars(u16view name) {
  if (sink_.reprLimit() >= 0x110000) return S_OK;
  return checkChars(name.data(), name.size(), true);
}

// ---- Namespace scope ---------------------------------------------------------

bool XmlWriter::lookupPrefix(u16view prefix, u16view* uri) const {
  for (size_t i = bindings_.size(); i-- > 0;) {
    const Binding& b = bindings_[i];
    if (nsAt(b.prefixOff, b.prefixLen) == prefix) {
      *uri = nsAt(b.uriOff, b.uriLen);
      return true;
    }
  }
  if (prefix == u"xml") {
    *uri = kXmlNs;
    return true;
  }
  return false;
}

bool XmlWriter::lookupUri(u16view uri, u16view* prefix) const {
  for (size_t i = bindings_.size(); i-- > 0;) {
    const Binding& b = bindings_[i];
    if (b.prefixLen == 0 || nsAt(b.uriOff, b.uriLen) != uri) continue;
    u16view p = nsAt(b.prefixOff, b.prefixLen);
    u16view current;
    if (lookupPrefix(p, &current) && current == uri) {
      *prefix = p;
      return true;
    }
  }
  return false;
}

const XmlWriter::Binding* XmlWriter::ownBinding(u16view prefix) const {
  if (stack_.empty()) return nullptr;
  for (size_t i = stack_.back().bindStart; i < bindings_.size(); ++i) {
    const Binding& b = bindings_[i];
    if (nsAt(b.prefixOff, b.prefixLen) == prefix) return &b;
  }
  return nullptr;
}

// Whether an attribute of the open start tag has this prefix for another URI.
bool XmlWriter::attributeUsesPrefix(u16view prefix, u16view uri) const {
  if (prefix.empty()) return false;  // unprefixed attributes have no namespace
  for (const AttrKey& a : attrs_) {
    if (attrText_.view(a.prefixOff, a.prefixLen) == prefix &&
        attrText_.view(a.uriOff, a.uriLen) != uri)
      return true;
  }
  return false;
}

void XmlWriter::addBinding(u16view prefix, u16view uri, bool pinned) {
  Binding b;
  b.pinned = pinned;
  b.prefixLen = static_cast<uint32_t>(prefix.size());
  b.prefixOff = static_cast<uint32_t>(nsText_.append(prefix));
  b.uriLen = static_cast<uint32_t>(uri.size());
  b.uriOff = static_cast<uint32_t>(nsText_.append(uri));
  bindings_.push_back(b);
}

inline void XmlWriter::popElement() {
  const Frame& f = stack_.back();
  if (bindings_.size() > f.bindStart) bindings_.resize(f.bindStart);
  nsText_.truncate(f.nsTextStart);
  names_.truncate(f.nameOff);
  stack_.pop_back();
  attrs_.clear();
  attrIndex_.clear();
  attrText_.clear();
}

// ---- Calls --------------------------------------------------------------------

HRESULT XmlWriter::WriteStartDocument(XmlStandalone standalone) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    // Callers across the module boundary may pass any number: look at it as one.
    int sa;
    static_assert(sizeof sa == sizeof standalone);
    std::memcpy(&sa, &standalone, sizeof sa);
    if (sa < XmlStandalone_Omit || sa > XmlStandalone_No) return E_INVALIDARG;
    if (started_ || mode_ == Mode::Fragment) return WR_E_INVALIDACTION;
    mode_ = Mode::Document;
    if (!omitDecl_) {
      bool chunked;
      hr = beginCall(128, &chunked);
      if (FAILED(hr)) return hr;
      std::string decl = "<?xml version=\"1.0\" encoding=\"";
      decl += sink_.spec().declName;
      decl += '"';
      if (sa == XmlStandalone_Yes) decl += " standalone=\"yes\"";
      if (sa == XmlStandalone_No) decl += " standalone=\"no\"";
      decl += "?>";
      hr = putAscii(decl);
      if (FAILED(hr)) return fail(hr);
      anyOutput_ = true;
    }
    started_ = true;
    return S_OK;
  });
}

HRESULT XmlWriter::WriteDocType(LPCWSTR name, LPCWSTR publicId, LPCWSTR systemId,
                                LPCWSTR subset) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (ended_ || mode_ == Mode::Fragment || rootStarted_ || doctypeDone_)
      return WR_E_INVALIDACTION;
    u16view n = view(name), pub = view(publicId), sys = view(systemId), sub = view(subset);
    if (!isValidName(n.data(), n.size(), NameKind::Name)) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkNameChars(n))) return hr;
    if (publicId) {
      if (!systemId) return E_INVALIDARG;
      for (char16_t c : pub)
        if (!isPubidChar(c)) return WR_E_INVALIDCHARACTER;
      if (FAILED(hr = checkChars(pub.data(), pub.size(), true))) return hr;
    }
    if (contains(sys, u"\"") && contains(sys, u"'")) return WR_E_INVALIDCHARACTER;
    if (FAILED(hr = checkChars(sys.data(), sys.size(), true))) return hr;
    if (FAILED(hr = checkChars(sub.data(), sub.size(), true))) return hr;
    const char* q = contains(sys, u"\"") ? "'" : "\"";

    const bool ind = indent_ && anyOutput_;
    bool chunked;
    hr = beginCall(64 + (n.size() + pub.size() + sys.size() + sub.size()) * kMaxPerUnit, &chunked);
    if (FAILED(hr)) return hr;
    if (ind) hr = putIndent(0);
    if (SUCCEEDED(hr)) hr = putAscii("<!DOCTYPE ");
    if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(n.data(), n.size());
    if (SUCCEEDED(hr) && publicId) {
      hr = putAscii(" PUBLIC \"");
      if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(pub.data(), pub.size());
      if (SUCCEEDED(hr)) hr = putAscii("\"");
    } else if (SUCCEEDED(hr) && systemId) {
      hr = putAscii(" SYSTEM");
    }
    if (SUCCEEDED(hr) && systemId) {
      hr = putAscii(" ");
      if (SUCCEEDED(hr)) hr = putAscii(q, 1);
      if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(sys.data(), sys.size());
      if (SUCCEEDED(hr)) hr = putAscii(q, 1);
    }
    if (SUCCEEDED(hr) && subset) {
      hr = putAscii(" [");
      if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(sub.data(), sub.size());
      if (SUCCEEDED(hr)) hr = putAscii("]");
    }
    if (SUCCEEDED(hr)) hr = putAscii(">");
    if (FAILED(hr)) return fail(hr);
    if (mode_ == Mode::Auto) mode_ = Mode::Document;
    doctypeDone_ = started_ = anyOutput_ = true;
    return S_OK;
  });
}

HRESULT XmlWriter::WriteStartElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri) {
  return guarded([&] { return startElement(prefix, localName, namespaceUri); });
}

HRESULT XmlWriter::startElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri) {
  HRESULT hr = ready();
  if (FAILED(hr)) return hr;
  if (ended_) return WR_E_INVALIDACTION;
  if (stack_.empty()) {
    resolveAuto();
    if (mode_ == Mode::Document && rootStarted_) return WR_E_INVALIDACTION;
  }
  const u16view local = view(localName);
  if (!isNCName(local)) return WR_E_INVALIDNAME;
  const bool hasP = prefix && *prefix;
  const u16view p = view(prefix);
  if (hasP && !isNCName(p)) return WR_E_INVALIDNAME;
  if (FAILED(hr = checkNameChars(local)) || FAILED(hr = checkNameChars(p))) return hr;
  const bool hasU = namespaceUri != nullptr;
  const u16view uri = view(namespaceUri);

  // Which prefix the element uses, what it must declare, and which
  // inherited binding it relies on (pinned so that this start tag cannot
  // rebind it).
  u16view use = p;
  bool needDecl = false;
  Decl decl{};
  bool pin = false;
  u16view pinPrefix, pinUri;
  if (hasP && p == u"xmlns") return WR_E_XMLNSPREFIXDECLARATION;
  if (hasU && uri == kXmlnsNs) return WR_E_XMLNSURIDECLARATION;
  if (hasP && p == u"xml") {
    if (hasU && uri != kXmlNs) return WR_E_XMLPREFIXDECLARATION;
  } else if (hasU && uri == kXmlNs) {
    if (hasP) return WR_E_XMLURIDECLARATION;
    use = u"xml";
  } else if (!hasU) {
    if (hasP) {
      u16view cur;
      if (!lookupPrefix(p, &cur)) return WR_E_NAMESPACEUNDECLARED;
      pin = true;
      pinPrefix = p;
      pinUri = cur;
    }
  } else if (uri.empty()) {
    if (hasP) return WR_E_NSPREFIXWITHEMPTYNSURI;
    u16view def;
    if (lookupPrefix(u"", &def) && !def.empty()) {
      needDecl = true;
      decl = {u"", u""};
    } else {
      pin = true;
    }
  } else if (hasP) {
    u16view cur;
    if (lookupPrefix(p, &cur) && cur == uri) {
      pin = true;
      pinPrefix = p;
      pinUri = uri;
    } else {
      needDecl = true;
      decl = {p, uri};
    }
  } else {
    u16view def, found;
    if (lookupPrefix(u"", &def) && def == uri) {
      pin = true;
      pinUri = uri;
    } else if (!prefix && lookupUri(uri, &found)) {
      use = found;
      pin = true;
      pinPrefix = found;
      pinUri = uri;
    } else {
      needDecl = true;
      decl = {u"", uri};
    }
  }

  const size_t nameOff = names_.size();
  if (!use.empty()) {
    appendUtf8(names_, use);
    *names_.extend(1) = ':';
  }
  appendUtf8(names_, local);
  const size_t nameLen = names_.size() - nameOff;

  const size_t depth = stack_.size();
  const bool ind = indent_ && anyOutput_ && !(depth > 0 && stack_.back().mixed);
  size_t worst = 2 + (ind ? 1 + 2 * depth : 0) + nameLen;
  if (needDecl) worst += 16 + (decl.prefix.size() + decl.uri.size()) * kMaxPerUnit;
  bool chunked;
  if (worst > kBufferSize && needDecl && FAILED(hr = checkChars(decl.uri.data(), decl.uri.size(), false))) {
    names_.truncate(nameOff);
    return hr;
  }
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr) && ind) hr = putIndent(depth);
  if (SUCCEEDED(hr)) hr = putAscii("<", 1);
  if (SUCCEEDED(hr)) hr = putAscii(names_.data() + nameOff, nameLen);
  if (SUCCEEDED(hr) && needDecl) hr = putDecl(decl);
  if (FAILED(hr)) {
    names_.truncate(nameOff);
    return fail(hr);
  }

  // Copy the pinned binding before the new frame can move nsText_.
  if (pin) {
    scratchPrefix_.assign(pinPrefix);
    scratch_.assign(pinUri);
  }
  const bool parentMixed = depth > 0 && stack_.back().mixed;
  if (depth > 0) stack_.back().hasMarkup = true;
  stack_.push_back(Frame{static_cast<uint32_t>(nameOff), static_cast<uint32_t>(nameLen),
                         static_cast<uint32_t>(bindings_.size()),
                         static_cast<uint32_t>(nsText_.size()), false, parentMixed});
  if (needDecl) addBinding(decl.prefix, decl.uri);
  if (pin) addBinding(scratchPrefix_, scratch_, true);
  attrs_.clear();
  attrIndex_.clear();
  attrText_.clear();
  tagOpen_ = true;
  if (depth == 0) rootStarted_ = true;
  started_ = anyOutput_ = true;
  return S_OK;
}

HRESULT XmlWriter::WriteAttributeString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                                        LPCWSTR value) {
  return guarded([&] { return attribute(prefix, localName, namespaceUri, value); });
}

HRESULT XmlWriter::attribute(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                             LPCWSTR value) {
  HRESULT hr = ready();
  if (FAILED(hr)) return hr;
  if (!tagOpen_) return WR_E_INVALIDACTION;
  const u16view local = view(localName);
  if (!isNCName(local)) return WR_E_INVALIDNAME;
  const bool hasP = prefix && *prefix;
  const u16view p = view(prefix);
  if (hasP && !isNCName(p)) return WR_E_INVALIDNAME;
  if (FAILED(hr = checkNameChars(local)) || FAILED(hr = checkNameChars(p))) return hr;
  const bool hasU = namespaceUri && *namespaceUri;
  const bool emptyU = namespaceUri && !*namespaceUri;
  const u16view uri = view(namespaceUri);
  const u16view val = view(value);

  // Namespace declarations written as attributes.
  if (hasP && p == u"xmlns") {
    if (hasU && uri != kXmlnsNs) return WR_E_XMLNSPREFIXDECLARATION;
    if (local == u"xmlns") return WR_E_XMLNSPREFIXDECLARATION;
    return declaration(local, val);
  }
  if (!hasP && ((local == u"xmlns" && !hasU) || uri == kXmlnsNs))
    return declaration(local == u"xmlns" ? u16view() : local, val);
  if (uri == kXmlnsNs) return WR_E_XMLNSURIDECLARATION;

  // An ordinary attribute: its namespace and the prefix that carries it.
  u16view use = p, attrUri;
  bool needDecl = false;
  Decl decl{};
  char16_t generated[16];
  if (hasP && p == u"xml") {
    if (hasU && uri != kXmlNs) return WR_E_XMLPREFIXDECLARATION;
    attrUri = kXmlNs;
  } else if (hasU && uri == kXmlNs) {
    if (hasP) return WR_E_XMLURIDECLARATION;
    use = u"xml";
    attrUri = kXmlNs;
  } else if (emptyU) {
    if (hasP) return WR_E_NSPREFIXWITHEMPTYNSURI;
  } else if (!hasU) {
    if (hasP) {
      if (!lookupPrefix(p, &attrUri) || attrUri.empty()) return WR_E_NAMESPACEUNDECLARED;
    }
  } else if (hasP) {
    attrUri = uri;
    u16view cur;
    if (lookupPrefix(p, &cur) && cur == uri) {
      // in scope already
    } else if (ownBinding(p) || attributeUsesPrefix(p, uri)) {
      return WR_E_NSPREFIXDECLARED;
    } else {
      needDecl = true;
      decl = {p, uri};
    }
  } else {
    attrUri = uri;
    if (lookupUri(uri, &use)) {
      // in scope already
    } else {
      // Unprefixed attributes are in no namespace: invent a prefix.
      u16view dummy;
      for (unsigned k = 1;; ++k) {
        char digits[12];
        int nd = std::snprintf(digits, sizeof digits, "%u", k);
        generated[0] = u'n';
        generated[1] = u's';
        for (int d = 0; d < nd; ++d) generated[2 + d] = static_cast<char16_t>(digits[d]);
        use = u16view(generated, 2 + static_cast<size_t>(nd));
        if (!lookupPrefix(use, &dummy)) break;
      }
      needDecl = true;
      decl = {use, uri};
    }
  }

  const uint32_t keyHash = twxml::writer::AttrIndex::hashOf(local, attrUri);
  if (attrIndex_.find(keyHash, [&](size_t i) {
        const AttrKey& a = attrs_[i];
        return attrText_.view(a.localOff, a.localLen) == local &&
               attrText_.view(a.uriOff, a.uriLen) == attrUri;
      }) >= 0)
    return WR_E_DUPLICATEATTRIBUTE;
  // A copy keeps what the document says (other values are not an error in
  // a document, only when they are declared).
  if (attrUri == kXmlNs && local == u"space" && val != u"default" && val != u"preserve" && !copying_)
    return WR_E_INVALIDXMLSPACE;

  size_t worst = 8 + (use.size() + local.size() + val.size()) * kMaxPerUnit;
  if (needDecl) worst += 16 + (decl.prefix.size() + decl.uri.size()) * kMaxPerUnit;
  if (worst > kBufferSize) {
    if (needDecl && FAILED(hr = checkChars(decl.uri.data(), decl.uri.size(), false))) return hr;
    if (FAILED(hr = checkChars(val.data(), val.size(), false))) return hr;
  }
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && needDecl) hr = putDecl(decl);
  if (SUCCEEDED(hr)) hr = putAscii(" ", 1);
  if (SUCCEEDED(hr)) hr = putQName(use, local);
  if (SUCCEEDED(hr)) hr = putAscii("=\"", 2);
  if (SUCCEEDED(hr)) hr = putText<Esc::Attr>(val.data(), val.size());
  if (SUCCEEDED(hr)) hr = putAscii("\"", 1);
  if (FAILED(hr)) return fail(hr);

  AttrKey key;
  key.uriLen = static_cast<uint32_t>(attrUri.size());
  key.uriOff = static_cast<uint32_t>(attrText_.append(attrUri));
  key.localLen = static_cast<uint32_t>(local.size());
  key.localOff = static_cast<uint32_t>(attrText_.append(local));
  key.prefixLen = static_cast<uint32_t>(use.size());
  key.prefixOff = static_cast<uint32_t>(attrText_.append(use));
  attrs_.push_back(key);
  attrIndex_.add(keyHash);
  if (needDecl) addBinding(decl.prefix, decl.uri);
  return S_OK;
}

// An explicit declaration: written unless the same binding is in scope.
HRESULT XmlWriter::declaration(u16view prefix, u16view uri) {
  if (prefix == u"xmlns") return WR_E_XMLNSPREFIXDECLARATION;
  if (prefix == u"xml") return uri == kXmlNs ? S_OK : WR_E_XMLPREFIXDECLARATION;
  if (uri == kXmlNs) return WR_E_XMLURIDECLARATION;
  if (uri == kXmlnsNs) return WR_E_XMLNSURIDECLARATION;
  if (!prefix.empty() && uri.empty()) return WR_E_NSPREFIXWITHEMPTYNSURI;
  const Binding* own = ownBinding(prefix);
  if (own && nsAt(own->uriOff, own->uriLen) != uri) return WR_E_NSPREFIXDECLARED;
  // A copy writes a declaration that its element so far only relied on.
  if (own && !(copying_ && own->pinned)) return S_OK;
  // An attribute already written with this prefix keeps its namespace.
  if (attributeUsesPrefix(prefix, uri)) return WR_E_NSPREFIXDECLARED;
  u16view cur;
  bool inScope = lookupPrefix(prefix, &cur) ? cur == uri : uri.empty();
  if (inScope && !copying_) {
    addBinding(prefix, uri);
    return S_OK;
  }
  HRESULT hr;
  size_t worst = 16 + (prefix.size() + uri.size()) * kMaxPerUnit;
  if (worst > kBufferSize && FAILED(hr = checkChars(uri.data(), uri.size(), false))) return hr;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr)) hr = putDecl(Decl{prefix, uri});
  if (FAILED(hr)) return fail(hr);
  if (!own) addBinding(prefix, uri);
  return S_OK;
}

HRESULT XmlWriter::WriteEndElement() {
  return readyCall([&] { return writeEnd(false); });
}

HRESULT XmlWriter::WriteFullEndElement() {
  return readyCall([&] { return writeEnd(true); });
}

HRESULT XmlWriter::writeEnd(bool full) {
  if (stack_.empty()) return WR_E_INVALIDACTION;
  const Frame& f = stack_.back();
  const size_t depth = stack_.size() - 1;
  const bool ind = indent_ && !tagOpen_ && !f.mixed && f.hasMarkup;
  bool chunked;
  HRESULT hr = beginCall(8 + (ind ? 1 + 2 * depth : 0) + f.nameLen, &chunked);
  if (SUCCEEDED(hr)) {
    if (tagOpen_ && !full) {
      hr = putAscii("/>", 2);
    } else {
      if (tagOpen_) hr = closeStartTag();
      if (SUCCEEDED(hr) && ind) hr = putIndent(depth);
      if (SUCCEEDED(hr)) hr = putAscii("</", 2);
      if (SUCCEEDED(hr)) hr = putAscii(names_.data() + f.nameOff, f.nameLen);
      if (SUCCEEDED(hr)) hr = putAscii(">", 1);
    }
  }
  if (FAILED(hr)) return fail(hr);
  tagOpen_ = false;
  popElement();
  return S_OK;
}

HRESULT XmlWriter::WriteEndDocument() {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (ended_) return WR_E_INVALIDACTION;
    if (mode_ == Mode::Document && !rootStarted_) return WR_E_INVALIDACTION;
    while (!stack_.empty()) {
      hr = writeEnd(false);
      if (FAILED(hr)) return hr;
    }
    ended_ = true;
    hr = flushBuffer();
    if (SUCCEEDED(hr)) hr = sink_.finish(stream_);
    if (FAILED(hr)) broken_ = hr;
    return hr;
  });
}

// Text-like content: closes an open start tag, marks the element as holding
// text (so indentation stays out of it) and writes the escaped text.
HRESULT XmlWriter::writeTextLike(const char16_t* s, size_t n, Esc esc, bool markMixed) {
  const size_t worst = 2 + n * kMaxPerUnit;
  HRESULT hr;
  if (worst > kBufferSize && FAILED(hr = checkChars(s, n, esc == Esc::Verbatim))) return hr;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr)) {
    switch (esc) {
      case Esc::Text: hr = putText<Esc::Text>(s, n); break;
      case Esc::Attr: hr = putText<Esc::Attr>(s, n); break;
      case Esc::Verbatim: hr = putText<Esc::Verbatim>(s, n); break;
    }
  }
  if (FAILED(hr)) return fail(hr);
  tagOpen_ = false;
  if (n > 0) {
    if (markMixed && !stack_.empty()) stack_.back().mixed = true;
    if (markMixed && stack_.empty()) topMixed_ = true;
    started_ = anyOutput_ = true;
  }
  return S_OK;
}

HRESULT XmlWriter::checkContentAllowed() {
  if (ended_) return WR_E_INVALIDACTION;
  if (stack_.empty()) {
    resolveAuto();
    if (mode_ == Mode::Document) return WR_E_INVALIDACTION;
  }
  return S_OK;
}

HRESULT XmlWriter::WriteString(LPCWSTR text) {
  return guarded([&] { return contentCall(text, len16(text), false); });
}

HRESULT XmlWriter::WriteChars(const WCHAR* chars, UINT count) {
  return charsCall(chars, count, false);
}

HRESULT XmlWriter::charsCall(const WCHAR* chars, UINT count, bool raw) {
  return guarded([&]() -> HRESULT {
    if (!chars && count) return E_INVALIDARG;
    return contentCall(chars, count, raw);
  });
}

// Text (escaped) or raw markup (verbatim) at the current position.
HRESULT XmlWriter::contentCall(const char16_t* s, size_t n, bool raw) {
  HRESULT hr = ready();
  if (FAILED(hr)) return hr;
  if (ended_) return WR_E_INVALIDACTION;
  if (stack_.empty()) {
    resolveAuto();
    if (!raw && mode_ == Mode::Document) {
      // Only white space can stand outside the root element.
      if (!allWhitespace(s, n)) return WR_E_INVALIDACTION;
      return writeTextLike(s, n, Esc::Verbatim, false);
    }
  }
  return writeTextLike(s, n, raw ? Esc::Verbatim : Esc::Text, true);
}

HRESULT XmlWriter::WriteWhitespace(LPCWSTR whitespace) {
  return readyCall([&]() -> HRESULT {
    const u16view ws = view(whitespace);
    if (!allWhitespace(ws.data(), ws.size())) return WR_E_NONWHITESPACE;
    if (ended_) return WR_E_INVALIDACTION;
    if (stack_.empty()) resolveAuto();
    // Inside an element the white space is character data: a carriage
    // return goes as a reference, or it would be read back as a line feed.
    return writeTextLike(ws.data(), ws.size(), stack_.empty() ? Esc::Verbatim : Esc::Text,
                         !stack_.empty());
  });
}

HRESULT XmlWriter::WriteRaw(LPCWSTR data) {
  return guarded([&] { return contentCall(data, len16(data), true); });
}

HRESULT XmlWriter::WriteRawChars(const WCHAR* chars, UINT count) {
  return charsCall(chars, count, true);
}

HRESULT XmlWriter::WriteCData(LPCWSTR text) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (FAILED(hr = checkContentAllowed())) return hr;
    const u16view t = view(text);
    // Each unit may also cost a section break (below).
    const size_t worst = 16 + t.size() * (kMaxPerUnit + 17);
    if (worst > kBufferSize && FAILED(hr = checkChars(t.data(), t.size(), true))) return hr;
    bool chunked;
    hr = beginCall(worst, &chunked);
    if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
    if (SUCCEEDED(hr)) hr = putAscii("<![CDATA[");
    // "]]>" cannot stand inside a section: end it after "]]" and open the
    // next one before ">". A carriage return would be read back as a line
    // feed: it stands between two sections as a character reference.
    size_t i = 0;
    while (SUCCEEDED(hr)) {
      const size_t j = t.find_first_of(u"]\r", i);
      if (j == u16view::npos) break;
      if (t[j] == u'\r') {
        hr = putText<Esc::Verbatim>(t.data() + i, j - i);
        if (SUCCEEDED(hr)) hr = putAscii("]]>&#xD;<![CDATA[");
        i = j + 1;
      } else if (t.substr(j, 3) == u"]]>") {
        hr = putText<Esc::Verbatim>(t.data() + i, j + 2 - i);
        if (SUCCEEDED(hr)) hr = putAscii("]]><![CDATA[");
        i = j + 2;
      } else {
        hr = putText<Esc::Verbatim>(t.data() + i, j + 1 - i);
        i = j + 1;
      }
    }
    if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(t.data() + i, t.size() - i);
    if (SUCCEEDED(hr)) hr = putAscii("]]>");
    if (FAILED(hr)) return fail(hr);
    tagOpen_ = false;
    if (!stack_.empty()) stack_.back().mixed = true;
    else topMixed_ = true;
    started_ = anyOutput_ = true;
    return S_OK;
  });
}

// open first [sep second] close, with the pieces already checked.
HRESULT XmlWriter::putPieces(std::string_view open, u16view first, std::string_view sep,
                             u16view second, std::string_view close) {
  HRESULT hr = putAscii(open);
  if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(first.data(), first.size());
  if (SUCCEEDED(hr) && !second.empty()) {
    hr = putAscii(sep);
    if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(second.data(), second.size());
  }
  if (SUCCEEDED(hr)) hr = putAscii(close);
  return hr;
}

// Markup written as a node of its own (comment, processing instruction):
// indented like an element. `second`, when not empty, follows `sep`.
HRESULT XmlWriter::writeNodeMarkup(std::string_view open, u16view first, std::string_view sep,
                                   u16view second, std::string_view close) {
  const size_t depth = stack_.size();
  const bool mixed = depth > 0 ? stack_.back().mixed : topMixed_;
  const bool ind = indent_ && anyOutput_ && !mixed;
  const size_t worst = 8 + (ind ? 1 + 2 * depth : 0) + open.size() + sep.size() + close.size() +
                       (first.size() + second.size()) * kMaxPerUnit;
  HRESULT hr;
  if (worst > kBufferSize && (FAILED(hr = checkChars(first.data(), first.size(), true)) ||
                              FAILED(hr = checkChars(second.data(), second.size(), true))))
    return hr;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr) && ind) hr = putIndent(depth);
  if (SUCCEEDED(hr)) hr = putPieces(open, first, sep, second, close);
  if (FAILED(hr)) return fail(hr);
  tagOpen_ = false;
  if (depth > 0) stack_.back().hasMarkup = true;
  started_ = anyOutput_ = true;
  return S_OK;
}

HRESULT XmlWriter::WriteComment(LPCWSTR comment) {
  return readyCall([&]() -> HRESULT {
    if (ended_) return WR_E_INVALIDACTION;
    const u16view c = view(comment);
    if (contains(c, u"--") || (!c.empty() && c.back() == u'-')) return WR_E_INVALIDCHARACTER;
    if (stack_.empty()) resolveAuto();
    return writeNodeMarkup("<!--", c, "", u16view(), "-->");
  });
}

HRESULT XmlWriter::WriteProcessingInstruction(LPCWSTR name, LPCWSTR text) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (ended_) return WR_E_INVALIDACTION;
    const u16view target = view(name), t = view(text);
    if (!isNCName(target) || equalsIgnoreAsciiCase(target, "xml")) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkNameChars(target))) return hr;
    if (contains(t, u"?>")) return WR_E_INVALIDCHARACTER;
    if (stack_.empty()) resolveAuto();
    return writeNodeMarkup("<?", target, " ", t, "?>");
  });
}

// After a piece of character content: the start tag is closed and the
// enclosing element (or the top level) now holds mixed content.
void XmlWriter::markedMixed() {
  tagOpen_ = false;
  if (!stack_.empty()) stack_.back().mixed = true;
  else topMixed_ = true;
  started_ = anyOutput_ = true;
}

// Content made of checked names: entity references and name tokens.
HRESULT XmlWriter::writeNamePieces(std::string_view open, u16view first, std::string_view sep,
                                   u16view second, std::string_view close) {
  HRESULT hr;
  if (FAILED(hr = checkNameChars(first)) || FAILED(hr = checkNameChars(second))) return hr;
  const size_t worst = 8 + open.size() + sep.size() + close.size() +
                       (first.size() + second.size()) * kMaxPerUnit;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr)) hr = putPieces(open, first, sep, second, close);
  if (FAILED(hr)) return fail(hr);
  markedMixed();
  return S_OK;
}

HRESULT XmlWriter::WriteEntityRef(LPCWSTR name) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view n = view(name);
    if (!isNCName(n)) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkContentAllowed())) return hr;
    // Other entities would need a declaration, which only a DTD can carry.
    const bool predefined = n == u"lt" || n == u"gt" || n == u"amp" || n == u"quot" || n == u"apos";
    if (!predefined && !doctypeDone_) return WR_E_INVALIDACTION;
    return writeNamePieces("&", n, "", u16view(), ";");
  });
}

HRESULT XmlWriter::WriteName(LPCWSTR name) { return nameCall(name, false); }

HRESULT XmlWriter::WriteNmToken(LPCWSTR nmToken) { return nameCall(nmToken, true); }

// A Name, or with token set an Nmtoken, as character content.
HRESULT XmlWriter::nameCall(LPCWSTR name, bool token) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view n = view(name);
    const NameKind kind = token ? NameKind::NmToken : NameKind::Name;
    if (!isValidName(n.data(), n.size(), kind)) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkContentAllowed())) return hr;
    return writeNamePieces("", n, "", u16view(), "");
  });
}

HRESULT XmlWriter::WriteQualifiedName(LPCWSTR localName, LPCWSTR namespaceUri) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view local = view(localName), uri = view(namespaceUri);
    if (!isNCName(local)) return WR_E_INVALIDNAME;
    u16view prefix;
    if (!uri.empty()) {
      u16view def;
      if (!(lookupPrefix(u"", &def) && def == uri) && !lookupUri(uri, &prefix)) {
        if (uri != kXmlNs) return WR_E_NAMESPACEUNDECLARED;
        prefix = u"xml";
      }
    }
    if (FAILED(hr = checkContentAllowed())) return hr;
    if (prefix.empty()) return writeNamePieces("", local, "", u16view(), "");
    scratch_.assign(prefix);
    return writeNamePieces("", scratch_, ":", local, "");
  });
}

HRESULT XmlWriter::writeCharRefCall(uint32_t cp) {
  HRESULT hr = checkContentAllowed();
  if (FAILED(hr)) return hr;
  bool chunked;
  hr = beginCall(24, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr)) hr = putCharRef(cp);
  if (FAILED(hr)) return fail(hr);
  markedMixed();
  return S_OK;
}

HRESULT XmlWriter::WriteCharEntity(WCHAR ch) {
  return readyCall([&]() -> HRESULT {
    if (isSurrogate(ch)) return WR_E_INVALIDSURROGATEPAIR;
    if (!isXmlChar(ch)) return WR_E_INVALIDCHARACTER;
    return writeCharRefCall(ch);
  });
}

HRESULT XmlWriter::WriteSurrogateCharEntity(WCHAR lowChar, WCHAR highChar) {
  return readyCall([&]() -> HRESULT {
    if (!isHighSurrogate(highChar) || !isLowSurrogate(lowChar)) return WR_E_INVALIDSURROGATEPAIR;
    return writeCharRefCall(0x10000 + ((highChar - 0xD800u) << 10) + (lowChar - 0xDC00u));
  });
}

HRESULT XmlWriter::WriteElementString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                                      LPCWSTR value) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view v = view(value);
    // Checked first so that a bad value leaves no start tag behind.
    if (value && FAILED(hr = checkChars(v.data(), v.size(), false))) return hr;
    hr = startElement(prefix, localName, namespaceUri);
    if (FAILED(hr)) return hr;
    if (value) {
      hr = writeTextLike(v.data(), v.size(), Esc::Text, true);
      if (FAILED(hr)) return hr;
    }
    return writeEnd(false);
  });
}

HRESULT XmlWriter::Flush() {
  return readyCall([&]() -> HRESULT {
    // A stateful encoding stays in its current state across a Flush: going
    // back to the initial state is for the end of the output only (iconv
    // would start some encodings over with a new byte order mark).
    return flushBuffer();
  });
}

}  // namespace twxml::xmlwriter
