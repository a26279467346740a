// The streaming XML writer behind IXmlWriter.
//
// Output is composed as UTF-8 in one fixed buffer and handed to the sink
// (which encodes it) whenever the buffer fills, on Flush and at the end of
// the document. Every call checks its arguments and the document state
// before it emits anything; a call that is refused leaves no trace in the
// output and the writer usable. A failing stream write is different: the
// output is then incomplete, so the writer answers the stream's failure to
// every later call until it is given a new output.
//
// Choices where the interface leaves room:
// - ConformanceLevel Document (the default) allows one root element, white
//   space, comments and processing instructions around it; Fragment allows
//   any sequence of top-level content but no declaration; Auto becomes
//   Document when WriteStartDocument comes first and Fragment otherwise.
// - A comment holding "--" or ending in "-" is refused (WR_E_INVALIDCHARACTER)
//   rather than altered; so is a processing instruction holding "?>". CDATA
//   holding "]]>" is split into two sections.
// - Text escapes '<', '&', '>' and carriage return; attribute values also
//   escape '"', tab and line feed, so that values read back unchanged.
// - A null namespace URI means "whatever is in scope"; an empty one means
//   "no namespace" (an unprefixed element then undeclares a default namespace
//   in scope). Declarations already in scope with the same URI are not
//   written again; a prefix cannot be bound to two URIs on one element.
// - UTF-8 output never gets a byte order mark; UTF-16 does unless the
//   ByteOrderMark property is cleared; iconv encodings follow iconv.
// - WriteWhitespace, WriteRaw and WriteRawChars write their text unescaped
//   (checked for XML characters only). WriteChars cannot end in the first
//   half of a surrogate pair.
// - WriteNodeShallow copies the reader's current node (an element's start
//   tag with its attributes, and its end when it is empty); WriteNode copies
//   an element with everything up to its end, then reads on (S_OK on the
//   next node, S_FALSE at the end; a reader that has not started is copied
//   whole, with a declaration if its encoding needs one); WriteAttributes copies an element's attributes (or, on an
//   attribute, that one and the rest) and leaves the reader where it was.
//   Copied namespace declarations are written as the reader has them, even
//   when the same binding is in scope; CDATA whose characters the encoding
//   lacks is split around character references.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "attr_index.h"
#include "encoding.h"
#include "escape_scan.h"
#include "twxml/platform/short_copy.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

namespace twxml::xmlwriter {

// A growable array that only the writer touches: appends without the
// bookkeeping of std::basic_string, and truncation back to a mark.
template <typename T>
class Arena {
 public:
  size_t size() const { return size_; }
  const T* data() const { return data_.get(); }
  std::basic_string_view<T> view(size_t off, size_t len) const {
    return std::basic_string_view<T>(data_.get() + off, len);
  }
  // Room for n more elements at the end; the pointer is valid until the
  // next call that grows the arena.
  T* extend(size_t n) {
    if (size_ + n > cap_) reallocate(size_ + n);
    T* p = data_.get() + size_;
    size_ += n;
    return p;
  }
  // Inlined at every call; an empty text costs a test.
  __attribute__((always_inline)) size_t append(const T* s, size_t n) {
    const size_t at = size_;
    if (n == 0) return at;
    if (__builtin_expect(size_ + n > cap_, 0)) return appendGrowing(s, n);
    std::memcpy(data_.get() + size_, s, n * sizeof(T));
    size_ += n;
    return at;
  }
  __attribute__((always_inline)) size_t append(std::basic_string_view<T> s) {
    return append(s.data(), s.size());
  }
  void truncate(size_t n) { size_ = n < size_ ? n : size_; }
  void clear() { size_ = 0; }
  void reserve(size_t n) {
    if (n > cap_) reallocate(n);
  }

 private:
  __attribute__((noinline)) size_t appendGrowing(const T* s, size_t n) {
    const size_t at = size_;
    // The source may lie in the arena itself.
    const T* base = data_.get();
    const bool inside = base && s >= base && s < base + size_;
    const size_t off = inside ? static_cast<size_t>(s - base) : 0;
    reallocate(size_ + n);
    if (inside) s = data_.get() + off;
    std::memcpy(data_.get() + size_, s, n * sizeof(T));
    size_ += n;
    return at;
  }
  void reallocate(size_t need) {
    size_t cap = cap_ ? cap_ * 2 : 64;
    while (cap < need) cap *= 2;
    std::unique_ptr<T[]> bigger(new T[cap]);
    if (size_) std::memcpy(bigger.get(), data_.get(), size_ * sizeof(T));
    data_ = std::move(bigger);
    cap_ = cap;
  }

