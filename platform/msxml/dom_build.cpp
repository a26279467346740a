// The document object's builder for the face (RecordBuilder): records made
// and linked from UTF-8 by the very checks and steps of createNode,
// setAttribute, put_text and appendChild, without their node objects,
// strings and variants. Whatever those calls would refuse is left to them.
#include <memory>
#include <new>

#include "dom_objects.h"

namespace twdom {

namespace {

/* Well-formed UTF-8 (a name or URI) as UTF-16 for the length of a call. */
class Utf16Copy {
 public:
  explicit Utf16Copy(std::string_view s) {
    char16_t* out = local_;
    if (s.size() > sizeof local_ / sizeof local_[0]) {
      heap_.reset(new char16_t[s.size()]);
      out = heap_.get();
    }
    view_ = std::u16string_view(out, Utf8ToUtf16(s.data(), s.size(), out));
  }
  std::u16string_view view() const { return view_; }

 private:
  char16_t local_[128];
  std::unique_ptr<char16_t[]> heap_;
  std::u16string_view view_;
};

}  // namespace

uint32_t DomDocument::appendElement(uint32_t parent, std::string_view qname, std::string_view uri) try {
  Store* s = handle_.store;
  // appendChild's checks pass for a new element under an element.
  if (s->node(parent).kind() != kElement) return 0;
  Store::BuiltName& memo = s->builtName(qname);
  if (memo.known && memo.qname == qname && memo.uri == uri) {
    // Met before: create would check, widen and intern it to the same name.
    const uint32_t i = s->newNode(kElement, memo.nameId);
    if (i) s->link(parent, i, 0);
    return i;
  }
  if (!IsXmlText8(qname.data(), qname.size()) || !IsXmlText8(uri.data(), uri.size())) return 0;
  const Utf16Copy q(qname), u(uri);
  // A name the face would clean first is the face's; the checks create makes
  // beyond it refuse the same on either way.
  if (!IsQName(q.view().data(), q.view().size())) return 0;
  uint32_t i = 0;
  const std::u16string_view name = q.view(), ns = u.view();
  if (FAILED(create(NODE_ELEMENT, name.data(), name.size(), ns.data(), ns.size(), nullptr, 0, &i)))
    return 0;  // the record, if any, stays unreachable
  s->link(parent, i, 0);
  memo.remember(qname, uri, s->node(i).name());
  return i;
} catch (const std::bad_alloc&) {
  return 0;
}

bool DomDocument::setAttribute(uint32_t e, std::string_view qname, std::string_view value) try {
  Store* s = handle_.store;
  if (s->node(e).kind() != kElement) return false;
  Store::BuiltName& memo = s->builtAttrName(qname);
  const bool known = memo.known && memo.qname == qname;  // checked when it was added
  if (!(known || IsXmlText8(qname.data(), qname.size())) || !IsXmlText8(value.data(), value.size()))
    return false;
  bool added = false;
  uint32_t a = 0;
  if (known && s->findAttrInPlace(e, qname, &a)) {
    // Not there yet: attributeFor would intern the name to the same id.
    if (!a) {
      a = s->newNode(kAttribute, memo.nameId);
      added = a != 0;
    }
  } else {
    const Utf16Copy q(qname);
    if (!IsQName(q.view().data(), q.view().size())) return false;
    a = ops::attributeFor(s, e, q.view(), &added);
    if (added) memo.remember(qname, {}, s->node(a).name());
  }
  if (!a || !s->setText8(a, value.data(), value.size())) return false;  // the value stays as it was
  s->touch();
  if (added) s->linkAttr(e, a);
  return true;
} catch (const std::bad_alloc&) {
  return false;
}

bool DomDocument::appendText(uint32_t parent, std::string_view text) try {
  Store* s = handle_.store;
  if (s->node(parent).kind() != kElement || !IsXmlText8(text.data(), text.size())) return false;
  const uint32_t i = s->newNode(kText, 0);
  if (!i || !s->setText8(i, text.data(), text.size())) return false;
  s->link(parent, i, 0);
  return true;
} catch (const std::bad_alloc&) {
  return false;
}

}  // namespace twdom
