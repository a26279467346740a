#include "fake_module.h"

#include <atomic>

namespace fake {
namespace {

std::u16string Widen(const char* text) {
  std::u16string out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

ReaderScript g_readerScript;
WriterScript g_writerScript;
Stats g_stats;
const Node* g_current = nullptr;

template <typename Iface>
class Counted : public Iface {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

class Reader final : public Counted<IXmlReader> {
 public:
  Reader() : script_(g_readerScript) {
    ++g_stats.readers;
    ++g_stats.liveReaders;
  }
  ~Reader() override {
    if (input_) input_->Release();
    --g_stats.liveReaders;
    g_current = nullptr;
  }
  HRESULT SetInput(IUnknown* input) override {
    if (input_) input_->Release();
    input_ = input;
    if (input_) {
      input_->AddRef();
      IStream* s = nullptr;
      g_stats.inputWasStream = input_->QueryInterface(IID_IStream, reinterpret_cast<void**>(&s)) == S_OK;
      if (s) s->Release();
    }
    return S_OK;
  }
  HRESULT GetProperty(UINT, LONG_PTR*) override { return E_NOTIMPL; }
  HRESULT SetProperty(UINT, LONG_PTR) override { return E_NOTIMPL; }
  HRESULT Read(XmlNodeType* type) override {
    int index = g_stats.reads++;
    attr_ = -1;
    if (script_.failAt >= 0 && index >= script_.failAt) return MX_E_INPUTEND;
    if (pos_ >= script_.nodes.size()) {
      g_current = nullptr;
      return S_FALSE;
    }
    g_current = &script_.nodes[pos_];
    *type = script_.nodes[pos_++].type;
    return S_OK;
  }
  HRESULT GetNodeType(XmlNodeType*) override { return E_NOTIMPL; }
  HRESULT MoveToFirstAttribute() override { return E_NOTIMPL; }
  HRESULT MoveToNextAttribute() override { return E_NOTIMPL; }
  HRESULT MoveToAttributeByName(LPCWSTR name, LPCWSTR uri) override {
    g_stats.lastAttrAskedNull = name == nullptr;
    g_stats.lastAttrAsked = name ? std::u16string(name) : std::u16string();
    g_stats.lastAttrNamespaceNull = uri == nullptr;
    if (script_.moveResult != S_OK) return script_.moveResult;
    if (pos_ == 0 || name == nullptr) return S_FALSE;
    const Node& node = script_.nodes[pos_ - 1];
    for (size_t i = 0; i < node.attrs.size(); ++i)
      if (node.attrs[i].first == name) {
        attr_ = static_cast<int>(i);
        return S_OK;
      }
    return S_FALSE;
  }
  HRESULT MoveToElement() override { return E_NOTIMPL; }
  HRESULT GetQualifiedName(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
  HRESULT GetNamespaceUri(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
  HRESULT GetLocalName(LPCWSTR* name, UINT* length) override {
    if (script_.nameResult != S_OK) return script_.nameResult;
    const std::u16string& s = Current(true);
    *name = s.c_str();
    if (length) *length = static_cast<UINT>(s.size());
    return S_OK;
  }
  HRESULT GetPrefix(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
  HRESULT GetValue(LPCWSTR* value, UINT* length) override {
    if (script_.valueResult != S_OK) return script_.valueResult;
    const std::u16string& s = Current(false);
    *value = s.c_str();
    if (length) *length = static_cast<UINT>(s.size());
    return S_OK;
  }
  HRESULT ReadValueChunk(WCHAR*, UINT, UINT*) override { return E_NOTIMPL; }
  HRESULT GetBaseUri(LPCWSTR*, UINT*) override { return E_NOTIMPL; }
  BOOL IsDefault() override { return FALSE; }
  BOOL IsEmptyElement() override {
    return pos_ > 0 && attr_ < 0 && script_.nodes[pos_ - 1].empty ? TRUE : FALSE;
  }
  HRESULT GetLineNumber(UINT*) override { return E_NOTIMPL; }
  HRESULT GetLinePosition(UINT*) override { return E_NOTIMPL; }
  HRESULT GetAttributeCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetDepth(UINT*) override { return E_NOTIMPL; }
  BOOL IsEOF() override { return pos_ >= script_.nodes.size(); }

 private:
  const std::u16string& Current(bool name) {
    static const std::u16string empty;
    if (pos_ == 0) return empty;
    const Node& node = script_.nodes[pos_ - 1];
    if (attr_ >= 0) return name ? node.attrs[attr_].first : node.attrs[attr_].second;
    return name ? node.name : node.value;
  }
  ReaderScript script_;
  size_t pos_ = 0;
  int attr_ = -1;
  IUnknown* input_ = nullptr;
};

class Output final : public Counted<IUnknown> {
 public:
  explicit Output(IUnknown* stream) : stream_(stream) {
    stream_->AddRef();
    ++g_stats.liveOutputs;
  }
  ~Output() override {
    stream_->Release();
    --g_stats.liveOutputs;
  }
  IUnknown* stream() const { return stream_; }

 private:
  IUnknown* stream_;
};

std::string N(LPCWSTR text) { return text ? Narrow(text) : std::string("(null)"); }

// Writes a log of its calls to its output, one call a line.
class Writer final : public Counted<IXmlWriter> {
 public:
  Writer() { ++g_stats.liveWriters; }
  ~Writer() override {
    if (output_) output_->Release();
    --g_stats.liveWriters;
  }
  HRESULT SetOutput(IUnknown* output) override {
    if (output_) output_->Release();
    output_ = output;
    output_->AddRef();
    IUnknown* target = output;
    if (auto* wrapped = dynamic_cast<Output*>(output)) target = wrapped->stream();
    target->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&stream_));
    if (stream_) stream_->Release();  // the output reference keeps it alive
    return S_OK;
  }
  HRESULT GetProperty(UINT, LONG_PTR*) override { return E_NOTIMPL; }
  HRESULT SetProperty(UINT property, LONG_PTR value) override {
    if (property == XmlWriterProperty_Indent) g_stats.indentSet = static_cast<long>(value);
    return S_OK;
  }
  HRESULT WriteAttributes(IXmlReader*, BOOL) override { return E_NOTIMPL; }
  HRESULT WriteAttributeString(LPCWSTR p, LPCWSTR l, LPCWSTR u, LPCWSTR v) override {
    return Log("attr " + N(p) + ":" + N(l) + ":" + N(u) + "=" + N(v));
  }
  HRESULT WriteCData(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteCharEntity(WCHAR) override { return E_NOTIMPL; }
  HRESULT WriteChars(const WCHAR*, UINT) override { return E_NOTIMPL; }
  HRESULT WriteComment(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteDocType(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteElementString(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteEndDocument() override {
    ++g_stats.endDocuments;
    Log("enddoc");
    return S_OK;
  }
  HRESULT WriteEndElement() override { return Log("end"); }
  HRESULT WriteEntityRef(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteFullEndElement() override { return E_NOTIMPL; }
  HRESULT WriteName(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteNmToken(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteNode(IXmlReader*, BOOL) override { return E_NOTIMPL; }
  HRESULT WriteNodeShallow(IXmlReader*, BOOL) override { return E_NOTIMPL; }
  HRESULT WriteProcessingInstruction(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteQualifiedName(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteRaw(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WriteRawChars(const WCHAR*, UINT) override { return E_NOTIMPL; }
  HRESULT WriteStartDocument(XmlStandalone s) override {
    Log("startdoc " + std::to_string(static_cast<int>(s)));
    return S_OK;
  }
  HRESULT WriteStartElement(LPCWSTR p, LPCWSTR l, LPCWSTR u) override {
    return Log("start " + N(p) + ":" + N(l) + ":" + N(u));
  }
  HRESULT WriteString(LPCWSTR text) override {
    g_stats.lastString = text ? text : u"";
    return Log("string " + N(text));
  }
  HRESULT WriteSurrogateCharEntity(WCHAR, WCHAR) override { return E_NOTIMPL; }
  HRESULT WriteWhitespace(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT Flush() override {
    ++g_stats.flushes;
    return S_OK;
  }

 private:
  HRESULT Log(const std::string& call) {
    g_stats.writerCalls.push_back(call);
    std::string line = call + "\n";
    if (stream_) stream_->Write(line.data(), static_cast<ULONG>(line.size()), nullptr);
    bool structural = call.rfind("startdoc", 0) == 0 || call == "enddoc";
    return structural ? S_OK : g_writerScript.writeResult;
  }
  IUnknown* output_ = nullptr;
  ISequentialStream* stream_ = nullptr;
};

HRESULT CreateReader(REFIID iid, void** out, IMalloc*) {
  if (iid != IID_IXmlReader) return E_NOINTERFACE;
  if (FAILED(g_readerScript.createResult)) return g_readerScript.createResult;
  *out = static_cast<IXmlReader*>(new Reader());
  return S_OK;
}

HRESULT CreateWriter(REFIID iid, void** out, IMalloc*) {
  if (iid != IID_IXmlWriter) return E_NOINTERFACE;
  if (FAILED(g_writerScript.createResult)) return g_writerScript.createResult;
  *out = static_cast<IXmlWriter*>(new Writer());
  return S_OK;
}

HRESULT CreateOutput(IUnknown* stream, IMalloc*, LPCWSTR encoding, IUnknown** out) {
  ++g_stats.outputRequests;
  g_stats.outputEncoding = encoding ? encoding : u"(null)";
  if (FAILED(g_writerScript.outputResult)) return g_writerScript.outputResult;
  *out = new Output(stream);
  return S_OK;
}

}  // namespace

Node Elem(const char* name, std::vector<std::pair<std::u16string, std::u16string>> attrs) {
  return Node{XmlNodeType_Element, Widen(name), u"", false, std::move(attrs)};
}
Node Empty(const char* name) { return Node{XmlNodeType_Element, Widen(name), u"", true, {}}; }
Node End() { return Node{XmlNodeType_EndElement, u"", u"", false, {}}; }
Node Text(const char* value) { return Node{XmlNodeType_Text, u"", Widen(value), false, {}}; }
Node Node_(XmlNodeType type, const char* value) {
  return Node{type, u"", Widen(value), false, {}};
}

void Install(ReaderScript reader, WriterScript writer) {
  g_readerScript = std::move(reader);
  g_writerScript = writer;
  g_stats = Stats{};
  twxml::lite::SetFactoriesForTest(&CreateReader, &CreateWriter, &CreateOutput);
}

void Uninstall() { twxml::lite::SetFactoriesForTest(nullptr, nullptr, nullptr); }

Stats& stats() { return g_stats; }
const Node* CurrentNode() { return g_current; }

std::string Narrow(const WCHAR* text) {
  std::string out;
  for (; *text; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

}  // namespace fake
