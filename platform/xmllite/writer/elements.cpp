// Elements: start tags with their namespaces, attributes and declarations,
// end tags.
#include "xml_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "output.h"
#include "writer_text.h"

namespace twxml::xmlwriter {

using namespace detail;

HRESULT XmlWriter::WriteStartElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri) {
  return guarded([&] { return startElement(prefix, localName, namespaceUri); });
}

// The prefix and local name of an element or attribute, checked.
HRESULT XmlWriter::checkQName(LPCWSTR prefix, LPCWSTR localName, u16view* p, u16view* local) {
  *local = view(localName);
  if (!isNCName(*local)) return WR_E_INVALIDNAME;
  *p = view(prefix);
  if (!p->empty() && !isNCName(*p)) return WR_E_INVALIDNAME;
  HRESULT hr;
  if (FAILED(hr = checkNameChars(*local)) || FAILED(hr = checkNameChars(*p))) return hr;
  return S_OK;
}

// Whether a start tag may come now.
HRESULT XmlWriter::elementAllowed() {
  HRESULT hr = ready();
  if (FAILED(hr)) return hr;
  if (ended_) return WR_E_INVALIDACTION;
  if (stack_.empty()) {
    resolveAuto();
    if (mode_ == Mode::Document && rootStarted_) return WR_E_INVALIDACTION;
  }
  return S_OK;
}

HRESULT XmlWriter::startElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri) {
  HRESULT hr = elementAllowed();
  if (FAILED(hr)) return hr;
  u16view local, p;
  if (FAILED(hr = checkQName(prefix, localName, &p, &local))) return hr;
  const bool hasP = !p.empty();
  const bool hasU = namespaceUri != nullptr;
  const u16view uri = view(namespaceUri);

  // Which prefix the element uses, what it must declare, and which
  // inherited binding it relies on (pinned so that this start tag cannot
  // rebind it).
  u16view use = p;
  bool needDecl = false;
  Decl decl{};
  bool pin = false;
  u16view pinPrefix, pinUri;
  if (hasP && p == u"xmlns") return WR_E_XMLNSPREFIXDECLARATION;
  if (hasU && uri == kXmlnsNs) return WR_E_XMLNSURIDECLARATION;
  if (hasP && p == u"xml") {
    if (hasU && uri != kXmlNs) return WR_E_XMLPREFIXDECLARATION;
  } else if (hasU && uri == kXmlNs) {
    if (hasP) return WR_E_XMLURIDECLARATION;
    use = u"xml";
  } else if (!hasU) {
    if (hasP) {
      u16view cur;
      if (!lookupPrefix(p, &cur)) return WR_E_NAMESPACEUNDECLARED;
      pin = true;
      pinPrefix = p;
      pinUri = cur;
    }
  } else if (uri.empty()) {
    if (hasP) return WR_E_NSPREFIXWITHEMPTYNSURI;
    u16view def;
    if (lookupPrefix(u"", &def) && !def.empty()) {
      needDecl = true;
      decl = {u"", u""};
    } else {
      pin = true;
    }
  } else if (hasP) {
    u16view cur;
    if (lookupPrefix(p, &cur) && cur == uri) {
      pin = true;
      pinPrefix = p;
      pinUri = uri;
    } else {
      needDecl = true;
      decl = {p, uri};
    }
  } else {
    u16view def, found;
    if (lookupPrefix(u"", &def) && def == uri) {
      pin = true;
      pinUri = uri;
    } else if (!prefix && lookupUri(uri, &found)) {
      use = found;
      pin = true;
      pinPrefix = found;
      pinUri = uri;
    } else {
      needDecl = true;
      decl = {u"", uri};
    }
  }

  const size_t nameOff = names_.size();
  if (!use.empty()) {
    appendUtf8(names_, use);
    *names_.extend(1) = ':';
  }
  appendUtf8(names_, local);
  return openElement(nameOff, needDecl ? &decl : nullptr, pin, pinPrefix, pinUri);
}

