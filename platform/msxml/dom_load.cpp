// The loader: drives the in-process parser core (the one parser of the tree,
// the same one under the pull reader) and builds records as nodes arrive,
// UTF-8 straight into the store, with an explicit parent stack (no recursion
// by depth). Failures carry the reader's result codes and the parser's
// messages, so a load fails in the same words as a read.
#include <vector>

#include "dom_objects.h"
#include "twxml/platform/xmllite.h"
#include "core_result.h"
#include "xmlcore.h"

namespace twdom {

namespace {

namespace xc = twxml::xmlcore;

/* Byte source over a caller's stream; remembers why a read failed. */
struct Source {
  ISequentialStream* stream;
  HRESULT hr = S_OK;

  static long Pull(void* ctx, void* buf, size_t n) {
    Source* s = static_cast<Source*>(ctx);
    ULONG want = n > 0x40000000 ? 0x40000000 : ULONG(n);
    ULONG got = 0;
    HRESULT hr = s->stream->Read(buf, want, &got);
    if (FAILED(hr)) {
      s->hr = hr;
      return -1;
    }
    return long(got > want ? want : got);
  }
};

/* Which bytes of a name's first sixteen are its own, for n = 1 to 16 bytes,
   as two words. */
struct KeyMasks {
  uint64_t m[17][2];
  constexpr KeyMasks() : m() {
    for (int n = 1; n <= 16; ++n) {
      m[n][0] = n >= 8 ? ~0ull : (1ull << (8 * n)) - 1;
      m[n][1] = n <= 8 ? 0 : n == 16 ? ~0ull : (1ull << (8 * (n - 8))) - 1;
    }
  }
};
constexpr KeyMasks kKeyMask{};

/* Builds records from the parser's nodes, UTF-8 straight into the store.
   The parser hands each node to the matching call below as it parses it. */
class Builder final : public xc::Sink {
 public:
  /* declData: the declaration's text as the caller gave it (null: as read). */
  Builder(Store* s, xc::Parser& p, bool preserveAll, const std::u16string* declData)
      : s_(s), p_(p), preserveAll_(preserveAll), declData_(declData) {
    parents_.push_back({kDocIndex, preserveAll});
  }

  /* S_OK when the document was built; otherwise the failure (parser
     failures are reported as S_FALSE: their details are in the parser). */
  HRESULT run() {
    // White space an element drops is passed over by the parser; this
    // changes only where xml:space does.
    p_.passOver(!preserveAll_, false);
    const int r = p_.run(*this);
    if (FAILED(hr_)) return hr_;
    if (r < 0) return S_FALSE;
    for (uint32_t c = s_->firstChild(kDocIndex); c; c = s_->nextSibling(c)) {
      if (s_->node(c).kind() == kElement) return S_OK;
    }
    return WC_E_ROOTELEMENT;
  }

  bool startElement() override { return done(element()); }
  bool endElement() override {
    if (parents_.size() > 1) {
      const bool keep = parents_.back().keep;
      parents_.pop_back();
      if (keep != parents_.back().keep) p_.passOver(!parents_.back().keep, false);
    }
    lastText_ = 0;
    return true;
  }
  bool text() override {
    if (p_.type() == xc::NodeType::Whitespace && !parents_.back().keep) return true;
    return done(textNode());
  }
  bool other() override {
    switch (p_.type()) {
      case xc::NodeType::CData:
        return done(leaf(kCData, 0));
      case xc::NodeType::Comment:
        return done(leaf(kComment, 0));
      case xc::NodeType::ProcessingInstruction:
        return done(leaf(kPI, name(p_.qname(), 0)));
      case xc::NodeType::XmlDeclaration:
        return done(declaration());
      default:
        return true;  // document type: entities are expanded by the parser
    }
  }

 private:
  /* Documents with many namespaces switch between a few URIs from node to
     node: a small cache, indexed by the URI's length and last bytes (where
     URIs of one document tell apart), answers most without the table. */
  uint32_t ns(xc::Str uri) {
    if (uri.n == 0) return 0;
    NsSlot& slot = nsSlots_[(LoadTail(uri.p, uri.n) * 0x9E3779B97F4A7C15ull) >> 60];
    if (uri.n == slot.uri.size() && std::memcmp(uri.p, slot.uri.data(), uri.n) == 0) return slot.id;
    slot.id = s_->internNs8(uri.p, uri.n);
    slot.uri.assign(uri.p, uri.n);
    return slot.id;
  }
  /* The last eight bytes of p[0, n) (all of them when fewer), xor-ed with n;
     n > 0. */
  static uint64_t LoadTail(const char* p, uint32_t n) {
    uint64_t t;
    if (n >= 8)
      std::memcpy(&t, p + n - 8, 8);
    else
      t = LoadShort(p, n);
    return t ^ n;
  }

