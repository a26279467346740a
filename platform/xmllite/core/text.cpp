// Character data and the markup around it: references, attribute-value
// normalisation, text runs, comments, processing instructions, CDATA
// sections and the XML declaration.
#include <algorithm>

#include "parser_impl.h"

namespace twxml::xmlcore {

using detail::fail;
using detail::startsWith;

// ------------------------------------------------------------ refs
namespace {

// The value of each hexadecimal digit; 16 and up for every other byte.
struct HexTable {
  uint8_t v[256];
  constexpr HexTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = 0xFF;
    for (int i = 0; i < 10; ++i) v['0' + i] = uint8_t(i);
    for (int i = 0; i < 6; ++i) v['a' + i] = v['A' + i] = uint8_t(10 + i);
  }
};
constexpr HexTable kHex{};

void AppendChar(detail::TextBuf& out, uint32_t cp) { out.appendChar(cp); }
void AppendChar(std::string& out, uint32_t cp) {
  char tmp[4];
  out.append(tmp, twxml::utf::PutUtf8(cp, tmp));
}

}  // namespace

// Parses a character reference at p ("&#..."); appends UTF-8 to out. Values
// past the last code point stay at 0x110000, which no check lets through.
template <class Out>
const char* Parser::Impl::charRef(const char* p, Out& out) {
  const char* at = p;
  p += 2;
  const bool hex = *p == 'x';
  if (hex) ++p;
  const char* const digits = p;
  uint32_t v = 0;
  if (hex) {
    for (uint32_t d; (d = kHex.v[uint8_t(*p)]) < 16; ++p) v = std::min<uint32_t>(v * 16 + d, 0x110000);
  } else {
    for (uint32_t d; (d = uint32_t(uint8_t(*p)) - '0') < 10; ++p) v = std::min<uint32_t>(v * 10 + d, 0x110000);
  }
  if (*p != ';') {
    if (*p == 0 && p == lim) {
      moreOrEnd();
      failAt(Error::UnexpectedEnd, p);
    }
    failAt(Error::Syntax, p);
  }
  if (p == digits) failAt(Error::Syntax, p);
  if (!isXmlChar(v)) failMsg(Msg::CharRef, {}, at);
  AppendChar(out, v);
  return p + 1;
}

// Parses "&name;" at p; *nameEnd gets the end of the name.
const char* Parser::Impl::entityRefName(const char* p, const char** nameEnd) {
  const char* e = scanName(p + 1);
  if (*e != ';') {
    if (*e == 0 && e == lim) {
      moreOrEnd();
      fail(Error::UnexpectedEnd);
    }
    fail(Error::Syntax);
  }
  // Entity names are NCNames in a namespace-aware document, referenced or not.
  noColon(p + 1, e);
  *nameEnd = e;
  return e + 1;
}

namespace {

// One of the five predefined references ("&lt;" and the rest) whole in
// [p, e): its character, with *after past the ';'. 0 for anything else,
// which then takes the general path (and its errors). Most references in
// text are these, and this spares them the name scan.
char QuickPredefined(const char* p, const char* e, const char** after) {
  const size_t room = size_t(e - p);
  if (room < 4) return 0;
  uint32_t w;
  std::memcpy(&w, p, 4);
  const auto word = [](const char (&s)[5]) {
    uint32_t v;
    std::memcpy(&v, s, 4);
    return v;
  };
  char c = 0;
  size_t len = 4;
  if (w == word("&lt;")) {
    c = '<';
  } else if (w == word("&gt;")) {
    c = '>';
  } else if (w == word("&amp") && room >= 5 && p[4] == ';') {
    c = '&';
    len = 5;
  } else if (w == word("&quo") && room >= 6 && p[4] == 't' && p[5] == ';') {
    c = '"';
    len = 6;
  } else if (w == word("&apo") && room >= 6 && p[4] == 's' && p[5] == ';') {
    c = '\'';
    len = 6;
  }
  *after = p + len;
  return c;
}

}  // namespace

char Parser::Impl::predefined(const char* n, size_t l) {
  switch (l) {
    case 2:
      if (n[0] == 'l' && n[1] == 't') return '<';
      if (n[0] == 'g' && n[1] == 't') return '>';
      break;
    case 3:
      if (startsWith(n, "amp", 3)) return '&';
      break;
    case 4:
      if (startsWith(n, "apos", 4)) return '\'';
      if (startsWith(n, "quot", 4)) return '"';
      break;
  }
  return 0;
}

