// One document's node records, interned names and UTF-8 character data.
#include "dom_store.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <new>

#include "scan.h"

namespace twdom {

/* ---- text helpers ------------------------------------------------------- */

std::string ToUtf8(std::u16string_view s) {
  std::string out(s.size() * 3, '\0');
  out.resize(Utf16ToUtf8(s.data(), s.size(), out.data(), nullptr));
  return out;
}

std::u16string ToUtf16(std::string_view s) {
  std::u16string out(s.size(), u'\0');
  out.resize(Utf8ToUtf16(s.data(), s.size(), out.data()));
  return out;
}

namespace {

/* A character XML 1.0 lets a document carry: no C0 control other than tab,
   LF and CR, no surrogate, neither U+FFFE nor U+FFFF. */
inline bool IsXmlChar(uint32_t c) {
  if (c < 0x20) return c == 0x9 || c == 0xA || c == 0xD;
  return c < 0xD800 || (c > 0xDFFF && c != 0xFFFE && c != 0xFFFF);
}

}  // namespace

bool IsXmlText(const char16_t* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
#if defined(__SSE2__)
    // Eight units a step while all lie in 0x20 to 0x7FFF (none of them a
    // control or a surrogate): as signed numbers, none is below 0x20.
    for (; i + 8 <= n; i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      if (_mm_movemask_epi8(_mm_cmplt_epi16(v, _mm_set1_epi16(0x20)))) break;
    }
#else
    // Four units a step while they are printable ASCII (0x20 to 0x7F):
    // adding 0x60 carries into bit 7 exactly for units from 0x20 on.
    for (uint64_t w; i + 4 <= n; i += 4) {
      std::memcpy(&w, s + i, 8);
      if ((w & 0xFF80FF80FF80FF80ull) != 0 ||
          ((w + 0x0060006000600060ull) & 0x0080008000800080ull) != 0x0080008000800080ull)
        break;
    }
#endif
    if (i >= n) break;
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      ++i;  // a surrogate pair: a character from U+10000 on
      continue;
    }
    if (!IsXmlChar(c)) return false;
  }
  return true;
}

bool IsXmlText8(const char* s, size_t n) {
  const auto clean = twxml::xmlcore::scan::Active().clean;
  const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
  if (n <= 16) {
    // Short printable ASCII (most names and values) needs no kernel call.
    size_t k = 0;
    while (k < n && u[k] >= 0x20 && u[k] < 0x80) ++k;
    if (k == n) return true;
  }
  size_t i = 0;
  while (i < n) {
    // The parser's scan passes most text at once; where it stops (a carriage
    // return, a character it leaves to its caller) one character is looked at.
    i += clean(u + i, n - i);
    if (i >= n) break;
    if (u[i] < 0x80) {
      if (!IsXmlChar(u[i])) return false;
      ++i;
      continue;
    }
    const twxml::utf::Utf8Char c = twxml::utf::DecodeUtf8Char(u + i, n - i);
    if (!c.ok || !IsXmlChar(c.cp)) return false;
    i += c.len;
  }
  return true;
}

namespace {

bool IsNameStart(uint32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(uint32_t c) {
  if (IsNameStart(c)) return true;
  if (c < 0x80) return (c >= '0' && c <= '9') || c == '-' || c == '.';
  return c == 0xB7 || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

/* Decodes one code point; 0 on a lone surrogate. */
uint32_t NextCp(const char16_t* s, size_t n, size_t& i) {
  uint32_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) return 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
    return 0;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) return 0;
  return c;
}

/* ASCII characters of names without colons: may start one, may follow. */
enum : uint8_t { kNameStart = 1, kNamePart = 2 };
struct AsciiNameTable {
  uint8_t t[128] = {};
  constexpr AsciiNameTable() {
    for (int c = 'a'; c <= 'z'; ++c) t[c] = t[c - 32] = kNameStart | kNamePart;
    t[int('_')] = kNameStart | kNamePart;
    for (int c = '0'; c <= '9'; ++c) t[c] = kNamePart;
    t[int('-')] = t[int('.')] = kNamePart;
  }
};
constexpr AsciiNameTable kAsciiName;

bool IsNCNameRange(const char16_t* s, size_t n) {
  if (n == 0) return false;
  size_t i = 0;
  // ASCII names take one look-up a unit; the rest is decoded by code point.
  for (; i < n && s[i] < 0x80; ++i) {
    if (!(kAsciiName.t[s[i]] & (i == 0 ? kNameStart : kNamePart))) return false;
  }
  bool first = i == 0;
  while (i < n) {
    uint32_t c = NextCp(s, n, i);
    if (c == ':' || !(first ? IsNameStart(c) : IsNameChar(c))) return false;
    first = false;
  }
  return true;
}

}  // namespace

