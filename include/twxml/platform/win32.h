// Operating-system stand-in, the part callers see: the plain types the
// library's interfaces are written with, the module entry reasons, and the
// loader calls that reach the streaming module's own interfaces
// (twxml/platform/xmllite.h). The library's other operating-system calls are
// internal and not exported.
#pragma once

#include <cstddef>
#include <cstdint>

#define TWXML_API __attribute__((visibility("default")))
/* A member of an exported class that only the library itself calls. */
#define TWXML_LIBRARY_ONLY __attribute__((visibility("hidden")))

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char CHAR;
/* One UTF-16 code unit: never the platform's 32-bit wchar_t. */
typedef char16_t WCHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef int (*FARPROC)(void);
typedef DWORD* LPDWORD;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

/* BOOL values; left alone when another header has defined them already. */
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Reasons passed to a module entry point (DllMain). */
inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;

extern "C" {
/* Loader. A module name such as "XmlLite.dll" maps to a shared object built
   with this project (see LoadLibraryA's implementation for the mapping), looked
   up next to this library first and then on the loader path. */
TWXML_API HMODULE LoadLibraryA(LPCSTR name);
TWXML_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
TWXML_API BOOL FreeLibrary(HMODULE module);
}
