// The handle interface: a pull reader that walks a document element by
// element with one node of look-ahead, and a writer that writes one element
// by element. Text is narrow, in the thread's code page; results are the
// status codes of twxml/status.h.
#pragma once

#include "twxml/platform/win32.h"
#include "twxml/status.h"

struct _XmlLiteReaderS;
struct _XmlLiteWriterS;

extern "C" {
/* 1 when the streaming module can be loaded (probed once per process). */
TWXML_API BOOL XmlLiteIsDllFoundB(void);

TWXML_API _XmlLiteReaderS* XmlLiteCreateMemReaderH(const char* text);
TWXML_API _XmlLiteReaderS* XmlLiteCreateFileReaderH(const char* path);
TWXML_API BOOL XmlLiteIsReaderHndValidB(_XmlLiteReaderS* reader);
TWXML_API int XmlLiteReadElemF(_XmlLiteReaderS* reader);
TWXML_API int XmlLitePeekElemF(_XmlLiteReaderS* reader);
TWXML_API int XmlLiteReadEndElemF(_XmlLiteReaderS* reader);
TWXML_API int XmlLiteSkipLevelF(_XmlLiteReaderS* reader);
TWXML_API int XmlLiteCloseReaderF(_XmlLiteReaderS* reader);
TWXML_API int XmlLiteGetElemNameToBufF(_XmlLiteReaderS* reader, char* buffer, unsigned int size);
TWXML_API int XmlLiteGetAttrValueToBufF(_XmlLiteReaderS* reader, const char* name, char* buffer,
                                        unsigned int size);
TWXML_API int XmlLiteGetElemValueToBufF(_XmlLiteReaderS* reader, char* buffer, unsigned int size);
/* Extension: why and where the reader's document failed. Once a call failed
   on malformed input or a failing stream: the 1-based line and column, the
   message (thread code page) and the status of its copy as for the text
   functions (0, or 30 when cut to size). While nothing has failed: 30, line
   and column 0. 44 for a bad handle. Any out pointer may be null. */
TWXML_API int XmlLiteGetLastErrorF(_XmlLiteReaderS* reader, unsigned int* line,
                                   unsigned int* column, char* message, unsigned int size);

TWXML_API _XmlLiteWriterS* XmlLiteCreateMemWriterH(int indent, const char* encoding);
TWXML_API _XmlLiteWriterS* XmlLiteCreateFileWriterH(const char* path, int indent,
                                                   const char* encoding);
TWXML_API BOOL XmlLiteIsWriterHndValidB(_XmlLiteWriterS* writer);
TWXML_API int XmlLiteWriteStartElemF(_XmlLiteWriterS* writer, const char* prefix,
                                     const char* localName, const char* namespaceUri);
TWXML_API int XmlLiteWriteAttrF(_XmlLiteWriterS* writer, const char* prefix, const char* localName,
                                const char* namespaceUri, const char* value);
TWXML_API int XmlLiteWriteValueF(_XmlLiteWriterS* writer, const char* text);
TWXML_API int XmlLiteWriteEndElemF(_XmlLiteWriterS* writer);
/* The finished document as a new copy released with MemFreeF, and its length. */
TWXML_API int XmlLiteGetMemF(_XmlLiteWriterS* writer, char** text, unsigned int* length);
TWXML_API int XmlLiteCloseWriterF(_XmlLiteWriterS* writer);
}