// An unprefixed ASCII name from UTF-8 with no namespace given: nothing to
// resolve and nothing to widen.
HRESULT XmlWriter::startPlainElement(std::string_view local) {
  HRESULT hr = elementAllowed();
  if (FAILED(hr)) return hr;
  const size_t nameOff = names_.append(local.data(), local.size());
  return openElement(nameOff, nullptr, false, u16view(), u16view());
}

// The start tag whose qualified name (UTF-8) ends names_ from nameOff, with
// its declaration, if any; the new element's frame and bindings.
HRESULT XmlWriter::openElement(size_t nameOff, const Decl* declared, bool pin, u16view pinPrefix,
                               u16view pinUri) {
  HRESULT hr;
  const bool needDecl = declared != nullptr;
  const Decl decl = needDecl ? *declared : Decl{};
  const size_t nameLen = names_.size() - nameOff;
  const size_t depth = stack_.size();
  const bool ind = indent_ && anyOutput_ && !(depth > 0 && stack_.back().mixed);
  size_t worst = 2 + (ind ? 1 + 2 * depth : 0) + nameLen;
  if (needDecl) worst += 16 + (decl.prefix.size() + decl.uri.size()) * kMaxPerUnit;
  bool chunked;
  if (worst > kBufferSize && needDecl && FAILED(hr = checkChars(decl.uri.data(), decl.uri.size(), false))) {
    names_.truncate(nameOff);
    return hr;
  }
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && !chunked && !ind) {
    // Room for the tag is there: composed through a local cursor.
    char* p = cursorPastOpenTag();
    *p = '<';
    twxml::CopyShort(p + 1, names_.data() + nameOff, nameLen);
    pos_ = static_cast<size_t>(p + 1 + nameLen - base_);
  } else {
    if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
    if (SUCCEEDED(hr) && ind) hr = putIndent(depth);
    if (SUCCEEDED(hr)) hr = putAscii("<", 1);
    if (SUCCEEDED(hr)) hr = putAscii(names_.data() + nameOff, nameLen);
  }
  if (SUCCEEDED(hr) && needDecl) hr = putDecl(decl);
  if (FAILED(hr)) {
    names_.truncate(nameOff);
    return fail(hr);
  }

  // Copy the pinned binding before the new frame can move nsText_.
  if (pin) {
    scratchPrefix_.assign(pinPrefix);
    scratch_.assign(pinUri);
  }
  const bool parentMixed = depth > 0 && stack_.back().mixed;
  if (depth > 0) stack_.back().hasMarkup = true;
  stack_.push_back(Frame{static_cast<uint32_t>(nameOff), static_cast<uint32_t>(nameLen),
                         static_cast<uint32_t>(bindings_.size()),
                         static_cast<uint32_t>(nsText_.size()), false, parentMixed});
  if (needDecl) addBinding(decl.prefix, decl.uri);
  if (pin) addBinding(scratchPrefix_, scratch_, true);
  attrs_.clear();
  attrIndex_.clear();
  attrText_.clear();
  tagOpen_ = true;
  if (depth == 0) rootStarted_ = true;
  started_ = anyOutput_ = true;
  return S_OK;
}

HRESULT XmlWriter::WriteAttributeString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                                        LPCWSTR value) {
  return guarded([&] { return attribute(prefix, localName, namespaceUri, view(value)); });
}

namespace {

// A short ASCII name (at most kPlainNameMax bytes) widened into out.
u16view WidenAscii(std::string_view name, char16_t* out) {
  return u16view(out, twxml::utf::Utf8ToUtf16(name.data(), name.size(), out));
}

}  // namespace