  std::unique_ptr<T[]> data_;
  size_t size_ = 0;
  size_t cap_ = 0;
};

class XmlWriter final : public IXmlWriter, public IXmlWriterUtf8 {
 public:
  XmlWriter();
  ~XmlWriter();
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;
  // Comparisons the duplicate-attribute check made, for tests that bound its work.
  uint64_t attrProbes() const { return attrIndex_.probes(); }

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT SetOutput(IUnknown* output) override;
  HRESULT GetProperty(UINT property, LONG_PTR* value) override;
  HRESULT SetProperty(UINT property, LONG_PTR value) override;
  HRESULT WriteAttributes(IXmlReader* reader, BOOL writeDefaultAttributes) override;
  HRESULT WriteAttributeString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                               LPCWSTR value) override;
  HRESULT WriteCData(LPCWSTR text) override;
  HRESULT WriteCharEntity(WCHAR ch) override;
  HRESULT WriteChars(const WCHAR* chars, UINT count) override;
  HRESULT WriteComment(LPCWSTR comment) override;
  HRESULT WriteDocType(LPCWSTR name, LPCWSTR publicId, LPCWSTR systemId,
                       LPCWSTR subset) override;
  HRESULT WriteElementString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                             LPCWSTR value) override;
  HRESULT WriteEndDocument() override;
  HRESULT WriteEndElement() override;
  HRESULT WriteEntityRef(LPCWSTR name) override;
  HRESULT WriteFullEndElement() override;
  HRESULT WriteName(LPCWSTR name) override;
  HRESULT WriteNmToken(LPCWSTR nmToken) override;
  HRESULT WriteNode(IXmlReader* reader, BOOL writeDefaultAttributes) override;
  HRESULT WriteNodeShallow(IXmlReader* reader, BOOL writeDefaultAttributes) override;
  HRESULT WriteProcessingInstruction(LPCWSTR name, LPCWSTR text) override;
  HRESULT WriteQualifiedName(LPCWSTR localName, LPCWSTR namespaceUri) override;
  HRESULT WriteRaw(LPCWSTR data) override;
  HRESULT WriteRawChars(const WCHAR* chars, UINT count) override;
  HRESULT WriteStartDocument(XmlStandalone standalone) override;
  HRESULT WriteStartElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri) override;
  HRESULT WriteString(LPCWSTR text) override;
  HRESULT WriteSurrogateCharEntity(WCHAR lowChar, WCHAR highChar) override;
  HRESULT WriteWhitespace(LPCWSTR whitespace) override;
  HRESULT Flush() override;

  HRESULT WriteStartElementUtf8(const char* prefix, const char* localName,
                                const char* namespaceUri) override;
  HRESULT WriteAttributeStringUtf8(const char* prefix, const char* localName,
                                   const char* namespaceUri, const char* value,
                                   size_t valueLength) override;
  HRESULT WriteStringUtf8(const char* text, size_t length) override;

  // Composition buffer size: output reaches the stream in pieces this big.
  static constexpr size_t kBufferSize = 64 * 1024;
  // The longest name the UTF-8 calls take without widening it first.
  static constexpr size_t kPlainNameMax = 64;

 private:
  using u16view = std::u16string_view;

  enum class Esc : uint8_t { Text, Attr, Verbatim };
  enum class Mode : uint8_t { Auto, Fragment, Document };

  struct Frame {
    uint32_t nameOff;    // the element's qualified name (UTF-8) in names_
    uint32_t nameLen;
    uint32_t bindStart;  // first entry of bindings_ made on this element
    uint32_t nsTextStart;  // nsText_ size before this element's bindings
    bool hasMarkup;      // has child elements, comments or PIs
    bool mixed;          // it or an ancestor holds text: no indentation inside
  };
  // A prefix binding made on an element: either written there or pinned
  // (the element relies on an inherited binding that must not change).
  struct Binding {
    uint32_t prefixOff, prefixLen, uriOff, uriLen;  // in nsText_
    bool pinned;  // relied on, not written
  };
  // An attribute of the open start tag: its expanded name, for duplicates,
  // and its prefix, which this tag can then no longer bind otherwise.
  struct AttrKey {
    uint32_t uriOff, uriLen, localOff, localLen, prefixOff, prefixLen;  // in attrText_
  };
  // A declaration the current call will write.
  struct Decl {
    u16view prefix;
    u16view uri;
  };

  template <typename F>
  HRESULT guarded(F&& f);
  template <typename F>
  HRESULT readyCall(F&& f);

  // State checks shared by the calls.
  HRESULT ready() const;
  bool contentAtTop() const { return stack_.empty(); }
  void resolveAuto() {
    if (mode_ == Mode::Auto) mode_ = Mode::Fragment;
  }
  HRESULT checkContentAllowed();

  // Namespace scope.
  bool lookupPrefix(u16view prefix, u16view* uri) const;
  bool lookupUri(u16view uri, u16view* prefix) const;
  const Binding* ownBinding(u16view prefix) const;
  bool attributeUsesPrefix(u16view prefix, u16view uri) const;
  u16view nsAt(uint32_t off, uint32_t len) const { return nsText_.view(off, len); }
  void addBinding(u16view prefix, u16view uri, bool pinned = false);
  void popElement();

  // Output primitives (UTF-8 composition).
  HRESULT beginCall(size_t worst, bool* chunked);
  HRESULT fail(HRESULT hr);
  HRESULT flushBuffer();
  void composeIntoTarget();
  void lendTarget();
  size_t space() const { return pos_ < kBufferSize ? kBufferSize - pos_ : 0; }
  HRESULT ensure(size_t n) { return pos_ + n <= kBufferSize ? S_OK : flushBuffer(); }
  __attribute__((always_inline)) HRESULT putAscii(const char* s, size_t n) {
    if (pos_ + n <= kBufferSize) {
      twxml::CopyShort(base_ + pos_, s, n);  // names and markup are short
      pos_ += n;
      return S_OK;
    }
    return putAsciiSlow(s, n);
  }
  HRESULT putAsciiSlow(const char* s, size_t n);
  HRESULT putAscii(std::string_view s) { return putAscii(s.data(), s.size()); }
  HRESULT putIndent(size_t depth);
  HRESULT putCharRef(uint32_t cp);
  // Text as UTF-16 (C = char16_t) or as UTF-8 (C = char, each ill-formed
  // sequence taken as U+FFFD, as the replacing conversion to UTF-16 would).
  template <Esc M, typename C>
  HRESULT putText(const C* s, size_t n);
  template <Esc M, typename C>
  char* encodeText(const C* s, size_t n, char* p, HRESULT* hr);
  HRESULT putQName(u16view prefix, u16view local);
  HRESULT putName(u16view name);
  HRESULT putDecl(const Decl& d);
  HRESULT putPieces(std::string_view open, u16view first, std::string_view sep, u16view second,
                    std::string_view close);
  HRESULT closeStartTag() { return putAscii(">", 1); }
  // Where markup goes next, with room for it reserved: past the '>' that
  // closes a start tag still open, which is written first.
  char* cursorPastOpenTag() {
    char* p = base_ + pos_;
    *p = '>';
    return p + (tagOpen_ ? 1 : 0);
  }

  // Checks.
  template <typename C>
  HRESULT checkChars(const C* s, size_t n, bool verbatim);
  HRESULT checkNameChars(u16view name);
  HRESULT checkQName(LPCWSTR prefix, LPCWSTR localName, u16view* p, u16view* local);

  // Calls built on the primitives.
  template <typename C>
  HRESULT writeTextLike(const C* s, size_t n, Esc esc, bool markMixed);
  template <typename C>
  HRESULT contentCall(const C* s, size_t n, bool raw);
  HRESULT charsCall(const WCHAR* chars, UINT count, bool raw);
  HRESULT nameCall(LPCWSTR name, bool token);
  void markedMixed();
  HRESULT writeEnd(bool full);
  HRESULT writeCharRefCall(uint32_t cp);
  HRESULT writeNodeMarkup(std::string_view open, u16view first, std::string_view sep,
                          u16view second, std::string_view close);
  HRESULT writeNamePieces(std::string_view open, u16view first, std::string_view sep,
                          u16view second, std::string_view close);
  HRESULT elementAllowed();
  HRESULT startElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri);
  HRESULT startPlainElement(std::string_view local);
  HRESULT openElement(size_t nameOff, const Decl* decl, bool pin, u16view pinPrefix,
                      u16view pinUri);
  HRESULT plainAttribute(std::string_view local, std::string_view value);
  bool boundAttribute(std::string_view prefix, std::string_view local, std::string_view uri,
                      std::string_view value, HRESULT* result);
  // asciiName: the qualified name as written, when the caller holds it in
  // ASCII already (it is then not narrowed again from use and local).
  template <typename C>
  HRESULT putAttribute(u16view use, u16view local, u16view attrUri, std::basic_string_view<C> value,
                       const Decl* decl, std::string_view asciiName = {});
  template <typename C>
  HRESULT attribute(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                    std::basic_string_view<C> value);
  HRESULT declaration(u16view prefix, u16view uri);
  void resetDocument();

  // Copies from a reader (node_copy.cpp).
  HRESULT copyNode(IXmlReader* reader, BOOL writeDefaults, XmlNodeType type);
  HRESULT copyAttributes(IXmlReader* reader, BOOL writeDefaults);
  HRESULT copyCData(const char16_t* s, size_t n);
  bool copying_ = false;  // declarations are written even when in scope

  std::atomic<ULONG> refs_{1};

  // Per ASCII character and escaping mode: 0 as is, 1 refused, 9 character
  // reference (the encoding lacks it), else the index of its escape.
  uint8_t classes_[3][128];
  bool asciiPlain_ = true;  // the encoding holds all of ASCII
  const scan::Kernels* escapes_ = &scan::kPlain;  // the vector level at SetOutput
  // The parser's check of clean UTF-8 (see xmlcore's scan.h), same level.
  size_t (*cleanScan_)(const unsigned char* s, size_t n) = nullptr;
  void setupClasses();

  // Output.
  ISequentialStream* stream_ = nullptr;
  OutputSink sink_;
  std::unique_ptr<char[]> buf_;
  // Where output is composed: buf_, or room lent by a stream that collects
  // its bytes in memory (target_), which then takes them without a copy.
  char* base_ = nullptr;
  ITwByteTarget* target_ = nullptr;
  size_t pos_ = 0;
  size_t mark_ = 0;
  bool flushedInCall_ = false;
  HRESULT broken_ = S_OK;

  // Properties.
  bool indent_ = false;
  bool bom_ = true;
  bool omitDecl_ = false;
  XmlConformanceLevel conformance_ = XmlConformanceLevel_Document;
  LONG_PTR multiLanguage_ = 0;

  // Document state.
  Mode mode_ = Mode::Document;
  bool started_ = false;   // something was written since SetOutput
  bool anyOutput_ = false; // bytes were composed (decides the first newline)
  bool rootStarted_ = false;
  bool doctypeDone_ = false;
  bool ended_ = false;
  bool tagOpen_ = false;   // the innermost start tag still takes attributes
  bool topMixed_ = false;  // top-level text in a fragment
  std::vector<Frame> stack_;
  Arena<char> names_;
  std::vector<Binding> bindings_;
  Arena<char16_t> nsText_;
  std::vector<AttrKey> attrs_;
  twxml::writer::AttrIndex attrIndex_;  // attrs_ by expanded name
  Arena<char16_t> attrText_;
  std::u16string scratch_;
  std::u16string scratchPrefix_;
};

inline void XmlWriter::popElement() {
  const Frame& f = stack_.back();
  if (bindings_.size() > f.bindStart) bindings_.resize(f.bindStart);
  nsText_.truncate(f.nsTextStart);
  names_.truncate(f.nameOff);
  stack_.pop_back();
  // The attributes of the start tag stay until the next one clears them:
  // no attribute call is taken while no start tag is open.
}

template <typename F>
inline HRESULT XmlWriter::guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    // Bookkeeping may be half done: refuse to write on.
    broken_ = E_OUTOFMEMORY;
    return E_OUTOFMEMORY;
  }
}

// A call that needs an output and a writer not broken by an earlier failure.
template <typename F>
inline HRESULT XmlWriter::readyCall(F&& f) {
  return guarded([&]() -> HRESULT {
    HRESULT hr = ready();
    return FAILED(hr) ? hr : f();
  });
}

}  // namespace twxml::xmlwriter
