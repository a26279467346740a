// IXmlReader over the parser core: pulls bytes from an ISequentialStream,
// hands out names and values as zero-terminated UTF-16, converted only when
// asked for and kept until the next Read.
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/xmlcore.h"
#include "core_result.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

namespace {

using twxml::xmlcore::Error;
using twxml::xmlcore::NodeType;
using twxml::xmlcore::Parser;
using twxml::xmlcore::Str;

constexpr char16_t kEmpty[1] = {0};
constexpr uint32_t kDefaultMaxDepth = 0;  // no limit: nothing recurses by depth
constexpr uint32_t kDefaultMaxExpansion = 100000;

// UTF-16 strings handed out for the current node: blocks that never move,
// rewound on every Read.
class Arena {
 public:
  char16_t* alloc(size_t n) noexcept {
    if (size_t(end_ - next_) >= n) {
      char16_t* p = next_;
      next_ += n;
      return p;
    }
    char16_t* p = slow(n);
    return p;
  }
  void rewind() {
    // Only the first block was used: start it over.
    if (cur_ == 0 && used_ == 0 && !blocks_.empty()) {
      next_ = blocks_[0].data.get();
      return;
    }
    cur_ = 0;
    used_ = 0;
    // Keep memory bounded after a huge node.
    if (blocks_.size() > 4) blocks_.resize(4);
    next_ = end_ = nullptr;
    if (!blocks_.empty()) {
      next_ = blocks_[0].data.get();
      end_ = next_ + blocks_[0].size;
    }
  }

 private:
  // Null when memory runs out.
  __attribute__((noinline)) char16_t* slow(size_t n) noexcept {
    // Continue after what the fast path handed out of the current block.
    if (cur_ < blocks_.size() && next_) used_ = size_t(next_ - blocks_[cur_].data.get());
    char16_t* p;
    try {
      p = grab(n);
    } catch (std::bad_alloc&) {
      return nullptr;
    }
    Block& b = blocks_[cur_];
    next_ = b.data.get() + used_;
    end_ = b.data.get() + b.size;
    return p;
  }
  char16_t* grab(size_t n) {
    for (;;) {
      if (cur_ < blocks_.size()) {
        Block& b = blocks_[cur_];
        if (b.size - used_ >= n) {
          char16_t* p = b.data.get() + used_;
          used_ += n;
          return p;
        }
        if (used_ == 0 && b.size < n) {
          // Too small even empty: replace it.
          b.size = std::max(n, b.size * 2);
          b.data.reset(new char16_t[b.size]);
          continue;
        }
        ++cur_;
        used_ = 0;
        continue;
      }
      Block b;
      b.size = std::max<size_t>(n, 16 * 1024);
      b.data.reset(new char16_t[b.size]);
      blocks_.push_back(std::move(b));
    }
  }
  struct Block {
    std::unique_ptr<char16_t[]> data;
    size_t size = 0;
  };
  std::vector<Block> blocks_;
  size_t cur_ = 0, used_ = 0;
  char16_t* next_ = nullptr;
  char16_t* end_ = nullptr;
};

class XmlReader final : public IXmlReader, public IXmlReaderError, public IXmlReaderUtf8 {
 public:
  XmlReader() {
    Options& o = parser_.options();
    o.maxElementDepth = kDefaultMaxDepth;
    o.maxEntityExpansion = kDefaultMaxExpansion;
  }
  ~XmlReader() { detach(); }

  // IUnknown
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IXmlReader) {
      *out = static_cast<IXmlReader*>(this);
      AddRef();
      return S_OK;
    }
    if (iid == IID_IXmlReaderError) {
      *out = static_cast<IXmlReaderError*>(this);
      AddRef();
      return S_OK;
    }
    if (iid == IID_TwXmlReaderUtf8) {
      *out = static_cast<IXmlReaderUtf8*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
  }

  HRESULT SetInput(IUnknown* input) override {
    detach();
    if (!input) return S_OK;
    void* s = nullptr;
    if (SUCCEEDED(input->QueryInterface(IID_IStream, &s)) && s) {
      stream_ = static_cast<ISequentialStream*>(static_cast<IStream*>(s));
    } else if (SUCCEEDED(input->QueryInterface(IID_ISequentialStream, &s)) && s) {
      stream_ = static_cast<ISequentialStream*>(s);
    } else {
      failed_ = E_NOINTERFACE;
      return E_NOINTERFACE;
    }
    try {
      parser_.reset(&XmlReader::pull, this);
    } catch (const std::bad_alloc&) {
      failed_ = E_OUTOFMEMORY;
      return failed_;
    }
    state_ = XmlReadState_Interactive;
    return S_OK;
  }

