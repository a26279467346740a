// The pull parser. Input arrives as UTF-8 from the decoder into one sliding
// buffer. Each node is parsed as one token; when a token runs past the data
// at hand the token is abandoned (NeedMore), the buffer refilled (at least
// doubling what is kept, so long tokens stay linear) and the token parsed
// again. Entity replacement texts are further sources stacked above the
// buffer; nothing recurses by document nesting depth.
#include <algorithm>
#include <deque>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "chars.h"
#include "decoder.h"
#include "parse_limits.h"
#include "ns_index.h"
#include "xmlcore.h"

namespace twxml::xmlcore {

namespace {

constexpr size_t kPad = 16;  // zero bytes kept after every source's data
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kKeepBytes = size_t(4) << 20;  // kept after a large node
constexpr char kXmlNs[] = "http://www.w3.org/XML/1998/namespace";
constexpr char kXmlnsNs[] = "http://www.w3.org/2000/xmlns/";
constexpr uint32_t kXmlNsLen = sizeof(kXmlNs) - 1;
constexpr uint32_t kXmlnsNsLen = sizeof(kXmlnsNs) - 1;

struct NeedMore {};
struct Fail {
  Error e;
  Msg m = Msg::None;
};

[[noreturn]] void fail(Error e) { throw Fail{e}; }

struct Entity {
  std::string name;
  std::string text;  // replacement text followed by kPad zero bytes
  uint32_t len = 0;
  bool external = false;
  bool unparsed = false;
};

struct AttDecl {
  std::string name;
  bool cdata = true;
  bool hasDefault = false;
  uint32_t refs = 0;  // entity expansions that building the default took
  std::string def;
};

struct Src {
  const char* p;
  const char* end;
  int ent;         // entity index; its replacement text is being read
  uint32_t depth;  // element depth when the entity was entered
};

struct Frame {
  uint32_t nameOff, nameLen, colon;
  uint32_t nsMark, nsArenaMark;
  uint32_t uriOff, uriLen;
};

struct RawAttr {
  const char* name;
  uint32_t nameLen;
  uint32_t colon;  // index of the colon in the name, 0 when none
  uint32_t firstColon;  // as the scan found it (nameLen: none; UINT32_MAX: not scanned)
  const char* val;
  uint32_t valLen;
  bool special;    // holds a reference, tab or newline
  bool isDefault;
  bool cdata;
  bool inScratch;
  uint32_t vOff, vLen;
  uint32_t uriOff, uriLen, uriHash;
  uint64_t off;
};

inline bool startsWith(const char* p, const char* lit, size_t n) {
  return std::memcmp(p, lit, n) == 0;
}

#if defined(__SSE2__)
inline const char* scanText(const char* p) {
  const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'),
                rb = _mm_set1_epi8(']'), z = _mm_setzero_si128();
  for (;;) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i m = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)),
        _mm_or_si128(_mm_cmpeq_epi8(v, rb), _mm_cmpeq_epi8(v, z)));
    int mask = _mm_movemask_epi8(m);
    if (mask) return p + __builtin_ctz(unsigned(mask));
    p += 16;
  }
}
inline const char* scanAttr(const char* p, char q) {
  const __m128i qq = _mm_set1_epi8(q), amp = _mm_set1_epi8('&'),
                lt = _mm_set1_epi8('<'), tab = _mm_set1_epi8('\t'),
                nl = _mm_set1_epi8('\n'), z = _mm_setzero_si128();
  for (;;) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i m = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, qq), _mm_cmpeq_epi8(v, amp)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, z)),
                     _mm_or_si128(_mm_cmpeq_epi8(v, tab),
                                  _mm_cmpeq_epi8(v, nl))));
    int mask = _mm_movemask_epi8(m);
    if (mask) return p + __builtin_ctz(unsigned(mask));
    p += 16;
  }
}
#else
inline const char* scanText(const char* p) {
  for (;; ++p) {
    char c = *p;
    if (c == '<' || c == '&' || c == ']' || c == 0) return p;
  }
}
inline const char* scanAttr(const char* p, char q) {
  for (;; ++p) {
    char c = *p;
    if (c == q || c == '&' || c == '<' || c == '\t' || c == '\n' || c == 0)
      return p;
  }
}
#endif

}  // namespace

struct Parser::Impl {
  enum class State : uint8_t { Start, Prolog, Content, Epilog, Done, Err };

  Options opt;
  Decoder dec;
  bool hasInput = false;

  // Main buffer.
  char* buf = nullptr;
  size_t len = 0, cap = 0;
  uint64_t base = 0;  // stream offset of buf[0]
  bool eof = false;

  // Current source.
  const char* cur = nullptr;
  const char* lim = nullptr;
  std::vector<Src> srcs;  // entity sources being read, innermost last
  std::vector<Src> savedSrcs;  // srcs as a token found them, for a restart
  size_t mainPos = 0;     // main-buffer offset while an entity is read

  // Line/column checkpoint.
  mutable uint64_t lcOff = 0;
  mutable uint32_t lcLine = 1, lcCol = 0;

  State state = State::Start;
  Error err = Error::None;
  uint32_t errLine = 0, errCol = 0;
  std::string errDetail;  // what the failing message names
  std::string errText;

  // Document structure.
  std::vector<Frame> frames;
  std::string names;
  NsScope bindings;
  std::string nsArena;
  bool pendingPop = false;
  bool seenDoctype = false;
  bool standalone = false;

