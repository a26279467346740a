// Internals of the handle interface shared by its translation units and by
// the unit tests (which link the object library and so see these hidden
// names). Nothing here is exported from the shared library.
#pragma once

#include <cstdint>

#include "block_registry.h"
#include "twxml/handles.h"
#include "twxml/kernel.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

// The XmlInterface streaming engine calls the handle functions through
// one-line wrappers in this library. Marked with this, they stay out of line:
// each wrapper is then a call and a compare, where inlined into it they made
// it save and restore registers on every call.
#define TWXML_NOINLINE __attribute__((noinline))

inline constexpr uint16_t kXmlLiteReaderMagic = 0x7354;
inline constexpr uint16_t kXmlLiteWriterMagic = 0x7352;

struct _XmlLiteReaderS {
  uint16_t magic;
  IXmlReader* reader;
  uint32_t lookAheadType;
  uint8_t emptyElementPending;
  // After the record's own fields: the same reader's UTF-8 calls (no
  // reference of its own), or null when the module's reader has none.
  IXmlReaderUtf8* utf8Reader;
};

struct _XmlLiteWriterS {
  uint16_t magic;
  IXmlWriter* writer;
  IUnknown* encodedOutput;
  StringBuilder* textBuilder;
  uint8_t documentEnded;
  // After the record's own fields: the same writer's UTF-8 calls (no
  // reference of its own), or null when the module's writer has none.
  IXmlWriterUtf8* utf8Writer;
};

// Reader core, used by the creators and by the text functions.
_XmlLiteReaderS* XmlLiteNewReaderH(IStream* stream);
int XmlLiteNextNodeF(_XmlLiteReaderS* handle, uint32_t* type);
int XmlLiteExpectNodeF(_XmlLiteReaderS* handle, uint32_t wanted);
bool XmlLiteReaderValid(const _XmlLiteReaderS* handle);

// Writer core, shared by the memory and file creators.
_XmlLiteWriterS* XmlLiteNewWriterH(IStream* stream, StringBuilder* builder, bool indent,
                                   const char* encoding);
void XmlLiteEndDocumentV(_XmlLiteWriterS* handle);

namespace twxml::lite {

// Byte streams; each is returned holding one reference for its maker.
IStream* NewReadingMemStream(const char* text);
IStream* NewWritingMemStream(StringBuilder* sink);
// Opens path for reading (existing file) or writing (created or emptied).
// S_OK and a stream, or the failure HRESULT and null.
HRESULT OpenFileStream(const char* path, bool forWriting, IStream** out);

// Entry points of the streaming module, bound on first use. Null when the
// module cannot be loaded or does not export the name.
PFN_CreateXmlReader ReaderFactory();
PFN_CreateXmlWriter WriterFactory();
PFN_CreateXmlWriterOutputWithEncodingName OutputFactory();

// Test seam: replaces the bound entry points (null restores binding through
// the module on next use). Used by unit tests that script a reader or writer.
void SetFactoriesForTest(PFN_CreateXmlReader reader, PFN_CreateXmlWriter writer,
                         PFN_CreateXmlWriterOutputWithEncodingName output);

// An interface the object also answers, without a reference of its own (the
// object's keeps it), or null.
template <class T>
T* BorrowedInterface(IUnknown* object, REFIID iid) {
  void* p = nullptr;
  if (object->QueryInterface(iid, &p) != S_OK || p == nullptr) return nullptr;
  static_cast<T*>(p)->Release();
  return static_cast<T*>(p);
}

// Narrow text in the thread's code page as wide text, valid while the object
// lives. Null input, an over-long text or a refused conversion give null.
// Short texts stay on the stack so steady-state calls do not allocate.
class WideArg : public twxml::utf::WideZ {
 public:
  explicit WideArg(const char* text);
  // utf8: what twxml::win32::ThreadCodePageIsUtf8() answered for this call,
  // asked once for all of a call's arguments.
  WideArg(const char* text, bool utf8);
};

}  // namespace twxml::lite