bool IsXmlName(const char16_t* s, size_t n) {
  if (n == 0) return false;
  size_t i = 0;
  if (!IsNameStart(NextCp(s, n, i))) return false;
  while (i < n) {
    if (!IsNameChar(NextCp(s, n, i))) return false;
  }
  return true;
}

bool IsQName(const char16_t* s, size_t n) {
  size_t colon = n;
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == ':') {
      colon = i;
      break;
    }
  }
  if (colon == n) return IsNCNameRange(s, n);
  return IsNCNameRange(s, colon) && IsNCNameRange(s + colon + 1, n - colon - 1);
}

/* ---- WrapperTable ------------------------------------------------------- */

bool WrapperTable::insert(uint32_t i, void* w) {
  if (2 * (used_ + 1) > mask_ + 1) {
    size_t n = slots_ ? 2 * (mask_ + 1) : 64;
    Slot* grown = new (std::nothrow) Slot[n]();
    if (!grown) return false;
    Slot* old = slots_;
    size_t oldCount = slots_ ? mask_ + 1 : 0;
    slots_ = grown;
    mask_ = n - 1;
    used_ = 0;
    for (size_t k = 0; k < oldCount; ++k) {
      if (old[k].index) insert(old[k].index, old[k].object);
    }
    delete[] old;
  }
  size_t s = slotOf(i);
  while (slots_[s].index && slots_[s].index != i) s = (s + 1) & mask_;
  if (!slots_[s].index) ++used_;
  slots_[s] = Slot{i, w};
  return true;
}

void WrapperTable::erase(uint32_t i) {
  if (!slots_) return;
  size_t s = slotOf(i);
  while (slots_[s].index != i) {
    if (!slots_[s].index) return;
    s = (s + 1) & mask_;
  }
  // Backward shift: later entries of the run move up so no probe sequence
  // is cut by the hole.
  for (size_t hole = s, k = (s + 1) & mask_;; k = (k + 1) & mask_) {
    if (!slots_[k].index) {
      slots_[hole] = Slot{};
      break;
    }
    size_t home = slotOf(slots_[k].index);
    if (((k - home) & mask_) >= ((k - hole) & mask_)) {
      slots_[hole] = slots_[k];
      hole = k;
    }
  }
  --used_;
}

void WrapperTable::clear() {
  if (slots_ && used_) std::memset(slots_, 0, (mask_ + 1) * sizeof(Slot));
  used_ = 0;
}

/* ---- Store -------------------------------------------------------------- */

namespace {
constexpr size_t kLocalUtf8 = 384;  // names converted on the stack up to 128 units

inline uint64_t HashBytes(const char* s, size_t n, uint64_t seed) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ (seed * 0xC2B2AE3D27D4EB4Full) ^ n;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, s + i, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  uint64_t tail = 0;
  if (n > i) std::memcpy(&tail, s + i, n - i);
  h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}
}  // namespace

Store::Store() {
  nsList16_.emplace_back();
  nsList8_.emplace_back();
  nameHash_.assign(256, 0);
  nsHash_.assign(16, 0);
  reset();
}

