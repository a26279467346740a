// The library's one global value: its module handle, written when the
// process attaches the library and read nowhere inside it.
#pragma once

#include "twxml/platform/win32.h"

extern HINSTANCE moduleHandle;
