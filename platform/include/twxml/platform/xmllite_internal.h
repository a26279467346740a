// The streaming reader linked in-process from the parser core (no module
// load): the document model's loader uses it so it works without the module;
// the module's factory calls it too. And the reader's and writer's calls
// that give and take UTF-8.
// Not installed and not exported.
#pragma once

#include <cstddef>

#include "twxml/platform/xmllite.h"

HRESULT TwCreateXmlReaderInProc(REFIID iid, void** out);

/* Writer calls taking UTF-8, for callers whose text is UTF-8 already (the
   handle interface in a UTF-8 thread): the same checks, output and results
   as the UTF-16 calls given each argument converted with
   twxml::utf::Utf8ToUtf16Replacing (a null argument stays null), without
   the conversion of the text. Values come with their length in bytes (no
   zero inside). The module's writer answers QueryInterface for it. */
struct IXmlWriterUtf8 : public IUnknown {
  virtual HRESULT WriteStartElementUtf8(const char* prefix, const char* localName,
                                        const char* namespaceUri) = 0;
  virtual HRESULT WriteAttributeStringUtf8(const char* prefix, const char* localName,
                                           const char* namespaceUri, const char* value,
                                           size_t valueLength) = 0;
  virtual HRESULT WriteStringUtf8(const char* text, size_t length) = 0;
};
TW_DEFINE_GUID(IID_TwXmlWriterUtf8, 0x6a1f3e31, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77, 0x78,
               0x6d, 0x6c, 0x7f);

/* Reader calls giving UTF-8, for callers that want UTF-8 anyway (the handle
   interface in a UTF-8 thread): the text the parser holds (well formed, no
   zero inside, valid until the reader moves), with the answers of the
   UTF-16 calls. The value call answers S_FALSE when part of the value went
   out through ReadValueChunk (GetValue gives the rest). The attribute is
   looked for in no namespace, as MoveToAttributeByName does without one;
   once the reader stands on it, its value is given as GetValueUtf8 would
   give it. ReadSignificant answers what Read would answer, called again as
   long as it gives a comment, white space or the XML declaration (nodes the
   handle interface never shows), and what IsEmptyElement then answers; the
   reader passes over those nodes without making them. The module's reader
   answers QueryInterface for it. */
struct IXmlReaderUtf8 : public IUnknown {
  virtual HRESULT GetLocalNameUtf8(const char** name, UINT* length) = 0;
  virtual HRESULT GetValueUtf8(const char** value, UINT* length) = 0;
  virtual HRESULT MoveToAttributeByNameUtf8(const char* localName, UINT length,
                                            const char** value, UINT* valueLength) = 0;
  virtual HRESULT ReadSignificant(XmlNodeType* nodeType, BOOL* emptyElement) = 0;
};
TW_DEFINE_GUID(IID_TwXmlReaderUtf8, 0x6a1f3e34, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77, 0x78,
               0x6d, 0x6c, 0x7f);

/* Answered by a stream that collects its bytes in memory (the handle
   interface's memory writer): a writer producing UTF-8 composes straight into
   room the stream reserves, where it would otherwise compose into a buffer of
   its own and hand that to Write, which copies it. ReserveRoom gives room for
   at least count bytes after what the stream holds, or null when memory ran
   out (nothing changes then). CommitRoom takes the first count bytes of the
   room as written, as Write would have taken them; the room is good until
   then. */
struct ITwByteTarget : public IUnknown {
  virtual char* ReserveRoom(size_t count) = 0;
  virtual void CommitRoom(size_t count) = 0;
};
TW_DEFINE_GUID(IID_TwByteTarget, 0x6a1f3e35, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77, 0x78,
               0x6d, 0x6c, 0x7f);
