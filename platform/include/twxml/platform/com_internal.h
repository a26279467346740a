// Component-object stand-in, the part only the library uses: the class table
// behind CoCreateInstance, task memory, setting error information, and the
// macros its own headers declare result codes and identifiers with. Not
// installed; the functions are not exported from the library.
#pragma once

#include "twxml/platform/com.h"
#include "twxml/platform/com_macros.h"
#include "twxml/platform/win32_internal.h"

/* A Win32 error number as a result code: codes above 0 get the 0x8007 facility. */
inline HRESULT HRESULT_FROM_WIN32(DWORD code) {
  return static_cast<HRESULT>(code) <= 0 ? static_cast<HRESULT>(code)
                                         : TW_HR((code & 0x0000FFFFu) | 0x80070000u);
}

/* Makes a new instance of a registered class: (outer, iid, out) as CoCreateInstance. */
typedef HRESULT (*TwClassFactoryFn)(IUnknown* outer, REFIID iid, void** out);

/* Small blocks (strings, node objects) from per-thread lists by size class;
   TwSmallFree takes the size the block was asked with, on any thread. Null
   when memory is exhausted. */
void* TwSmallAlloc(size_t size);
void TwSmallFree(void* block, size_t size);

extern "C" {
/* Platform modules register their classes here (at load time). */
HRESULT TwRegisterClass(REFCLSID clsid, TwClassFactoryFn factory);
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* block);
/* Fills the calling thread's error information slot; takes a reference. */
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
/* Makes an error information object (source and description are copied). */
HRESULT TwCreateErrorInfo(REFGUID guid, LPCOLESTR source, LPCOLESTR description,
                          IErrorInfo** out);
}