  // DTD.
  std::deque<Entity> entities;
  std::unordered_map<std::string_view, uint32_t> geMap, peMap;
  std::vector<std::vector<AttDecl>> attDecls;
  std::unordered_map<std::string, uint32_t> attMap;
  bool hasExternalSubset = false;
  bool hasPERefs = false;
  bool stopDecls = false;

  // Entity expansion accounting.
  uint64_t expansions = 0, expandedBytes = 0;

  // Current node.
  NodeType type = NodeType::None;
  Str qname, prefix, local, ns, value;
  bool empty = false;
  uint32_t depth = 0;
  uint64_t nodeOff = 0;
  std::vector<RawAttr> raw;
  std::vector<Attribute> attrs;  // only grows; nattr of them are current
  uint32_t nattr = 0;
  void addAttr(const Attribute& a) {
    if (attrs.size() <= nattr) attrs.resize(nattr + 1);
    attrs[nattr++] = a;
  }
  std::string scratch;
  std::string text;
  std::vector<uint32_t> hash;  // duplicate check, then the look-up index
  bool indexed = false;         // hash indexes the current element's attributes
  uint64_t probes = 0;          // see Parser::lookupProbes
  std::vector<std::pair<const char*, const char*>> normStack;
  std::vector<int> normEnts;

  Impl() {
    cap = kChunk + kPad;
    buf = static_cast<char*>(std::malloc(cap));
    if (!buf) throw std::bad_alloc();
  }
  ~Impl() { std::free(buf); }

  // ---------------------------------------------------------------- input
  uint64_t curOffset() const {
    if (srcs.empty()) return base + uint64_t(cur - buf);
    return base + mainPos;
  }

  // Called when cur reached lim: answers false when the source truly ends.
  bool moreOrEnd() {
    if (!srcs.empty() || bounded) return false;
    if (!eof) throw NeedMore{};
    if (dec.error() != Error::None) {
      failOff = base + len;
      errDetail = dec.encodingName();
      throw Fail{dec.error(), dec.message()};
    }
    return false;
  }
  bool bounded = false;        // reading a complete literal: no refills
  const char* errAt = nullptr;  // where in the current source an error lies

  [[noreturn]] void failAt(Error e, const char* p) {
    errAt = p;
    fail(e);
  }
  // A failure with its own message; detail is what the message names.
  [[noreturn]] void failMsg(Msg m, std::string_view detail = {}, const char* at = nullptr) {
    if (at) errAt = at;
    errDetail.assign(detail);
    throw Fail{errorOf(m), m};
  }
  uint64_t failOff = UINT64_MAX;
  bool avail(size_t k) {
    if (size_t(lim - cur) >= k) return true;
    return moreOrEnd();
  }
  bool availAt(const char* p, size_t k) {
    if (size_t(lim - p) >= k) return true;
    return moreOrEnd();
  }

  void refill(size_t keep) {
    advanceLc(base + keep);
    if (keep > 0) {
      std::memmove(buf, buf + keep, len - keep);
      len -= keep;
      base += keep;
    }
    // One token (a text run, a tag, the internal subset) must fit in the
    // 32-bit lengths handed out.
    if (len > opt.maxTokenBytes) failMsg(Msg::TokenTooLarge);
    size_t want = std::max(kChunk, len);
    if (cap > kKeepBytes && cap > 4 * (len + want + kPad)) {
      // A huge token has passed: give the buffer back down to size.
      size_t ncap = len + want + kPad;
      if (char* nb = static_cast<char*>(std::realloc(buf, ncap))) {
        buf = nb;
        cap = ncap;
      }
    }
    if (cap < len + want + kPad) {
      size_t ncap = std::max(cap * 2, len + want + kPad);
      char* nb = static_cast<char*>(std::realloc(buf, ncap));
      if (!nb) throw std::bad_alloc();
      buf = nb;
      cap = ncap;
    }
    size_t got = 0;
    while (want - got >= 8 && !eof) {
      size_t n = dec.decode(buf + len + got, want - got);
      if (n == 0) eof = true;
      got += n;
    }
    len += got;
    std::memset(buf + len, 0, kPad);
  }

  void advanceLc(uint64_t abs) const {
    if (abs <= lcOff) return;
    const char* p = buf + (lcOff - base);
    const char* e = buf + (abs - base);
    const char* lastNl = nullptr;
#if defined(__SSE2__)
    const __m128i nl = _mm_set1_epi8('\n');
    for (; e - p >= 16; p += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      unsigned m = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, nl)));
      if (m) {
        lastNl = p + 31 - __builtin_clz(m);
        do {
          ++lcLine;
          m &= m - 1;
        } while (m);
      }
    }
