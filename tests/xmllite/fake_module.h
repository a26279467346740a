// A streaming reader and writer that refuse on demand, installed through the
// handle layer's factory seam: the failures the real module cannot be made
// to give. The reader reads an element, then a text, then the end of input.
#pragma once

#include <atomic>
#include <string>

#include "lite_internal.h"

namespace fake {

#define FAKE_NOTIMPL(ret, name, ...) \
  ret name(__VA_ARGS__) override { return E_NOTIMPL; }

// How the next reader and writer answer.
struct Script {
  HRESULT readerCreate = S_OK, nameResult = S_OK, valueResult = S_OK, moveResult = S_OK;
  HRESULT writerCreate = S_OK, writeResult = S_OK;
  bool utf8Calls = false;  // reader and writer also give and take UTF-8 (answering the same)
};
// Objects alive, and documents ended, since Install().
struct Stats {
  int liveReaders = 0, liveWriters = 0, endDocuments = 0;
};

inline Script g_script;
inline Stats g_stats;

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
  virtual ~Counted() {
    if (held_) held_->Release();
  }

 protected:
  // The UTF-8 calls (face, answering to iid) when the script offers them.
  template <class Utf8>
  HRESULT OfferUtf8(REFIID asked, REFIID iid, Utf8* face, void** out) {
    if (!g_script.utf8Calls || asked != iid) return *out = nullptr, E_NOINTERFACE;
    AddRef();
    *out = face;
    return S_OK;
  }
  // Holds the reader's input or the writer's output.
  HRESULT Hold(IUnknown* next) {
    if (next) next->AddRef();
    if (held_) held_->Release();
    held_ = next;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  IUnknown* held_ = nullptr;
};

class Reader final : public Counted<IXmlReader>, public IXmlReaderUtf8 {
 public:
  Reader() { ++g_stats.liveReaders; }
  ~Reader() override { --g_stats.liveReaders; }
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return OfferUtf8<IXmlReaderUtf8>(iid, IID_TwXmlReaderUtf8, this, out);
  }
  ULONG AddRef() override { return Counted::AddRef(); }
  ULONG Release() override { return Counted::Release(); }
  HRESULT GetLocalNameUtf8(const char** name, UINT* n) override { return *name = "e", *n = 1, g_script.nameResult; }
  HRESULT GetValueUtf8(const char** value, UINT* n) override { return *value = "v", *n = 1, g_script.valueResult; }
  HRESULT MoveToAttributeByNameUtf8(const char* name, UINT n, const char** value, UINT* length) override {
    if (g_script.moveResult != S_OK) return g_script.moveResult;
    if (std::string(name, n) != "a") return S_FALSE;
    // A value that does not come is a failure of the call (S_FALSE would say "no such attribute").
    const HRESULT v = GetValueUtf8(value, length);
    return v == S_OK ? S_OK : v == S_FALSE ? E_FAIL : v;
  }
  HRESULT ReadSignificant(XmlNodeType* type, BOOL* empty) override {
    *empty = FALSE;
    return Read(type);
  }
  HRESULT SetInput(IUnknown* input) override { return Hold(input); }
  HRESULT Read(XmlNodeType* type) override {
    if (read_ >= 2) return S_FALSE;
    *type = read_++ == 0 ? XmlNodeType_Element : XmlNodeType_Text;
    return S_OK;
  }
  HRESULT MoveToAttributeByName(LPCWSTR name, LPCWSTR) override {
    if (g_script.moveResult != S_OK) return g_script.moveResult;
    return name && std::u16string(name) == u"a" ? S_OK : S_FALSE;
  }
  HRESULT GetLocalName(LPCWSTR* name, UINT*) override { return *name = u"e", g_script.nameResult; }
  HRESULT GetValue(LPCWSTR* value, UINT*) override { return *value = u"v", g_script.valueResult; }
  BOOL IsEmptyElement() override { return FALSE; }
  BOOL IsEOF() override { return read_ >= 2; }
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
  int read_ = 0;
};

// Every write answers as scripted; writes nothing.
class Writer final : public Counted<IXmlWriter>, public IXmlWriterUtf8 {
 public:
  Writer() { ++g_stats.liveWriters; }
  ~Writer() override { --g_stats.liveWriters; }
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return OfferUtf8<IXmlWriterUtf8>(iid, IID_TwXmlWriterUtf8, this, out);
  }
  ULONG AddRef() override { return Counted::AddRef(); }
  ULONG Release() override { return Counted::Release(); }
  HRESULT WriteStartElementUtf8(const char*, const char*, const char*) override { return g_script.writeResult; }
  HRESULT WriteAttributeStringUtf8(const char*, const char*, const char*, const char*, size_t) override {
    return g_script.writeResult;
  }
  HRESULT WriteStringUtf8(const char*, size_t) override { return g_script.writeResult; }
  HRESULT SetOutput(IUnknown* output) override { return Hold(output); }
  HRESULT WriteString(LPCWSTR) override { return g_script.writeResult; }
  HRESULT WriteStartElement(LPCWSTR, LPCWSTR, LPCWSTR) override { return g_script.writeResult; }
  HRESULT WriteAttributeString(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { return g_script.writeResult; }
  HRESULT WriteEndElement() override { return g_script.writeResult; }
  HRESULT WriteStartDocument(XmlStandalone) override { return S_OK; }
  HRESULT WriteEndDocument() override { return ++g_stats.endDocuments, S_OK; }
  HRESULT Flush() override { return S_OK; }
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
};

inline HRESULT CreateReader(REFIID, void** out, IMalloc*) {
  if (FAILED(g_script.readerCreate)) return g_script.readerCreate;
  *out = static_cast<IXmlReader*>(new Reader());
  return S_OK;
}
inline HRESULT CreateWriter(REFIID, void** out, IMalloc*) {
  if (FAILED(g_script.writerCreate)) return g_script.writerCreate;
  *out = static_cast<IXmlWriter*>(new Writer());
  return S_OK;
}

inline void Install(Script script = {}) {
  g_script = script;
  g_stats = Stats{};
  twxml::lite::SetFactoriesForTest(&CreateReader, &CreateWriter, nullptr);
}
inline void Uninstall() { twxml::lite::SetFactoriesForTest(nullptr, nullptr, nullptr); }

}  // namespace fake
