// Reader handle: one streaming reader, with the nodes callers never care about
// hidden, the end of an empty element reported on its own, and one node of
// look-ahead so a caller can ask what comes next without losing it.
#include "lite_internal.h"
#include "narrow.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/win32_internal.h"

namespace {

constexpr uint32_t kElement = XmlNodeType_Element;
constexpr uint32_t kText = XmlNodeType_Text;
constexpr uint32_t kEndElement = XmlNodeType_EndElement;

// The current node's value into a caller's buffer in the thread's code page
// (utf8: whether that is UTF-8, asked by the caller).
int ValueIntoBuffer(_XmlLiteReaderS* reader, char* buffer, unsigned int size, bool utf8) {
  if (utf8 && reader->utf8Reader != nullptr) {
    const char* value = nullptr;
    UINT length = 0;
    const HRESULT hr = reader->utf8Reader->GetValueUtf8(&value, &length);
    if (hr == S_OK) return twxml::kernel::Utf8IntoBuffer(value, length, buffer, size);
    if (hr != S_FALSE) return TWXML_E_ENGINE;
  }
  LPCWSTR value = nullptr;
  if (reader->reader->GetValue(&value, nullptr) != S_OK) return TWXML_E_ENGINE;
  return twxml::kernel::NarrowIntoBuffer(value, buffer, size, utf8);
}

// A name the UTF-8 calls can look for as it is: present, well formed and
// of a length the wide form could have (anything else goes the wide way).
bool WellFormedName(const char* name, size_t* length) {
  if (name == nullptr) return false;
  const auto* s = reinterpret_cast<const unsigned char*>(name);
  size_t n = 0;
  while (s[n] != 0 && s[n] < 0x80) ++n;
  while (s[n] != 0) {
    if (s[n] < 0x80) {
      ++n;
      continue;
    }
    const twxml::utf::Utf8Char ch = twxml::utf::DecodeUtf8Char(s + n, 4);
    if (!ch.ok) return false;
    n += ch.len;
  }
  *length = n;
  return n < twxml::utf::WideZ::kMaxBytes && n <= 0xFFFFFFFFu;
}

}  // namespace

bool XmlLiteReaderValid(const _XmlLiteReaderS* handle) {
  // The registry vouches for an open record without touching it, whatever
  // the allocator has written into a closed one since. A live kernel block
  // of the record's size is what the buffer check (SafeChkBufF) answers 0
  // for from that same registry, so one look-up answers both.
  return handle != nullptr &&
         twxml::kernel::IsLiveBlock(handle, sizeof(_XmlLiteReaderS),
                                    twxml::kernel::BlockKind::ReaderHandle) &&
         handle->magic == kXmlLiteReaderMagic;
}

_XmlLiteReaderS* XmlLiteNewReaderH(IStream* stream) {
  auto* handle = static_cast<_XmlLiteReaderS*>(MemAllocP(sizeof(_XmlLiteReaderS)));
  if (handle == nullptr) return nullptr;
  handle->magic = 0;
  handle->reader = nullptr;
  handle->utf8Reader = nullptr;
  PFN_CreateXmlReader create = twxml::lite::ReaderFactory();
  if (create == nullptr ||
      create(IID_IXmlReader, reinterpret_cast<void**>(&handle->reader), nullptr) < 0 ||
      handle->reader == nullptr) {
    MemFreeF(handle);
    return nullptr;
  }
  handle->utf8Reader =
      twxml::lite::BorrowedInterface<IXmlReaderUtf8>(handle->reader, IID_TwXmlReaderUtf8);
  // A stream the reader cannot use shows up as a failed first step.
  handle->reader->SetInput(stream);
  handle->magic = kXmlLiteReaderMagic;
  twxml::kernel::MarkBlock(handle, twxml::kernel::BlockKind::ReaderHandle);
  handle->lookAheadType = XmlNodeType_None;
  handle->emptyElementPending = 0;
  return handle;
}

int XmlLiteNextNodeF(_XmlLiteReaderS* handle, uint32_t* type) {
  if (handle->emptyElementPending) {
    handle->emptyElementPending = 0;
    *type = kEndElement;
    return TWXML_OK;
  }
  XmlNodeType node = XmlNodeType_None;
  BOOL empty = FALSE;
  if (handle->utf8Reader != nullptr) {
    // The module's reader passes over what is skipped here without making
    // nodes of it, and tells about emptiness in the same call.
    const HRESULT hr = handle->utf8Reader->ReadSignificant(&node, &empty);
    if (hr != S_OK) return hr == S_FALSE ? TWXML_E_EOF : TWXML_E_ENGINE;
  } else {
    for (;;) {
      HRESULT hr = handle->reader->Read(&node);
      if (hr != S_OK) return hr == S_FALSE ? TWXML_E_EOF : TWXML_E_ENGINE;
      if (node != XmlNodeType_Comment && node != XmlNodeType_Whitespace &&
          node != XmlNodeType_XmlDeclaration)
        break;
    }
    if (node == XmlNodeType_Element) empty = handle->reader->IsEmptyElement();
  }
  handle->emptyElementPending = node == XmlNodeType_Element && empty ? 1 : 0;
  *type = static_cast<uint32_t>(node);
  return TWXML_OK;
}

int XmlLiteExpectNodeF(_XmlLiteReaderS* handle, uint32_t wanted) {
  if (handle->lookAheadType != XmlNodeType_None) {
    if (handle->lookAheadType != wanted) return TWXML_E_NOTFOUND;
    handle->lookAheadType = XmlNodeType_None;
    return TWXML_OK;
  }
  uint32_t type = XmlNodeType_None;
  int status = XmlLiteNextNodeF(handle, &type);
  if (status != TWXML_OK) return status;
  if (type == wanted) return TWXML_OK;
  handle->lookAheadType = type;
  return TWXML_E_NOTFOUND;
}

