// A scripted stand-in for the streaming module's reader and writer, installed
// through the handle layer's factory seam so the stepping and writing cores
// can be tested call by call.
#pragma once

// Set in AddressSanitizer builds, whose leak checker needs telling about
// memory the C library keeps for good.
#if defined(__SANITIZE_ADDRESS__)
#define TWXML_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TWXML_TEST_ASAN 1
#endif
#endif
#ifndef TWXML_TEST_ASAN
#define TWXML_TEST_ASAN 0
#endif

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "lite_internal.h"

namespace fake {

#define FAKE_NOTIMPL(ret, name, ...) \
  ret name(__VA_ARGS__) override { return E_NOTIMPL; }

inline std::u16string Widen(const char* text) {
  std::u16string out;
  for (; *text; ++text) out.push_back(static_cast<unsigned char>(*text));
  return out;
}

using Attrs = std::vector<std::pair<std::u16string, std::u16string>>;
struct Node {
  XmlNodeType type = XmlNodeType_None;
  std::u16string name = {}, value = {};
  bool empty = false;
  Attrs attrs = {};
};
inline Node Elem(const char* name, Attrs attrs = {}) { return {XmlNodeType_Element, Widen(name), u"", false, attrs}; }
inline Node Empty(const char* name) { return {XmlNodeType_Element, Widen(name), u"", true}; }
inline Node End() { return {XmlNodeType_EndElement}; }
inline Node Text(const char* value) { return {XmlNodeType_Text, u"", Widen(value)}; }

// What the next reader reads and how the fakes answer; failAt >= 0 makes
// that Read call (0-based) and every later one fail.
struct Script {
  std::vector<Node> nodes;
  int failAt = -1;
  HRESULT readerCreate = S_OK, nameResult = S_OK, valueResult = S_OK;
  HRESULT moveResult = S_OK;  // used instead of the lookup when not S_OK
  HRESULT writerCreate = S_OK, writeResult = S_OK;
};

// Counters and arguments seen since Install().
struct Stats {
  int reads = 0, liveReaders = 0, liveWriters = 0, endDocuments = 0, flushes = 0;
  bool inputWasStream = false, lastAttrAskedNull = false, lastAttrNamespaceNull = false;
  std::u16string lastAttrAsked, outputEncoding, lastString;  // lastString: of the last WriteString
};

inline Script g_script;
inline Stats g_stats;
inline Stats& stats() { return g_stats; }

template <typename Face>
class Counted : public Face {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

class Reader final : public Counted<IXmlReader> {
 public:
  Reader() : script_(g_script) { ++g_stats.liveReaders; }
  ~Reader() override {
    if (input_) input_->Release();
    --g_stats.liveReaders;
  }
  HRESULT SetInput(IUnknown* input) override {
    if (input_) input_->Release();
    if ((input_ = input) == nullptr) return S_OK;
    input->AddRef();
    IStream* s = nullptr;
    g_stats.inputWasStream = input->QueryInterface(IID_IStream, reinterpret_cast<void**>(&s)) == S_OK;
    if (s) s->Release();
    return S_OK;
  }
  HRESULT Read(XmlNodeType* type) override {
    const int index = g_stats.reads++;
    attr_ = -1;
    if (script_.failAt >= 0 && index >= script_.failAt) return MX_E_INPUTEND;
    if (pos_ >= script_.nodes.size()) return S_FALSE;
    *type = script_.nodes[pos_++].type;
    return S_OK;
  }
  HRESULT MoveToAttributeByName(LPCWSTR name, LPCWSTR uri) override {
    g_stats.lastAttrAskedNull = name == nullptr;
    g_stats.lastAttrAsked = name ? name : u"";
    g_stats.lastAttrNamespaceNull = uri == nullptr;
    if (script_.moveResult != S_OK) return script_.moveResult;
    if (pos_ == 0 || name == nullptr) return S_FALSE;
    const Attrs& attrs = script_.nodes[pos_ - 1].attrs;
    for (size_t i = 0; i < attrs.size(); ++i)
      if (attrs[i].first == name) return attr_ = static_cast<int>(i), S_OK;
    return S_FALSE;
  }
  HRESULT GetLocalName(LPCWSTR* name, UINT* length) override { return Give(script_.nameResult, true, name, length); }
  HRESULT GetValue(LPCWSTR* value, UINT* length) override { return Give(script_.valueResult, false, value, length); }
  BOOL IsEmptyElement() override { return pos_ > 0 && attr_ < 0 && script_.nodes[pos_ - 1].empty; }
  BOOL IsEOF() override { return pos_ >= script_.nodes.size(); }
  BOOL IsDefault() override { return FALSE; }
  FAKE_NOTIMPL(HRESULT, GetProperty, UINT, LONG_PTR*) FAKE_NOTIMPL(HRESULT, SetProperty, UINT, LONG_PTR)
  FAKE_NOTIMPL(HRESULT, GetNodeType, XmlNodeType*) FAKE_NOTIMPL(HRESULT, MoveToFirstAttribute)
  FAKE_NOTIMPL(HRESULT, MoveToNextAttribute) FAKE_NOTIMPL(HRESULT, MoveToElement)
  FAKE_NOTIMPL(HRESULT, GetQualifiedName, LPCWSTR*, UINT*) FAKE_NOTIMPL(HRESULT, GetNamespaceUri, LPCWSTR*, UINT*)
  FAKE_NOTIMPL(HRESULT, GetPrefix, LPCWSTR*, UINT*) FAKE_NOTIMPL(HRESULT, ReadValueChunk, WCHAR*, UINT, UINT*)
  FAKE_NOTIMPL(HRESULT, GetBaseUri, LPCWSTR*, UINT*) FAKE_NOTIMPL(HRESULT, GetLineNumber, UINT*)
  FAKE_NOTIMPL(HRESULT, GetLinePosition, UINT*) FAKE_NOTIMPL(HRESULT, GetAttributeCount, UINT*)
  FAKE_NOTIMPL(HRESULT, GetDepth, UINT*)

