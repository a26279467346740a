// Entry points of the loadable reader/writer module.
#include "twxml/platform/xmllite.h"

extern "C" TWXML_API HRESULT CreateXmlReader(REFIID iid, void** out, IMalloc* malloc) {
  (void)malloc;  // the reader allocates with the C++ allocator
  return TwCreateXmlReaderInProc(iid, out);
}
