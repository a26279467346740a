// The pull parser's state, shared by the files that parse each kind of
// markup. Input arrives as UTF-8 from the decoder into one sliding buffer.
// Each node is parsed as one token; when a token runs past the data at hand
// the token is abandoned (NeedMore), the buffer refilled (at least doubling
// what is kept, so long tokens stay linear) and the token parsed again.
// Entity replacement texts are further sources stacked above the buffer;
// nothing recurses by document nesting depth.
//
// The pipeline, file by file: decoder.cpp (bytes to checked UTF-8), scan*.cpp
// (vector kernels), pull.cpp (the state machine, buffer and positions),
// text.cpp (character data, references, comments, processing instructions,
// CDATA, the XML declaration), tags.cpp (start and end tags),
// namespaces.cpp (bindings, expanded names, attribute look-up), dtd.cpp (the
// document type declaration, entities and attribute defaults), messages.cpp.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "chars.h"
#include "decoder.h"
#include "ns_index.h"
#include "parse_limits.h"
#include "scan.h"
#include "twxml/platform/short_copy.h"
#include "xmlcore.h"

namespace twxml::xmlcore {

namespace detail {

constexpr size_t kPad = scan::kPad;  // zero bytes kept after every source's data
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

[[noreturn]] inline void fail(Error e) { throw Fail{e}; }

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

// 32 bytes, so that the depth (the frame count) is a shift away.
struct alignas(32) Frame {
  uint32_t nameOff, nameLen, colon;
  uint32_t nsMark, nsArenaMark;
  uint32_t uriOff, uriLen;
};
static_assert(sizeof(Frame) == 32);

// An attribute as the start tag gives it; filled field by field (no
// zeroing first: the tag's parse sets what the commit reads).
// 64 bytes, so that the count is a shift away.
struct RawAttr {
  RawAttr() {}
  const char* name;
  const char* val;
  uint64_t off;
  uint32_t nameLen;
  uint32_t colon;       // index of the colon in the name, 0 when none
  uint32_t firstColon;  // as the scan found it (nameLen: none; UINT32_MAX: not scanned)
  uint32_t valLen;
  uint32_t vOff, vLen;
  uint32_t uriOff, uriLen, uriHash;
  bool special;  // holds a reference, tab or newline
  bool isDefault;
  bool cdata;
  bool inScratch;
};
static_assert(sizeof(RawAttr) == 64);

inline bool startsWith(const char* p, const char* lit, size_t n) {
  return std::memcmp(p, lit, n) == 0;
}

// Whether a[0, n) equals b[0, n), for names in padded places (a source, or
// the name stack): 16 bytes from either start may be read, so a short name
// takes one compare of a block instead of a call.
inline bool sameName(const char* a, const char* b, size_t n) {
#if TWXML_SIMD_X86
  if (n <= 16) {
    const unsigned eq = unsigned(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)))));
    return ((eq | (0xFFFFu << n)) & 0xFFFFu) == 0xFFFFu;
  }
#endif
  return std::memcmp(a, b, n) == 0;
}

// A text or attribute value put together piece by piece around its
// references. Appends stay inline (a reference costs a few stores, not a
// call); growth goes through the language's allocator like the rest.
class TextBuf {
 public:
  TextBuf() = default;
  ~TextBuf() { ::operator delete(data_); }
  TextBuf(const TextBuf&) = delete;
  TextBuf& operator=(const TextBuf&) = delete;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return cap_; }
  const char* data() const { return data_ ? data_ : ""; }
  char& operator[](size_t i) { return data_[i]; }
  char operator[](size_t i) const { return data_[i]; }
  void clear() { size_ = 0; }
  void resize(size_t n) { size_ = n; }  // to at most size(): only ever shrinks
  void release() {
    ::operator delete(data_);
    data_ = nullptr;
    size_ = cap_ = 0;
  }
  __attribute__((always_inline)) void push_back(char c) {
    if (size_ == cap_) grow(1);
    data_[size_++] = c;
  }
  // One character as UTF-8.
  void appendChar(uint32_t cp) {
    if (cap_ - size_ < 4) grow(4);
    size_ += twxml::utf::PutUtf8(cp, data_ + size_);
  }
  __attribute__((always_inline)) void append(const char* s, size_t n) {
    if (cap_ - size_ < n) grow(n);
    CopyShort(data_ + size_, s, n);
    size_ += n;
  }

 private:
  __attribute__((noinline)) void grow(size_t more) {
    size_t cap = cap_ ? cap_ * 2 : 256;
    while (cap - size_ < more) cap *= 2;
    char* d = static_cast<char*>(::operator new(cap));
    if (size_) std::memcpy(d, data_, size_);
    ::operator delete(data_);
    data_ = d;
    cap_ = cap;
  }
  char* data_ = nullptr;
  size_t size_ = 0, cap_ = 0;
};