// Attribute-value normalisation: appends the normalised value of the
// literal [p, e) to out.
template <class Out>
void Parser::Impl::normalize(const char* p, const char* e, bool cdata, Out& out) {
  size_t start = out.size();
  normStack.clear();
  normEnts.clear();
  bool wasBounded = bounded;
  bounded = true;
  for (;;) {
    while (p < e) {
      char c = *p;
      if (c == '&') {
        const char* quick;
        if (char pc = QuickPredefined(p, e, &quick)) {
          out.push_back(pc);
          p = quick;
          continue;
        }
        if (p[1] == '#') {
          const char* save = lim;
          lim = e;
          p = charRef(p, out);
          lim = save;
          continue;
        }
        const char* ne;
        const char* save = lim;
        lim = e;
        const char* after = entityRefName(p, &ne);
        lim = save;
        const char* n = p + 1;
        size_t nl = size_t(ne - n);
        if (char pc = predefined(n, nl)) {
          out.push_back(pc);
          p = after;
          continue;
        }
        int idx = findGE(n, nl);
        if (idx < 0) {
          if (undeclaredIsError()) failMsg(Msg::UndefinedEntity, std::string_view(n, nl));
          skipReference(std::string_view(n, nl), p);
          p = after;
          continue;
        }
        Entity& ent = entities[size_t(idx)];
        if (ent.external || ent.unparsed) fail(Error::Syntax);
        for (int o : normEnts)
          if (o == idx) failMsg(Msg::EntityRecursion, ent.name);
        if (normEnts.size() >= 64) fail(Error::EntityRecursion);
        countExpansion(ent.len);
        normStack.emplace_back(after, e);
        normEnts.push_back(idx);
        p = ent.text.data();
        e = p + ent.len;
        continue;
      }
      if (c == '<') fail(Error::Syntax);
      if (c == '\t' || c == '\n' || c == '\r') {
        out.push_back(' ');
        ++p;
        continue;
      }
      const char* q = p + 1;
      while (q < e && *q != '&' && *q != '<' && *q != '\t' && *q != '\n' && *q != '\r') ++q;
      out.append(p, size_t(q - p));
      p = q;
    }
    if (normStack.empty()) break;
    p = normStack.back().first;
    e = normStack.back().second;
    normStack.pop_back();
    normEnts.pop_back();
  }
  bounded = wasBounded;
  if (!cdata) {
    // Collapse runs of spaces, trim both ends.
    size_t w = start;
    bool sp = true;
    for (size_t r = start; r < out.size(); ++r) {
      char c = out[r];
      if (c == ' ') {
        if (sp) continue;
        sp = true;
      } else {
        sp = false;
      }
      out[w++] = c;
    }
    if (w > start && out[w - 1] == ' ') --w;
    out.resize(w);
  }
}

template const char* Parser::Impl::charRef(const char*, std::string&);
template const char* Parser::Impl::charRef(const char*, detail::TextBuf&);
template void Parser::Impl::normalize(const char*, const char*, bool, std::string&);
template void Parser::Impl::normalize(const char*, const char*, bool, detail::TextBuf&);

// --------------------------------------------------------------- text
int Parser::Impl::parseText() {
  const char* const tokenStart = cur;
  const char* p = cur;
  const char* start = p;
  bool inBuf = false;
  bool other = false;  // something but white space seen
  const bool topLevel = state != State::Content;
  for (;;) {
    p = scan::Text(*kern, vec, p, &other);
    char c = *p;
    if (c == '<') break;
    if (c == ']') {
      other = true;
      if (!availAt(p, 3)) {
        ++p;
        continue;
      }
      if (p[1] == ']' && p[2] == '>') failMsg(Msg::CDataEndInText, {}, p);
      ++p;
      continue;
    }
    if (c == 0) {
      // p == lim: end of this source.
      if (srcs.empty()) {
        moreOrEnd();
        if (!topLevel) failAt(Error::UnexpectedEnd, p);
        break;
      }
      text.append(start, size_t(p - start));
      inBuf = true;
      popEntity();
      p = start = cur;
      continue;
    }
    // '&'
    if (topLevel) failMsg(Msg::TextOutsideRoot, {}, p);
    text.append(start, size_t(p - start));
    inBuf = true;
    const char* quick;
    if (char pc = QuickPredefined(p, lim, &quick)) {
      text.push_back(pc);
      other = true;
      p = start = quick;
      continue;
    }
    availAt(p, 2);
    if (p[1] == '#') {
      const size_t at = text.size();
      p = charRef(p, text);
      if (text.size() - at != 1 || !isSpace(text[at])) other = true;
      start = p;
      continue;
    }
    const char* ne;
    const char* after = entityRefName(p, &ne);
    const char* n = p + 1;
    size_t nl = size_t(ne - n);
    if (char pc = predefined(n, nl)) {
      text.push_back(pc);
      other = true;
      p = start = after;
      continue;
    }
    int idx = findGE(n, nl);
    if (idx < 0) {
      if (undeclaredIsError()) failMsg(Msg::UndefinedEntity, std::string_view(n, nl), p);
      skipReference(std::string_view(n, nl), p);
      p = start = after;
      continue;
    }
    Entity& ent = entities[size_t(idx)];
    if (ent.unparsed) fail(Error::Syntax);
    if (ent.external) {
      skipReference(std::string_view(n, nl), p);
      p = start = after;
      continue;
    }
    pushEntity(idx, after);
    p = start = cur;
  }
  const char* vp;
  size_t vl;
  if (inBuf) {
    text.append(start, size_t(p - start));
    vp = text.data();
    vl = text.size();
  } else {
    vp = start;
    vl = size_t(p - start);
  }
  cur = p;
  if (vl == 0) return 0;
  if (topLevel) {
    if (other) failMsg(Msg::TextOutsideRoot, {}, srcs.empty() ? tokenStart : nullptr);
    if (state == State::Start) state = State::Prolog;
  }
  if (!other && skipSpace) return 0;
  setValueNode(other ? NodeType::Text : NodeType::Whitespace, Str{vp, uint32_t(vl)});
  node.depth = uint32_t(frames.size());
  return 1;
}