template <typename C>
HRESULT XmlWriter::attribute(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                             std::basic_string_view<C> val) {
  HRESULT hr = ready();
  if (FAILED(hr)) return hr;
  if (!tagOpen_) return WR_E_INVALIDACTION;
  u16view local, p;
  if (FAILED(hr = checkQName(prefix, localName, &p, &local))) return hr;
  const bool hasP = !p.empty();
  const bool hasU = namespaceUri && *namespaceUri;
  const bool emptyU = namespaceUri && !*namespaceUri;
  const u16view uri = view(namespaceUri);

  // Namespace declarations written as attributes (their URIs are kept as
  // UTF-16 for the scope).
  const auto declare = [&](u16view declared) {
    if constexpr (sizeof(C) == 1) {
      std::u16string wide(val.size(), u'\0');
      wide.resize(twxml::utf::Utf8ToUtf16Replacing(val.data(), val.size(), wide.data()));
      return declaration(declared, wide);
    } else {
      return declaration(declared, val);
    }
  };
  if (hasP && p == u"xmlns") {
    if (hasU && uri != kXmlnsNs) return WR_E_XMLNSPREFIXDECLARATION;
    if (local == u"xmlns") return WR_E_XMLNSPREFIXDECLARATION;
    return declare(local);
  }
  if (!hasP && ((local == u"xmlns" && !hasU) || uri == kXmlnsNs))
    return declare(local == u"xmlns" ? u16view() : local);
  if (uri == kXmlnsNs) return WR_E_XMLNSURIDECLARATION;

  // An ordinary attribute: its namespace and the prefix that carries it.
  u16view use = p, attrUri;
  bool needDecl = false;
  Decl decl{};
  char16_t generated[16];
  if (hasP && p == u"xml") {
    if (hasU && uri != kXmlNs) return WR_E_XMLPREFIXDECLARATION;
    attrUri = kXmlNs;
  } else if (hasU && uri == kXmlNs) {
    if (hasP) return WR_E_XMLURIDECLARATION;
    use = u"xml";
    attrUri = kXmlNs;
  } else if (emptyU) {
    if (hasP) return WR_E_NSPREFIXWITHEMPTYNSURI;
  } else if (!hasU) {
    if (hasP) {
      if (!lookupPrefix(p, &attrUri) || attrUri.empty()) return WR_E_NAMESPACEUNDECLARED;
    }
  } else if (hasP) {
    attrUri = uri;
    u16view cur;
    if (lookupPrefix(p, &cur) && cur == uri) {
      // in scope already
    } else if (ownBinding(p) || attributeUsesPrefix(p, uri)) {
      return WR_E_NSPREFIXDECLARED;
    } else {
      needDecl = true;
      decl = {p, uri};
    }
  } else {
    attrUri = uri;
    if (lookupUri(uri, &use)) {
      // in scope already
    } else {
      // Unprefixed attributes are in no namespace: invent a prefix.
      u16view dummy;
      for (unsigned k = 1;; ++k) {
        char digits[12];
        int nd = std::snprintf(digits, sizeof digits, "%u", k);
        generated[0] = u'n';
        generated[1] = u's';
        for (int d = 0; d < nd; ++d) generated[2 + d] = static_cast<char16_t>(digits[d]);
        use = u16view(generated, 2 + static_cast<size_t>(nd));
        if (!lookupPrefix(use, &dummy)) break;
      }
      needDecl = true;
      decl = {use, uri};
    }
  }

  return putAttribute(use, local, attrUri, val, needDecl ? &decl : nullptr);
}

// An unprefixed ASCII name from UTF-8 with no namespace given (and not
// xmlns): an attribute in no namespace.
HRESULT XmlWriter::plainAttribute(std::string_view localName, std::string_view val) {
  HRESULT hr = ready();
  if (FAILED(hr)) return hr;
  if (!tagOpen_) return WR_E_INVALIDACTION;
  char16_t local[kPlainNameMax];
  return putAttribute(u16view(), WidenAscii(localName, local), u16view(), val, nullptr, localName);
}

// A prefixed ASCII name with an ASCII URI, where the scope binds the prefix
// to that URI already: the usual namespaced attribute, written as
// attribute() writes it but without widening and resolving it first. False
// (nothing done) for every other case, which attribute() then takes.
bool XmlWriter::boundAttribute(std::string_view prefix, std::string_view localName,
                               std::string_view uri, std::string_view val, HRESULT* result) {
  if (FAILED(ready()) || !tagOpen_ || SameAscii(std::string_view(prefix), "xml") ||
      SameAscii(std::string_view(prefix), "xmlns"))
    return false;
  char16_t p[kPlainNameMax], local[kPlainNameMax];
  const u16view use = WidenAscii(prefix, p);
  u16view bound;
  if (!lookupPrefix(use, &bound) || !SameAscii(bound, uri) || bound == kXmlNs || bound == kXmlnsNs)
    return false;
  *result = putAttribute(use, WidenAscii(localName, local), bound, val, nullptr);
  return true;
}

