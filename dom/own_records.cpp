// The library's own DOM records read in place by the document face.
#include "own_records.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "narrow.h"
#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"

using twdom::NodeRecord;

namespace twxml_dom {

NarrowName::NarrowName(KxXMLNode* node, IXMLDOMNode* domNode) {
  const NodeRecord* h = typeid(*node) == typeid(KxXMLNodeImpl) ? twdom::RecordOf(domNode) : nullptr;
  if (!h) {
    owned_ = node->GetNameBstr();
    present_ = owned_ != nullptr;
    if (present_) wide_.emplace(owned_);
    return;
  }
  present_ = true;
  size_t length;
  if (twxml::win32::ThreadCodePageIsUtf8()) {
    const char* name = h->name8(&length);
    if (copy_.Reserve(length + 1)) {
      std::memcpy(copy_.get(), name, length + 1);
      utf8_ = copy_.get();
    }
  } else {
    wide_.emplace(h->name(&length));
  }
}

NarrowName::~NarrowName() { SysFreeString(owned_); }

RecordText::RecordText(const NodeRecord& node, uint32_t i) {
  const size_t bytes = node.text8(i).size();  // never fewer than the units
  if (bytes >= kMaxConvertUnits || !buffer_.Reserve(bytes + 1)) return;
  units_ = node.textUtf16(i, buffer_.get());
  buffer_.get()[units_] = 0;
  ok_ = true;
}

bool CopyTrimmed(const NodeRecord& node, uint32_t i, char* buffer, unsigned int size) {
  if (twxml::win32::ThreadCodePageIsUtf8()) {
    if (size == 0) return true;
    const std::string_view text = node.text8(i);
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memmove(buffer, text.data(), n);
    buffer[n] = 0;
    StrTrimStrRightU(buffer);
    return true;
  }
  RecordText wide(node, i);
  if (!wide.get()) return false;
  NarrowText narrow(wide.get());
  StrNCopyRTrimV(narrow.get(), buffer, size);
  return true;
}

char* ValueText(const WCHAR* text, size_t k, char* buffer, unsigned int size) {
  if (!text) return buffer;
  if (k < size) {
    VarCnvBStrToStrBufF(text, buffer, size);
    return buffer;
  }
  char* copy = nullptr;
  return VarCnvBStrToStrF(text, &copy) == 0 ? copy : buffer;
}

char* ValueText(const NodeRecord& node, uint32_t i, char* buffer, unsigned int size) {
  if (!twxml::win32::ThreadCodePageIsUtf8()) {
    RecordText wide(node, i);
    return ValueText(wide.get(), wide.units(), buffer, size);
  }
  const std::string_view text = node.text8(i);
  if (node.textUnits(i) < size) {
    // All of it, or the longest prefix of whole characters that fits.
    size_t n = text.size();
    if (n > size - 1) {
      n = size - 1;
      while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return buffer;
  }
  char* copy = static_cast<char*>(MemAllocP(text.size() + 1));
  if (!copy) return buffer;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = 0;
  return copy;
}

int NameIntoBuffer(KxXMLNode* node, char* buffer, unsigned int size) {
  if (typeid(*node) == typeid(KxXMLNodeImpl) && twxml::win32::ThreadCodePageIsUtf8()) {
    Ref<IXMLDOMNode> domNode(static_cast<KxXMLNodeImpl*>(node)->GetInterfaceP());
    if (const NodeRecord* h = twdom::RecordOf(domNode.get())) {
      size_t length;
      const char* name = h->name8(&length);
      return twxml::kernel::Utf8IntoBuffer(name, length, buffer, size);
    }
  }
  BSTR name = node->GetNameBstr();
  if (name == nullptr) return TWXML_E_NOTFOUND;
  const int status = VarCnvBStrToStrBufF(name, buffer, size);
  SysFreeString(name);
  return status;
}

}  // namespace twxml_dom
