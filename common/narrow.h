// Wide text into a caller's buffer in the thread's code page: what
// VarCnvBStrToStrBufF does, for callers that asked for the thread's code
// page once already (a handle call converting a name and then a value).
#pragma once

#include "twxml/platform/win32.h"

namespace twxml::kernel {

// VarCnvBStrToStrBufF with utf8 saying what twxml::win32::ThreadCodePageIsUtf8()
// answered for this thread now.
int NarrowIntoBuffer(const WCHAR* text, char* buffer, unsigned int size, bool utf8);

}  // namespace twxml::kernel
