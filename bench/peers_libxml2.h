// What the libxml2 peer files share.
#pragma once

#include <libxml/parser.h>

namespace twbench {

// Initialises libxml2 once and keeps its error messages off the terminal
// (the documents are well-formed; a failure shows as an error result).
void quietLibxml2();

inline const char* C(const xmlChar* s) { return reinterpret_cast<const char*>(s); }
inline unsigned touch(const xmlChar* s) { return s ? s[0] : 0; }

}  // namespace twbench