// The qualified names of the open elements, end to end: pushed and popped
// with their elements, compared with each end tag.
class NameStack {
 public:
  NameStack() = default;
  ~NameStack() { std::free(data_); }
  NameStack(const NameStack&) = delete;
  NameStack& operator=(const NameStack&) = delete;

  size_t size() const { return size_; }
  const char* at(size_t off) const { return data_ + off; }
  void truncate(size_t n) { size_ = n; }
  void clear() {
    size_ = 0;
    if (cap_ > (size_t(1) << 20)) {  // a hostile document's depth: give it back
      std::free(data_);
      data_ = nullptr;
      cap_ = 0;
    }
  }
  // Names come from padded sources (at least 32 readable bytes past any
  // name's start), so short ones are copied in two fixed-size moves.
  void push(const char* s, size_t n) {
    if (cap_ - size_ < n + 32) grow(n + 32);
    char* d = data_ + size_;
    if (n <= 32) {
      std::memcpy(d, s, 16);
      std::memcpy(d + 16, s + 16, 16);
    } else {
      std::memcpy(d, s, n);
    }
    size_ += n;
  }

 private:
  void grow(size_t more) {
    size_t cap = cap_ ? cap_ * 2 : 4096;
    while (cap - size_ < more) cap *= 2;
    char* d = static_cast<char*>(std::realloc(data_, cap));
    if (!d) throw std::bad_alloc();
    data_ = d;
    cap_ = cap;
  }
  char* data_ = nullptr;
  size_t size_ = 0, cap_ = 0;
};

}  // namespace detail

struct Parser::Impl {
  using NeedMore = detail::NeedMore;
  using Fail = detail::Fail;
  using Entity = detail::Entity;
  using AttDecl = detail::AttDecl;
  using Src = detail::Src;
  using Frame = detail::Frame;
  using RawAttr = detail::RawAttr;
  enum class State : uint8_t { Start, Prolog, Content, Epilog, Done, Err };

  Options opt;
  Decoder dec;
  const scan::Kernels* kern = &scan::kPlain;  // the level in force at reset
  bool vec = false;                           // that level is not the plain one
  bool hasInput = false;

  // Main buffer.
  char* buf = nullptr;
  size_t len = 0, cap = 0;
  uint64_t base = 0;  // stream offset of buf[0]
  bool eof = false;

  // Current source.
  const char* cur = nullptr;
  const char* lim = nullptr;
  std::vector<Src> srcs;       // entity sources being read, innermost last
  std::vector<Src> savedSrcs;  // srcs as a token found them, for a restart
  size_t mainPos = 0;          // main-buffer offset while an entity is read
  bool bounded = false;        // reading a complete literal: no refills
  const char* errAt = nullptr;  // where in the current source an error lies
  uint64_t failOff = UINT64_MAX;

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
  detail::NameStack names;
  NsScope bindings;
  std::string nsArena;
  bool pendingPop = false;
  bool skipSpace = false, skipComments = false;  // see Parser::passOver
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

