// Operating-system stand-in: the handful of types, file calls, code-page
// conversions, loader calls and C-runtime extras the library is written against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#define TWXML_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

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

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

/* Error numbers kept per thread by GetLastError. */
#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_EOF 38u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_DIRECTORY 267u
#define ERROR_NO_UNICODE_TRANSLATION 1113u

/* CreateFileA */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

/* Code pages */
#define CP_ACP 0u
#define CP_OEMCP 1u
#define CP_THREAD_ACP 3u
#define CP_UTF7 65000u
#define CP_UTF8 65001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u
#define WC_NO_BEST_FIT_CHARS 0x00000400u

#define DLL_PROCESS_DETACH 0u
#define DLL_PROCESS_ATTACH 1u
#define DLL_THREAD_ATTACH 2u
#define DLL_THREAD_DETACH 3u

/* Errors */
TWXML_API DWORD GetLastError(void);
TWXML_API void SetLastError(DWORD code);

/* Text */
TWXML_API int lstrlenA(LPCSTR text);
TWXML_API int lstrlenW(LPCWSTR text);

/* Code-page conversion. CP_ACP and CP_THREAD_ACP mean the codeset of the
   calling thread's C locale (the "C"/"POSIX" locale counts as UTF-8); other
   numbers are the usual code page numbers (1252, 932, 28591, ...). */
TWXML_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen,
                                  LPWSTR dst, int dstLen);
TWXML_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen,
                                  LPSTR dst, int dstLen, LPCSTR defaultChar,
                                  BOOL* usedDefaultChar);
/* The code page number the thread's C locale maps to (CP_UTF8 for C/POSIX). */
TWXML_API UINT GetACP(void);

/* Files */
TWXML_API HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, void* security,
                             DWORD disposition, DWORD attributes, HANDLE templateFile);
TWXML_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                        void* overlapped);
TWXML_API BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                         void* overlapped);
TWXML_API BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPos,
                                DWORD method);
TWXML_API BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
TWXML_API BOOL CloseHandle(HANDLE handle);

/* Loader. A module name such as "XmlLite.dll" maps to a shared object built
   with this project (see LoadLibraryA's implementation for the mapping), looked
   up next to this library first and then on the loader path. */
TWXML_API HMODULE LoadLibraryA(LPCSTR name);
TWXML_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
TWXML_API BOOL FreeLibrary(HMODULE module);

/* C runtime extras */
typedef int errno_t;
TWXML_API int _access(const char* path, int mode);
TWXML_API int _stricmp(const char* a, const char* b);
TWXML_API int _strnicmp(const char* a, const char* b, size_t n);
TWXML_API errno_t strcpy_s(char* dst, size_t dstSize, const char* src);
TWXML_API errno_t strcat_s(char* dst, size_t dstSize, const char* src);
TWXML_API int sprintf_s(char* dst, size_t dstSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
TWXML_API errno_t _itoa_s(int value, char* dst, size_t dstSize, int radix);
TWXML_API const WCHAR* wcschr16(const WCHAR* text, WCHAR ch);
TWXML_API errno_t wcscpy16_s(WCHAR* dst, size_t dstSize, const WCHAR* src);
TWXML_API size_t wcslen16(const WCHAR* text);

#ifdef __cplusplus
}
#endif