Store::~Store() {
  for (void*& head : freeBlocks_) {
    while (head) {
      void* next = *static_cast<void**>(head);
      ::operator delete(head);
      head = next;
    }
  }
}

void Store::reset() {
  nodes_.truncate(0);
  text_.truncate(0);
  wrappers_.clear();  // nothing but the document refers to the store
  if (!nodes_.reserveMore(2)) throw std::bad_alloc();
  NodeRec* r = nodes_.extend(2);
  std::memset(r, 0, 2 * sizeof(NodeRec));
  r[1].head = kDocument;
  r[1].prev = kDocIndex;
  ++generation_;
  attrIndexOf_ = 0;
  std::vector<uint32_t>().swap(attrIndex_);
}

uint32_t Store::newNodeGrowing(Kind kind, uint32_t nameId) {
  if (nodes_.size() >= kMaxRecords || !nodes_.reserveMore(1)) return 0;
  return newNode(kind, nameId);
}

uint32_t Store::internNs(const char16_t* uri, size_t len) {
  char local[kLocalUtf8];
  if (len <= kLocalUtf8 / 3) return internNs8(local, Utf16ToUtf8(uri, len, local, nullptr));
  std::string u = ToUtf8(std::u16string_view(uri, len));
  return internNs8(u.data(), u.size());
}

uint32_t Store::internNs8(const char* uri, size_t len) {
  if (len == 0) return 0;
  size_t mask = nsHash_.size() - 1;
  for (size_t h = HashBytes(uri, len, 7) & mask;; h = (h + 1) & mask) {
    uint32_t v = nsHash_[h];
    if (v == 0) {
      uint32_t id = uint32_t(nsList8_.size());
      nsList8_.emplace_back(uri, len);
      nsList16_.push_back(ToUtf16(nsList8_.back()));
      nsHash_[h] = id;
      if (nsList8_.size() * 2 > nsHash_.size()) {
        std::vector<uint32_t> grown(nsHash_.size() * 2, 0);
        size_t m = grown.size() - 1;
        for (uint32_t k = 1; k < nsList8_.size(); ++k) {
          const std::string& u = nsList8_[k];
          size_t p = HashBytes(u.data(), u.size(), 7) & m;
          while (grown[p]) p = (p + 1) & m;
          grown[p] = k;
        }
        nsHash_.swap(grown);
      }
      return id;
    }
    const std::string& u = nsList8_[v];
    if (u.size() == len && std::memcmp(u.data(), uri, len) == 0) return v;
  }
}

uint32_t Store::internName(const char16_t* qname, size_t len, uint32_t ns) {
  char local[kLocalUtf8];
  if (len <= kLocalUtf8 / 3) return internName8(local, Utf16ToUtf8(qname, len, local, nullptr), ns);
  std::string q = ToUtf8(std::u16string_view(qname, len));
  return internName8(q.data(), q.size(), ns);
}

uint32_t Store::internName8(const char* qname, size_t len, uint32_t ns) {
  size_t mask = nameHash_.size() - 1;
  for (size_t h = HashBytes(qname, len, ns) & mask;; h = (h + 1) & mask) {
    uint32_t v = nameHash_[h];
    if (v == 0) {
      if (names_.size() >= kMaxNameId) return ~0u;
      uint32_t id = uint32_t(names_.size());
      NameEntry e;
      e.qname8.assign(qname, len);
      e.qname16 = ToUtf16(e.qname8);
      size_t c = e.qname16.find(u':');
      e.prefixLen16 = c == std::u16string::npos ? 0 : uint32_t(c);
      size_t c8 = e.qname8.find(':');
      e.prefixLen8 = c8 == std::string::npos ? 0 : uint32_t(c8);
      e.ns = ns;
      e.isXmlDecl = e.qname8 == "xml";
      names_.push_back(std::move(e));
      nameHash_[h] = id + 1;
      if (names_.size() * 2 > nameHash_.size()) {
        std::vector<uint32_t> grown(nameHash_.size() * 2, 0);
        size_t m = grown.size() - 1;
        for (uint32_t k = 0; k < names_.size(); ++k) {
          const NameEntry& ne = names_[k];
          size_t p = HashBytes(ne.qname8.data(), ne.qname8.size(), ne.ns) & m;
          while (grown[p]) p = (p + 1) & m;
          grown[p] = k + 1;
        }
        nameHash_.swap(grown);
      }
      return id;
    }
    const NameEntry& e = names_[v - 1];
    if (e.ns == ns && e.qname8.size() == len && std::memcmp(e.qname8.data(), qname, len) == 0) return v - 1;
  }
}