  // Entity expansion accounting. The counts as the current token found them
  // are kept when it first changes them (few tokens do), so that a token
  // read again after a refill counts its expansions once.
  uint64_t expansions = 0, expandedBytes = 0;
  uint64_t tokenExpansions = 0, tokenExpandedBytes = 0;
  bool tokenCounted = false;
  void noteTokenCounts() {
    if (tokenCounted) return;
    tokenCounted = true;
    tokenExpansions = expansions;
    tokenExpandedBytes = expandedBytes;
  }

  // References left unexpanded because what they name lies outside the
  // document (an external entity, or a declaration the external subset may
  // hold): counted once per offset, the first one kept for the caller.
  uint64_t skippedRefs = 0, lastSkipOff = UINT64_MAX;
  std::string skippedName;
  uint32_t skippedLine = 0, skippedCol = 0;
  void skipReference(std::string_view name, const char* at);

  // Current node: node is what the Parser's accessors read.
  View node;
  uint64_t nodeOff = 0;
  std::vector<RawAttr> raw;
  std::vector<Attribute> attrs;  // only grows; node.nattrs of them are current
  void addAttr(const Attribute& a) {
    if (attrs.size() <= node.nattrs) attrs.resize(node.nattrs + 1);
    attrs[node.nattrs++] = a;
    node.attrs = attrs.data();
  }
  detail::TextBuf scratch;
  detail::TextBuf text;
  std::vector<uint32_t> hash;  // duplicate check, then the look-up index
  bool indexed = false;        // hash indexes the current element's attributes
  uint64_t probes = 0;         // see Parser::lookupProbes
  std::vector<std::pair<const char*, const char*>> normStack;
  std::vector<int> normEnts;

  const uint32_t kXmlHash = hashBytes(detail::kXmlNs, detail::kXmlNsLen);
  const uint32_t kXmlnsHash = hashBytes(detail::kXmlnsNs, detail::kXmlnsNsLen);
  static constexpr uint32_t kXmlOff = 0;
  static constexpr uint32_t kXmlnsOff = detail::kXmlNsLen;
  uint64_t resolveAt = 0;  // stream offset of the name being resolved

  Impl();
  ~Impl();

  // ------------------------------------------------------------ pull.cpp
  uint64_t curOffset() const {
    if (srcs.empty()) return base + uint64_t(cur - buf);
    return base + mainPos;
  }
  // Called when cur reached lim: answers false when the source truly ends.
  bool moreOrEnd() {
    if (!srcs.empty() || bounded) return false;
    if (!eof) throw NeedMore{};
    return endOfInput();
  }
  bool endOfInput();
  bool avail(size_t k) {
    if (size_t(lim - cur) >= k) return true;
    return moreOrEnd();
  }
  bool availAt(const char* p, size_t k) {
    if (size_t(lim - p) >= k) return true;
    return moreOrEnd();
  }
  [[noreturn]] void failAt(Error e, const char* p) {
    errAt = p;
    detail::fail(e);
  }
  // A failure with its own message; detail is what the message names.
  [[noreturn]] void failMsg(Msg m, std::string_view detail = {}, const char* at = nullptr);

