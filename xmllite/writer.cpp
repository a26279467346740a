// Writer handle: one streaming writer whose document is started when the
// handle is made and ended exactly once, when the text is taken or at close.
#include <cstring>
#include <new>

#include "lite_internal.h"
#include "twxml/platform/win32_internal.h"

namespace {

bool WriterValid(const _XmlLiteWriterS* handle) {
  // As for readers: one registry look-up is the buffer check and the kind.
  return handle != nullptr &&
         twxml::kernel::IsLiveBlock(handle, sizeof(_XmlLiteWriterS),
                                    twxml::kernel::BlockKind::WriterHandle) &&
         handle->magic == kXmlLiteWriterMagic;
}

int WriteResult(HRESULT hr) { return hr == S_OK ? TWXML_OK : TWXML_E_ENGINE; }

// Plain ASCII reads the same in every code page the library converts from,
// so a call whose arguments are all short ASCII texts (or null) needs no
// look-up of the thread's code page: it goes the UTF-8 way. One load tells
// (and measures) a short text; for a longer one the look-up costs little
// beside the work on the text itself.
__attribute__((always_inline)) inline bool ShortAscii(const char* text, size_t* length) {
  *length = 0;
  return text == nullptr || twxml::utf::ShortAsciiZ(text, length);
}
__attribute__((always_inline)) inline bool ShortAscii(const char* text) {
  size_t length;
  return ShortAscii(text, &length);
}

// A value's length in bytes (length, when ShortAscii measured it); a value
// too long to be widened becomes null, as it does on the way through UTF-16.
size_t LengthOrNull(const char** text, bool measured, size_t length) {
  if (*text == nullptr) return 0;
  if (!measured) length = std::strlen(*text);
  if (length + 1 > twxml::utf::WideZ::kMaxBytes) {
    *text = nullptr;
    return 0;
  }
  return length;
}

}  // namespace

_XmlLiteWriterS* XmlLiteNewWriterH(IStream* stream, StringBuilder* builder, bool indent,
                                   const char* encoding) {
  auto* handle = static_cast<_XmlLiteWriterS*>(MemAllocP(sizeof(_XmlLiteWriterS)));
  if (handle == nullptr) return nullptr;
  handle->magic = 0;
  handle->writer = nullptr;
  handle->utf8Writer = nullptr;
  PFN_CreateXmlWriter create = twxml::lite::WriterFactory();
  if (create == nullptr ||
      create(IID_IXmlWriter, reinterpret_cast<void**>(&handle->writer), nullptr) < 0 ||
      handle->writer == nullptr) {
    MemFreeF(handle);
    return nullptr;
  }
  if (indent) handle->writer->SetProperty(XmlWriterProperty_Indent, 1);
  handle->utf8Writer =
      twxml::lite::BorrowedInterface<IXmlWriterUtf8>(handle->writer, IID_TwXmlWriterUtf8);

  handle->encodedOutput = nullptr;
  if (encoding != nullptr && _stricmp(encoding, "UTF-8") != 0) {
    twxml::lite::WideArg wideName(encoding);
    PFN_CreateXmlWriterOutputWithEncodingName makeOutput = twxml::lite::OutputFactory();
    // A refused encoding is no failure: the writer then uses its default.
    if (makeOutput == nullptr ||
        makeOutput(stream, nullptr, wideName.get(), &handle->encodedOutput) < 0)
      handle->encodedOutput = nullptr;
  }
  if (handle->encodedOutput != nullptr) {
    handle->writer->SetOutput(handle->encodedOutput);
    handle->encodedOutput->Release();  // the writer holds its own reference
  } else {
    handle->writer->SetOutput(stream);
  }

  handle->textBuilder = builder;
  handle->magic = kXmlLiteWriterMagic;
  twxml::kernel::MarkBlock(handle, twxml::kernel::BlockKind::WriterHandle);
  handle->documentEnded = 0;
  handle->writer->WriteStartDocument(XmlStandalone_Omit);
  return handle;
}

void XmlLiteEndDocumentV(_XmlLiteWriterS* handle) {
  if (handle->documentEnded) return;
  handle->writer->WriteEndDocument();
  handle->writer->Flush();
  handle->documentEnded = 1;
}

