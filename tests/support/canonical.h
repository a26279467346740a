// libxml2's canonical form of a document (comments kept, entities expanded,
// attribute defaults applied) as the oracle for copies. Nothing outside the
// document is loaded, as the library never loads it. A form that cannot be
// made starts with "(".
#pragma once

#include <libxml/c14n.h>
#include <libxml/parser.h>

#include <string>

namespace twtest {

inline xmlParserInputPtr NoExternalInput(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }
inline void SilentError(void*, const char*, ...) {}
inline void SilentStructuredError(void*, xmlErrorPtr) {}

inline std::string Canonical(const std::string& bytes) {
  static const bool once = (xmlSetExternalEntityLoader(NoExternalInput),
                            xmlSetGenericErrorFunc(nullptr, SilentError),
                            xmlSetStructuredErrorFunc(nullptr, SilentStructuredError), true);
  (void)once;
  xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "doc.xml", nullptr,
                                XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET | XML_PARSE_HUGE |
                                    XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) return "(not well-formed)";
  xmlChar* out = nullptr;
  int n = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 1, &out);
  std::string s = n >= 0 ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)) : "(none)";
  xmlFree(out);
  xmlFreeDoc(doc);
  return s;
}

}  // namespace twtest