  void refill(size_t keep);
  void advanceLc(uint64_t abs) const;
  void lineCol(uint64_t abs, uint32_t* line, uint32_t* col) const;
  void pushEntity(int idx, const char* resume);
  void popEntity();
  void leaveSource();  // back to the source below the innermost entity
  void countExpansion(uint32_t bytes) {
    noteTokenCounts();
    ++expansions;
    expandedBytes += bytes;
    if (overBudget()) detail::fail(Error::EntityLimit);
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
  bool undeclaredIsError() const { return standalone || !(hasExternalSubset || hasPERefs); }

  void finishNode() {
    if (pendingPop) {
      pendingPop = false;
      const Frame& f = frames.back();
      names.truncate(f.nameOff);
      if (bindings.size() != f.nsMark) bindings.popTo(f.nsMark);
      if (nsArena.size() != f.nsArenaMark) nsArena.resize(f.nsArenaMark);
      frames.pop_back();
    }
  }
  // Every node sets all five strings of the record (empty those it does
  // not carry), so a step need not clear them first; only the end, a
  // failure and a reset do.
  void clearStrings() { node.qname = node.prefix = node.local = node.ns = node.value = Str{}; }
  void setValueNode(NodeType t, Str v) {
    clearStrings();
    node.type = t;
    node.value = v;
  }
  void clearNode() {
    node.type = NodeType::None;
    node.empty = false;
    node.nattrs = 0;
    raw.clear();
    indexed = false;
    if (__builtin_expect(!scratch.empty() || !text.empty(), 0)) clearBuffers();
  }
  void clearBuffers();
  void reset(ReadFn fn, void* ctx);
  int next();
  int run(Sink& sink);
  // How a parsed node leaves a step: handed back to next()'s caller (Pull),
  // or to a sink (ToSink), which lets the step go on to the next node.
  struct Pull {
    static int element(int r) { return r; }
    static int endElement(int r) { return r; }
    static int text(int r) { return r; }
    static int other(int r) { return r; }
  };
  struct ToSink {
    Sink& s;
    int element(int r) { return r > 0 ? !s.startElement() : r; }
    int endElement(int r) { return r > 0 ? !s.endElement() : r; }
    int text(int r) { return r > 0 ? !s.text() : r; }
    int other(int r) { return r > 0 ? !s.other() : r; }
  };
  template <class Deliver>
  int advance(Deliver& d);
  bool restart(const char* tokenCur, size_t keep, bool nested);
  void setError(Error e, Msg m = Msg::None);
  template <class Deliver>
  int step(Deliver& d);

  // ----------------------------------------------------------- names
  // Scans a Name from p; returns its end. Fails when none starts at p.
  const char* scanName(const char* p) { return scanNameT<false>(p, nullptr); }
  // The same, also noting the first colon (left alone when there is none)
  // so tag names need no second pass to find their prefix.
  const char* scanQName(const char* p, const char** colon) { return scanNameT<true>(p, colon); }
  template <bool kColon>
  const char* scanNameT(const char* p, const char** colon) {
    const char* const s = p;
    uint8_t c = uint8_t(*p);
    if (__builtin_expect(!(kChars.v[c] & kNameStart) || (kColon && c == ':'), 0)) {
      if (c >= 0x80) {
        p = nameStartSlow(p);
      } else {
        if constexpr (kColon) {
          if (c == ':') *colon = p;
        }
        if (!(kChars.v[c] & kNameStart)) badNameStart(p);
        ++p;
      }
    } else {
      ++p;
    }
    for (;;) {
      // Four table look-ups per step: names are mostly short ASCII runs.
      constexpr uint8_t kRun = kColon ? kNameNoColon : kNameChar;
      if (kChars.v[uint8_t(p[0])] & kRun) {
        if (kChars.v[uint8_t(p[1])] & kRun) {
          if (kChars.v[uint8_t(p[2])] & kRun) {
            if (kChars.v[uint8_t(p[3])] & kRun) {
              p += 4;
              continue;
            }
            p += 3;
          } else {
            p += 2;
          }
        } else {
          p += 1;
        }
      }
      c = uint8_t(*p);
      if constexpr (kColon) {
        if (c == ':') {
          if (!*colon) *colon = p;
          ++p;
          continue;
        }
      }
      if (__builtin_expect(c < 0x80, 1)) {
        // A name running past the data at hand is checked before more is
        // read, so an endless one is refused once past the limit.
        if (c == 0 && p == lim && (nameEnd(s, p), moreOrEnd())) continue;
        return nameEnd(s, p);
      }
      const char* q = nameCharSlow(p);
      if (q == p) return nameEnd(s, p);
      p = q;
    }
  }
  // Whether a name scan stops at this byte (an ASCII byte that is no NameChar).
  static bool endsName(uint8_t c) { return c < 0x80 && !(kChars.v[c] & kNameChar); }
  const char* nameEnd(const char* s, const char* e) {
    if (__builtin_expect(size_t(e - s) > limits::kMaxName, 0)) nameTooLong(s);
    return e;
  }
  [[noreturn]] void nameTooLong(const char* s);
  [[noreturn]] void badNameStart(const char* p);
  // Non-ASCII: past the character at p when it starts (or continues) a name.
  const char* nameStartSlow(const char* p);
  const char* nameCharSlow(const char* p);
  const char* scanNmtoken(const char* p);

  // Colon position for a QName (0 when none); fails on a malformed QName.
  uint32_t qnameColon(const char* n, uint32_t l) {
    uint32_t at = 0;
    while (at < l && n[at] != ':') ++at;
    return qnameColonAt(n, l, at);
  }
  // The same with the first colon already known (at == l: none).
  uint32_t qnameColonAt(const char* n, uint32_t l, uint32_t at) {
    if (at == l) return 0;
    return prefixedColon(n, l, at);
  }
  uint32_t prefixedColon(const char* n, uint32_t l, uint32_t at);
  void noColon(const char* n, const char* e) {
    if (std::memchr(n, ':', size_t(e - n))) detail::fail(Error::Namespace);
  }
  const char* skipWs(const char* p) {
    for (;;) {
      while (isSpace(*p)) ++p;
      if (*p == 0 && p == lim && moreOrEnd()) continue;
      return p;
    }
  }

  // ------------------------------------------------------------ text.cpp
  template <class Out>
  const char* charRef(const char* p, Out& out);
  const char* entityRefName(const char* p, const char** nameEnd);
  static char predefined(const char* n, size_t l);
  int findGE(const char* n, size_t l) const {
    auto it = geMap.find(std::string_view(n, l));
    return it == geMap.end() ? -1 : int(it->second);
  }
  template <class Out>
  void normalize(const char* p, const char* e, bool cdata, Out& out);
  int parseText();
  int parseComment();
  const char* commentEnd(const char* p);
  void scanPI(Str* target, Str* data);
  int parsePI();
  int parseCData();
  int parseXmlDecl();

  // ------------------------------------------------------------ tags.cpp
  int parseStartTag();
  const char* parseAttributes(const char* p, bool* isEmpty);
  void commitStartTag(const char* n, uint32_t nl, uint32_t firstColon, bool isEmpty);
  bool prepareAttributes(const char* n, uint32_t nl);
  void finishAttributes();
  void setElementNames(const char* n, uint32_t nl, uint32_t colon, uint32_t uriOff, uint32_t uriLen);
  int parseEndTag();

  // ------------------------------------------------------ namespaces.cpp
  void declareNamespaces();
  void resolve(const char* n, uint32_t colon, bool attr, uint32_t* off, uint32_t* l,
               uint32_t* h);
  bool sameAttr(const RawAttr& a, const RawAttr& b) const;
  [[noreturn]] void duplicate(const RawAttr& a, const RawAttr& b);
  static uint32_t expandedHash(const RawAttr& a);
  void checkDuplicates();
  int findAttribute(std::string_view local, const std::string_view* nsp);

  // ------------------------------------------------------------- dtd.cpp
  void applyAttDecls(const char* n, uint32_t nl);
  void expectWs();
  bool optWs();
  bool keyword(const char* k, size_t n);
  void expect(char c);
  Str name();
  // A quoted literal without references from cur; bytes of the class
  // (none, not a public-id character, '<') are refused.
  enum class Literal : uint8_t { Any, Pubid, AttValue };
  Str quoted(Literal kind);
  bool externalId(Str* pub, Str* sys, bool allowPublicOnly);
  void resetDtd();
  int parseDoctype();
  void internalSubset();
  void skipComment() { cur = commentEnd(cur + 4) + 3; }
  void entityDecl();
  void entityValue(std::string& out);
  void attlistDecl();
  void defaultValue(AttDecl& d);
  void enumeration(bool names);
  void elementDecl();
  void notationDecl();
};

}  // namespace twxml::xmlcore
