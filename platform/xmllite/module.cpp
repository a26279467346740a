// Entry points of the loadable reader/writer module.
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

extern "C" TWXML_API HRESULT CreateXmlReader(REFIID iid, void** out, IMalloc* malloc) {
  (void)malloc;  // the reader allocates with the C++ allocator
  return TwCreateXmlReaderInProc(iid, out);
}
