// The writer's life cycle, properties, output and namespace scope.
#include "xml_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "output.h"
#include "scan.h"
#include "writer_text.h"

namespace twxml::xmlwriter {

using namespace detail;

// ---- Life cycle and IUnknown ----------------------------------------------

XmlWriter::XmlWriter() : buf_(new char[kBufferSize + kSlack]) {
  base_ = buf_.get();
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
  if (iid == IID_TwXmlWriterUtf8) {
    AddRef();
    *out = static_cast<IXmlWriterUtf8*>(this);
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
  escapes_ = &scan::For(simd::Active());
  cleanScan_ = xmlcore::scan::For(simd::Active()).clean;
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
    target_ = nullptr;
    base_ = buf_.get();
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
        lendTarget();
      }
      setupClasses();
      return hr;
    }
    stream_ = queryStream(output);
    if (!stream_) return E_NOINTERFACE;
    HRESULT hr = sink_.open(EncodingSpec());
    if (SUCCEEDED(hr)) lendTarget();
    setupClasses();
    return hr;
  });
}

// UTF-8 output goes to a stream as composed: one that lends room for it
// takes it there. Borrowed: stream_ holds the object.
void XmlWriter::lendTarget() {
  if (sink_.spec().kind != EncodingKind::Utf8) return;
  void* p = nullptr;
  if (stream_->QueryInterface(IID_TwByteTarget, &p) != S_OK || p == nullptr) return;
  target_ = static_cast<ITwByteTarget*>(p);
  target_->Release();
  composeIntoTarget();
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



}  // namespace twxml::xmlwriter