// An attribute whose namespace is resolved: checked against the start
// tag's others and written, with the declaration it needs.
template <typename C>
HRESULT XmlWriter::putAttribute(u16view use, u16view local, u16view attrUri,
                                std::basic_string_view<C> val, const Decl* declared,
                                std::string_view asciiName) {
  HRESULT hr;
  const bool needDecl = declared != nullptr;
  const Decl decl = needDecl ? *declared : Decl{};
  const auto same = [&](size_t i) {
    const AttrKey& a = attrs_[i];
    return attrText_.view(a.localOff, a.localLen) == local &&
           attrText_.view(a.uriOff, a.uriLen) == attrUri;
  };
  const auto keyOf = [&](size_t i) {
    const AttrKey& a = attrs_[i];
    return std::make_pair(attrText_.view(a.localOff, a.localLen), attrText_.view(a.uriOff, a.uriLen));
  };
  if (attrIndex_.find(local, attrUri, same, keyOf) >= 0) return WR_E_DUPLICATEATTRIBUTE;
  // A copy keeps what the document says (other values are not an error in
  // a document, only when they are declared).
  if (attrUri == kXmlNs && local == u"space" && !SameAscii(val, "default") &&
      !SameAscii(val, "preserve") && !copying_)
    return WR_E_INVALIDXMLSPACE;

  size_t worst = 8 + (use.size() + local.size() + val.size()) * kMaxPerUnit;
  if (needDecl) worst += 16 + (decl.prefix.size() + decl.uri.size()) * kMaxPerUnit;
  if (worst > kBufferSize) {
    if (needDecl && FAILED(hr = checkChars(decl.uri.data(), decl.uri.size(), false))) return hr;
    if (FAILED(hr = checkChars(val.data(), val.size(), false))) return hr;
  }
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && !chunked && !needDecl && !asciiName.empty()) {
    // The usual case, with room for all of it: the markup goes through a
    // local cursor, as stores through the buffer would make every step
    // reload the position.
    char* p = base_ + pos_;
    *p = ' ';
    twxml::CopyShort(p + 1, asciiName.data(), asciiName.size());
    p += 1 + asciiName.size();
    std::memcpy(p, "=\"", 2);
    pos_ = static_cast<size_t>(p + 2 - base_);
    hr = putText<Esc::Attr>(val.data(), val.size());
    if (SUCCEEDED(hr)) base_[pos_++] = '"';
  } else {
    if (SUCCEEDED(hr) && needDecl) hr = putDecl(decl);
    if (SUCCEEDED(hr)) hr = putAscii(" ", 1);
    if (SUCCEEDED(hr))
      hr = asciiName.empty() ? putQName(use, local) : putAscii(asciiName.data(), asciiName.size());
    if (SUCCEEDED(hr)) hr = putAscii("=\"", 2);
    if (SUCCEEDED(hr)) hr = putText<Esc::Attr>(val.data(), val.size());
    if (SUCCEEDED(hr)) hr = putAscii("\"", 1);
  }
  if (FAILED(hr)) return fail(hr);

  AttrKey key;
  key.uriLen = static_cast<uint32_t>(attrUri.size());
  key.uriOff = static_cast<uint32_t>(attrText_.append(attrUri));
  key.localLen = static_cast<uint32_t>(local.size());
  key.localOff = static_cast<uint32_t>(attrText_.append(local));
  key.prefixLen = static_cast<uint32_t>(use.size());
  key.prefixOff = static_cast<uint32_t>(attrText_.append(use));
  attrs_.push_back(key);
  attrIndex_.add(local, attrUri);
  if (needDecl) addBinding(decl.prefix, decl.uri);
  return S_OK;
}

