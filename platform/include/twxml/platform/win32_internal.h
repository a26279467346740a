// Operating-system stand-in, the part only the library uses: error numbers,
// text, code-page conversion, files and C-runtime extras. Not installed; the
// functions are not exported from the library.
#pragma once

#include <cstdio>

#include "twxml/platform/win32.h"

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

extern "C" {

/* Errors */
DWORD GetLastError(void);
void SetLastError(DWORD code);

/* Text */
int lstrlenA(LPCSTR text);
int lstrlenW(LPCWSTR text);

/* Code-page conversion. CP_ACP and CP_THREAD_ACP mean the codeset of the
   calling thread's C locale (the "C"/"POSIX" locale counts as UTF-8); other
   numbers are the usual code page numbers (1252, 932, 28591, ...). */
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                        int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                        int dstLen, LPCSTR defaultChar, BOOL* usedDefaultChar);
/* The code page number the thread's C locale maps to (CP_UTF8 for C/POSIX). */
UINT GetACP(void);

/* Files */
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, void* security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void* overlapped);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPos,
                      DWORD method);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL CloseHandle(HANDLE handle);

/* C runtime extras */
typedef int errno_t;
int _access(const char* path, int mode);
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t n);
errno_t strcpy_s(char* dst, size_t dstSize, const char* src);
errno_t strcat_s(char* dst, size_t dstSize, const char* src);
int sprintf_s(char* dst, size_t dstSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
errno_t _itoa_s(int value, char* dst, size_t dstSize, int radix);
const WCHAR* wcschr16(const WCHAR* text, WCHAR ch);
errno_t wcscpy16_s(WCHAR* dst, size_t dstSize, const WCHAR* src);
size_t wcslen16(const WCHAR* text);

}  // extern "C"

namespace twxml::win32 {

// Whether CP_ACP and CP_THREAD_ACP convert as UTF-8 for the calling thread
// now. The verdict is kept per thread with the codeset text it was made for
// and made again only when that text changes (setlocale, uselocale).
bool ThreadCodePageIsUtf8();

}  // namespace twxml::win32
