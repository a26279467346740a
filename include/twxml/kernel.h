// Kernel and support services: memory, buffer checks, trimming, text
// building, byte streams and wide-to-narrow conversion.
#pragma once

#include "twxml/kxstream.h"
#include "twxml/platform/win32.h"
#include "twxml/status.h"

extern "C" {
/* A block of at least size bytes, or null. */
TWXML_API void* MemAllocP(size_t size);
/* 0 when freed (a null block is 0 too). */
TWXML_API int MemFreeF(void* block);
/* 0 when size bytes at p may be read and written; never faults. */
TWXML_API int SafeChkBufF(const void* p, size_t size);

/* Blanks are space, tab, CR, LF, VT and FF. Returns the new length. */
TWXML_API unsigned int StrTrimStrRightU(char* text);
/* src copied into dst (cut to size - 1 bytes, zero-terminated), then
   trailing blanks removed. A null src leaves the empty text. */
TWXML_API void StrNCopyRTrimV(const char* src, char* dst, unsigned int size);
/* Length without trailing blanks (0 for null, empty or all-blank text). */
TWXML_API unsigned int StrPadGetSizeU(const char* text);
/* Removes in place every character that may not stand in an XML name
   (anything that is not a NameChar of XML 1.0 Fifth Edition, ':' kept). In
   narrow text, bytes of the thread's code page outside ASCII are kept when
   they form a valid name character. */
TWXML_API void StrRemoveIllegalXMLNameCharV(char* text);
TWXML_API void StrRemoveIllegalXMLNameWCharV(WCHAR* text);

/* File stream over path: mode 0 opens an existing file for reading, mode 2
   creates or empties it for writing. Null on failure. */
TWXML_API KxStream* StreamCreateFileStreamP(const char* path, int reserved1, int mode,
                                            int reserved2);
/* Memory stream. Reading: buffer and its size, not growable, not owned (the
   bytes are read in place). Writing: no buffer, an initial capacity, growable
   and owning its memory. The name is informational. *status is always
   written: 0 on success, TWXML_E_ALLOC when memory ran out,
   TWXML_E_CREATE for a combination of arguments that makes no stream. */
TWXML_API KxStream* StreamCreateMemStreamP(char* buffer, unsigned long size, const char* name,
                                           int growable, int ownsBuffer, int* status);

/* Wide text to a new narrow copy in the thread's code page, released with
   MemFreeF. 0 on success; TWXML_E_NOTFOUND for null text or refused
   conversion; TWXML_E_ALLOC when memory ran out. */
TWXML_API int VarCnvBStrToStrF(const WCHAR* text, char** out);
/* Wide text into a caller buffer in the thread's code page, zero-terminated.
   0 when it fits; otherwise TWXML_E_NOTFOUND with the text cut on a
   character boundary. A null or zero-size buffer is TWXML_E_NOTFOUND and
   nothing is written; null text gives the empty text and 0. */
TWXML_API int VarCnvBStrToStrBufF(const WCHAR* text, char* buffer, unsigned int size);
}

/* Growable byte buffer with amortised growth. */
class TWXML_API StringBuilder {
 public:
  explicit StringBuilder(unsigned int initialCapacity);
  virtual ~StringBuilder();
  /* 0 when appended, TWXML_E_ALLOC when memory ran out (nothing appended). */
  int Append(const void* bytes, unsigned int count);
  unsigned int GetLength() const { return length_; }
  /* The bytes held (not zero-terminated); may be null when empty. */
  const char* GetData() const { return data_; }
  /* A new zero-terminated copy released with MemFreeF, or null. */
  char* AllocText(bool zeroTerminate);
  void Clear() { length_ = 0; }
  /* Room for count more bytes after those held, or null when memory ran out
     (nothing changes then). The room is good until the next Append or
     Reserve. For the library's own writer. */
  TWXML_LIBRARY_ONLY char* Reserve(unsigned int count);
  /* The first count bytes of the room, written, become held. */
  void Commit(unsigned int count) { length_ += count; }

  StringBuilder(const StringBuilder&) = delete;
  StringBuilder& operator=(const StringBuilder&) = delete;

 private:
  TWXML_LIBRARY_ONLY int Grow(uint64_t need);

  char* data_;
  unsigned int length_;
  unsigned int capacity_;
};
