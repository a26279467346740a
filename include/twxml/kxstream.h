// KxStream: the byte stream that documents load from and save to. The
// order of the virtual operations is part of the exported interface.
#pragma once

#include "twxml/platform/win32.h"

class TWXML_API KxStream {
 public:
  virtual ~KxStream();
  /* 0 when all the bytes were taken. */
  virtual int WriteF(void* bytes, unsigned int count) = 0;
  /* 0 when exactly count bytes were delivered into the buffer. */
  virtual int ReadF(void* buffer, unsigned int count) = 0;
  /* Number of bytes the stream holds. */
  virtual unsigned int GetSizeUl() = 0;
  /* Moves the read position back to the first byte; 0 on success. */
  virtual int RewindF() = 0;
  /* The stream's bytes in memory; the base answers null. */
  virtual char* GetMemP();
  /* Number of content bytes; the base answers GetSizeUl(). */
  virtual unsigned int GetContentSizeUl();
  /* A new zero-terminated copy of GetMemP()'s GetSizeUl() bytes, released
     with MemFreeF; null when there is no memory to show or no copy. */
  virtual char* AllocMemP(unsigned int* size);

  KxStream(const KxStream&) {}
  KxStream& operator=(const KxStream&) { return *this; }

 protected:
  KxStream() {}
};
