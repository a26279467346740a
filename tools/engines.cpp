// Binding the streaming module and making DOM documents.
#include "engines.h"

#include "diagnosis.h"

namespace twxml_cli {

namespace {

struct Module {
  PFN_CreateXmlReader reader = nullptr;
  PFN_CreateXmlWriter writer = nullptr;
  PFN_CreateXmlWriterOutputWithEncodingName output = nullptr;
};

template <typename F>
F Entry(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Module& Bound() {
  static const Module module = [] {
    Module m;
    HMODULE h = LoadLibraryA("XmlLite.dll");
    if (h == nullptr) return m;
    m.reader = Entry<PFN_CreateXmlReader>(h, "CreateXmlReader");
    m.writer = Entry<PFN_CreateXmlWriter>(h, "CreateXmlWriter");
    m.output = Entry<PFN_CreateXmlWriterOutputWithEncodingName>(h, "CreateXmlWriterOutputWithEncodingName");
    return m;
  }();
  return module;
}

}  // namespace

bool StreamingAvailable() {
  const Module& m = Bound();
  return m.reader != nullptr && m.writer != nullptr && m.output != nullptr;
}

bool ChooseDom(const std::string& command, bool askedForDom) {
  if (askedForDom) return true;
  if (StreamingAvailable()) return false;
  ReportNotice(command, "the streaming module is not available; using the document engine");
  return true;
}

namespace {

// One object of the module through its entry point; what names it for errors.
template <typename T>
Ref<T> Make(HRESULT (*create)(REFIID, void**, IMalloc*), REFIID iid, const char* what,
            std::string* error) {
  Ref<T> made;
  if (!StreamingAvailable()) {
    *error = "the streaming module cannot be loaded";
    return made;
  }
  HRESULT hr = create(iid, made.outVoid(), nullptr);
  if (FAILED(hr) || !made) {
    *error = std::string("the streaming ") + what + " could not be made: " + MessageFor(hr);
    made.reset();
  }
  return made;
}

}  // namespace

Ref<IXmlReader> NewReader(std::string* error) {
  Ref<IXmlReader> reader = Make<IXmlReader>(Bound().reader, IID_IXmlReader, "reader", error);
  // Document types are read (their entities and defaults apply); nothing
  // outside the document is ever opened.
  if (reader) reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
  return reader;
}

Ref<IXmlWriter> NewWriter(std::string* error) {
  return Make<IXmlWriter>(Bound().writer, IID_IXmlWriter, "writer", error);
}

HRESULT NewWriterOutput(IUnknown* stream, const std::u16string& encoding, Ref<IUnknown>* out) {
  if (!StreamingAvailable()) return E_FAIL;
  return Bound().output(stream, nullptr, encoding.c_str(), out->out());
}

HRESULT EnsureCom() {
  static thread_local HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  return com;
}

Ref<IXMLDOMDocument> NewDomDocument(std::string* error) {
  const HRESULT com = EnsureCom();
  Ref<IXMLDOMDocument> document;
  if (FAILED(com)) {
    *error = "COM cannot be initialised: " + MessageFor(com);
    return document;
  }
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IXMLDOMDocument, document.outVoid());
  if (FAILED(hr) || !document) {
    *error = "the document class cannot be made: " + MessageFor(hr);
    document.reset();
    return document;
  }
  // Every text node stays, white space included: copies and outlines see
  // the same text as through the streaming engine.
  document->put_preserveWhiteSpace(VARIANT_TRUE);
  return document;
}

HRESULT LoadDom(IXMLDOMDocument* document, IStream* stream) {
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_UNKNOWN;
  source.punkVal = stream;  // borrowed for the call
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = document->load(source, &loaded);
  if (SUCCEEDED(hr) && loaded != VARIANT_FALSE) return S_OK;
  return FAILED(hr) ? hr : E_FAIL;
}

}  // namespace twxml_cli