// An explicit declaration: written unless the same binding is in scope.
HRESULT XmlWriter::declaration(u16view prefix, u16view uri) {
  if (prefix == u"xmlns") return WR_E_XMLNSPREFIXDECLARATION;
  if (prefix == u"xml") return uri == kXmlNs ? S_OK : WR_E_XMLPREFIXDECLARATION;
  if (uri == kXmlNs) return WR_E_XMLURIDECLARATION;
  if (uri == kXmlnsNs) return WR_E_XMLNSURIDECLARATION;
  if (!prefix.empty() && uri.empty()) return WR_E_NSPREFIXWITHEMPTYNSURI;
  const Binding* own = ownBinding(prefix);
  if (own && nsAt(own->uriOff, own->uriLen) != uri) return WR_E_NSPREFIXDECLARED;
  // A copy writes a declaration that its element so far only relied on.
  if (own && !(copying_ && own->pinned)) return S_OK;
  // An attribute already written with this prefix keeps its namespace.
  if (attributeUsesPrefix(prefix, uri)) return WR_E_NSPREFIXDECLARED;
  u16view cur;
  bool inScope = lookupPrefix(prefix, &cur) ? cur == uri : uri.empty();
  if (inScope && !copying_) {
    addBinding(prefix, uri);
    return S_OK;
  }
  HRESULT hr;
  size_t worst = 16 + (prefix.size() + uri.size()) * kMaxPerUnit;
  if (worst > kBufferSize && FAILED(hr = checkChars(uri.data(), uri.size(), false))) return hr;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr)) hr = putDecl(Decl{prefix, uri});
  if (FAILED(hr)) return fail(hr);
  if (!own) addBinding(prefix, uri);
  return S_OK;
}

HRESULT XmlWriter::WriteEndElement() {
  return readyCall([&] { return writeEnd(false); });
}

HRESULT XmlWriter::WriteFullEndElement() {
  return readyCall([&] { return writeEnd(true); });
}

HRESULT XmlWriter::writeEnd(bool full) {
  if (stack_.empty()) return WR_E_INVALIDACTION;
  const Frame& f = stack_.back();
  const size_t depth = stack_.size() - 1;
  const bool ind = indent_ && !tagOpen_ && !f.mixed && f.hasMarkup;
  bool chunked;
  HRESULT hr = beginCall(8 + (ind ? 1 + 2 * depth : 0) + f.nameLen, &chunked);
  if (SUCCEEDED(hr) && !chunked && !ind && !(tagOpen_ && !full)) {
    // Room for the tag is there: composed through a local cursor.
    char* p = cursorPastOpenTag();
    std::memcpy(p, "</", 2);
    twxml::CopyShort(p + 2, names_.data() + f.nameOff, f.nameLen);
    p += 2 + f.nameLen;
    *p = '>';
    pos_ = static_cast<size_t>(p + 1 - base_);
  } else if (SUCCEEDED(hr)) {
    if (tagOpen_ && !full) {
      hr = putAscii("/>", 2);
    } else {
      if (tagOpen_) hr = closeStartTag();
      if (SUCCEEDED(hr) && ind) hr = putIndent(depth);
      if (SUCCEEDED(hr)) hr = putAscii("</", 2);
      if (SUCCEEDED(hr)) hr = putAscii(names_.data() + f.nameOff, f.nameLen);
      if (SUCCEEDED(hr)) hr = putAscii(">", 1);
    }
  }
  if (FAILED(hr)) return fail(hr);
  tagOpen_ = false;
  popElement();
  return S_OK;
}

HRESULT XmlWriter::WriteElementString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                                      LPCWSTR value) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view v = view(value);
    // Checked first so that a bad value leaves no start tag behind.
    if (value && FAILED(hr = checkChars(v.data(), v.size(), false))) return hr;
    hr = startElement(prefix, localName, namespaceUri);
    if (FAILED(hr)) return hr;
    if (value) {
      hr = writeTextLike(v.data(), v.size(), Esc::Text, true);
      if (FAILED(hr)) return hr;
    }
    return writeEnd(false);
  });
}

template HRESULT XmlWriter::attribute(LPCWSTR, LPCWSTR, LPCWSTR, u16view);
template HRESULT XmlWriter::attribute(LPCWSTR, LPCWSTR, LPCWSTR, std::string_view);

}  // namespace twxml::xmlwriter