extern "C" {

TWXML_API _XmlLiteWriterS* XmlLiteCreateMemWriterH(int indent, const char* encoding) {
  auto* builder = new (std::nothrow) StringBuilder(32768);
  if (builder == nullptr) return nullptr;
  IStream* stream = twxml::lite::NewWritingMemStream(builder);
  if (stream == nullptr) {
    delete builder;
    return nullptr;
  }
  _XmlLiteWriterS* handle = XmlLiteNewWriterH(stream, builder, indent != 0, encoding);
  stream->Release();  // from now on the writer (or its output) holds the stream
  if (handle == nullptr) delete builder;
  return handle;
}

TWXML_API _XmlLiteWriterS* XmlLiteCreateFileWriterH(const char* path, int indent,
                                                   const char* encoding) {
  IStream* stream = nullptr;
  if (twxml::lite::OpenFileStream(path, true, &stream) != S_OK || stream == nullptr)
    return nullptr;
  _XmlLiteWriterS* handle = XmlLiteNewWriterH(stream, nullptr, indent != 0, encoding);
  stream->Release();
  return handle;
}

TWXML_API BOOL XmlLiteIsWriterHndValidB(_XmlLiteWriterS* writer) {
  return WriterValid(writer) ? 1 : 0;
}

TWXML_API TWXML_NOINLINE int XmlLiteWriteStartElemF(_XmlLiteWriterS* writer, const char* prefix,
                                                    const char* localName, const char* namespaceUri) {
  if (!WriterValid(writer)) return TWXML_E_HANDLE;
  const bool utf8 = (ShortAscii(prefix) && ShortAscii(localName) && ShortAscii(namespaceUri)) ||
                    twxml::win32::ThreadCodePageIsUtf8();
  if (utf8 && writer->utf8Writer != nullptr)
    return WriteResult(writer->utf8Writer->WriteStartElementUtf8(prefix, localName, namespaceUri));
  twxml::lite::WideArg widePrefix(prefix, utf8), wideName(localName, utf8),
      wideUri(namespaceUri, utf8);
  return WriteResult(
      writer->writer->WriteStartElement(widePrefix.get(), wideName.get(), wideUri.get()));
}

TWXML_API TWXML_NOINLINE int XmlLiteWriteAttrF(_XmlLiteWriterS* writer, const char* prefix,
                                               const char* localName, const char* namespaceUri,
                                               const char* value) {
  if (!WriterValid(writer)) return TWXML_E_HANDLE;
  size_t length;
  const bool measured = ShortAscii(value, &length);
  const bool utf8 = (measured && ShortAscii(prefix) && ShortAscii(localName) &&
                     ShortAscii(namespaceUri)) ||
                    twxml::win32::ThreadCodePageIsUtf8();
  if (utf8 && writer->utf8Writer != nullptr) {
    length = LengthOrNull(&value, measured, length);
    return WriteResult(
        writer->utf8Writer->WriteAttributeStringUtf8(prefix, localName, namespaceUri, value, length));
  }
  twxml::lite::WideArg widePrefix(prefix, utf8), wideName(localName, utf8),
      wideUri(namespaceUri, utf8), wideValue(value, utf8);
  return WriteResult(writer->writer->WriteAttributeString(widePrefix.get(), wideName.get(),
                                                          wideUri.get(), wideValue.get()));
}

TWXML_API TWXML_NOINLINE int XmlLiteWriteValueF(_XmlLiteWriterS* writer, const char* text) {
  if (!WriterValid(writer)) return TWXML_E_HANDLE;
  size_t length;
  const bool measured = ShortAscii(text, &length);
  const bool utf8 = measured || twxml::win32::ThreadCodePageIsUtf8();
  if (utf8 && writer->utf8Writer != nullptr) {
    length = LengthOrNull(&text, measured, length);
    return WriteResult(writer->utf8Writer->WriteStringUtf8(text, length));
  }
  twxml::lite::WideArg wideText(text, utf8);
  return WriteResult(writer->writer->WriteString(wideText.get()));
}

TWXML_API TWXML_NOINLINE int XmlLiteWriteEndElemF(_XmlLiteWriterS* writer) {
  if (!WriterValid(writer)) return TWXML_E_HANDLE;
  return WriteResult(writer->writer->WriteEndElement());
}

TWXML_API int XmlLiteGetMemF(_XmlLiteWriterS* writer, char** text, unsigned int* length) {
  if (text != nullptr) *text = nullptr;
  if (length != nullptr) *length = 0;
  if (!WriterValid(writer)) return TWXML_E_HANDLE;
  // Nowhere to put the text: nothing is ended or copied.
  if (text == nullptr || length == nullptr) return TWXML_E_NOTFOUND;
  if (writer->textBuilder == nullptr) return TWXML_E_NOTFOUND;
  XmlLiteEndDocumentV(writer);
  *text = writer->textBuilder->AllocText(true);
  if (*text == nullptr) return TWXML_E_ALLOC;
  *length = writer->textBuilder->GetLength();
  return TWXML_OK;
}

TWXML_API int XmlLiteCloseWriterF(_XmlLiteWriterS* writer) {
  if (!WriterValid(writer)) return TWXML_E_HANDLE;
  if (writer->writer != nullptr) {
    XmlLiteEndDocumentV(writer);
    writer->writer->Release();  // lets go of the stream; a file is closed here
    writer->writer = nullptr;
  }
  // After the writer: the memory stream must never outlive its builder.
  if (writer->textBuilder != nullptr) {
    delete writer->textBuilder;
    writer->textBuilder = nullptr;
  }
  writer->magic = 0;
  return MemFreeF(writer);
}

}  // extern "C"