  HRESULT GetProperty(UINT property, LONG_PTR* value) override {
    if (!value) return E_POINTER;
    const Options& o = parser_.options();
    switch (property) {
      case XmlReaderProperty_DtdProcessing:
        *value = o.prohibitDtd ? DtdProcessing_Prohibit : DtdProcessing_Parse;
        return S_OK;
      case XmlReaderProperty_MaxElementDepth: *value = LONG_PTR(o.maxElementDepth); return S_OK;
      case XmlReaderProperty_MaxEntityExpansion: *value = LONG_PTR(o.maxEntityExpansion); return S_OK;
      case XmlReaderProperty_ConformanceLevel: *value = XmlConformanceLevel_Document; return S_OK;
      case XmlReaderProperty_ReadState:
        *value = FAILED(failed_) ? LONG_PTR(XmlReadState_Error) : state_;
        return S_OK;
      case XmlReaderProperty_MultiLanguage:
      case XmlReaderProperty_XmlResolver:
        *value = 0;
        return S_OK;
      case XmlReaderProperty_RandomAccess: *value = 0; return S_OK;
    }
    return E_INVALIDARG;
  }

  HRESULT SetProperty(UINT property, LONG_PTR value) override {
    Options& o = parser_.options();
    switch (property) {
      case XmlReaderProperty_DtdProcessing:
        if (value != DtdProcessing_Prohibit && value != DtdProcessing_Parse) return E_INVALIDARG;
        o.prohibitDtd = value == DtdProcessing_Prohibit;
        return S_OK;
      case XmlReaderProperty_MaxElementDepth:
        if (value < 0) return E_INVALIDARG;
        o.maxElementDepth = value > LONG_PTR(UINT32_MAX) ? 0 : uint32_t(value);
        return S_OK;
      case XmlReaderProperty_MaxEntityExpansion:
        if (value < 0) return E_INVALIDARG;
        o.maxEntityExpansion = value > LONG_PTR(UINT32_MAX) ? 0 : uint32_t(value);
        return S_OK;
      case XmlReaderProperty_ConformanceLevel:
        // Whole documents only; Auto reads them the same way.
        if (value != XmlConformanceLevel_Document && value != XmlConformanceLevel_Auto)
          return E_INVALIDARG;
        return S_OK;
      case XmlReaderProperty_MultiLanguage:
        return S_OK;
      case XmlReaderProperty_XmlResolver:
        // External resources are never fetched; only "no resolver" is accepted.
        return value == 0 ? S_OK : E_INVALIDARG;
      case XmlReaderProperty_RandomAccess:
      case XmlReaderProperty_ReadState:
        return E_INVALIDARG;
    }
    return E_INVALIDARG;
  }

  HRESULT Read(XmlNodeType* nodeType) override {
    if (__builtin_expect(FAILED(failed_) || !stream_, 0)) {
      if (nodeType) *nodeType = XmlNodeType_None;
      return FAILED(failed_) ? failed_ : E_UNEXPECTED;
    }
    arena_.rewind();
    attr_ = -1;
    chunkValid_ = false;
    int r = parser_.next();
    if (__builtin_expect(r > 0, 1)) {
      if (nodeType) *nodeType = XmlNodeType(parser_.type());
      return S_OK;
    }
    if (nodeType) *nodeType = XmlNodeType_None;
    if (r == 0) {
      state_ = XmlReadState_EndOfFile;
      return S_FALSE;
    }
    failed_ = twxml::xmlcore::resultOf(parser_.error(), streamHr_);
    return failed_;
  }

  HRESULT GetNodeType(XmlNodeType* nodeType) override {
    if (!nodeType) return E_INVALIDARG;
    *nodeType = XmlNodeType_None;
    if (FAILED(failed_)) return failed_;
    *nodeType = attr_ >= 0 ? XmlNodeType_Attribute : XmlNodeType(parser_.type());
    return S_OK;
  }

  HRESULT MoveToFirstAttribute() override {
    if (FAILED(failed_)) return failed_;
    if (parser_.attributeCount() == 0) return S_FALSE;
    attr_ = 0;
    chunkPos_ = 0;
    chunkValid_ = false;
    return S_OK;
  }

