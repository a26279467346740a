// The factories choose the engine call by call: the streaming engine when its
// module loads and the caller does not force the DOM, the DOM engine
// otherwise. A failure on the chosen path is never retried on the other.
#include <new>

#include "dom_engine.h"
#include "last_error.h"
#include "lite_engine.h"
#include "twxml/document.h"
#include "twxml/handles.h"
#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"
#include "twxml/xmlinterface.h"

namespace {

bool UseLite(bool forceDom) { return !forceDom && XmlLiteIsDllFoundB() != 0; }

char kEmptyName[] = "";

// The initial capacity of a memory writer's stream; it grows as needed.
constexpr unsigned long kMemWriterCapacity = 32768;

}  // namespace

int XmlInterface::CreateReaderFromFileF(char* path, XmlInterface** ppOut, bool forceDom) {
  twxml_detail::ClearLoadError();
  if (ppOut == nullptr) return TWXML_E_NOTFOUND;
  if (path == nullptr || _access(path, 4) != 0) return TWXML_E_NOTFOUND;
  *ppOut = nullptr;
  if (UseLite(forceDom)) {
    _XmlLiteReaderS* handle = XmlLiteCreateFileReaderH(path);
    if (handle == nullptr) return TWXML_E_CREATE;
    return CreateReaderFromLiteReaderf(handle, ppOut);
  }
  KxStream* stream = StreamCreateFileStreamP(path, 0, 0, 0);
  if (stream == nullptr) return TWXML_E_CREATE;
  int status = CreateReaderFromStreamf(stream, ppOut);
  delete stream;
  return status;
}

int XmlInterface::CreateReaderFromFileF(char* path, XmlInterface** ppOut) {
  return CreateReaderFromFileF(path, ppOut, false);
}

int XmlInterface::CreateWriterToFileF(char* path, XmlInterface** ppOut, bool indent,
                                      bool forceDom, char* encoding) {
  if (ppOut == nullptr) return TWXML_E_NOTFOUND;
  *ppOut = nullptr;
  if (UseLite(forceDom)) {
    // Files written by the streaming engine are always UTF-8.
    _XmlLiteWriterS* handle = XmlLiteCreateFileWriterH(path, indent ? 1 : 0, "UTF-8");
    if (handle == nullptr) return TWXML_E_CREATE;
    return CreateWriterFromLiteWriterf(handle, ppOut);
  }
  KxStream* stream = StreamCreateFileStreamP(path, 0, 2, 0);
  if (stream == nullptr) return TWXML_E_CREATE;
  return CreateWriterFromStreamf(stream, encoding, ppOut);
}

int XmlInterface::CreateWriterToFileF(char* path, XmlInterface** ppOut, bool indent) {
  return CreateWriterToFileF(path, ppOut, indent, false, nullptr);
}

int XmlInterface::CreateReaderFromMemF(char* text, unsigned long length, XmlInterface** ppOut,
                                       bool forceDom) {
  twxml_detail::ClearLoadError();
  if (ppOut == nullptr) return TWXML_E_NOTFOUND;
  *ppOut = nullptr;
  if (UseLite(forceDom)) {
    // The streaming reader reads up to the terminating zero.
    _XmlLiteReaderS* handle = XmlLiteCreateMemReaderH(text);
    if (handle == nullptr) return TWXML_E_CREATE;
    return CreateReaderFromLiteReaderf(handle, ppOut);
  }
  int status = 0;
  KxStream* stream = StreamCreateMemStreamP(text, length, kEmptyName, 0, 0, &status);
  if (status != 0) return status;
  if (stream == nullptr) return TWXML_E_ALLOC;
  status = CreateReaderFromStreamf(stream, ppOut);
  delete stream;
  return status;
}

int XmlInterface::CreateReaderFromMemF(char* text, unsigned long length, XmlInterface** ppOut) {
  return CreateReaderFromMemF(text, length, ppOut, false);
}

int XmlInterface::CreateWriterToMemF(XmlInterface** ppOut, bool indent, bool forceDom,
                                     char* encoding) {
  if (ppOut == nullptr) return TWXML_E_NOTFOUND;
  *ppOut = nullptr;
  if (UseLite(forceDom)) {
    _XmlLiteWriterS* handle = XmlLiteCreateMemWriterH(indent ? 1 : 0, encoding);
    if (handle == nullptr) return TWXML_E_CREATE;
    return CreateWriterFromLiteWriterf(handle, ppOut);
  }
  int status = 0;
  KxStream* stream = StreamCreateMemStreamP(nullptr, kMemWriterCapacity, kEmptyName, 1, 1, &status);
  if (status != 0) return status;
  return CreateWriterFromStreamf(stream, encoding, ppOut);
}

int XmlInterface::CreateWriterToMemF(XmlInterface** ppOut, bool indent) {
  return CreateWriterToMemF(ppOut, indent, false, nullptr);
}

int XmlInterface::CreateReaderFromLiteReaderf(_XmlLiteReaderS* readerHandle,
                                              XmlInterface** ppOut) {
  XmlInterface* engine = new (std::nothrow) XmlInterfaceToLite(readerHandle);
  *ppOut = engine;
  if (engine == nullptr) {
    XmlLiteCloseReaderF(readerHandle);
    return TWXML_E_ALLOC;
  }
  return TWXML_OK;
}

int XmlInterface::CreateWriterFromLiteWriterf(_XmlLiteWriterS* writerHandle,
                                              XmlInterface** ppOut) {
  XmlInterface* engine = new (std::nothrow) XmlInterfaceToLite(writerHandle);
  *ppOut = engine;
  if (engine == nullptr) {
    XmlLiteCloseWriterF(writerHandle);
    return TWXML_E_ALLOC;
  }
  return TWXML_OK;
}

int XmlInterface::CreateReaderFromStreamf(KxStream* stream, XmlInterface** ppOut) {
  KxXMLParser* parser = XmlGetParserP();
  if (parser == nullptr) return TWXML_E_NOTFOUND;
  if (parser->LoadFromStreamF(stream) != 0) {
    twxml_detail::RecordLoadError(parser);
    delete parser;
    return TWXML_E_CREATE;
  }
  KxXMLNode* root = parser->GetRootElementP();
  if (root == nullptr) {
    delete parser;
    return TWXML_E_CREATE;
  }
  auto* engine = new (std::nothrow) XmlInterfaceToDOM(parser, root, nullptr, nullptr);
  if (engine != nullptr && !engine->StackReady()) {
    engine->Disown();
    delete engine;
    engine = nullptr;
  }
  *ppOut = engine;
  if (engine == nullptr) {
    delete root;
    delete parser;
    return TWXML_E_ALLOC;
  }
  return TWXML_OK;
}

int XmlInterface::CreateWriterFromStreamf(KxStream* stream, char* encoding, XmlInterface** ppOut) {
  KxXMLParser* parser = XmlGetParserP();
  if (parser == nullptr) {
    delete stream;
    return TWXML_E_NOTFOUND;
  }
  auto* engine = new (std::nothrow) XmlInterfaceToDOM(parser, nullptr, stream, encoding);
  if (engine != nullptr && !engine->StackReady()) {
    engine->Disown();
    delete engine;
    engine = nullptr;
  }
  *ppOut = engine;
  if (engine == nullptr) {
    delete parser;
    delete stream;
    return TWXML_E_ALLOC;
  }
  return TWXML_OK;
}
