// The records read in place for the document face (see msxml_internal.h):
// the same answers the COM calls give, without their allocations.
#include "dom_objects.h"

namespace twdom {

namespace {

uint32_t FirstOfType(const Store* s, uint32_t c, DOMNodeType wanted) {
  uint64_t seen = 1;
  for (; c && int(s->node(c).kind()) != int(wanted); ++seen) c = s->nextSibling(c);
  s->countSteps(seen);
  return c;
}

}  // namespace

DOMNodeType NodeHandle::type() const { return DOMNodeType(store->node(index).kind()); }

const char16_t* NodeHandle::name(size_t* length) const { return ops::nameOf(store, index, length); }

uint32_t NodeHandle::firstChildOfType(DOMNodeType wanted) const {
  return FirstOfType(store, store->firstChild(index), wanted);
}

uint32_t NodeHandle::nextSiblingOfType(DOMNodeType wanted) const {
  if (store->node(index).kind() == kAttribute) return 0;
  return FirstOfType(store, store->nextSibling(index), wanted);
}

uint32_t NodeHandle::attribute(std::u16string_view qname) const { return store->findAttr(index, qname); }

const char* NodeHandle::name8(size_t* length) const { return ops::nameOf8(store, index, length); }

std::string_view NodeHandle::text8(uint32_t i) const { return store->text8(i); }

size_t NodeHandle::textUnits(uint32_t i) const {
  std::string_view t = store->text8(i);
  return store->node(i).hasFlag(kFlagAscii) ? t.size() : Utf16Length(t.data(), t.size());
}

size_t NodeHandle::textUtf16(uint32_t i, char16_t* out) const {
  std::string_view t = store->text8(i);
  return Utf8ToUtf16(t.data(), t.size(), out);
}

IXMLDOMNode* NodeHandle::nodeObject(uint32_t i) const { return Wrap(store, i); }

}  // namespace twdom
