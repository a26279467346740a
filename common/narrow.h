// Wide text into a caller's buffer in the thread's code page: what
// VarCnvBStrToStrBufF does, for callers that asked for the thread's code
// page once already (a handle call converting a name and then a value).
#pragma once

#include "twxml/platform/win32.h"

namespace twxml::kernel {

// VarCnvBStrToStrBufF with utf8 saying what twxml::win32::ThreadCodePageIsUtf8()
// answered for this thread now.
int NarrowIntoBuffer(const WCHAR* text, char* buffer, unsigned int size, bool utf8);

// What NarrowIntoBuffer gives in a UTF-8 thread for the UTF-16 form of
// well-formed UTF-8 text (n bytes, no zero inside): the text itself, cut on
// a character boundary when it does not fit.
int Utf8IntoBuffer(const char* text, size_t n, char* buffer, unsigned int size);

}  // namespace twxml::kernel