  HRESULT MoveToNextAttribute() override {
    if (FAILED(failed_)) return failed_;
    uint32_t n = parser_.attributeCount();
    if (uint32_t(attr_ + 1) >= n) return S_FALSE;
    ++attr_;
    chunkPos_ = 0;
    chunkValid_ = false;
    return S_OK;
  }

  HRESULT MoveToAttributeByName(LPCWSTR localName, LPCWSTR namespaceUri) override {
    if (FAILED(failed_)) return failed_;
    if (!localName) return E_INVALIDARG;
    bool anyNs = !namespaceUri || !*namespaceUri;
    try {
      if (!toUtf8(localName, &qLocal_) || (!anyNs && !toUtf8(namespaceUri, &qNs_)))
        return S_FALSE;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const std::string_view ns(qNs_);
    return moveToAttribute(qLocal_, anyNs ? nullptr : &ns);
  }

  // The UTF-8 calls: the same answers, the parser's own text.
  HRESULT GetLocalNameUtf8(const char** name, UINT* length) override {
    return give8(attr_ >= 0 ? cur().local : parser_.localName(), name, length);
  }
  HRESULT GetValueUtf8(const char** value, UINT* length) override {
    if (chunkValid_ && !FAILED(failed_)) return S_FALSE;
    return give8(attr_ >= 0 ? cur().value : parser_.value(), value, length);
  }
  HRESULT MoveToAttributeByNameUtf8(const char* localName, UINT length, const char** value,
                                    UINT* valueLength) override {
    if (FAILED(failed_)) return failed_;
    if (!localName) return E_INVALIDARG;
    const HRESULT hr = moveToAttribute(std::string_view(localName, length), nullptr);
    if (hr == S_OK && value) give8(cur().value, value, valueLength);
    return hr;
  }
  HRESULT ReadSignificant(XmlNodeType* nodeType, BOOL* emptyElement) override {
    parser_.passOver(true, true);
    XmlNodeType t = XmlNodeType_None;
    HRESULT hr;
    do {
      hr = Read(&t);
    } while (hr == S_OK && (t == XmlNodeType_Comment || t == XmlNodeType_Whitespace ||
                            t == XmlNodeType_XmlDeclaration));
    parser_.passOver(false, false);
    if (nodeType) *nodeType = t;
    if (emptyElement) *emptyElement = IsEmptyElement();
    return hr;
  }

  HRESULT MoveToElement() override {
    if (FAILED(failed_)) return failed_;
    if (attr_ < 0) return S_FALSE;
    attr_ = -1;
    chunkPos_ = 0;
    chunkValid_ = false;
    return S_OK;
  }

  HRESULT GetQualifiedName(LPCWSTR* name, UINT* length) override {
    return give(attr_ >= 0 ? cur().qname : parser_.qname(), name, length);
  }
  HRESULT GetNamespaceUri(LPCWSTR* uri, UINT* length) override {
    return give(attr_ >= 0 ? cur().ns : parser_.namespaceUri(), uri, length);
  }
  HRESULT GetLocalName(LPCWSTR* name, UINT* length) override {
    return give(attr_ >= 0 ? cur().local : parser_.localName(), name, length);
  }
  HRESULT GetPrefix(LPCWSTR* prefix, UINT* length) override {
    return give(attr_ >= 0 ? cur().prefix : parser_.prefix(), prefix, length);
  }

  HRESULT GetValue(LPCWSTR* value, UINT* length) override {
    if (chunkValid_ && !FAILED(failed_)) {
      // Part of the value went out through ReadValueChunk: the rest remains.
      if (value) *value = chunk_.data() + chunkPos_;
      if (length) *length = UINT(chunk_.size() - 1 - chunkPos_);
      return S_OK;
    }
    return give(attr_ >= 0 ? cur().value : parser_.value(), value, length);
  }

  HRESULT ReadValueChunk(WCHAR* buffer, UINT chunkSize, UINT* read) override {
    if (read) *read = 0;
    if (FAILED(failed_)) return failed_;
    if (!buffer && chunkSize) return E_INVALIDARG;
    if (!chunkValid_) {
      Str v = attr_ >= 0 ? cur().value : parser_.value();
      try {
        chunk_.resize(size_t(v.n) + 1);
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      }
      size_t n = twxml::xmlcore::utf8ToUtf16(v.p, v.n, chunk_.data());
      chunk_.resize(n + 1);
      chunk_[n] = 0;
      chunkPos_ = 0;
      chunkValid_ = true;
    }
    size_t left = chunk_.size() - 1 - chunkPos_;
    if (left == 0) return S_FALSE;
    size_t take = std::min<size_t>(left, chunkSize);
    // Never split a surrogate pair when the buffer can hold a whole one.
    if (take > 1 && take < left) {
      char16_t last = chunk_[chunkPos_ + take - 1];
      if (last >= 0xD800 && last <= 0xDBFF) --take;
    }
    std::memcpy(buffer, chunk_.data() + chunkPos_, take * sizeof(WCHAR));
    chunkPos_ += take;
    if (read) *read = UINT(take);
    return S_OK;
  }

  HRESULT GetBaseUri(LPCWSTR* uri, UINT* length) override {
    if (FAILED(failed_)) return failed_;
    if (uri) *uri = kEmpty;
    if (length) *length = 0;
    return S_OK;
  }

  BOOL IsDefault() override {
    if (FAILED(failed_) || attr_ < 0) return FALSE;
    return cur().isDefault ? TRUE : FALSE;
  }

  BOOL IsEmptyElement() override {
    if (FAILED(failed_)) return FALSE;
    return parser_.type() == NodeType::Element && parser_.isEmptyElement() ? TRUE : FALSE;
  }

  // After a failure these answer where the error was found.
  HRESULT GetLineNumber(UINT* line) override {
    if (!line) return E_INVALIDARG;
    uint32_t l, c;
    position(&l, &c);
    *line = l;
    return S_OK;
  }
  HRESULT GetLinePosition(UINT* pos) override {
    if (!pos) return E_INVALIDARG;
    uint32_t l, c;
    position(&l, &c);
    *pos = c;
    return S_OK;
  }

  HRESULT GetAttributeCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 0;
    if (FAILED(failed_)) return failed_;
    *count = parser_.attributeCount();
    return S_OK;
  }

