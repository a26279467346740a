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
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "encoding.h"
#include "twxml/platform/xmllite.h"

namespace twxml::xmlwriter {

class XmlWriter final : public IXmlWriter {
 public:
  XmlWriter();
  ~XmlWriter();
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

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

  // Composition buffer size: output reaches the stream in pieces this big.
  static constexpr size_t kBufferSize = 64 * 1024;

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
  };
  struct AttrKey {
    uint32_t uriOff, uriLen, localOff, localLen;  // in attrText_
  };
  // A declaration the current call will write.
  struct Decl {
    u16view prefix;
    u16view uri;
  };

  template <typename F>
  HRESULT guarded(F&& f);

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
  u16view nsAt(uint32_t off, uint32_t len) const { return u16view(nsText_).substr(off, len); }
  void addBinding(u16view prefix, u16view uri);
  void popElement();

  // Output primitives (UTF-8 composition).
  HRESULT beginCall(size_t worst, bool* chunked);
  HRESULT fail(HRESULT hr);
  HRESULT flushBuffer();
  HRESULT ensure(size_t n) { return kBufferSize - pos_ >= n ? S_OK : flushBuffer(); }
  HRESULT putAscii(const char* s, size_t n);
  HRESULT putAscii(std::string_view s) { return putAscii(s.data(), s.size()); }
  HRESULT putIndent(size_t depth);
  HRESULT putCharRef(uint32_t cp);
  template <Esc M>
  HRESULT putText(const char16_t* s, size_t n);
  HRESULT putQName(u16view prefix, u16view local);
  HRESULT putDecl(const Decl& d);
  HRESULT closeStartTag() { return putAscii(">", 1); }

  // Checks.
  HRESULT checkChars(const char16_t* s, size_t n, bool verbatim);
  HRESULT checkNameChars(u16view name);

  // Calls built on the primitives.
  HRESULT writeTextLike(const char16_t* s, size_t n, Esc esc, bool markMixed);
  HRESULT stringCall(const char16_t* s, size_t n);
  HRESULT rawCall(const char16_t* s, size_t n);
  HRESULT writeEnd(bool full);
  HRESULT writeCharRefCall(uint32_t cp);
  HRESULT writeNodeMarkup(std::string_view open, u16view first, std::string_view sep,
                          u16view second, std::string_view close);
  HRESULT writeNamePieces(std::string_view open, u16view first, std::string_view sep,
                          u16view second, std::string_view close);
  HRESULT startElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri);
  HRESULT attribute(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri, LPCWSTR value);
  HRESULT declaration(u16view prefix, u16view uri);
  void resetDocument();

  std::atomic<ULONG> refs_{1};

  // Per ASCII character and escaping mode: 0 as is, 1 refused, 9 character
  // reference (the encoding lacks it), else the index of its escape.
  uint8_t classes_[3][128];
  void setupClasses();

  // Output.
  ISequentialStream* stream_ = nullptr;
  OutputSink sink_;
  std::unique_ptr<char[]> buf_;
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
  std::string names_;
  std::vector<Binding> bindings_;
  std::u16string nsText_;
  std::vector<AttrKey> attrs_;
  std::u16string attrText_;
  std::u16string scratch_;
  std::u16string scratchPrefix_;
};

}  // namespace twxml::xmlwriter
