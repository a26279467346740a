// Per-thread last-error slot and the errno -> error number mapping.
#include <cerrno>
#include <cstring>
#include <climits>
#include <sys/stat.h>

#include "internal.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;

constexpr DWORD kErrorFilenameTooLong = 206;
constexpr DWORD kErrorIoDevice = 1117;

// A missing file inside an existing directory is "file not found"; a missing
// directory on the way is "path not found".
bool ParentExists(const char* path) {
  if (path == nullptr) return true;
  size_t n = std::strlen(path);
  while (n > 1 && path[n - 1] == '/') --n;
  size_t slash = n;
  while (slash > 0 && path[slash - 1] != '/') --slash;
  if (slash == 0) return true;  // relative name in the current directory
  char parent[PATH_MAX];
  const size_t len = slash == 1 ? 1 : slash - 1;
  if (len >= sizeof parent) return false;  // too long to be a folder here
  std::memcpy(parent, path, len);
  parent[len] = 0;
  struct stat st;
  return ::stat(parent, &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

namespace tw::win32 {

DWORD ErrorFromErrno(int err, const char* path) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL:
    case ESPIPE:
    case EFAULT: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EILSEQ: return ERROR_NO_UNICODE_TRANSLATION;
    default: return kErrorIoDevice;
  }
}

void SetLastErrorFromErrno(int err, const char* path) { t_lastError = ErrorFromErrno(err, path); }

}  // namespace tw::win32

extern "C" {

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

int lstrlenA(LPCSTR text) {
  if (text == nullptr) return 0;
  const size_t n = std::strlen(text);
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

int lstrlenW(LPCWSTR text) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

}  // extern "C"
