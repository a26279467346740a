// The parser core's failure classes as the reader's result codes, shared by
// the pull reader and the document loader so both answer alike.
#pragma once

#include "core/xmlcore.h"
#include "twxml/platform/xmllite.h"

namespace twxml::xmlcore {

inline HRESULT resultOf(Error e, HRESULT streamHr) {
  switch (e) {
    case Error::None: return S_OK;
    case Error::Syntax: return WC_E_SYNTAX;
    case Error::InvalidChar: return WC_E_XMLCHARACTER;
    case Error::Encoding: return MX_E_ENCODINGSIGNATURE;
    case Error::UnsupportedEncoding: return MX_E_ENCODING;
    case Error::UnexpectedEnd: return MX_E_INPUTEND;
    case Error::TagMismatch: return WC_E_ELEMENTMATCH;
    case Error::DuplicateAttribute: return WC_E_UNIQUEATTRIBUTE;
    case Error::Namespace: return NC_E_NAMESPACE;
    case Error::UndeclaredEntity: return WC_E_UNDECLAREDENTITY;
    case Error::EntityRecursion: return WC_E_NORECURSION;
    case Error::EntityLimit: return SC_E_MAXENTITYEXPANSION;
    case Error::DepthLimit: return SC_E_MAXELEMENTDEPTH;
    case Error::DtdProhibited: return WC_E_DTDPROHIBITED;
    case Error::Stream: return FAILED(streamHr) ? streamHr : E_FAIL;
    // The reader could not hold the token: the code it always gave; the
    // message names the limit.
    case Error::OutOfMemory:
    case Error::Limit: return E_OUTOFMEMORY;
    case Error::NoInput: return E_UNEXPECTED;
  }
  return E_FAIL;
}

}  // namespace twxml::xmlcore
