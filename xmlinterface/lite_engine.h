// The streaming engine: every XmlInterface operation is one call of the
// handle functions; an answer of 0 becomes true. The engine keeps no state
// of its own: look-ahead and document state live in the handles.
#pragma once

#include "twxml/xmlinterface.h"

class XmlInterfaceToLite : public XmlInterface {
 public:
  explicit XmlInterfaceToLite(_XmlLiteReaderS* reader);
  explicit XmlInterfaceToLite(_XmlLiteWriterS* writer);
  ~XmlInterfaceToLite() override;

  bool ReadElemB(bool peek) override;
  bool EndElemB() override;
  bool GetElemNameToBufB(char* buffer, unsigned int size) override;
  bool GetAttrValueToBufB(char* name, char* buffer, unsigned int size) override;
  bool GetAttrValueToIntB(char* name, int* value) override;
  bool GetElemValueToBufB(char* buffer, unsigned int size) override;
  bool SkipLevelB() override;
  bool WriteStartElemNsB(char* prefix, char* name, char* namespaceUri) override;
  bool WriteStartElemB(char* name) override;
  bool WriteAttrNsB(char* prefix, char* name, char* namespaceUri, char* value) override;
  bool WriteAttrB(char* name, char* value) override;
  bool WriteIntAttrNsB(char* prefix, char* name, char* namespaceUri, int value) override;
  bool WriteIntAttrB(char* name, int value) override;
  bool WriteValueB(char* text) override;
  char* AllocMemP(unsigned int* size) override;
  void FlushV() override;

  _XmlLiteReaderS* ReaderHandle() const { return readerHandle; }
  _XmlLiteWriterS* WriterHandle() const { return writerHandle; }

  XmlInterfaceToLite(const XmlInterfaceToLite&) = delete;
  XmlInterfaceToLite& operator=(const XmlInterfaceToLite&) = delete;

 private:
  _XmlLiteReaderS* readerHandle;
  _XmlLiteWriterS* writerHandle;
};

namespace twxml_detail {
// Leading-number rule: blanks skipped, optional sign, decimal digits up to
// the first other character; no digits gives 0. Saturates at the int range.
int LeadingNumber(const char* text);
// Base-10 text of value into a buffer of at least 12 bytes, zero-terminated.
void IntToText(int value, char* out);
}  // namespace twxml_detail