 private:
  HRESULT Give(HRESULT answer, bool name, LPCWSTR* text, UINT* length) {
    if (answer != S_OK) return answer;
    static const std::u16string none;
    const Node* node = pos_ ? &script_.nodes[pos_ - 1] : nullptr;
    const std::u16string& s = !node ? none : attr_ >= 0 ? (name ? node->attrs[attr_].first : node->attrs[attr_].second)
                                                      : (name ? node->name : node->value);
    *text = s.c_str();
    if (length) *length = static_cast<UINT>(s.size());
    return S_OK;
  }
  Script script_;
  size_t pos_ = 0;
  int attr_ = -1;
  IUnknown* input_ = nullptr;
};

// Writes one line per call to its output; counts document ends and flushes.
class Writer final : public Counted<IXmlWriter> {
 public:
  Writer() { ++g_stats.liveWriters; }
  ~Writer() override {
    if (out_) out_->Release();
    --g_stats.liveWriters;
  }
  HRESULT SetOutput(IUnknown* output) override {
    if (out_) out_->Release();
    out_ = nullptr;
    return output ? output->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&out_)) : S_OK;
  }
  HRESULT WriteString(LPCWSTR text) override { return g_stats.lastString = text ? text : u"", Log("string"); }
  HRESULT WriteStartElement(LPCWSTR, LPCWSTR, LPCWSTR) override { return Log("start"); }
  HRESULT WriteAttributeString(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { return Log("attr"); }
  HRESULT WriteEndElement() override { return Log("end"); }
  HRESULT WriteStartDocument(XmlStandalone) override { return Log("startdoc"), S_OK; }
  HRESULT WriteEndDocument() override { return ++g_stats.endDocuments, Log("enddoc"), S_OK; }
  HRESULT Flush() override { return ++g_stats.flushes, S_OK; }
  HRESULT SetProperty(UINT, LONG_PTR) override { return S_OK; }
  FAKE_NOTIMPL(HRESULT, GetProperty, UINT, LONG_PTR*) FAKE_NOTIMPL(HRESULT, WriteAttributes, IXmlReader*, BOOL)
  FAKE_NOTIMPL(HRESULT, WriteCData, LPCWSTR) FAKE_NOTIMPL(HRESULT, WriteCharEntity, WCHAR)
  FAKE_NOTIMPL(HRESULT, WriteChars, const WCHAR*, UINT) FAKE_NOTIMPL(HRESULT, WriteComment, LPCWSTR)
  FAKE_NOTIMPL(HRESULT, WriteDocType, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR)
  FAKE_NOTIMPL(HRESULT, WriteElementString, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR)
  FAKE_NOTIMPL(HRESULT, WriteEntityRef, LPCWSTR) FAKE_NOTIMPL(HRESULT, WriteFullEndElement)
  FAKE_NOTIMPL(HRESULT, WriteName, LPCWSTR) FAKE_NOTIMPL(HRESULT, WriteNmToken, LPCWSTR)
  FAKE_NOTIMPL(HRESULT, WriteNode, IXmlReader*, BOOL) FAKE_NOTIMPL(HRESULT, WriteNodeShallow, IXmlReader*, BOOL)
  FAKE_NOTIMPL(HRESULT, WriteProcessingInstruction, LPCWSTR, LPCWSTR)
  FAKE_NOTIMPL(HRESULT, WriteQualifiedName, LPCWSTR, LPCWSTR) FAKE_NOTIMPL(HRESULT, WriteRaw, LPCWSTR)
  FAKE_NOTIMPL(HRESULT, WriteRawChars, const WCHAR*, UINT)
  FAKE_NOTIMPL(HRESULT, WriteSurrogateCharEntity, WCHAR, WCHAR) FAKE_NOTIMPL(HRESULT, WriteWhitespace, LPCWSTR)

 private:
  HRESULT Log(const std::string& call) {
    if (out_) out_->Write((call + "\n").data(), static_cast<ULONG>(call.size() + 1), nullptr);
    return g_script.writeResult;
  }
  ISequentialStream* out_ = nullptr;
};

inline HRESULT CreateReader(REFIID iid, void** out, IMalloc*) {
  if (iid != IID_IXmlReader) return E_NOINTERFACE;
  if (FAILED(g_script.readerCreate)) return g_script.readerCreate;
  *out = static_cast<IXmlReader*>(new Reader());
  return S_OK;
}
inline HRESULT CreateWriter(REFIID iid, void** out, IMalloc*) {
  if (iid != IID_IXmlWriter) return E_NOINTERFACE;
  if (FAILED(g_script.writerCreate)) return g_script.writerCreate;
  *out = static_cast<IXmlWriter*>(new Writer());
  return S_OK;
}
// The "encoded" output is the stream itself: the writer fake logs ASCII only.
inline HRESULT CreateOutput(IUnknown* stream, IMalloc*, LPCWSTR encoding, IUnknown** out) {
  g_stats.outputEncoding = encoding ? encoding : u"(null)";
  stream->AddRef();
  *out = stream;
  return S_OK;
}

inline void Install(Script script = {}) {
  g_script = std::move(script);
  g_stats = Stats{};
  twxml::lite::SetFactoriesForTest(&CreateReader, &CreateWriter, &CreateOutput);
}
inline void Uninstall() { twxml::lite::SetFactoriesForTest(nullptr, nullptr, nullptr); }

}  // namespace fake
