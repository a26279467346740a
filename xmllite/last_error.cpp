// Why and where a reader handle's document failed, from the streaming
// reader's error extension, in the message table's words.
#include "lite_internal.h"

extern "C" TWXML_API int XmlLiteGetLastErrorF(_XmlLiteReaderS* reader, unsigned int* line,
                                              unsigned int* column, char* message,
                                              unsigned int size) {
  if (line) *line = 0;
  if (column) *column = 0;
  if (!XmlLiteReaderValid(reader)) return TWXML_E_HANDLE;
  IXmlReaderError* info = nullptr;
  if (reader->reader == nullptr ||
      reader->reader->QueryInterface(IID_IXmlReaderError, reinterpret_cast<void**>(&info)) != S_OK ||
      info == nullptr)
    return TWXML_E_NOTFOUND;
  UINT l = 0, c = 0;
  LPCWSTR text = nullptr;
  HRESULT hr = info->GetLastError(&l, &c, &text);
  int status = TWXML_E_NOTFOUND;
  if (hr == S_OK) {
    if (line) *line = l;
    if (column) *column = c;
    status = message != nullptr && size > 0 ? VarCnvBStrToStrBufF(text, message, size) : TWXML_OK;
  }
  info->Release();  // the text lives with the reader, not with this reference
  return status;
}
