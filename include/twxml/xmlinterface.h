// XmlInterface: read or write a document element by element, with the
// streaming engine when its module can be loaded and the DOM engine
// otherwise. The order of the virtual operations is part of the exported
// interface. Text is narrow, in the thread's code page.
#pragma once

#include "twxml/kxstream.h"
#include "twxml/platform/win32.h"

struct _XmlLiteReaderS;
struct _XmlLiteWriterS;

class TWXML_API XmlInterface {
 public:
  virtual bool ReadElemB(bool peek) = 0;
  virtual ~XmlInterface();
  virtual bool EndElemB() = 0;
  virtual bool GetElemNameToBufB(char* buffer, unsigned int size) = 0;
  virtual bool GetAttrValueToBufB(char* name, char* buffer, unsigned int size) = 0;
  virtual bool GetAttrValueToIntB(char* name, int* value) = 0;
  virtual bool GetElemValueToBufB(char* buffer, unsigned int size) = 0;
  virtual bool SkipLevelB() = 0;
  virtual bool WriteStartElemNsB(char* prefix, char* name, char* namespaceUri) = 0;
  virtual bool WriteStartElemB(char* name) = 0;
  virtual bool WriteAttrNsB(char* prefix, char* name, char* namespaceUri, char* value) = 0;
  virtual bool WriteAttrB(char* name, char* value) = 0;
  virtual bool WriteIntAttrNsB(char* prefix, char* name, char* namespaceUri, int value) = 0;
  virtual bool WriteIntAttrB(char* name, int value) = 0;
  virtual bool WriteValueB(char* text) = 0;
  virtual char* AllocMemP(unsigned int* size) = 0;
  virtual void FlushV() = 0;

  bool PeekElemB();
  bool SelectElemB();
  bool ExtractNameB(char* leading, char* buffer, unsigned int size);
  bool IsThisNameB(char* leading, char* name);

  /* Extension: why and where the object's reading failed, answered as
     XmlLiteGetLastErrorF answers (30 with line 0 while nothing failed:
     always for writers and for the document engine, whose document loaded
     whole before the object was made). */
  int GetLastErrorF(unsigned int* line, unsigned int* column, char* message, unsigned int size);
  /* Extension: the same for the calling thread's last reader factory call,
     when the document engine's load failed there (no object to ask); 30
     when that call did not fail so. */
  static int GetLastLoadErrorF(unsigned int* line, unsigned int* column, char* message,
                               unsigned int size);

  static int CreateReaderFromFileF(char* path, XmlInterface** ppOut, bool forceDom);
  static int CreateReaderFromFileF(char* path, XmlInterface** ppOut);
  static int CreateWriterToFileF(char* path, XmlInterface** ppOut, bool indent, bool forceDom,
                                 char* encoding);
  static int CreateWriterToFileF(char* path, XmlInterface** ppOut, bool indent);
  static int CreateReaderFromMemF(char* text, unsigned long length, XmlInterface** ppOut,
                                  bool forceDom);
  static int CreateReaderFromMemF(char* text, unsigned long length, XmlInterface** ppOut);
  static int CreateWriterToMemF(XmlInterface** ppOut, bool indent, bool forceDom, char* encoding);
  static int CreateWriterToMemF(XmlInterface** ppOut, bool indent);

  XmlInterface() {}
  XmlInterface(const XmlInterface&) {}
  XmlInterface& operator=(const XmlInterface&) { return *this; }

 private:
  static int CreateReaderFromLiteReaderf(_XmlLiteReaderS* readerHandle, XmlInterface** ppOut);
  static int CreateWriterFromLiteWriterf(_XmlLiteWriterS* writerHandle, XmlInterface** ppOut);
  static int CreateReaderFromStreamf(KxStream* stream, XmlInterface** ppOut);
  static int CreateWriterFromStreamf(KxStream* stream, char* encoding, XmlInterface** ppOut);
};
