// Why and where a document load failed: the DOM's parse error, whose reason
// is the parser's message, handed out as narrow text.
#include "dom_support.h"
#include "twxml/document.h"
#include "twxml/kernel.h"

using twxml_dom::Ref;

int KxXMLParserImpl::GetLoadErrorF(unsigned int* line, unsigned int* column, char* message,
                                   unsigned int size) {
  if (line) *line = 0;
  if (column) *column = 0;
  if (!domDocument) return TWXML_E_HANDLE;
  Ref<IXMLDOMParseError> error;
  LONG code = 0;
  if (FAILED(domDocument->get_parseError(error.out())) || !error ||
      FAILED(error->get_errorCode(&code)) || code == 0)
    return TWXML_E_NOTFOUND;
  LONG l = 0, c = 0;
  error->get_line(&l);
  error->get_linepos(&c);
  if (line) *line = l > 0 ? unsigned(l) : 0;
  if (column) *column = c > 0 ? unsigned(c) : 0;
  if (message == nullptr || size == 0) return TWXML_OK;
  BSTR reason = nullptr;
  if (FAILED(error->get_reason(&reason))) return TWXML_E_NOTFOUND;
  int status = VarCnvBStrToStrBufF(reason ? reason : u"", message, size);
  SysFreeString(reason);
  return status;
}

extern "C" TWXML_API int XmlGetLoadErrorF(KxXMLParser* parser, unsigned int* line,
                                          unsigned int* column, char* message,
                                          unsigned int size) {
  auto* impl = dynamic_cast<KxXMLParserImpl*>(parser);
  if (impl == nullptr) {
    if (line) *line = 0;
    if (column) *column = 0;
    return TWXML_E_HANDLE;
  }
  return impl->GetLoadErrorF(line, column, message, size);
}
