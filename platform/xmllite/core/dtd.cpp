// The document type declaration: the internal subset's entity, attribute
// list, element and notation declarations, and the attribute types and
// defaults they give start tags.
#include "parser_impl.h"

namespace twxml::xmlcore {

using detail::AttDecl;
using detail::Entity;
using detail::kPad;
using detail::RawAttr;

// Declared attribute types, and defaults for the attributes the start tag
// named n leaves out (each use brings the default's text again, as its
// references would: it counts against the same budget).
void Parser::Impl::applyAttDecls(const char* n, uint32_t nl) {
  auto it = attMap.find(std::string(n, nl));
  if (it == attMap.end()) return;
  const std::vector<AttDecl>& decls = attDecls[it->second];
  size_t specified = raw.size();
  for (const AttDecl& d : decls) {
    bool found = false;
    for (size_t i = 0; i < specified; ++i) {
      RawAttr& ra = raw[i];
      if (ra.nameLen == d.name.size() && std::memcmp(ra.name, d.name.data(), ra.nameLen) == 0) {
        ra.cdata = d.cdata;
        found = true;
        break;
      }
    }
    if (!found && d.hasDefault) {
      noteTokenCounts();
      expansions += d.refs;
      expandedBytes += d.def.size();
      if (overBudget()) failMsg(Msg::DefaultsTooLarge);
      RawAttr& ra = raw.emplace_back();
      ra.name = d.name.data();
      ra.nameLen = uint32_t(d.name.size());
      ra.firstColon = UINT32_MAX;
      ra.val = d.def.data();
      ra.valLen = uint32_t(d.def.size());
      ra.special = false;
      ra.isDefault = true;
      ra.cdata = true;
      ra.inScratch = false;
      ra.off = nodeOff;
    }
  }
}

void Parser::Impl::expectWs() {
  if (!isSpace(*cur)) {
    if (*cur == 0 && cur == lim) {
      moreOrEnd();
      detail::fail(Error::UnexpectedEnd);
    }
    detail::fail(Error::Syntax);
  }
  cur = skipWs(cur);
}
bool Parser::Impl::optWs() {
  const char* s = cur;
  cur = skipWs(cur);
  return cur != s;
}
bool Parser::Impl::keyword(const char* k, size_t n) {
  if (!avail(n)) return false;
  if (!detail::startsWith(cur, k, n)) return false;
  cur += n;
  return true;
}
void Parser::Impl::expect(char c) {
  if (*cur != c) {
    if (*cur == 0 && cur == lim) {
      moreOrEnd();
      detail::fail(Error::UnexpectedEnd);
    }
    detail::fail(Error::Syntax);
  }
  ++cur;
}
Str Parser::Impl::name() {
  const char* s = cur;
  cur = scanName(cur);
  return Str{s, uint32_t(cur - s)};
}
Str Parser::Impl::quoted(Literal kind) {
  char q = *cur;
  if (q != '"' && q != '\'') detail::fail(*cur == 0 ? Error::UnexpectedEnd : Error::Syntax);
  const char* s = ++cur;
  for (;;) {
    char c = *cur;
    if (c == q) break;
    if (c == 0 && cur == lim) {
      moreOrEnd();
      detail::fail(Error::UnexpectedEnd);
    }
    if (kind == Literal::Pubid && !(kChars.v[uint8_t(c)] & kPubid)) detail::fail(Error::Syntax);
    if (kind == Literal::AttValue && c == '<') detail::fail(Error::Syntax);
    ++cur;
  }
  Str r{s, uint32_t(cur - s)};
  ++cur;
  return r;
}

// ExternalID; answers false when none is there.
bool Parser::Impl::externalId(Str* pub, Str* sys, bool allowPublicOnly) {
  if (keyword("SYSTEM", 6)) {
    expectWs();
    *sys = quoted(Literal::Any);
    return true;
  }
  if (keyword("PUBLIC", 6)) {
    expectWs();
    *pub = quoted(Literal::Pubid);
    if (allowPublicOnly) {
      const char* s = cur;
      bool ws = optWs();
      if (ws && (*cur == '"' || *cur == '\'')) {
        *sys = quoted(Literal::Any);
      } else {
        cur = s;
      }
      return true;
    }
    expectWs();
    *sys = quoted(Literal::Any);
    return true;
  }
  return false;
}

void Parser::Impl::resetDtd() {
  entities.clear();
  geMap.clear();
  peMap.clear();
  attDecls.clear();
  attMap.clear();
  hasExternalSubset = hasPERefs = stopDecls = false;
}

int Parser::Impl::parseDoctype() {
  if (opt.prohibitDtd) detail::fail(Error::DtdProhibited);
  if (seenDoctype || state == State::Content || state == State::Epilog)
    detail::fail(Error::Syntax);
  resetDtd();
  cur += 9;
  expectWs();
  Str root = name();
  Str pub, sys;
  bool hasPub = false, hasSys = false;
  if (optWs()) {
    Str p2{}, s2{};
    p2.n = UINT32_MAX;
    s2.n = UINT32_MAX;
    if (externalId(&p2, &s2, false)) {
      hasExternalSubset = true;
      if (p2.n != UINT32_MAX) {
        pub = p2;
        hasPub = true;
      }
      if (s2.n != UINT32_MAX) {
        sys = s2;
        hasSys = true;
      }
      optWs();
    }
  }
  Str subset{};
  if (*cur == '[') {
    ++cur;
    const char* ss = cur;
    internalSubset();
    subset = Str{ss, uint32_t(cur - ss)};
    expect(']');
    optWs();
  }
  expect('>');
  seenDoctype = true;
  if (state == State::Start) state = State::Prolog;
  clearStrings();
  node.type = NodeType::DocumentType;
  node.qname = node.local = root;
  node.value = subset;
  node.depth = 0;
  if (hasPub) {
    Attribute a;
    a.qname = a.local = Str{"PUBLIC", 6};
    a.value = pub;
    addAttr(a);
  }
  if (hasSys) {
    Attribute a;
    a.qname = a.local = Str{"SYSTEM", 6};
    a.value = sys;
    addAttr(a);
  }
  return 1;
}

// Reads declarations up to the closing ']' (left at cur).
void Parser::Impl::internalSubset() {
  for (;;) {
    cur = skipWs(cur);
    char c = *cur;
    if (c == 0 && cur == lim) {
      if (!srcs.empty()) {
        leaveSource();
        continue;
      }
      moreOrEnd();
      detail::fail(Error::UnexpectedEnd);
    }
    if (c == ']') {
      if (!srcs.empty()) detail::fail(Error::Syntax);
      return;
    }
    if (c == '%') {
      const char* n = cur + 1;
      const char* ne = scanName(n);
      if (*ne != ';') detail::fail(*ne == 0 ? Error::UnexpectedEnd : Error::Syntax);
      cur = ne + 1;
      hasPERefs = true;
      auto it = peMap.find(std::string_view(n, size_t(ne - n)));
      if (it == peMap.end() || entities[it->second].external) {
        // Not read: later declarations may depend on what it holds.
        if (!standalone) stopDecls = true;
        continue;
      }
      // No element is open in the internal subset, so the entity's frame
      // depth is 0 here as pushEntity records it.
      pushEntity(int(it->second), cur);
      continue;
    }
    if (c != '<') detail::fail(Error::Syntax);
    avail(2);
    if (cur[1] == '?') {
      Str t, d;
      scanPI(&t, &d);
      continue;
    }
    if (cur[1] != '!') detail::fail(Error::Syntax);
    avail(4);
    if (cur[2] == '-' && cur[3] == '-') {
      const char* save = cur;
      (void)save;
      skipComment();
      continue;
    }
    cur += 2;
    if (keyword("ENTITY", 6)) {
      entityDecl();
    } else if (keyword("ATTLIST", 7)) {
      attlistDecl();
    } else if (keyword("ELEMENT", 7)) {
      elementDecl();
    } else if (keyword("NOTATION", 8)) {
      notationDecl();
    } else {
      detail::fail(Error::Syntax);
    }
  }
}

void Parser::Impl::entityDecl() {
  expectWs();
  bool pe = false;
  if (*cur == '%') {
    ++cur;
    expectWs();
    pe = true;
  }
  Str n = name();
  noColon(n.p, n.p + n.n);
  expectWs();
  Entity e;
  e.name.assign(n.p, n.n);
  if (*cur == '"' || *cur == '\'') {
    entityValue(e.text);
  } else {
    Str pub{}, sys{};
    if (!externalId(&pub, &sys, false)) detail::fail(Error::Syntax);
    e.external = true;
    if (!pe) {
      bool ws = optWs();
      if (ws && keyword("NDATA", 5)) {
        expectWs();
        Str nn = name();
        noColon(nn.p, nn.p + nn.n);
        e.unparsed = true;
      }
    }
  }
  optWs();
  expect('>');
  if (stopDecls) return;
  auto& map = pe ? peMap : geMap;
  if (map.count(std::string_view(e.name))) return;  // first one binds
  e.len = uint32_t(e.text.size());
  e.text.append(kPad, '\0');
  entities.push_back(std::move(e));  // a deque: keys stay valid
  map.emplace(std::string_view(entities.back().name),
              uint32_t(entities.size() - 1));
}

// EntityValue: char refs expanded, entity refs kept, PE refs refused.
void Parser::Impl::entityValue(std::string& out) {
  char q = *cur++;
  const char* s = cur;
  for (;;) {
    char c = *cur;
    if (c == q) break;
    if (c == 0 && cur == lim) {
      moreOrEnd();
      detail::fail(Error::UnexpectedEnd);
    }
    if (c == '%') detail::fail(Error::Syntax);
    if (c == '&') {
      out.append(s, size_t(cur - s));
      avail(2);
      if (cur[1] == '#') {
        cur = charRef(cur, out);
      } else {
        const char* ne;
        const char* after = entityRefName(cur, &ne);
        out.append(cur, size_t(after - cur));
        cur = after;
      }
      s = cur;
      continue;
    }
    ++cur;
  }
  out.append(s, size_t(cur - s));
  ++cur;
}

void Parser::Impl::attlistDecl() {
  expectWs();
  Str el = name();
  qnameColon(el.p, el.n);
  std::vector<AttDecl>* list = nullptr;
  if (!stopDecls) {
    auto it = attMap.find(std::string(el.p, el.n));
    if (it == attMap.end()) {
      attMap.emplace(std::string(el.p, el.n), uint32_t(attDecls.size()));
      attDecls.emplace_back();
      list = &attDecls.back();
    } else {
      list = &attDecls[it->second];
    }
  }
  for (;;) {
    bool ws = optWs();
    if (*cur == '>') {
      ++cur;
      return;
    }
    if (!ws) detail::fail(*cur == 0 ? Error::UnexpectedEnd : Error::Syntax);
    Str an = name();
    qnameColon(an.p, an.n);
    expectWs();
    AttDecl d;
    // Names handed out may be read sixteen bytes from their start, as the
    // parser's buffers allow: a default's name comes from here.
    d.name.reserve(an.n + 16);
    d.name.assign(an.p, an.n);
    if (*cur == '(') {
      d.cdata = false;
      enumeration(false);
    } else {
      Str t = name();
      std::string_view tv = t.view();
      if (tv == "CDATA") {
        d.cdata = true;
      } else if (tv == "ID" || tv == "IDREF" || tv == "IDREFS" ||
                 tv == "ENTITY" || tv == "ENTITIES" || tv == "NMTOKEN" ||
                 tv == "NMTOKENS") {
        d.cdata = false;
      } else if (tv == "NOTATION") {
        d.cdata = false;
        expectWs();
        enumeration(true);
      } else {
        detail::fail(Error::Syntax);
      }
    }
    expectWs();
    if (*cur == '#') {
      ++cur;
      Str k = name();
      std::string_view kv = k.view();
      if (kv == "REQUIRED" || kv == "IMPLIED") {
        // no default
      } else if (kv == "FIXED") {
        expectWs();
        defaultValue(d);
      } else {
        detail::fail(Error::Syntax);
      }
    } else {
      defaultValue(d);
    }
    if (list) {
      bool dup = false;
      for (const AttDecl& o : *list)
        if (o.name == d.name) dup = true;
      if (!dup) list->push_back(std::move(d));
    }
  }
}

void Parser::Impl::defaultValue(AttDecl& d) {
  const Str v = quoted(Literal::AttValue);
  const char* s = v.p;
  const char* e = v.p + v.n;
  // Check reference syntax in the literal itself.
  bounded = true;
  for (const char* p = s; p < e; ++p) {
    if (*p != '&') continue;
    const char* save = lim;
    lim = e;
    std::string tmp;
    const char* ne;
    if (p[1] == '#') p = charRef(p, tmp) - 1;
    else p = entityRefName(p, &ne) - 1;
    lim = save;
  }
  bounded = false;
  if (stopDecls) return;
  d.hasDefault = true;
  uint64_t before = expansions;
  normalize(s, e, d.cdata, d.def);
  d.refs = uint32_t(std::min<uint64_t>(expansions - before, UINT32_MAX));
}

void Parser::Impl::enumeration(bool names) {
  expect('(');
  for (;;) {
    optWs();
    if (names) {
      Str n = name();
      noColon(n.p, n.p + n.n);
    } else {
      cur = scanNmtoken(cur);
    }
    optWs();
    if (*cur == '|') {
      ++cur;
      continue;
    }
    expect(')');
    return;
  }
}

void Parser::Impl::elementDecl() {
  expectWs();
  Str n = name();
  qnameColon(n.p, n.n);
  expectWs();
  if (keyword("EMPTY", 5) || keyword("ANY", 3)) {
    optWs();
    expect('>');
    return;
  }
  expect('(');
  optWs();
  if (keyword("#PCDATA", 7)) {
    bool any = false;
    for (;;) {
      optWs();
      if (*cur == '|') {
        ++cur;
        optWs();
        Str e = name();
        qnameColon(e.p, e.n);
        any = true;
        continue;
      }
      expect(')');
      if (*cur == '*') {
        ++cur;
      } else if (any) {
        detail::fail(Error::Syntax);
      }
      break;
    }
    optWs();
    expect('>');
    return;
  }
  // children: groups of cps, nesting kept on an explicit stack.
  std::vector<char> seps{0};
  for (;;) {
    optWs();
    if (*cur == '(') {
      ++cur;
      seps.push_back(0);
      if (seps.size() > 4096) detail::fail(Error::Syntax);
      continue;
    }
    Str e = name();
    qnameColon(e.p, e.n);
    if (*cur == '?' || *cur == '*' || *cur == '+') ++cur;
    for (;;) {
      optWs();
      char c = *cur;
      if (c == '|' || c == ',') {
        if (seps.back() == 0) seps.back() = c;
        else if (seps.back() != c) detail::fail(Error::Syntax);
        ++cur;
        break;
      }
      expect(')');
      seps.pop_back();
      if (*cur == '?' || *cur == '*' || *cur == '+') ++cur;
      if (seps.empty()) {
        optWs();
        expect('>');
        return;
      }
    }
  }
}

void Parser::Impl::notationDecl() {
  expectWs();
  Str n = name();
  noColon(n.p, n.p + n.n);
  expectWs();
  Str pub{}, sys{};
  if (!externalId(&pub, &sys, true)) detail::fail(Error::Syntax);
  optWs();
  expect('>');
}

}  // namespace twxml::xmlcore