#endif
    for (; p < e; ++p) {
      if (*p == '\n') {
        ++lcLine;
        lastNl = p;
      }
    }
    if (lastNl) {
      lcCol = 0;
      p = lastNl + 1;
    } else {
      p = buf + (lcOff - base);
    }
    for (; p < e; ++p)
      if ((uint8_t(*p) & 0xC0) != 0x80) ++lcCol;
    lcOff = abs;
  }

  void lineCol(uint64_t abs, uint32_t* line, uint32_t* col) const {
    if (abs < lcOff || abs > base + len) {
      *line = lcLine;
      *col = lcCol + 1;
      return;
    }
    advanceLc(abs);
    *line = lcLine;
    *col = lcCol + 1;
  }

  // ------------------------------------------------------------ entities
  void pushEntity(int idx, const char* resume) {
    if (srcs.empty())
      mainPos = size_t(resume - buf);
    else
      srcs.back().p = resume;
    Entity& e = entities[size_t(idx)];
    for (const Src& s : srcs)
      if (s.ent == idx) failMsg(Msg::EntityRecursion, e.name);
    if (srcs.size() >= 64) fail(Error::EntityRecursion);
    countExpansion(e.len);
    srcs.push_back(Src{e.text.data(), e.text.data() + e.len, idx,
                       uint32_t(frames.size())});
    cur = srcs.back().p;
    lim = srcs.back().end;
  }

  void popEntity() {
    if (frames.size() != srcs.back().depth) fail(Error::Syntax);
    srcs.pop_back();
    if (srcs.empty()) {
      cur = buf + mainPos;
      lim = buf + len;
    } else {
      cur = srcs.back().p;
      lim = srcs.back().end;
    }
  }

  void countExpansion(uint32_t bytes) {
    ++expansions;
    expandedBytes += bytes;
    if (overBudget()) fail(Error::EntityLimit);
  }
  // The amplification budget: references expanded, and the bytes they (and
  // defaulted attributes) produce against the input read so far.
  bool overBudget() const {
    uint64_t maxN = opt.maxEntityExpansion;
    return maxN && (expansions > maxN ||
                    expandedBytes > maxN * limits::kBytesPerExpansion +
                                        limits::kInputFactor * curOffset());
  }

  // Undeclared entity references are fatal unless declarations might sit
  // in an external subset or parameter entity this processor does not read.
  bool undeclaredIsError() const {
    return standalone || !(hasExternalSubset || hasPERefs);
  }

  // ----------------------------------------------------------- names
  // Scans a Name from p; returns its end. Fails when none starts at p.
  const char* scanName(const char* p) { return scanNameT<false>(p, nullptr); }
  // The same, also noting the first colon (left alone when there is none)
  // so tag names need no second pass to find their prefix.
  const char* scanQName(const char* p, const char** colon) {
    return scanNameT<true>(p, colon);
  }
  template <bool kColon>
  const char* scanNameT(const char* p, const char** colon) {
    const char* const s = p;
    uint8_t c = uint8_t(*p);
    if constexpr (kColon) {
      if (c == ':') *colon = p;
    }
    if (c < 0x80) {
      if (!(kChars.v[c] & kNameStart)) {
        if (c == 0 && p == lim) {
          moreOrEnd();
          failAt(Error::UnexpectedEnd, p);
        }
        failAt(Error::Syntax, p);
      }
      ++p;
    } else {
      int l;
      uint32_t cp = decodeUtf8(p, &l);
      if (!isNameStartCp(cp)) failAt(Error::Syntax, p);
      p += l;
    }
    for (;;) {
      c = uint8_t(*p);
      if (c < 0x80) {
        if (kChars.v[c] & (kColon ? kNameNoColon : kNameChar)) {
          ++p;
          continue;
        }
        if constexpr (kColon) {
          if (c == ':') {
            if (!*colon) *colon = p;
            ++p;
            continue;
          }
        }
        // A name running past the data at hand is checked before more is
        // read, so an endless one is refused once past the limit.
        if (c == 0 && p == lim && (nameEnd(s, p), moreOrEnd())) continue;
        return nameEnd(s, p);
      }
      int l;
      uint32_t cp = decodeUtf8(p, &l);
      if (!isNameCp(cp)) return nameEnd(s, p);
      p += l;
    }
  }
  const char* nameEnd(const char* s, const char* e) {
    if (__builtin_expect(size_t(e - s) > limits::kMaxName, 0)) nameTooLong(s);
    return e;
  }
  [[noreturn]] __attribute__((noinline)) void nameTooLong(const char* s) {
    failMsg(Msg::NameTooLong, {}, s);
  }

  const char* scanNmtoken(const char* p) {
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
      int l;
      uint32_t cp = decodeUtf8(p, &l);
      if (!isNameCp(cp)) break;
      p += l;
    }
    if (p == s) fail(Error::Syntax);
    return p;
  }

  // Colon position for a QName (0 when none); fails on a malformed QName.
  uint32_t qnameColon(const char* n, uint32_t l) {
    uint32_t at = 0;
    while (at < l && n[at] != ':') ++at;
    return qnameColonAt(n, l, at);
  }
  // The same with the first colon already known (at == l: none).
  uint32_t qnameColonAt(const char* n, uint32_t l, uint32_t at) {
    if (at == l) return 0;
    if (at == 0 || at + 1 >= l) fail(Error::Namespace);
    if (std::memchr(n + at + 1, ':', l - at - 1)) fail(Error::Namespace);
    int cl;
    uint32_t cp = decodeUtf8(n + at + 1, &cl);
    if (!isNameStartCp(cp)) fail(Error::Namespace);
    return at;
  }
  void noColon(const char* n, const char* e) {
    if (std::memchr(n, ':', size_t(e - n))) fail(Error::Namespace);
  }

  const char* skipWs(const char* p) {
    for (;;) {
      while (isSpace(*p)) ++p;
      if (*p == 0 && p == lim && moreOrEnd()) continue;
      return p;
    }
  }

  // ------------------------------------------------------------ refs
  // Parses a character reference at p ("&#..."); appends UTF-8 to out.
  const char* charRef(const char* p, std::string& out) {
    const char* at = p;
    p += 2;
    uint32_t v = 0;
    bool any = false;
    if (*p == 'x') {
      ++p;
      for (;; ++p) {
        char c = *p;
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        v = v * 16 + uint32_t(d);
        if (v > 0x10FFFF) v = 0x110000;
        any = true;
      }
    } else {
      for (;; ++p) {
        char c = *p;
        if (c < '0' || c > '9') break;
        v = v * 10 + uint32_t(c - '0');
        if (v > 0x10FFFF) v = 0x110000;
        any = true;
      }
    }
    if (*p != ';') {
      if (*p == 0 && p == lim) {
        moreOrEnd();
        failAt(Error::UnexpectedEnd, p);
      }
      failAt(Error::Syntax, p);
    }
    if (!any) failAt(Error::Syntax, p);
    if (!isXmlChar(v)) failMsg(Msg::CharRef, {}, at);
    char tmp[4];
    out.append(tmp, size_t(encodeUtf8(v, tmp)));
    return p + 1;
  }

  // Parses "&name;" at p; *nameEnd gets the end of the name.
  const char* entityRefName(const char* p, const char** nameEnd) {
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

  static char predefined(const char* n, size_t l) {
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

  int findGE(const char* n, size_t l) const {
    auto it = geMap.find(std::string_view(n, l));
    return it == geMap.end() ? -1 : int(it->second);
  }

  // Attribute-value normalisation: appends the normalised value of the
  // literal [p, e) to out.
  void normalize(const char* p, const char* e, bool cdata, std::string& out) {
    size_t start = out.size();
    normStack.clear();
    normEnts.clear();
    bool wasBounded = bounded;
    bounded = true;
    for (;;) {
      while (p < e) {
        char c = *p;
        if (c == '&') {
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
        while (q < e && *q != '&' && *q != '<' && *q != '\t' && *q != '\n' &&
               *q != '\r')
          ++q;
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

  // ----------------------------------------------------------- driver
  void setNode(NodeType t) {
    type = t;
  }

  void finishNode() {
    if (pendingPop) {
      pendingPop = false;
      const Frame& f = frames.back();
      names.resize(f.nameOff);
      bindings.popTo(f.nsMark);
      nsArena.resize(f.nsArenaMark);
      frames.pop_back();
    }
  }

  void clearNode() {
    type = NodeType::None;
    qname = prefix = local = ns = value = Str{};
    empty = false;
    raw.clear();
    nattr = 0;
    indexed = false;
    // Memory taken by one huge node goes back once it is passed.
    if (scratch.capacity() > kKeepBytes) std::string().swap(scratch);
    if (text.capacity() > kKeepBytes) std::string().swap(text);
    scratch.clear();
    text.clear();
  }

  int next() {
    if (state == State::Err) return -1;
    if (state == State::Done) return 0;
    if (!hasInput) {
      setError(Error::NoInput);
      return -1;
    }
    finishNode();
    for (;;) {
      size_t keep = srcs.empty() ? size_t(cur - buf) : mainPos;
      const char* savedCur = cur;
      bool nested = !srcs.empty();
      if (nested) savedSrcs = srcs;
      uint64_t savedExp = expansions, savedBytes = expandedBytes;
      try {
        clearNode();
        int r = step();
        if (r > 0) return 1;
        if (r < 0) {
          state = State::Done;
          type = NodeType::None;
          return 0;
        }
      } catch (NeedMore&) {
        expansions = savedExp;
        expandedBytes = savedBytes;
        if (nested)
          srcs = savedSrcs;
        else
          srcs.clear();
        try {
          refill(keep);
        } catch (std::bad_alloc&) {
          setError(Error::OutOfMemory);
          return -1;
        } catch (Fail& f) {
          setError(f.e, f.m);
          return -1;
        }
        if (srcs.empty()) {
          cur = buf;  // the token restarts at the front of the buffer
          lim = buf + len;
        } else {
          mainPos = 0;
          cur = savedCur;
          lim = srcs.back().end;
        }
      } catch (Fail& f) {
        setError(f.e, f.m);
        return -1;
      } catch (std::bad_alloc&) {
        setError(Error::OutOfMemory);
        return -1;
      }
    }
  }

  void setError(Error e, Msg m = Msg::None) {
    bounded = false;
    try {
      errText = errorText(e, m, errDetail);
    } catch (const std::bad_alloc&) {
      errText.clear();  // the class still tells what failed
    }
    errDetail.clear();
    uint64_t off = failOff != UINT64_MAX ? failOff : curOffset();
    if (failOff == UINT64_MAX && errAt && srcs.empty() && errAt >= buf && errAt <= buf + len)
      off = base + uint64_t(errAt - buf);
    errAt = nullptr;
    if (base + len >= off && off >= lcOff) {
      advanceLc(off);
    }
    errLine = lcLine;
    errCol = lcCol + 1;
    err = e;
    state = State::Err;
    clearNode();
  }

  // Parses one token. 1: a node is ready; 0: nothing to report; -1: end.
  int step() {
    if (cur == lim) {
      if (!srcs.empty()) {
        popEntity();
        return 0;
      }
      moreOrEnd();
      if (state == State::Content) fail(Error::UnexpectedEnd);
      if (state != State::Epilog) failMsg(Msg::NoRoot);
      return -1;
    }
    nodeOff = curOffset();
    if (*cur != '<') return parseText();
    avail(2);
    char c = cur[1];
    if (c == '/') return parseEndTag();
    if (c == '?') return parsePI();
    if (c == '!') {
      avail(4);
      if (cur[2] == '-' && cur[3] == '-') return parseComment();
      if (cur[2] == '[') return parseCData();
      avail(9);
      if (startsWith(cur, "<!DOCTYPE", 9)) return parseDoctype();
      fail(Error::Syntax);
    }
    return parseStartTag();
  }

  // --------------------------------------------------------------- text
  int parseText() {
    const char* const tokenStart = cur;
    const char* p = cur;
    const char* start = p;
    bool inBuf = false;
    bool topLevel = state != State::Content;
    for (;;) {
      p = scanText(p);
      char c = *p;
      if (c == '<') break;
      if (c == ']') {
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
      availAt(p, 2);
      if (p[1] == '#') {
        p = charRef(p, text);
        start = p;
        continue;
      }
      const char* ne;
      const char* after = entityRefName(p, &ne);
      const char* n = p + 1;
      size_t nl = size_t(ne - n);
      if (char pc = predefined(n, nl)) {
        text.push_back(pc);
        p = start = after;
        continue;
      }
      int idx = findGE(n, nl);
      if (idx < 0) {
        if (undeclaredIsError()) failMsg(Msg::UndefinedEntity, std::string_view(n, nl), p);
        p = start = after;
        continue;
      }
      Entity& ent = entities[size_t(idx)];
      if (ent.unparsed) fail(Error::Syntax);
      if (ent.external) {
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
    bool ws = true;
    for (size_t i = 0; i < vl; ++i) {
      char c = vp[i];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') {
        ws = false;
        break;
      }
    }
    if (topLevel) {
      if (!ws) failMsg(Msg::TextOutsideRoot, {}, srcs.empty() ? tokenStart : nullptr);
      if (state == State::Start) state = State::Prolog;
    }
    type = ws ? NodeType::Whitespace : NodeType::Text;
    value = Str{vp, uint32_t(vl)};
    depth = uint32_t(frames.size());
    return 1;
  }

  // ------------------------------------------------- comments, PI, CDATA
  // Finds "--" from p; the comment body ends there and must close with '>'.
  int parseComment() {
    const char* s = cur + 4;
    const char* d = commentEnd(s);
    cur = d + 3;
    if (state == State::Start) state = State::Prolog;
    type = NodeType::Comment;
    value = Str{s, uint32_t(d - s)};
    depth = uint32_t(frames.size());
    return 1;
  }

  // The "--" that ends a comment body starting at p; it must be followed by '>'.
  const char* commentEnd(const char* p) {
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
  void scanPI(Str* target, Str* data) {
    const char* t = cur + 2;
    const char* te = scanName(t);
    size_t tl = size_t(te - t);
    if (tl == 3 && (t[0] | 0x20) == 'x' && (t[1] | 0x20) == 'm' &&
        (t[2] | 0x20) == 'l')
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

  int parsePI() {
    if (state == State::Start && srcs.empty() && base + uint64_t(cur - buf) == 0) {
      avail(6);
      if (startsWith(cur, "<?xml", 5) && isSpace(cur[5])) return parseXmlDecl();
    }
    Str t, d;
    scanPI(&t, &d);
    if (state == State::Start) state = State::Prolog;
    type = NodeType::ProcessingInstruction;
    qname = local = t;
    value = d;
    depth = uint32_t(frames.size());
    return 1;
  }

  int parseCData() {
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
        type = NodeType::CData;
        value = Str{s, uint32_t(q - s)};
        depth = uint32_t(frames.size());
        return 1;
      }
      p = q + 1;
    }
  }

  // ------------------------------------------------------ XML declaration
  // Whether a declared name fits input laid out in 16 or 32 bit units.
  static bool wideName(std::string_view v, const std::string& actual) {
    std::string u(v);
    for (char& c : u)
      if (c >= 'a' && c <= 'z') c = char(c - 32);
    auto starts = [&](const char* p) { return u.rfind(p, 0) == 0; };
    if (actual == "UTF-16")
      return starts("UTF-16") || starts("UCS-2") || starts("ISO-10646-UCS-2");
    return starts("UTF-32") || starts("UCS-4") || starts("ISO-10646-UCS-4");
  }

  int parseXmlDecl() {
    // The decoder refuses long declarations of byte encodings; the same
    // limit holds for the wide ones it does not read.
    if (avail(limits::kMaxDeclaration) &&
        !memmem(cur, limits::kMaxDeclaration, "?>", 2))
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
        if (dec.wideInput() && !wideName(v, dec.encodingName()))
          failMsg(Msg::EncodingMismatch, v);
        char c0 = v[0];
        if (!((c0 >= 'a' && c0 <= 'z') || (c0 >= 'A' && c0 <= 'Z')))
          fail(Error::Syntax);
        for (char c : v)
          if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'))
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
    type = NodeType::XmlDeclaration;
    qname = local = Str{"xml", 3};
    depth = 0;
    for (int i = 0; i < count; ++i) {
      Attribute a;
      a.qname = a.local = Str{items[i].n, items[i].nl};
      a.value = Str{items[i].v, items[i].vl};
      a.offset = uint32_t(0);
      addAttr(a);
    }
    return 1;
  }

  // --------------------------------------------------------- start tags
  int parseStartTag() {
    if (state == State::Epilog) failMsg(Msg::TwoRoots);
    const char* n = cur + 1;
    const char* ncolon = nullptr;
    const char* ne = scanQName(n, &ncolon);
    const char* p = ne;
    bool isEmpty = false;
    for (;;) {
      const char* q = skipWs(p);
      char c = *q;
      if (c == '>') {
        p = q + 1;
        break;
      }
      if (c == '/') {
        if (!availAt(q, 2)) fail(Error::UnexpectedEnd);
        if (q[1] != '>') fail(Error::Syntax);
        p = q + 2;
        isEmpty = true;
        break;
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
        ve = scanAttr(ve, quote);
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
      RawAttr ra{};
      ra.name = an;
      ra.nameLen = uint32_t(ae - an);
      ra.firstColon = acolon ? uint32_t(acolon - an) : ra.nameLen;
      ra.val = vs;
      ra.valLen = uint32_t(ve - vs);
      ra.special = special;
      ra.cdata = true;
      ra.off = srcs.empty() ? base + uint64_t(an - buf) : base + mainPos;
      raw.push_back(ra);
      p = ve + 1;
    }
    cur = p;
    commitStartTag(n, uint32_t(ne - n), ncolon ? uint32_t(ncolon - n) : uint32_t(ne - n),
                   isEmpty);
    return 1;
  }

  void commitStartTag(const char* n, uint32_t nl, uint32_t firstColon, bool isEmpty) {
    if (opt.maxElementDepth && frames.size() >= opt.maxElementDepth)
      fail(Error::DepthLimit);
    if (state == State::Start || state == State::Prolog) state = State::Content;
    uint32_t colon = qnameColonAt(n, nl, firstColon);
    // Declared attribute types and defaults.
    if (!attMap.empty()) {
      auto it = attMap.find(std::string(n, nl));
      if (it != attMap.end()) {
        const std::vector<AttDecl>& decls = attDecls[it->second];
        size_t specified = raw.size();
        for (const AttDecl& d : decls) {
          bool found = false;
          for (size_t i = 0; i < specified; ++i) {
            RawAttr& ra = raw[i];
            if (ra.nameLen == d.name.size() &&
                std::memcmp(ra.name, d.name.data(), ra.nameLen) == 0) {
              ra.cdata = d.cdata;
              found = true;
              break;
            }
          }
          if (!found && d.hasDefault) {
            // Each use brings the default's text again, as its references
            // would: it counts against the same budget.
            expansions += d.refs;
            expandedBytes += d.def.size();
            if (overBudget()) failMsg(Msg::DefaultsTooLarge);
            RawAttr ra{};
            ra.name = d.name.data();
            ra.nameLen = uint32_t(d.name.size());
            ra.firstColon = UINT32_MAX;
            ra.val = d.def.data();
            ra.valLen = uint32_t(d.def.size());
            ra.isDefault = true;
            ra.cdata = true;
            ra.off = nodeOff;
            raw.push_back(ra);
          }
        }
      }
    }
    // Normalised values.
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
    }
    // Push the frame, then the namespace declarations it makes.
    Frame f;
    f.nameOff = uint32_t(names.size());
    f.nameLen = nl;
    f.colon = colon;
    f.nsMark = uint32_t(bindings.size());
    f.nsArenaMark = uint32_t(nsArena.size());
    names.append(n, nl);
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
    // Element namespace.
    f.uriOff = 0;
    f.uriLen = 0;
    uint32_t elHash;
    resolveAt = nodeOff + 1;
    resolve(n, colon, false, &f.uriOff, &f.uriLen, &elHash);
    frames.push_back(f);
    // Attribute namespaces.
    for (RawAttr& ra : raw) {
      ra.uriOff = ra.uriLen = ra.uriHash = 0;
      if (ra.colon == 0) {
        if (ra.nameLen == 5 && std::memcmp(ra.name, "xmlns", 5) == 0) {
          ra.uriOff = kXmlnsOff;
          ra.uriLen = kXmlnsNsLen;
          ra.uriHash = kXmlnsHash;
        }
        continue;
      }
      resolveAt = ra.off;
      resolve(ra.name, ra.colon, true, &ra.uriOff, &ra.uriLen, &ra.uriHash);
    }
    checkDuplicates();
    // Node.
    const Frame& top = frames.back();
    type = NodeType::Element;
    empty = isEmpty;
    depth = uint32_t(frames.size() - 1);
    pendingPop = isEmpty;
    if (isEmpty && frames.size() == 1) state = State::Epilog;
    fillElementNames(top);
    if (attrs.size() < raw.size()) attrs.resize(raw.size());
    nattr = uint32_t(raw.size());
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
      a.value = ra.inScratch ? Str{scratch.data() + ra.vOff, ra.vLen}
                             : Str{ra.val, ra.valLen};
      a.isDefault = ra.isDefault;
      a.offset = uint32_t(ra.off - nodeOff);
    }
  }

  static constexpr uint32_t kXmlOff = 0;
  static constexpr uint32_t kXmlnsOff = kXmlNsLen;
  const uint32_t kXmlHash = hashBytes(kXmlNs, kXmlNsLen);
  const uint32_t kXmlnsHash = hashBytes(kXmlnsNs, kXmlnsNsLen);

  void fillElementNames(const Frame& f) {
    const char* n = names.data() + f.nameOff;
    qname = Str{n, f.nameLen};
    if (f.colon) {
      prefix = Str{n, f.colon};
      local = Str{n + f.colon + 1, f.nameLen - f.colon - 1};
    } else {
      prefix = Str{};
      local = qname;
    }
    ns = f.uriLen ? Str{nsArena.data() + f.uriOff, f.uriLen} : Str{};
  }

  // The namespace of a name with its prefix ending at colon (0: none):
  // offset, length and hash of its URI (all 0 for no namespace).
  void resolve(const char* n, uint32_t colon, bool attr, uint32_t* off,
               uint32_t* l, uint32_t* h) {
    std::string_view px(n, colon);
    *h = 0;
    if (colon == 0) {
      if (attr) return;
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
  uint64_t resolveAt = 0;  // stream offset of the name being resolved

  bool sameAttr(const RawAttr& a, const RawAttr& b) const {
    if (a.nameLen == b.nameLen && std::memcmp(a.name, b.name, a.nameLen) == 0)
      return true;
    if (!a.uriLen || !b.uriLen || a.uriLen != b.uriLen) return false;
    uint32_t al = a.nameLen - (a.colon ? a.colon + 1 : 0);
    uint32_t bl = b.nameLen - (b.colon ? b.colon + 1 : 0);
    if (al != bl) return false;
    if (std::memcmp(a.name + a.nameLen - al, b.name + b.nameLen - bl, al))
      return false;
    return std::memcmp(nsArena.data() + a.uriOff, nsArena.data() + b.uriOff,
                       a.uriLen) == 0;
  }

  [[noreturn]] void duplicate(const RawAttr& a, const RawAttr& b) {
    const RawAttr& later = a.off >= b.off ? a : b;
    failOff = later.off;
    failMsg(Msg::DuplicateAttribute, std::string_view(later.name, later.nameLen));
  }

  // Expanded-name hash: local name and namespace URI (equal qualified names
  // have equal local names and URIs, so both tests of sameAttr agree).
  static uint32_t expandedHash(const RawAttr& a) {
    uint32_t ll = a.nameLen - (a.colon ? a.colon + 1 : 0);
    return hashBytes(a.name + a.nameLen - ll, ll) ^ (a.uriHash * 0x9E3779B1u);
  }

  void checkDuplicates() {
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
  int findAttribute(std::string_view local, const std::string_view* nsp) {
    std::string_view ns = nsp ? *nsp : std::string_view();
    auto matches = [&](uint32_t i) {
      ++probes;
      return attrs[i].local.view() == local && attrs[i].ns.view() == ns;
    };
    if (type != NodeType::Element || nattr <= 8 || raw.size() != nattr) {
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

  // ----------------------------------------------------------- end tags
  int parseEndTag() {
    const char* n = cur + 2;
    const char* ne = scanName(n);
    const char* p = skipWs(ne);
    if (*p != '>') fail(*p == 0 ? Error::UnexpectedEnd : Error::Syntax);
    if (frames.empty()) fail(Error::Syntax);
    const Frame& f = frames.back();
    const char* open = names.data() + f.nameOff;
    if (f.nameLen != uint32_t(ne - n) || std::memcmp(open, n, f.nameLen) != 0)
      failMsg(Msg::TagMismatch, std::string_view(open, f.nameLen), n);
    if (!srcs.empty() && frames.size() <= srcs.back().depth)
      fail(Error::Syntax);
    cur = p + 1;
    type = NodeType::EndElement;
    depth = uint32_t(frames.size() - 1);
    fillElementNames(f);
    pendingPop = true;
    if (frames.size() == 1) state = State::Epilog;
    return 1;
  }

  // ------------------------------------------------------------- DOCTYPE
  void expectWs() {
    if (!isSpace(*cur)) {
      if (*cur == 0 && cur == lim) {
        moreOrEnd();
        fail(Error::UnexpectedEnd);
      }
      fail(Error::Syntax);
    }
    cur = skipWs(cur);
  }
  bool optWs() {
    const char* s = cur;
    cur = skipWs(cur);
    return cur != s;
  }
  bool keyword(const char* k, size_t n) {
    if (!avail(n)) return false;
    if (!startsWith(cur, k, n)) return false;
    cur += n;
    return true;
  }
  void expect(char c) {
    if (*cur != c) {
      if (*cur == 0 && cur == lim) {
        moreOrEnd();
        fail(Error::UnexpectedEnd);
      }
      fail(Error::Syntax);
    }
    ++cur;
  }
  Str name() {
    const char* s = cur;
    cur = scanName(cur);
    return Str{s, uint32_t(cur - s)};
  }
  // Quoted literal without references; check applies per byte.
  Str quoted(bool pubid) {
    char q = *cur;
    if (q != '"' && q != '\'') fail(*cur == 0 ? Error::UnexpectedEnd : Error::Syntax);
    const char* s = ++cur;
    for (;;) {
      char c = *cur;
      if (c == q) break;
      if (c == 0 && cur == lim) {
        moreOrEnd();
        fail(Error::UnexpectedEnd);
      }
      if (pubid && !(kChars.v[uint8_t(c)] & kPubid)) fail(Error::Syntax);
      ++cur;
    }
    Str r{s, uint32_t(cur - s)};
    ++cur;
    return r;
  }

  // ExternalID; answers false when none is there.
  bool externalId(Str* pub, Str* sys, bool allowPublicOnly) {
    if (keyword("SYSTEM", 6)) {
      expectWs();
      *sys = quoted(false);
      return true;
    }
    if (keyword("PUBLIC", 6)) {
      expectWs();
      *pub = quoted(true);
      if (allowPublicOnly) {
        const char* s = cur;
        bool ws = optWs();
        if (ws && (*cur == '"' || *cur == '\'')) {
          *sys = quoted(false);
        } else {
          cur = s;
        }
        return true;
      }
      expectWs();
      *sys = quoted(false);
      return true;
    }
    return false;
  }

  void resetDtd() {
    entities.clear();
    geMap.clear();
    peMap.clear();
    attDecls.clear();
    attMap.clear();
    hasExternalSubset = hasPERefs = stopDecls = false;
  }

  int parseDoctype() {
    if (opt.prohibitDtd) fail(Error::DtdProhibited);
    if (seenDoctype || state == State::Content || state == State::Epilog)
      fail(Error::Syntax);
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
    type = NodeType::DocumentType;
    qname = local = root;
    value = subset;
    depth = 0;
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
  void internalSubset() {
    for (;;) {
      cur = skipWs(cur);
      char c = *cur;
      if (c == 0 && cur == lim) {
        if (!srcs.empty()) {
          srcs.pop_back();
          if (srcs.empty()) {
            cur = buf + mainPos;
            lim = buf + len;
          } else {
            cur = srcs.back().p;
            lim = srcs.back().end;
          }
          continue;
        }
        moreOrEnd();
        fail(Error::UnexpectedEnd);
      }
      if (c == ']') {
        if (!srcs.empty()) fail(Error::Syntax);
        return;
      }
      if (c == '%') {
        const char* n = cur + 1;
        const char* ne = scanName(n);
        if (*ne != ';') fail(*ne == 0 ? Error::UnexpectedEnd : Error::Syntax);
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
      if (c != '<') fail(Error::Syntax);
      avail(2);
      if (cur[1] == '?') {
        Str t, d;
        scanPI(&t, &d);
        continue;
      }
      if (cur[1] != '!') fail(Error::Syntax);
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
        fail(Error::Syntax);
      }
    }
  }

  void skipComment() { cur = commentEnd(cur + 4) + 3; }

  void entityDecl() {
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
      if (!externalId(&pub, &sys, false)) fail(Error::Syntax);
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
  void entityValue(std::string& out) {
    char q = *cur++;
    const char* s = cur;
    for (;;) {
      char c = *cur;
      if (c == q) break;
      if (c == 0 && cur == lim) {
        moreOrEnd();
        fail(Error::UnexpectedEnd);
      }
      if (c == '%') fail(Error::Syntax);
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

  void attlistDecl() {
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
      if (!ws) fail(*cur == 0 ? Error::UnexpectedEnd : Error::Syntax);
      Str an = name();
      qnameColon(an.p, an.n);
      expectWs();
      AttDecl d;
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
          fail(Error::Syntax);
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
          fail(Error::Syntax);
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

  void defaultValue(AttDecl& d) {
    char q = *cur;
    if (q != '"' && q != '\'') fail(*cur == 0 ? Error::UnexpectedEnd : Error::Syntax);
    const char* s = ++cur;
    for (;;) {
      char c = *cur;
      if (c == q) break;
      if (c == 0 && cur == lim) {
        moreOrEnd();
        fail(Error::UnexpectedEnd);
      }
      if (c == '<') fail(Error::Syntax);
      ++cur;
    }
    const char* e = cur;
    ++cur;
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

  void enumeration(bool names) {
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

  void elementDecl() {
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
          fail(Error::Syntax);
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
        if (seps.size() > 4096) fail(Error::Syntax);
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
          else if (seps.back() != c) fail(Error::Syntax);
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

  void notationDecl() {
    expectWs();
    Str n = name();
    noColon(n.p, n.p + n.n);
    expectWs();
    Str pub{}, sys{};
    if (!externalId(&pub, &sys, true)) fail(Error::Syntax);
    optWs();
    expect('>');
  }
};

// -------------------------------------------------------------- Parser API
Parser::Parser() : d(std::make_unique<Impl>()) {}
Parser::~Parser() = default;

Options& Parser::options() { return d->opt; }

void Parser::reset(ReadFn fn, void* ctx) {
  Impl& m = *d;
  m.dec.reset(fn, ctx);
  m.hasInput = fn != nullptr;
  m.len = 0;
  m.base = 0;
  m.eof = false;
  std::memset(m.buf, 0, kPad);
  m.cur = m.lim = m.buf;
  m.srcs.clear();
  m.mainPos = 0;
  m.lcOff = 0;
  m.lcLine = 1;
  m.lcCol = 0;
  m.state = Impl::State::Start;
  m.err = Error::None;
  m.errLine = m.errCol = 0;
  m.errText.clear();
  m.errDetail.clear();
  m.probes = 0;
  m.frames.clear();
  m.names.clear();
  m.bindings.clear();
  m.nsArena.assign(kXmlNs);
  m.nsArena.append(kXmlnsNs);
  m.pendingPop = false;
  m.seenDoctype = false;
  m.standalone = false;
  m.resetDtd();
  m.expansions = m.expandedBytes = 0;
  m.bounded = false;
  m.failOff = UINT64_MAX;
  m.errAt = nullptr;
  m.clearNode();
  publish();
}

int Parser::next() {
  int r = d->next();
  publish();
  return r;
}
void Parser::publish() {
  const Impl& m = *d;
  v_.type = m.type;
  v_.empty = m.empty;
  v_.depth = m.depth;
  v_.nattrs = m.nattr;
  v_.attrs = m.attrs.data();
  v_.qname = m.qname;
  v_.prefix = m.prefix;
  v_.local = m.local;
  v_.ns = m.ns;
  v_.value = m.value;
}
void Parser::position(uint32_t* line, uint32_t* col) const {
  d->lineCol(d->nodeOff + (d->type == NodeType::Element ? 1 : 0), line, col);
}
void Parser::attributePosition(uint32_t i, uint32_t* line, uint32_t* col) const {
  d->lineCol(d->nodeOff + d->attrs[i].offset, line, col);
}
bool Parser::eof() const { return d->state == Impl::State::Done; }
Error Parser::error() const { return d->err; }
uint32_t Parser::errorLine() const { return d->errLine; }
uint32_t Parser::errorColumn() const { return d->errCol; }
const std::string& Parser::errorMessage() const { return d->errText; }
int Parser::findAttribute(std::string_view local, const std::string_view* ns) {
  return d->findAttribute(local, ns);
}
uint64_t Parser::lookupProbes() const { return d->probes; }

}  // namespace twxml::xmlcore
