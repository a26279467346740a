// Helpers shared by the operating-system stand-in's source files.
#pragma once

#include "twxml/platform/win32_internal.h"

namespace tw::win32 {

// The error number for errno value err; path (may be null) tells a missing
// file (ERROR_FILE_NOT_FOUND) from a missing directory on the way to it
// (ERROR_PATH_NOT_FOUND).
DWORD ErrorFromErrno(int err, const char* path = nullptr);

// SetLastError(ErrorFromErrno(err, path)).
void SetLastErrorFromErrno(int err, const char* path = nullptr);

}  // namespace tw::win32