// ------------------------------------------------- comments, PI, CDATA
// Finds "--" from p; the comment body ends there and must close with '>'.
int Parser::Impl::parseComment() {
  const char* s = cur + 4;
  const char* d = commentEnd(s);
  cur = d + 3;
  if (state == State::Start) state = State::Prolog;
  if (skipComments) return 0;
  setValueNode(NodeType::Comment, Str{s, uint32_t(d - s)});
  node.depth = uint32_t(frames.size());
  return 1;
}

// The "--" that ends a comment body starting at p; it must be followed by '>'.
const char* Parser::Impl::commentEnd(const char* p) {
  for (;;) {
    const char* d = static_cast<const char*>(std::memchr(p, '-', size_t(lim - p)));
    if (!d) {
      moreOrEnd();
      fail(Error::UnexpectedEnd);
    }
    if (!availAt(d, 3)) fail(Error::UnexpectedEnd);
    if (d[1] != '-') {
      p = d + 1;
      continue;
    }
    if (d[2] != '>') failMsg(Msg::CommentDashes, {}, d);
    return d;
  }
}

// Scans a PI at cur; gives target and data, advances cur.
void Parser::Impl::scanPI(Str* target, Str* data) {
  const char* t = cur + 2;
  const char* te = scanName(t);
  size_t tl = size_t(te - t);
  if (tl == 3 && (t[0] | 0x20) == 'x' && (t[1] | 0x20) == 'm' && (t[2] | 0x20) == 'l')
    fail(Error::Syntax);
  noColon(t, te);
  const char* p = te;
  if (!availAt(p, 2)) fail(Error::UnexpectedEnd);
  const char* ds;
  if (p[0] == '?' && p[1] == '>') {
    ds = p;
  } else {
    if (!isSpace(*p)) fail(Error::Syntax);
    p = skipWs(p);
    ds = p;
  }
  for (;;) {
    const char* q = static_cast<const char*>(std::memchr(p, '?', size_t(lim - p)));
    if (!q) {
      moreOrEnd();
      fail(Error::UnexpectedEnd);
    }
    if (!availAt(q, 2)) fail(Error::UnexpectedEnd);
    if (q[1] == '>') {
      *target = Str{t, uint32_t(tl)};
      *data = Str{ds, uint32_t(q - ds)};
      cur = q + 2;
      return;
    }
    p = q + 1;
  }
}

int Parser::Impl::parsePI() {
  if (state == State::Start && srcs.empty() && base + uint64_t(cur - buf) == 0) {
    avail(6);
    if (startsWith(cur, "<?xml", 5) && isSpace(cur[5])) return parseXmlDecl();
  }
  Str t, d;
  scanPI(&t, &d);
  if (state == State::Start) state = State::Prolog;
  clearStrings();
  node.type = NodeType::ProcessingInstruction;
  node.qname = node.local = t;
  node.value = d;
  node.depth = uint32_t(frames.size());
  return 1;
}

