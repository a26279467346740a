// XmlInterface: the helpers every engine shares, built on its own virtual calls.
#include <cstring>

#include "scratch.h"
#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"
#include "twxml/xmlinterface.h"

using twxml_detail::Scratch;

XmlInterface::~XmlInterface() {}

bool XmlInterface::PeekElemB() { return ReadElemB(true); }

bool XmlInterface::SelectElemB() { return ReadElemB(false); }

bool XmlInterface::ExtractNameB(char* leading, char* buffer, unsigned int size) {
  if (leading == nullptr) return GetElemNameToBufB(buffer, size);
  size_t leadingLength = std::strlen(leading);
  // The name is fetched with room for the leading text in front of what the
  // caller's buffer takes; a size that cannot be expressed gets no name.
  size_t scratchSize = leadingLength + 1 + static_cast<size_t>(size);
  if (scratchSize > 0xFFFFFFFFu) return false;
  Scratch scratch(scratchSize);
  if (scratch.get() == nullptr) return false;
  if (!GetElemNameToBufB(scratch.get(), static_cast<unsigned int>(scratchSize))) return false;
  if (_strnicmp(scratch.get(), leading, leadingLength) != 0) return false;
  StrNCopyRTrimV(scratch.get() + leadingLength, buffer, size);
  return true;
}

bool XmlInterface::IsThisNameB(char* leading, char* name) {
  if (name == nullptr) return false;
  size_t nameLength = std::strlen(name);
  if (nameLength >= 0xFFFFFFFFu) return false;
  Scratch scratch(nameLength + 1);
  if (scratch.get() == nullptr) return false;
  if (!ExtractNameB(leading, scratch.get(), static_cast<unsigned int>(nameLength + 1))) {
    return false;
  }
  return _stricmp(name, scratch.get()) == 0;
}
