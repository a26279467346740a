// Names, start tags with their attributes, and end tags.
#include "parser_impl.h"

namespace twxml::xmlcore {

using detail::fail;
using detail::Frame;
using detail::RawAttr;

// ----------------------------------------------------------- names
void Parser::Impl::nameTooLong(const char* s) { failMsg(Msg::NameTooLong, {}, s); }

void Parser::Impl::badNameStart(const char* p) {
  if (*p == 0 && p == lim) {
    moreOrEnd();
    failAt(Error::UnexpectedEnd, p);
  }
  failAt(Error::Syntax, p);
}

const char* Parser::Impl::nameStartSlow(const char* p) {
  int l;
  uint32_t cp = decodeUtf8(p, &l);
  if (!isNameStartCp(cp)) failAt(Error::Syntax, p);
  return p + l;
}

const char* Parser::Impl::nameCharSlow(const char* p) {
  int l;
  uint32_t cp = decodeUtf8(p, &l);
  return isNameCp(cp) ? p + l : p;
}

const char* Parser::Impl::scanNmtoken(const char* p) {
  const char* s = p;
  for (;;) {
    uint8_t c = uint8_t(*p);
    if (c < 0x80) {
      if (kChars.v[c] & kNameChar) {
        ++p;
        continue;
      }
      if (c == 0 && p == lim && moreOrEnd()) continue;
      break;
    }
    const char* q = nameCharSlow(p);
    if (q == p) break;
    p = q;
  }
  if (p == s) fail(Error::Syntax);
  return p;
}

uint32_t Parser::Impl::prefixedColon(const char* n, uint32_t l, uint32_t at) {
  if (at == 0 || at + 1 >= l) fail(Error::Namespace);
  if (std::memchr(n + at + 1, ':', l - at - 1)) fail(Error::Namespace);
  int cl;
  uint32_t cp = decodeUtf8(n + at + 1, &cl);
  if (!isNameStartCp(cp)) fail(Error::Namespace);
  return at;
}

// --------------------------------------------------------- start tags
int Parser::Impl::parseStartTag() {
  if (state == State::Epilog) failMsg(Msg::TwoRoots);
  const char* n = cur + 1;
  const char* ncolon = nullptr;
  const char* ne = scanQName(n, &ncolon);
  const char* p = ne;
  bool isEmpty = false;
  // Most tags end right after the name; the rest go through the attributes.
  if (*p == '>') {
    ++p;
  } else if (*p == '/' && p[1] == '>') {
    p += 2;
    isEmpty = true;
  } else {
    p = parseAttributes(p, &isEmpty);
  }
  cur = p;
  commitStartTag(n, uint32_t(ne - n), ncolon ? uint32_t(ncolon - n) : uint32_t(ne - n), isEmpty);
  return 1;
}

// The attributes from p to the end of the tag, into raw; returns the end.
const char* Parser::Impl::parseAttributes(const char* p, bool* isEmpty) {
  for (;;) {
    const char* q = skipWs(p);
    char c = *q;
    if (c == '>') return q + 1;
    if (c == '/') {
      if (!availAt(q, 2)) fail(Error::UnexpectedEnd);
      if (q[1] != '>') fail(Error::Syntax);
      *isEmpty = true;
      return q + 2;
    }
    if (c == 0 && q == lim) {
      moreOrEnd();
      fail(Error::UnexpectedEnd);
    }
    if (q == p) failAt(Error::Syntax, q);
    const char* an = q;
    const char* acolon = nullptr;
    const char* ae = scanQName(an, &acolon);
    const char* r = skipWs(ae);
    if (*r != '=') failAt(*r == 0 ? Error::UnexpectedEnd : Error::Syntax, r);
    r = skipWs(r + 1);
    char quote = *r;
    if (quote != '"' && quote != '\'') {
      if (*r == 0) failAt(Error::UnexpectedEnd, r);
      failMsg(Msg::UnquotedValue, {}, r);
    }
    const char* vs = r + 1;
    const char* ve = vs;
    bool special = false;
    for (;;) {
      ve = scan::Attr(*kern, vec, ve, quote);
      char vc = *ve;
      if (vc == quote) break;
      if (vc == '<') failAt(Error::Syntax, ve);
      if (vc == 0) {
        if (ve == lim) {
          moreOrEnd();
          fail(Error::UnexpectedEnd);
        }
      }
      special = true;
      ++ve;
    }
    RawAttr& ra = raw.emplace_back();
    ra.name = an;
    ra.nameLen = uint32_t(ae - an);
    ra.firstColon = acolon ? uint32_t(acolon - an) : ra.nameLen;
    ra.val = vs;
    ra.valLen = uint32_t(ve - vs);
    ra.special = special;
    ra.isDefault = false;
    ra.cdata = true;
    ra.inScratch = false;
    ra.off = srcs.empty() ? base + uint64_t(an - buf) : base + mainPos;
    p = ve + 1;
  }
}

void Parser::Impl::commitStartTag(const char* n, uint32_t nl, uint32_t firstColon, bool isEmpty) {
  if (__builtin_expect(opt.maxElementDepth != 0, 0) && frames.size() >= opt.maxElementDepth)
    fail(Error::DepthLimit);
  if (state != State::Content) state = State::Content;  // Start or Prolog: Epilog failed before
  const uint32_t colon = qnameColonAt(n, nl, firstColon);
  // Declared types and defaults, normalised values, attribute prefixes; and
  // whether any attribute declares a namespace.
  const bool declares = (!raw.empty() || !attMap.empty()) && prepareAttributes(n, nl);
  uint32_t uriOff = 0, uriLen = 0;
  if (isEmpty && !declares) {
    // An empty element that binds nothing opens no scope: its names stay
    // where the tag is until the next step.
    if (colon || bindings.hasDefault()) {
      uint32_t h;
      resolveAt = nodeOff + 1;
      resolve(n, colon, false, &uriOff, &uriLen, &h);
    }
    node.depth = uint32_t(frames.size());
    if (frames.empty()) state = State::Epilog;
    setElementNames(n, nl, colon, uriOff, uriLen);
  } else {
    // Push the frame, then the namespace declarations it makes.
    Frame& f = frames.emplace_back();
    f.nameOff = uint32_t(names.size());
    f.nameLen = nl;
    f.colon = colon;
    f.nsMark = uint32_t(bindings.size());
    f.nsArenaMark = uint32_t(nsArena.size());
    names.push(n, nl);
    if (declares) declareNamespaces();
    if (colon || bindings.hasDefault()) {
      uint32_t h;
      resolveAt = nodeOff + 1;
      resolve(n, colon, false, &uriOff, &uriLen, &h);
    }
    f.uriOff = uriOff;
    f.uriLen = uriLen;
    node.depth = uint32_t(frames.size() - 1);
    pendingPop = isEmpty;
    if (isEmpty && frames.size() == 1) state = State::Epilog;
    setElementNames(names.at(f.nameOff), nl, colon, uriOff, uriLen);
  }
  node.type = NodeType::Element;
  node.empty = isEmpty;
  if (!raw.empty()) finishAttributes();
}

bool Parser::Impl::prepareAttributes(const char* n, uint32_t nl) {
  if (!attMap.empty()) applyAttDecls(n, nl);
  bool declares = false;
  for (RawAttr& ra : raw) {
    if (ra.special || !ra.cdata) {
      size_t o = scratch.size();
      normalize(ra.val, ra.val + ra.valLen, ra.cdata, scratch);
      ra.inScratch = true;
      ra.vOff = uint32_t(o);
      ra.vLen = uint32_t(scratch.size() - o);
    }
    ra.colon = ra.firstColon == UINT32_MAX ? qnameColon(ra.name, ra.nameLen)
                                           : qnameColonAt(ra.name, ra.nameLen, ra.firstColon);
    if (ra.nameLen >= 5 && ra.name[0] == 'x' && std::memcmp(ra.name, "xmlns", 5) == 0)
      declares = true;
  }
  return declares;
}

// The attributes' namespaces, the duplicate check, and the attributes as
// the accessors hand them out.
void Parser::Impl::finishAttributes() {
  for (RawAttr& ra : raw) {
    ra.uriOff = ra.uriLen = ra.uriHash = 0;
    if (ra.colon == 0) {
      if (ra.nameLen == 5 && std::memcmp(ra.name, "xmlns", 5) == 0) {
        ra.uriOff = kXmlnsOff;
        ra.uriLen = detail::kXmlnsNsLen;
        ra.uriHash = kXmlnsHash;
      }
      continue;
    }
    resolveAt = ra.off;
    resolve(ra.name, ra.colon, true, &ra.uriOff, &ra.uriLen, &ra.uriHash);
  }
  checkDuplicates();
  if (attrs.size() < raw.size()) attrs.resize(raw.size());
  node.nattrs = uint32_t(raw.size());
  node.attrs = attrs.data();
  for (size_t i = 0; i < raw.size(); ++i) {
    const RawAttr& ra = raw[i];
    Attribute& a = attrs[i];
    a.qname = Str{ra.name, ra.nameLen};
    if (ra.colon) {
      a.prefix = Str{ra.name, ra.colon};
      a.local = Str{ra.name + ra.colon + 1, ra.nameLen - ra.colon - 1};
    } else {
      a.prefix = Str{};
      a.local = a.qname;
    }
    a.ns = ra.uriLen ? Str{nsArena.data() + ra.uriOff, ra.uriLen} : Str{};
    a.value = ra.inScratch ? Str{scratch.data() + ra.vOff, ra.vLen} : Str{ra.val, ra.valLen};
    a.isDefault = ra.isDefault;
    a.offset = uint32_t(ra.off - nodeOff);
  }
}

void Parser::Impl::setElementNames(const char* n, uint32_t nl, uint32_t colon, uint32_t uriOff,
                                   uint32_t uriLen) {
  node.qname = Str{n, nl};
  if (colon) {
    node.prefix = Str{n, colon};
    node.local = Str{n + colon + 1, nl - colon - 1};
  } else {
    node.prefix = Str{};
    node.local = node.qname;
  }
  node.ns = uriLen ? Str{nsArena.data() + uriOff, uriLen} : Str{};
  node.value = Str{};
}

// ----------------------------------------------------------- end tags
int Parser::Impl::parseEndTag() {
  const char* n = cur + 2;
  const Frame* f = frames.empty() ? nullptr : &frames.back();
  const char* open = f ? names.at(f->nameOff) : nullptr;
  // Nearly every end tag names the open element: its bytes, checked when the
  // element opened, are compared in place, so a name ending where the open
  // one ends needs no scan (and no second compare). Anything else is scanned
  // and compared as before.
  const bool matched = f && size_t(lim - n) > f->nameLen && detail::sameName(open, n, f->nameLen) &&
                       endsName(uint8_t(n[f->nameLen]));
  const char* ne = matched ? n + f->nameLen : scanName(n);
  const char* p = *ne == '>' ? ne : skipWs(ne);  // nearly every end tag closes at once
  if (*p != '>') fail(*p == 0 ? Error::UnexpectedEnd : Error::Syntax);
  if (!f) fail(Error::Syntax);
  if (!matched && (f->nameLen != uint32_t(ne - n) || !detail::sameName(open, n, f->nameLen)))
    failMsg(Msg::TagMismatch, std::string_view(open, f->nameLen), n);
  if (!srcs.empty() && frames.size() <= srcs.back().depth) fail(Error::Syntax);
  cur = p + 1;
  node.type = NodeType::EndElement;
  node.depth = uint32_t(frames.size() - 1);
  setElementNames(open, f->nameLen, f->colon, f->uriOff, f->uriLen);
  pendingPop = true;
  if (frames.size() == 1) state = State::Epilog;
  return 1;
}

}  // namespace twxml::xmlcore