extern "C" {

TWXML_API BOOL XmlLiteIsReaderHndValidB(_XmlLiteReaderS* reader) {
  return XmlLiteReaderValid(reader) ? 1 : 0;
}

TWXML_API TWXML_NOINLINE int XmlLiteReadElemF(_XmlLiteReaderS* reader) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  return XmlLiteExpectNodeF(reader, kElement);
}

TWXML_API TWXML_NOINLINE int XmlLitePeekElemF(_XmlLiteReaderS* reader) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  int status = XmlLiteExpectNodeF(reader, kElement);
  if (status == TWXML_OK) reader->lookAheadType = kElement;
  return status;
}

TWXML_API TWXML_NOINLINE int XmlLiteReadEndElemF(_XmlLiteReaderS* reader) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  return XmlLiteExpectNodeF(reader, kEndElement);
}

TWXML_API TWXML_NOINLINE int XmlLiteSkipLevelF(_XmlLiteReaderS* reader) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  // Reads past the look-ahead slot on purpose: a peeked start stays held.
  uint32_t depth = 1;
  do {
    uint32_t type = XmlNodeType_None;
    int status = XmlLiteNextNodeF(reader, &type);
    if (status != TWXML_OK) return status;
    if (type == kEndElement)
      --depth;
    else if (type == kElement)
      ++depth;
  } while (depth != 0);
  return TWXML_OK;
}

TWXML_API int XmlLiteCloseReaderF(_XmlLiteReaderS* reader) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  if (reader->reader != nullptr) {
    reader->reader->Release();  // the input stream goes with the last reference
    reader->reader = nullptr;
  }
  reader->magic = 0;
  return MemFreeF(reader);
}

TWXML_API _XmlLiteReaderS* XmlLiteCreateMemReaderH(const char* text) {
  IStream* stream = twxml::lite::NewReadingMemStream(text);
  if (stream == nullptr) return nullptr;
  _XmlLiteReaderS* handle = XmlLiteNewReaderH(stream);
  stream->Release();  // the reader holds its own reference, if it was made
  return handle;
}

TWXML_API _XmlLiteReaderS* XmlLiteCreateFileReaderH(const char* path) {
  IStream* stream = nullptr;
  if (twxml::lite::OpenFileStream(path, false, &stream) != S_OK || stream == nullptr)
    return nullptr;
  _XmlLiteReaderS* handle = XmlLiteNewReaderH(stream);
  stream->Release();  // closes the file if no reader took it
  return handle;
}

// Text extraction: the reader's own wide strings go straight to the
// conversion routine, whose status is the answer.

TWXML_API TWXML_NOINLINE int XmlLiteGetElemNameToBufF(_XmlLiteReaderS* reader, char* buffer,
                                                      unsigned int size) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  if (reader->utf8Reader != nullptr && twxml::win32::ThreadCodePageIsUtf8()) {
    const char* name = nullptr;
    UINT length = 0;
    if (reader->utf8Reader->GetLocalNameUtf8(&name, &length) != S_OK) return TWXML_E_ENGINE;
    return twxml::kernel::Utf8IntoBuffer(name, length, buffer, size);
  }
  LPCWSTR name = nullptr;
  UINT length = 0;
  if (reader->reader->GetLocalName(&name, &length) != S_OK) return TWXML_E_ENGINE;
  return VarCnvBStrToStrBufF(name, buffer, size);
}

TWXML_API TWXML_NOINLINE int XmlLiteGetAttrValueToBufF(_XmlLiteReaderS* reader, const char* name,
                                                       char* buffer, unsigned int size) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  // The thread's code page, asked once for the name and the value.
  const bool utf8 = twxml::win32::ThreadCodePageIsUtf8();
  size_t nameLength;
  if (utf8 && reader->utf8Reader != nullptr && WellFormedName(name, &nameLength)) {
    const char* value = nullptr;
    UINT valueLength = 0;
    HRESULT hr = reader->utf8Reader->MoveToAttributeByNameUtf8(name, static_cast<UINT>(nameLength),
                                                               &value, &valueLength);
    if (hr == S_FALSE) return TWXML_E_NOTFOUND;
    if (hr != S_OK) return TWXML_E_ENGINE;
    // Just moved: the whole value, as GetValueUtf8 gives it.
    return twxml::kernel::Utf8IntoBuffer(value, valueLength, buffer, size);
  }
  twxml::lite::WideArg wideName(name, utf8);
  HRESULT hr = reader->reader->MoveToAttributeByName(wideName.get(), nullptr);
  if (hr == S_FALSE) return TWXML_E_NOTFOUND;
  if (hr != S_OK) return TWXML_E_ENGINE;
  return ValueIntoBuffer(reader, buffer, size, utf8);
}

TWXML_API TWXML_NOINLINE int XmlLiteGetElemValueToBufF(_XmlLiteReaderS* reader, char* buffer,
                                                       unsigned int size) {
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  int status = XmlLiteExpectNodeF(reader, kText);
  if (status != TWXML_OK) {
    if (status != TWXML_E_NOTFOUND) {
      // Slot still empty: hold whatever comes next; a failure here is
      // not reported, the caller just gets the empty text.
      uint32_t type = XmlNodeType_None;
      if (XmlLiteNextNodeF(reader, &type) == TWXML_OK) reader->lookAheadType = type;
    }
    // The empty text. A zero-size buffer gets nothing, so it is never overrun.
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return TWXML_OK;
  }
  return ValueIntoBuffer(reader, buffer, size, twxml::win32::ThreadCodePageIsUtf8());
}

}  // extern "C"