bool Store::reserveText(size_t bytes) {
  if (text_.size() + bytes > kMaxText) return false;
  return text_.reserveMore(bytes);
}

bool Store::setText(uint32_t i, const char16_t* s, size_t n) {
  if (!reserveText(n * 3)) return false;
  char* o = text_.data() + text_.size();
  bool ascii;
  size_t w = Utf16ToUtf8(s, n, o, &ascii);
  NodeRec& r = nodes_[i];
  r.tx.off = uint32_t(text_.size());
  r.tx.len = uint32_t(w);
  text_.extend(w);
  if (ascii) {
    r.setFlag(kFlagAscii);
  } else {
    r.clearFlag(kFlagAscii);
  }
  return true;
}

bool Store::toHeapEnd(uint32_t i, size_t extra) {
  const NodeRec& r0 = nodes_[i];
  size_t len = r0.tx.len;
  if (size_t(r0.tx.off) + len == text_.size()) return reserveText(extra);
  if (!reserveText(len + extra)) return false;
  NodeRec& r = nodes_[i];
  char* o = text_.data() + text_.size();
  if (len) std::memmove(o, text_.data() + r.tx.off, len);
  r.tx.off = uint32_t(text_.size());
  text_.extend(len);
  return true;
}

bool Store::appendText(uint32_t i, const char16_t* s, size_t n) {
  if (!toHeapEnd(i, n * 3)) return false;
  NodeRec& r = nodes_[i];
  bool ascii;
  size_t w = Utf16ToUtf8(s, n, text_.data() + text_.size(), &ascii);
  if (size_t(r.tx.len) + w > 0xFFFFFFFFull) return false;
  text_.extend(w);
  r.tx.len += uint32_t(w);
  if (!ascii) r.clearFlag(kFlagAscii);
  return true;
}

bool Store::appendText8(uint32_t i, const char* s, size_t n) {
  if (!toHeapEnd(i, n)) return false;
  NodeRec& r = nodes_[i];
  if (size_t(r.tx.len) + n > 0xFFFFFFFFull) return false;
  if (n) std::memcpy(text_.data() + text_.size(), s, n);
  text_.extend(n);
  r.tx.len += uint32_t(n);
  if (!IsAscii(s, n)) r.clearFlag(kFlagAscii);
  return true;
}

BSTR Store::textBstr(uint32_t i) const {
  const NodeRec& r = nodes_[i];
  const char* s = text_.data() + r.tx.off;
  size_t n = r.tx.len;
  if (r.hasFlag(kFlagAscii)) {
    if (n > 0x3FFFFFFF) return nullptr;
    BSTR b = SysAllocStringLen(nullptr, UINT(n));
    if (b) Utf8ToUtf16(s, n, b);
    return b;
  }
  // The conversion may write as many units as there are bytes: it goes
  // through a buffer of that size, the string gets the units it made.
  std::u16string wide(n, u'\0');
  size_t units = Utf8ToUtf16(s, n, wide.data());
  if (units > 0x3FFFFFFF) return nullptr;
  return SysAllocStringLen(wide.data(), UINT(units));
}

BSTR Store::nameBstr(uint32_t i) const {
  const std::u16string& q = names_[nodes_[i].name()].qname16;
  return SysAllocStringLen(q.data(), UINT(q.size()));
}

