// Macros for headers that declare result codes and interface identifiers of
// their own (the streaming module's twxml/platform/xmllite.h and internal
// headers). The umbrella header does not include this file.
#pragma once

#include "twxml/platform/com.h"

#define TW_HR(x) static_cast<HRESULT>(x)
#define TW_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