  HRESULT GetDepth(UINT* depth) override {
    if (!depth) return E_INVALIDARG;
    *depth = 0;
    if (FAILED(failed_)) return failed_;
    *depth = parser_.depth() + (attr_ >= 0 ? 1 : 0);
    return S_OK;
  }

  BOOL IsEOF() override { return state_ == XmlReadState_EndOfFile ? TRUE : FALSE; }

  // IXmlReaderError
  HRESULT GetLastError(UINT* line, UINT* column, LPCWSTR* message) override {
    if (line) *line = 0;
    if (column) *column = 0;
    if (message) *message = kEmpty;
    if (!FAILED(failed_)) return S_FALSE;
    Error e = parser_.error();
    try {
      std::string text = e != Error::None ? parser_.errorMessage()
                                           : twxml::xmlcore::errorText(Error::NoInput, {}, {});
      Widen(text, errText_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (line && e != Error::None) *line = parser_.errorLine();
    if (column && e != Error::None) *column = parser_.errorColumn();
    if (message) *message = errText_.data();
    return S_OK;
  }

  HRESULT GetSkippedReferences(UINT* count, UINT* line, UINT* column, LPCWSTR* firstName) override {
    if (count) *count = 0;
    if (line) *line = 0;
    if (column) *column = 0;
    if (firstName) *firstName = kEmpty;
    std::string name;
    uint32_t l = 0, c = 0;
    const uint64_t n = parser_.skippedReferences(&name, &l, &c);
    if (n == 0) return S_FALSE;
    try {
      Widen(name, skipText_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (count) *count = n > UINT32_MAX ? UINT32_MAX : UINT(n);
    if (line) *line = l;
    if (column) *column = c;
    if (firstName) *firstName = skipText_.data();
    return S_OK;
  }

 private:
  using Options = twxml::xmlcore::Options;

  // Parser text (UTF-8) as a terminated UTF-16 string held by the reader.
  static void Widen(const std::string& text, std::vector<char16_t>& out) {
    out.resize(text.size() + 1);
    out.resize(twxml::xmlcore::utf8ToUtf16(text.data(), text.size(), out.data()));
    out.push_back(0);
  }

  static long pull(void* ctx, void* buf, size_t n) {
    XmlReader* self = static_cast<XmlReader*>(ctx);
    if (!self->stream_) return 0;
    ULONG want = n > 0x40000000 ? 0x40000000 : ULONG(n);
    ULONG got = 0;
    HRESULT hr = self->stream_->Read(buf, want, &got);
    if (FAILED(hr)) {
      self->streamHr_ = hr;
      return -1;
    }
    if (got > want) got = want;
    return long(got);
  }

  void detach() {
    if (stream_) stream_->Release();
    stream_ = nullptr;
    failed_ = S_OK;
    streamHr_ = S_OK;
    state_ = XmlReadState_Initial;
    attr_ = -1;
    chunkValid_ = false;
    chunkPos_ = 0;
    arena_.rewind();
    try {
      parser_.reset(nullptr, nullptr);  // lets go of what the last input left
    } catch (const std::bad_alloc&) {
      // Without input the parser is never asked for a node.
    }
  }

  const twxml::xmlcore::Attribute& cur() const { return parser_.attribute(uint32_t(attr_)); }

  // Empty answers (most prefixes and namespace URIs) without a call.
  HRESULT give(Str s, LPCWSTR* out, UINT* length) {
    if (s.n != 0 || FAILED(failed_)) return giveText(s, out, length);
    if (out) *out = kEmpty;
    if (length) *length = 0;
    return S_OK;
  }

  __attribute__((noinline)) HRESULT giveText(Str s, LPCWSTR* out, UINT* length) {
    if (__builtin_expect(s.n != 0 && out != nullptr && !FAILED(failed_), 1)) {
      char16_t* p = arena_.alloc(size_t(s.n) + 1);
      if (!p) return E_OUTOFMEMORY;
      size_t n = twxml::utf::Utf8ToUtf16(s.p, s.n, p);
      p[n] = 0;
      *out = p;
      if (length) *length = UINT(n);
      return S_OK;
    }
    if (s.n == 0 || FAILED(failed_) || (!out && !length)) {
      if (out) *out = kEmpty;
      if (length) *length = 0;
      return failed_;
    }
    char16_t* p = arena_.alloc(size_t(s.n) + 1);
    if (!p) return E_OUTOFMEMORY;
    size_t n = twxml::xmlcore::utf8ToUtf16(s.p, s.n, p);
    p[n] = 0;
    if (out) *out = p;
    if (length) *length = UINT(n);
    return S_OK;
  }

  // Onto the attribute with this local name (in this namespace, or any).
  HRESULT moveToAttribute(std::string_view local, const std::string_view* ns) {
    int i;
    try {
      i = parser_.findAttribute(local, ns);  // may build its index
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (i < 0) return S_FALSE;
    attr_ = i;
    chunkPos_ = 0;
    chunkValid_ = false;
    return S_OK;
  }

  HRESULT give8(Str s, const char** out, UINT* length) const {
    const bool some = s.n != 0 && !FAILED(failed_);
    *out = some ? s.p : "";
    *length = some ? UINT(s.n) : 0;
    return failed_;
  }

  void position(uint32_t* l, uint32_t* c) const {
    if (FAILED(failed_) && parser_.error() != Error::None) {
      *l = parser_.errorLine();
      *c = parser_.errorColumn();
      return;
    }
    if (state_ != XmlReadState_Interactive || parser_.type() == NodeType::None) {
      *l = *c = 0;
      return;
    }
    if (attr_ >= 0)
      parser_.attributePosition(uint32_t(attr_), l, c);
    else
      parser_.position(l, c);
  }

  // False for a text holding a lone surrogate: no name the parser hands
  // out (well-formed UTF-8) can match it.
  static bool toUtf8(LPCWSTR s, std::string* out) {
    const size_t n = twxml::utf::WideLength(s);
    out->resize(3 * n);
    out->resize(twxml::utf::Utf16ToUtf8(s, n, out->data()));
    if (out->size() == n) return true;  // all ASCII
    for (size_t i = 0; i < n; ++i) {
      if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
        ++i;
      else if (s[i] >= 0xD800 && s[i] <= 0xDFFF)
        return false;
    }
    return true;
  }

  std::atomic<ULONG> refs_{1};
  Parser parser_;
  ISequentialStream* stream_ = nullptr;
  HRESULT failed_ = S_OK;
  HRESULT streamHr_ = S_OK;
  LONG_PTR state_ = XmlReadState_Initial;
  int attr_ = -1;
  Arena arena_;
  std::vector<char16_t> chunk_;
  size_t chunkPos_ = 0;
  bool chunkValid_ = false;
  std::string qLocal_, qNs_;
  std::vector<char16_t> errText_, skipText_;
};

}  // namespace

HRESULT TwCreateXmlReaderInProc(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  XmlReader* r = nullptr;
  try {
    r = new XmlReader();
  } catch (const std::bad_alloc&) {  // the reader or its parser
    return E_OUTOFMEMORY;
  }
  HRESULT hr = r->QueryInterface(iid, out);
  r->Release();
  return hr;
}