  /* Names of up to sixteen bytes are told apart by their bytes, so a small
     cache answers most lookups without the table. Every name the parser
     hands out has sixteen readable bytes from its start (its sources are
     padded), so the key is two loads and a mask, with no branch on the
     length. */
  __attribute__((always_inline)) uint32_t name(xc::Str q, uint32_t nsId) {
    if (q.n - 1 < 16) {
      uint64_t head, tail;
      std::memcpy(&head, q.p, 8);
      std::memcpy(&tail, q.p + 8, 8);
      head &= kKeyMask.m[q.n][0];
      tail &= kKeyMask.m[q.n][1];
      uint64_t h = (head ^ (tail * 0x9E3779B97F4A7C15ull) ^ (uint64_t(q.n) << 56) ^ nsId) * 0xFF51AFD7ED558CCDull;
      NameSlot& slot = names_[h >> 56];
      if (slot.len == q.n && slot.ns == nsId && slot.head == head && slot.tail == tail) return slot.id;
      uint32_t id = s_->internName8(q.p, q.n, nsId);
      if (id == ~0u) {
        outOfNames_ = true;
        return 0;
      }
      slot = NameSlot{head, tail, uint32_t(q.n), nsId, id};
      return id;
    }
    uint32_t id = s_->internName8(q.p, q.n, nsId);
    if (id == ~0u) outOfNames_ = true;
    return id == ~0u ? 0 : id;
  }

  void append(uint32_t i) { s_->append(parents_.back().node, i); }

  HRESULT element() {
    uint32_t el = s_->newNode(kElement, name(p_.qname(), ns(p_.namespaceUri())));
    if (!el || outOfNames_) return E_OUTOFMEMORY;
    append(el);
    lastText_ = 0;
    bool keep = parents_.back().keep;
    uint32_t count = p_.attributeCount();
    for (uint32_t k = 0; k < count; ++k) {
      const xc::Attribute& at = p_.attribute(k);
      uint32_t a = s_->newNode(kAttribute, name(at.qname, ns(at.ns)));
      if (!a || outOfNames_ || !s_->setText8(a, at.value.p, at.value.n)) return E_OUTOFMEMORY;
      if (at.isDefault) s_->node(a).setFlag(kFlagDefaulted);
      s_->linkAttr(el, a);
      if (!preserveAll_ && at.qname.view() == "xml:space") {
        if (at.value.view() == "preserve") keep = true;
        if (at.value.view() == "default") keep = false;
      }
    }
    if (!p_.isEmptyElement()) {
      const bool changes = keep != parents_.back().keep;
      parents_.push_back({el, keep});
      if (changes) p_.passOver(!keep, false);
    }
    return S_OK;
  }

  /* False (the run stops) on a failure, which run() then answers. */
  bool done(HRESULT hr) {
    hr_ = hr;
    return SUCCEEDED(hr);
  }

  HRESULT textNode() {
    if (parents_.size() == 1) return S_OK;  // the document holds no text
    xc::Str v = p_.value();
    if (lastText_) return s_->appendText8(lastText_, v.p, v.n) ? S_OK : E_OUTOFMEMORY;
    uint32_t t = s_->newNode(kText, 0);
    if (!t || !s_->setText8(t, v.p, v.n)) return E_OUTOFMEMORY;
    append(t);
    lastText_ = t;
    return S_OK;
  }

  HRESULT leaf(Kind k, uint32_t nameId) {
    xc::Str v = p_.value();
    uint32_t n = s_->newNode(k, nameId);
    if (!n || outOfNames_ || !s_->setText8(n, v.p, v.n)) return E_OUTOFMEMORY;
    append(n);
    lastText_ = 0;
    return S_OK;
  }

  HRESULT declaration() {
    static const char kXml[16] = "xml";  // padded like the parser's names
    uint32_t n = s_->newNode(kPI, name(xc::Str{kXml, 3}, 0));
    if (!n || outOfNames_) return E_OUTOFMEMORY;
    bool ok;
    if (declData_) {
      ok = s_->setText(n, declData_->data(), declData_->size());
    } else {
      std::string data;
      for (uint32_t k = 0; k < p_.attributeCount(); ++k) {
        const xc::Attribute& at = p_.attribute(k);
        if (!data.empty()) data += ' ';
        data.append(at.qname.p, at.qname.n);
        data += "=\"";
        data.append(at.value.p, at.value.n);
        data += '"';
      }
      ok = s_->setText8(n, data.data(), data.size());
    }
    if (!ok) return E_OUTOFMEMORY;
    append(n);
    return S_OK;
  }

  /* Bytes p[0, n) of a text shorter than eight (n > 0), as the low bytes of
     a word: two overlapping loads instead of a loop. */
  static uint64_t LoadShort(const char* p, uint32_t n) {
    if (n >= 4) {
      uint32_t a, b;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + n - 4, 4);
      return a | uint64_t(b) << (8 * (n - 4));
    }
    uint64_t w = uint8_t(p[0]);
    if (n >= 2) w |= uint64_t(uint8_t(p[n - 2])) << (8 * (n - 2)) | uint64_t(uint8_t(p[n - 1])) << (8 * (n - 1));
    return w;
  }