void Store::appendText16(uint32_t i, std::u16string& out) const {
  const NodeRec& r = nodes_[i];
  size_t old = out.size();
  out.resize(old + r.tx.len);
  size_t w = Utf8ToUtf16(text_.data() + r.tx.off, r.tx.len, out.data() + old);
  out.resize(old + w);
}

uint32_t Store::prevSibling(uint32_t i) const {
  const NodeRec& r = nodes_[i];
  if (!r.parent) return 0;
  const NodeRec& p = nodes_[r.parent];
  uint32_t first = r.kind() == kAttribute ? p.el.firstAttr : p.el.firstChild;
  return first == i ? 0 : r.prev;
}

void Store::linkAttr(uint32_t e, uint32_t a) {
  if (e == attrIndexOf_) indexAttr(a);
  NodeRec& er = nodes_[e];
  NodeRec& ar = nodes_[a];
  ar.parent = e;
  ar.next = 0;
  uint32_t first = er.el.firstAttr;
  if (!first) {
    er.el.firstAttr = a;
    ar.prev = a;
  } else {
    uint32_t last = nodes_[first].prev;
    nodes_[last].next = a;
    ar.prev = last;
    nodes_[first].prev = a;
  }
  ++generation_;
}

void Store::unlink(uint32_t i) {
  NodeRec& r = nodes_[i];
  if (!r.parent) return;
  if (r.parent == attrIndexOf_ && r.kind() == kAttribute) attrIndexOf_ = 0;
  NodeRec& p = nodes_[r.parent];
  uint32_t& first = r.kind() == kAttribute ? p.el.firstAttr : p.el.firstChild;
  if (first == i) {
    first = r.next;
    if (r.next) nodes_[r.next].prev = r.prev;
  } else {
    nodes_[r.prev].next = r.next;
    if (r.next) {
      nodes_[r.next].prev = r.prev;
    } else {
      nodes_[first].prev = r.prev;  // i was last
    }
  }
  r.parent = 0;
  r.next = 0;
  r.prev = i;
  ++generation_;
}

bool Store::isAncestorOrSelf(uint32_t a, uint32_t i) const {
  for (uint32_t k = i; k; k = nodes_[k].parent) {
    if (k == a) return true;
  }
  return false;
}

namespace {

uint32_t HashQName(std::u16string_view q) {
  uint32_t h = 2166136261u;
  for (char16_t c : q) h = (h ^ c) * 16777619u;
  return h;
}

constexpr uint32_t kIndexFrom = 16;  // attributes searched in place before indexing

}  // namespace

void Store::indexAttr(uint32_t a) const {
  if (2 * (attrIndexed_ + 1) > attrIndex_.size()) {
    // Grow and re-insert in list order, so equal names keep their order.
    // Without memory there is no index: look-ups search in place.
    try {
      attrIndex_.assign(std::max<size_t>(64, attrIndex_.size() * 2), 0);
    } catch (const std::bad_alloc&) {
      attrIndexOf_ = 0;
      return;
    }
    attrIndexed_ = 0;
    for (uint32_t k = firstAttr(attrIndexOf_); k && k != a; k = nodes_[k].next) indexAttr(k);
  }
  size_t mask = attrIndex_.size() - 1;
  size_t slot = HashQName(names_[nodes_[a].name()].qname16) & mask;
  while (attrIndex_[slot]) slot = (slot + 1) & mask;
  attrIndex_[slot] = a;
  ++attrIndexed_;
}

uint32_t Store::findAttr(uint32_t e, std::u16string_view qname) const {
  if (e != attrIndexOf_ || !e) {
    uint32_t n = 0;
    uint32_t a = firstAttr(e);
    for (; a && n < kIndexFrom; a = nodes_[a].next, ++n) {
      ++attrProbes_;
      if (names_[nodes_[a].name()].qname16 == qname) return a;
    }
    if (!a) return 0;
    attrIndexOf_ = e;
    attrIndex_.clear();
    attrIndexed_ = 0;
    for (a = firstAttr(e); a && attrIndexOf_ == e; a = nodes_[a].next) indexAttr(a);
    if (attrIndexOf_ != e) {
      for (a = firstAttr(e); a; a = nodes_[a].next) {
        ++attrProbes_;
        if (names_[nodes_[a].name()].qname16 == qname) return a;
      }
      return 0;
    }
  }
  size_t mask = attrIndex_.size() - 1;
  for (size_t slot = HashQName(qname) & mask; attrIndex_[slot]; slot = (slot + 1) & mask) {
    ++attrProbes_;
    uint32_t a = attrIndex_[slot];
    if (names_[nodes_[a].name()].qname16 == qname) return a;
  }
  return 0;
}

