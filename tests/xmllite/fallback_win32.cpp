// Minimal stand-ins for the operating-system calls the handle interface
// makes, so its unit tests link before the platform layer exists (CMake adds
// this file only then).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "twxml/kernel.h"

bool g_twxmlTestFallbackFiles = false;

namespace {
thread_local DWORD t_lastError = 0;
DWORD FromErrno(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_INVALID_FUNCTION;
  }
}
int Fd(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }
}  // namespace

extern "C" {
DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }
int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }

// UTF-8 only.
int MultiByteToWideChar(UINT, DWORD, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
  if (srcLen < 0) srcLen = static_cast<int>(std::strlen(src)) + 1;
  int out = 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  for (int i = 0; i < srcLen;) {
    uint32_t c = s[i];
    int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + extra >= srcLen + (extra == 0)) return 0;
    c &= extra == 0 ? 0x7F : (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return 0;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    i += extra + 1;
    int units = c >= 0x10000 ? 2 : 1;
    if (out + units > dstLen) return 0;
    if (units == 2) {
      dst[out++] = static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
      dst[out++] = static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      dst[out++] = static_cast<WCHAR>(c);
    }
  }
  return out;
}

HMODULE LoadLibraryA(LPCSTR) { return nullptr; }
FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, void*, DWORD disposition, DWORD,
                           HANDLE) {
  g_twxmlTestFallbackFiles = true;
  int flags = (access & GENERIC_WRITE) ? O_WRONLY : O_RDONLY;
  if (disposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
  int fd = open(path, flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    t_lastError = FromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void*) {
  ssize_t n = ::read(Fd(file), buffer, toRead);
  if (n < 0) {
    t_lastError = FromErrno(errno);
    return FALSE;
  }
  *read = static_cast<DWORD>(n);
  return TRUE;
}
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void*) {
  ssize_t n = ::write(Fd(file), buffer, toWrite);
  if (n < 0) {
    t_lastError = FromErrno(errno);
    return FALSE;
  }
  *written = static_cast<DWORD>(n);
  return TRUE;
}
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPos,
                              DWORD method) {
  off_t r = lseek(Fd(file), distance.QuadPart,
                  method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END);
  if (r < 0) {
    t_lastError = errno == EINVAL ? ERROR_NEGATIVE_SEEK : FromErrno(errno);
    return FALSE;
  }
  if (newPos != nullptr) newPos->QuadPart = r;
  return TRUE;
}
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  struct stat st;
  if (fstat(Fd(file), &st) != 0) {
    t_lastError = FromErrno(errno);
    return FALSE;
  }
  size->QuadPart = st.st_size;
  return TRUE;
}
BOOL CloseHandle(HANDLE handle) { return ::close(Fd(handle)) == 0; }

}  // extern "C"