  Store* s_;
  xc::Parser& p_;
  bool preserveAll_;
  const std::u16string* declData_;
  bool outOfNames_ = false;
  /* Open elements, and whether white space inside them is kept. */
  struct Open {
    uint32_t node;
    bool keep;
  };
  std::vector<Open> parents_;
  uint32_t lastText_ = 0;
  HRESULT hr_ = S_OK;
  struct NsSlot {
    std::string uri;
    uint32_t id = 0;
  };
  NsSlot nsSlots_[16];
  struct NameSlot {
    uint64_t head, tail;
    uint32_t len, ns, id;
  };
  NameSlot names_[256] = {};
};

}  // namespace

/* The message for a failure that did not come from the parser. */
std::string ReasonFor(HRESULT hr) {
  xc::Msg m = xc::Msg::None;
  xc::Error e = xc::Error::NoInput;
  if (hr == WC_E_ROOTELEMENT) {
    m = xc::Msg::NoRoot;
    e = xc::errorOf(m);
  } else if (hr == E_OUTOFMEMORY) {
    e = xc::Error::OutOfMemory;
  } else if (FAILED(hr) && hr != E_NOINTERFACE && hr != E_POINTER) {
    e = xc::Error::Stream;
  }
  return xc::errorText(e, m, {});
}

void ResetContent(Store* s) {
  if (s->refCount() == 1) {
    s->reset();
    return;
  }
  while (uint32_t c = s->firstChild(kDocIndex)) s->unlink(c);
}

HRESULT LoadDocument(Store* s, IUnknown* input, const std::u16string* declData) {
  ResetContent(s);
  s->parseError = ParseErrorState();
  s->skipped = SkippedState();
  ISequentialStream* stream = nullptr;
  HRESULT hr = input ? input->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&stream)) : E_POINTER;
  if (FAILED(hr) || !stream) {
    stream = nullptr;
    if (input && SUCCEEDED(input->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))) && stream) {
      hr = S_OK;
    } else {
      hr = E_NOINTERFACE;
    }
  }
  Source src{stream};
  uint32_t line = 0, col = 0;
  std::string reason;
  if (SUCCEEDED(hr)) {
    try {
      xc::Parser parser;
      xc::Options& o = parser.options();
      o.prohibitDtd = false;
      // The builder keeps its own parent stack, so nesting costs memory in
      // proportion to the input only: no depth limit.
      o.maxElementDepth = 0;
      parser.reset(&Source::Pull, &src);
      Builder b(s, parser, s->preserveWhiteSpace, declData);
      hr = b.run();
      if (hr == S_FALSE) hr = xc::resultOf(parser.error(), src.hr);
      if (FAILED(hr) && parser.error() != xc::Error::None) {
        line = parser.errorLine();
        col = parser.errorColumn();
        reason = parser.errorMessage();
      } else if (SUCCEEDED(hr)) {
        std::string first;
        SkippedState& k = s->skipped;
        const uint64_t n = parser.skippedReferences(&first, &k.line, &k.column);
        k.count = n > UINT32_MAX ? UINT32_MAX : uint32_t(n);
        if (n) k.name = ToUtf16(first);
      }
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {
      hr = E_UNEXPECTED;  // nothing may escape a COM call
    }
  }
  if (stream) stream->Release();
  if (FAILED(hr)) {
    ParseErrorState& pe = s->parseError;
    pe.code = hr;
    pe.line = LONG(line);
    pe.linepos = LONG(col);
    try {
      pe.reason = ToUtf16(reason.empty() ? ReasonFor(hr) : reason);
    } catch (const std::bad_alloc&) {
      // Without memory for the words the code still tells.
    }
    ResetContent(s);
  }
  return hr;
}

/* ---- DomParseError ------------------------------------------------------ */

ULONG DomParseError::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
ULONG DomParseError::Release() {
  ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) delete this;
  return n;
}

HRESULT DomParseError::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IXMLDOMParseError) {
    *out = static_cast<IXMLDOMParseError*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT DomParseError::InterfaceSupportsErrorInfo(REFIID iid) { return iid == IID_IXMLDOMParseError ? S_OK : S_FALSE; }

HRESULT DomParseError::get_errorCode(LONG* code) {
  if (!code) return E_POINTER;
  *code = state_.code;
  return S_OK;
}
HRESULT DomParseError::get_reason(BSTR* reason) {
  if (!reason) return E_POINTER;
  return OutBstr(reason, state_.reason.data(), state_.reason.size());
}
HRESULT DomParseError::get_line(LONG* line) {
  if (!line) return E_POINTER;
  *line = state_.line;
  return S_OK;
}
HRESULT DomParseError::get_linepos(LONG* column) {
  if (!column) return E_POINTER;
  *column = state_.linepos;
  return S_OK;
}
HRESULT DomParseError::get_filepos(LONG* offset) {
  if (!offset) return E_POINTER;
  *offset = state_.filepos;
  return S_OK;
}
HRESULT DomParseError::get_srcText(BSTR* text) try {
  if (!text) return E_POINTER;
  return OutBstr(text, state_.srcText.data(), state_.srcText.size());
} TWDOM_NO_THROW

}  // namespace twdom