bool Store::findAttrInPlace(uint32_t e, std::string_view qname, uint32_t* a) const {
  if (e == attrIndexOf_) return false;
  uint32_t n = 0;
  for (uint32_t k = firstAttr(e); k; k = nodes_[k].next) {
    if (++n > kIndexFrom) return false;
    ++attrProbes_;
    if (names_[nodes_[k].name()].qname8 == qname) {
      *a = k;
      return true;
    }
  }
  *a = 0;
  return true;
}

void Store::moveChildren(uint32_t from, uint32_t to) {
  uint32_t c = nodes_[from].el.firstChild;
  if (!c) return;
  for (uint32_t k = c; k; k = nodes_[k].next) nodes_[k].parent = to;
  uint32_t first = nodes_[to].el.firstChild;
  if (!first) {
    nodes_[to].el.firstChild = c;
  } else {
    uint32_t last = nodes_[first].prev;
    uint32_t newLast = nodes_[c].prev;
    nodes_[last].next = c;
    nodes_[c].prev = last;
    nodes_[first].prev = newLast;
  }
  nodes_[from].el.firstChild = 0;
  ++generation_;
}

uint32_t Store::clone(uint32_t src, bool deep) {
  auto copyOne = [this](uint32_t s) -> uint32_t {
    uint32_t d = newNode(nodes_[s].kind(), nodes_[s].name());
    if (!d) return 0;
    NodeRec& dr = nodes_[d];
    const NodeRec& sr = nodes_[s];
    dr.head = sr.head & ~(uint32_t(kFlagWrapped) << 4);
    if (!sr.hasChildren()) {
      dr.tx = sr.tx;  // character data is immutable once written: share it
    } else {
      dr.el.firstChild = dr.el.firstAttr = 0;
    }
    return d;
  };
  auto copyAttrs = [this, &copyOne](uint32_t s, uint32_t d) -> bool {
    if (nodes_[s].kind() != kElement) return true;
    for (uint32_t a = nodes_[s].el.firstAttr; a; a = nodes_[a].next) {
      uint32_t na = copyOne(a);
      if (!na) return false;
      linkAttr(d, na);
    }
    return true;
  };
  uint32_t root = copyOne(src);
  if (!root || !copyAttrs(src, root)) return 0;
  if (!deep || !nodes_[src].hasChildren()) return root;
  // Iterative pre-order copy: (source, copy) of the current position.
  uint32_t s = nodes_[src].el.firstChild;
  uint32_t dParent = root;
  while (s) {
    uint32_t d = copyOne(s);
    if (!d || !copyAttrs(s, d)) return 0;
    link(dParent, d, 0);
    if (nodes_[s].hasChildren() && nodes_[s].el.firstChild) {
      dParent = d;
      s = nodes_[s].el.firstChild;
      continue;
    }
    while (s != src && !nodes_[s].next) {
      s = nodes_[s].parent;
      dParent = nodes_[dParent].parent;
    }
    if (s == src) break;
    s = nodes_[s].next;  // a sibling: dParent is still the copy of its parent
  }
  return root;
}

size_t Store::bytesUsed() const {
  size_t n = nodes_.size() * sizeof(NodeRec) + text_.size();
  for (const NameEntry& e : names_) n += sizeof(NameEntry) + e.qname16.size() * 2 + e.qname8.size();
  return n;
}

}  // namespace twdom