int Parser::Impl::parseCData() {
  if (state != State::Content) fail(Error::Syntax);
  avail(9);
  if (!startsWith(cur, "<![CDATA[", 9)) fail(Error::Syntax);
  const char* s = cur + 9;
  const char* p = s;
  for (;;) {
    const char* q = static_cast<const char*>(std::memchr(p, ']', size_t(lim - p)));
    if (!q) {
      moreOrEnd();
      fail(Error::UnexpectedEnd);
    }
    if (!availAt(q, 3)) fail(Error::UnexpectedEnd);
    if (q[1] == ']' && q[2] == '>') {
      cur = q + 3;
      setValueNode(NodeType::CData, Str{s, uint32_t(q - s)});
      node.depth = uint32_t(frames.size());
      return 1;
    }
    p = q + 1;
  }
}

// ------------------------------------------------------ XML declaration
namespace {

// Whether a declared name fits input laid out in 16 or 32 bit units.
bool wideName(std::string_view v, const std::string& actual) {
  std::string u(v);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  auto starts = [&](const char* p) { return u.rfind(p, 0) == 0; };
  if (actual == "UTF-16") return starts("UTF-16") || starts("UCS-2") || starts("ISO-10646-UCS-2");
  return starts("UTF-32") || starts("UCS-4") || starts("ISO-10646-UCS-4");
}

}  // namespace

int Parser::Impl::parseXmlDecl() {
  // The decoder refuses long declarations of byte encodings; the same
  // limit holds for the wide ones it does not read.
  if (avail(limits::kMaxDeclaration) && !memmem(cur, limits::kMaxDeclaration, "?>", 2))
    failMsg(Msg::DeclarationTooLong);
  const char* p = cur + 5;
  struct Pseudo {
    const char* n;
    uint32_t nl;
    const char* v;
    uint32_t vl;
  } items[3];
  int count = 0;
  int order = 0;  // 1 version, 2 encoding, 3 standalone
  for (;;) {
    const char* q = skipWs(p);
    if (!availAt(q, 2)) fail(Error::UnexpectedEnd);
    if (q[0] == '?' && q[1] == '>') {
      p = q + 2;
      break;
    }
    if (q == p) fail(Error::Syntax);
    const char* ne = scanName(q);
    size_t nl = size_t(ne - q);
    int which;
    if (nl == 7 && startsWith(q, "version", 7)) which = 1;
    else if (nl == 8 && startsWith(q, "encoding", 8)) which = 2;
    else if (nl == 10 && startsWith(q, "standalone", 10)) which = 3;
    else fail(Error::Syntax);
    if (which <= order || (which > 1 && order == 0)) fail(Error::Syntax);
    order = which;
    const char* r = skipWs(ne);
    if (*r != '=') fail(Error::Syntax);
    r = skipWs(r + 1);
    char quote = *r;
    if (quote != '"' && quote != '\'') fail(Error::Syntax);
    const char* vs = r + 1;
    const char* ve = vs;
    for (;;) {
      if (*ve == quote) break;
      if (*ve == 0 && ve == lim) {
        moreOrEnd();
        fail(Error::UnexpectedEnd);
      }
      ++ve;
    }
    std::string_view v(vs, size_t(ve - vs));
    if (which == 1) {
      if (v.size() < 3 || v[0] != '1' || v[1] != '.') fail(Error::Syntax);
      for (size_t i = 2; i < v.size(); ++i)
        if (v[i] < '0' || v[i] > '9') fail(Error::Syntax);
    } else if (which == 2) {
      if (v.empty()) fail(Error::Syntax);
      if (v.size() > limits::kMaxEncodingName) failMsg(Msg::EncodingNameTooLong);
      if (dec.wideInput() && !wideName(v, dec.encodingName())) failMsg(Msg::EncodingMismatch, v);
      char c0 = v[0];
      if (!((c0 >= 'a' && c0 <= 'z') || (c0 >= 'A' && c0 <= 'Z'))) fail(Error::Syntax);
      for (char c : v)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-'))
          fail(Error::Syntax);
    } else {
      if (v == "yes") standalone = true;
      else if (v == "no") standalone = false;
      else fail(Error::Syntax);
    }
    items[count++] = Pseudo{q, uint32_t(nl), vs, uint32_t(ve - vs)};
    p = ve + 1;
  }
  if (order == 0) fail(Error::Syntax);
  cur = p;
  state = State::Prolog;
  clearStrings();
  node.type = NodeType::XmlDeclaration;
  node.qname = node.local = Str{"xml", 3};
  node.depth = 0;
  for (int i = 0; i < count; ++i) {
    Attribute a;
    a.qname = a.local = Str{items[i].n, items[i].nl};
    a.value = Str{items[i].v, items[i].vl};
    a.offset = uint32_t(0);
    addAttr(a);
  }
  return 1;
}

}  // namespace twxml::xmlcore
