// Errors of XmlInterface objects and of its reader factories: the streaming
// engine asks its reader handle; the document engine's reading cannot fail
// once loaded, so its failures are those of the load, kept per thread.
#include "last_error.h"

#include <cstring>

#include "lite_engine.h"
#include "twxml/document.h"
#include "twxml/handles.h"
#include "twxml/xmlinterface.h"

namespace {

struct LoadError {
  bool failed = false;
  unsigned int line = 0, column = 0;
  char message[1024] = {};  // the thread's code page
};

thread_local LoadError tLastLoad;

}  // namespace

namespace twxml_detail {

void ClearLoadError() { tLastLoad.failed = false; }

void RecordLoadError(KxXMLParser* parser) {
  LoadError& e = tLastLoad;
  e.message[0] = '\0';
  e.failed = XmlGetLoadErrorF(parser, &e.line, &e.column, e.message, sizeof e.message) == 0;
}

}  // namespace twxml_detail

int XmlInterface::GetLastErrorF(unsigned int* line, unsigned int* column, char* message,
                                unsigned int size) {
  auto* lite = dynamic_cast<XmlInterfaceToLite*>(this);
  if (lite != nullptr && lite->ReaderHandle() != nullptr)
    return XmlLiteGetLastErrorF(lite->ReaderHandle(), line, column, message, size);
  if (line) *line = 0;
  if (column) *column = 0;
  return TWXML_E_NOTFOUND;
}

int XmlInterface::GetLastLoadErrorF(unsigned int* line, unsigned int* column, char* message,
                                    unsigned int size) {
  const LoadError& e = tLastLoad;
  if (line) *line = e.failed ? e.line : 0;
  if (column) *column = e.failed ? e.column : 0;
  if (!e.failed) return TWXML_E_NOTFOUND;
  if (message != nullptr && size > 0) {
    // Cut to size on a character boundary of a UTF-8 code page; a message
    // of other code pages is ASCII but for names, cut by bytes.
    size_t n = std::strlen(e.message);
    int status = TWXML_OK;
    if (n >= size) {
      n = size - 1;
      while (n > 0 && (static_cast<unsigned char>(e.message[n]) & 0xC0) == 0x80) --n;
      status = TWXML_E_NOTFOUND;  // cut, as the text functions answer
    }
    std::memcpy(message, e.message, n);
    message[n] = '\0';
    return status;
  }
  return TWXML_OK;
}
