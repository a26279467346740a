// Namespaces: the declarations a start tag makes, the URI of each prefixed
// name, attributes compared by expanded name (duplicates) and found by it.
#include "parser_impl.h"

namespace twxml::xmlcore {

using detail::fail;
using detail::kXmlNs;
using detail::kXmlNsLen;
using detail::kXmlnsNs;
using detail::kXmlnsNsLen;
using detail::RawAttr;

// The xmlns and xmlns:prefix attributes of the start tag in raw, bound in
// that order.
void Parser::Impl::declareNamespaces() {
  for (RawAttr& ra : raw) {
    const char* an = ra.name;
    bool dflt = ra.nameLen == 5 && std::memcmp(an, "xmlns", 5) == 0;
    bool pref = ra.colon == 5 && std::memcmp(an, "xmlns", 5) == 0;
    if (!dflt && !pref) continue;
    const char* v = ra.inScratch ? scratch.data() + ra.vOff : ra.val;
    uint32_t vl = ra.inScratch ? ra.vLen : ra.valLen;
    std::string_view uri(v, vl);
    bool isXmlUri = uri == std::string_view(kXmlNs, kXmlNsLen);
    bool isXmlnsUri = uri == std::string_view(kXmlnsNs, kXmlnsNsLen);
    Binding b;
    b.pOff = uint32_t(nsArena.size());
    b.pHash = hashBytes(an + 6, pref ? ra.nameLen - 6 : 0);
    b.uHash = hashBytes(v, vl);
    if (pref) {
      std::string_view px(an + 6, ra.nameLen - 6);
      if (px == "xmlns") fail(Error::Namespace);
      if (px == "xml") {
        if (!isXmlUri) fail(Error::Namespace);
      } else if (isXmlUri) {
        fail(Error::Namespace);
      }
      if (isXmlnsUri || vl == 0) fail(Error::Namespace);
      nsArena.append(px);
      b.pLen = uint32_t(px.size());
    } else {
      if (isXmlUri || isXmlnsUri) fail(Error::Namespace);
      b.pLen = 0;
    }
    b.uOff = uint32_t(nsArena.size());
    nsArena.append(uri);
    b.uLen = vl;
    bindings.push(b);
  }
}

// The namespace of a name with its prefix ending at colon (0: none):
// offset, length and hash of its URI (all 0 for no namespace).
void Parser::Impl::resolve(const char* n, uint32_t colon, bool attr, uint32_t* off,
                           uint32_t* l, uint32_t* h) {
  std::string_view px(n, colon);
  *h = 0;
  if (colon == 0) {
    if (attr || !bindings.hasDefault()) return;
  } else if (px == "xml") {
    *off = kXmlOff;
    *l = kXmlNsLen;
    *h = kXmlHash;
    return;
  } else if (px == "xmlns") {
    if (!attr) fail(Error::Namespace);
    *off = kXmlnsOff;
    *l = kXmlnsNsLen;
    *h = kXmlnsHash;
    return;
  }
  if (const Binding* b = bindings.find(n, colon, nsArena.data(), probes)) {
    *off = b->uOff;
    *l = b->uLen;
    *h = b->uHash;
    return;
  }
  if (colon) {
    failOff = resolveAt;
    failMsg(Msg::UndeclaredPrefix, px);
  }
}

bool Parser::Impl::sameAttr(const RawAttr& a, const RawAttr& b) const {
  if (a.nameLen == b.nameLen && a.name[0] == b.name[0] &&
      std::memcmp(a.name, b.name, a.nameLen) == 0)
    return true;
  if (!a.uriLen || !b.uriLen || a.uriLen != b.uriLen) return false;
  uint32_t al = a.nameLen - (a.colon ? a.colon + 1 : 0);
  uint32_t bl = b.nameLen - (b.colon ? b.colon + 1 : 0);
  if (al != bl) return false;
  if (std::memcmp(a.name + a.nameLen - al, b.name + b.nameLen - bl, al)) return false;
  return std::memcmp(nsArena.data() + a.uriOff, nsArena.data() + b.uriOff, a.uriLen) == 0;
}

void Parser::Impl::duplicate(const RawAttr& a, const RawAttr& b) {
  const RawAttr& later = a.off >= b.off ? a : b;
  failOff = later.off;
  failMsg(Msg::DuplicateAttribute, std::string_view(later.name, later.nameLen));
}

// Expanded-name hash: local name and namespace URI (equal qualified names
// have equal local names and URIs, so both tests of sameAttr agree).
uint32_t Parser::Impl::expandedHash(const RawAttr& a) {
  uint32_t ll = a.nameLen - (a.colon ? a.colon + 1 : 0);
  return hashBytes(a.name + a.nameLen - ll, ll) ^ (a.uriHash * 0x9E3779B1u);
}

void Parser::Impl::checkDuplicates() {
  size_t n = raw.size();
  if (n < 2) return;
  if (n <= 12) {
    for (size_t i = 1; i < n; ++i)
      for (size_t j = 0; j < i; ++j)
        if (sameAttr(raw[i], raw[j])) duplicate(raw[i], raw[j]);
    return;
  }
  size_t sz = 1;
  while (sz < n * 2) sz <<= 1;
  hash.assign(sz, UINT32_MAX);
  for (size_t i = 0; i < n; ++i) {
    const RawAttr& a = raw[i];
    size_t slot = expandedHash(a) & (sz - 1);
    while (hash[slot] != UINT32_MAX) {
      ++probes;
      const RawAttr& b = raw[hash[slot]];
      if (sameAttr(a, b)) duplicate(a, b);
      slot = (slot + 1) & (sz - 1);
    }
    hash[slot] = uint32_t(i);
  }
}

// Attribute look-up by expanded name on the current element; the index
// (into hash) is built on the first look-up of a wide element.
int Parser::Impl::findAttribute(std::string_view local, const std::string_view* nsp) {
  std::string_view ns = nsp ? *nsp : std::string_view();
  const uint32_t nattr = node.nattrs;
  auto matches = [&](uint32_t i) {
    ++probes;
    return attrs[i].local.view() == local && attrs[i].ns.view() == ns;
  };
  if (node.type != NodeType::Element || nattr <= 8 || raw.size() != nattr) {
    for (uint32_t i = 0; i < nattr; ++i)
      if (matches(i)) return int(i);
    return -1;
  }
  size_t sz = 1;
  while (sz < size_t(nattr) * 2) sz <<= 1;
  if (!indexed) {
    hash.assign(sz, UINT32_MAX);
    for (uint32_t i = 0; i < nattr; ++i) {
      size_t slot = expandedHash(raw[i]) & (sz - 1);
      while (hash[slot] != UINT32_MAX) slot = (slot + 1) & (sz - 1);
      hash[slot] = i;
    }
    indexed = true;
  }
  uint32_t h = hashBytes(local.data(), local.size()) ^
               ((ns.empty() ? 0u : hashBytes(ns.data(), ns.size())) * 0x9E3779B1u);
  for (size_t slot = h & (sz - 1); hash[slot] != UINT32_MAX; slot = (slot + 1) & (sz - 1))
    if (matches(hash[slot])) return int(hash[slot]);
  return -1;
}

}  // namespace twxml::xmlcore
