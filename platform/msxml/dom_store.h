// Node storage of one document: compact records in growable arrays, names
// interned per document, character data held once as UTF-8.
//
// Records are addressed by 32-bit index (0 = none) and are never freed one by
// one: a record lives as long as its store, and the store lives as long as the
// document object or any node object made over it holds a reference. That is
// what keeps a node valid after its document object or its tree let go of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "dom_memory.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/com.h"
#include "twxml/platform/short_copy.h"
#include "twxml/platform/msxml.h"

namespace twdom {

class DomDocument;
struct ParseErrorState;

/* Node kinds kept in a record; the numbers are the DOM node type numbers. */
enum Kind : uint8_t {
  kElement = NODE_ELEMENT,
  kAttribute = NODE_ATTRIBUTE,
  kText = NODE_TEXT,
  kCData = NODE_CDATA_SECTION,
  kPI = NODE_PROCESSING_INSTRUCTION,
  kComment = NODE_COMMENT,
  kDocument = NODE_DOCUMENT,
  kFragment = NODE_DOCUMENT_FRAGMENT,
};

/* Record flags (4 bits). */
enum : uint8_t {
  kFlagWrapped = 1,    // a node object exists for this record (see Store::wrappers_)
  kFlagAscii = 2,      // character data is plain ASCII
  kFlagDefaulted = 4,  // attribute supplied by a DTD default
};

/* 24 bytes. Sibling lists are circular backwards: first.prev is the last
   sibling, so the last child and appends are O(1) without a tail field.
   A detached node has parent 0, next 0 and prev pointing at itself. */
struct NodeRec {
  uint32_t parent;
  uint32_t next;
  uint32_t prev;
  uint32_t head;  // kind (4 bits) | flags (4 bits) | name id (24 bits)
  union {
    struct {
      uint32_t firstChild;
      uint32_t firstAttr;
    } el;  // element, document, fragment
    struct {
      uint32_t off;
      uint32_t len;
    } tx;  // text, CDATA, comment, PI data, attribute value (UTF-8 bytes)
  };

  Kind kind() const { return Kind(head & 0xF); }
  uint8_t flags() const { return uint8_t((head >> 4) & 0xF); }
  uint32_t name() const { return head >> 8; }
  void setFlag(uint8_t f) { head |= uint32_t(f) << 4; }
  void clearFlag(uint8_t f) { head &= ~(uint32_t(f) << 4); }
  bool hasFlag(uint8_t f) const { return (head >> 4) & f; }
  bool hasChildren() const { return kind() == kElement || kind() == kDocument || kind() == kFragment; }
};
static_assert(sizeof(NodeRec) == 24, "node records stay compact");

constexpr uint32_t kMaxNameId = (1u << 24) - 1;
constexpr uint32_t kDocIndex = 1;

/* Node objects by record index: few are alive at a time, so a small hash
   table (open addressing, backward-shift deletion) instead of a slot per
   record. */
class WrapperTable {
 public:
  WrapperTable() = default;
  WrapperTable(const WrapperTable&) = delete;
  WrapperTable& operator=(const WrapperTable&) = delete;
  ~WrapperTable() { delete[] slots_; }

  void* find(uint32_t i) const {
    for (size_t s = slotOf(i);; s = (s + 1) & mask_) {
      if (slots_[s].index == i) return slots_[s].object;
      if (!slots_[s].index) return nullptr;
    }
  }
  /* False when memory for the table cannot be had. */
  bool insert(uint32_t i, void* w);
  void erase(uint32_t i);
  void clear();

 private:
  struct Slot {
    uint32_t index;  // 0 = empty
    void* object;
  };
  size_t slotOf(uint32_t i) const { return ((i * 0x9E3779B1u) >> 8) & mask_; }
  Slot* slots_ = nullptr;
  size_t mask_ = 0;
  size_t used_ = 0;
};

/* An interned name: a qualified name together with its namespace URI. */
struct NameEntry {
  std::u16string qname16;
  std::string qname8;
  uint32_t prefixLen16;  // units before ':' (0 when unprefixed)
  uint32_t prefixLen8;
  uint32_t ns;  // namespace id (0 = no namespace)
  bool isXmlDecl;  // PI target "xml"
};

/* Load-error details, kept with the document's content. */
struct ParseErrorState {
  HRESULT code = 0;
  std::u16string reason;
  std::u16string srcText;
  LONG line = 0;
  LONG linepos = 0;
  LONG filepos = 0;
};

/* Entity references the last load left unexpanded (see
   IXMLDOMSkippedReferences). */
struct SkippedState {
  uint32_t count = 0, line = 0, column = 0;
  std::u16string name;
};

class Store {
 public:
  Store();
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  /* Plain counts: a document and its nodes serve one thread at a time. */
  void addRef() { ++refs_; }
  void release() {
    if (--refs_ == 0) delete this;
  }
  uint32_t refCount() const { return refs_; }

  NodeRec& node(uint32_t i) { return nodes_[i]; }
  const NodeRec& node(uint32_t i) const { return nodes_[i]; }
  uint32_t nodeCount() const { return uint32_t(nodes_.size()); }
  const NameEntry& name(uint32_t id) const { return names_[id]; }
  const std::u16string& ns16(uint32_t id) const { return nsList16_[id]; }
  const std::string& ns8(uint32_t id) const { return nsList8_[id]; }

  /* ---- building -------------------------------------------------------- */
  /* New detached record; 0 when out of memory. */
  uint32_t newNode(Kind kind, uint32_t nameId) {
    // Inline while the array has room: one record a node when loading.
    if (nodes_.spare() == 0 || nodes_.size() >= kMaxRecords) return newNodeGrowing(kind, nameId);
    uint32_t i = uint32_t(nodes_.size());
    NodeRec* r = nodes_.extend(1);
    r->parent = 0;
    r->next = 0;
    r->prev = i;
    r->head = uint32_t(kind) | (nameId << 8);
    r->el.firstChild = 0;
    r->el.firstAttr = 0;
    return i;
  }
  /* Interns a namespace URI (UTF-8 or UTF-16); 0 for the empty one. */
  uint32_t internNs8(const char* uri, size_t len);
  uint32_t internNs(const char16_t* uri, size_t len);
  /* Interns (qualified name, namespace); ~0u when the table is full. */
  uint32_t internName8(const char* qname, size_t len, uint32_t ns);
  uint32_t internName(const char16_t* qname, size_t len, uint32_t ns);
  /* Stores text (UTF-16, or UTF-8 that is known to be valid) as the
     character data of record i. */
  bool setText(uint32_t i, const char16_t* s, size_t n);
  bool setText8(uint32_t i, const char* s, size_t n) {
    if ((text_.spare() < n || text_.size() + n > kMaxText) && !reserveText(n)) return false;
    char* o = text_.data() + text_.size();
    // One pass: copy and collect the high bits. Longer texts go sixteen
    // bytes a step, the last step ending at n over bytes copied already.
    uint64_t acc;
    if (n <= 16) {
      acc = twxml::CopyShortOr(o, s, n);
    } else {
#ifdef __SSE2__
      __m128i high = _mm_setzero_si128();
      for (size_t k = 0;; k += 16) {
        if (k + 16 > n) k = n - 16;
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + k), w);
        high = _mm_or_si128(high, w);
        if (k + 16 == n) break;
      }
      acc = uint64_t(_mm_movemask_epi8(high) != 0) << 7;  // the mark below: any high bit
#else
      acc = 0;
      size_t k = 0;
      for (; k + 16 < n; k += 16) acc |= twxml::CopyShortOr(o + k, s + k, 16);
      acc |= twxml::CopyShortOr(o + n - 16, s + n - 16, 16);
#endif
    }
    NodeRec& r = nodes_[i];
    r.tx.off = uint32_t(text_.size());
    r.tx.len = uint32_t(n);
    text_.extend(n);
    if ((acc & 0x8080808080808080ull) == 0) {
      r.setFlag(kFlagAscii);
    } else {
      r.clearFlag(kFlagAscii);
    }
    return true;
  }
  /* Appends text to record i, in place when its data ends the text heap. */
  bool appendText(uint32_t i, const char16_t* s, size_t n);
  bool appendText8(uint32_t i, const char* s, size_t n);

  std::string_view text8(uint32_t i) const {
    const NodeRec& r = nodes_[i];
    return std::string_view(text_.data() + r.tx.off, r.tx.len);
  }
  /* The character data as a new BSTR (null when out of memory). */
  BSTR textBstr(uint32_t i) const;
  BSTR nameBstr(uint32_t i) const;
  /* Appends the character data as UTF-16. */
  void appendText16(uint32_t i, std::u16string& out) const;

  /* ---- tree ------------------------------------------------------------ */
  uint32_t firstChild(uint32_t p) const { return nodes_[p].hasChildren() ? nodes_[p].el.firstChild : 0; }
  uint32_t lastChild(uint32_t p) const {
    uint32_t f = firstChild(p);
    return f ? nodes_[f].prev : 0;
  }
  uint32_t nextSibling(uint32_t i) const { return nodes_[i].next; }
  uint32_t prevSibling(uint32_t i) const;
  uint32_t firstAttr(uint32_t e) const { return nodes_[e].kind() == kElement ? nodes_[e].el.firstAttr : 0; }

  /* Links detached record c at the end of p's children: what a load does
     for every node, so it stays small enough to inline. */
  void append(uint32_t p, uint32_t c) {
    NodeRec& pr = nodes_[p];
    NodeRec& cr = nodes_[c];
    cr.parent = p;
    cr.next = 0;
    const uint32_t first = pr.el.firstChild;
    if (!first) {
      pr.el.firstChild = c;
      cr.prev = c;
    } else {
      const uint32_t last = nodes_[first].prev;
      nodes_[last].next = c;
      cr.prev = last;
      nodes_[first].prev = c;
    }
    ++generation_;
  }
  /* Links detached record c into p's children before ref (0 = at the end). */
  void link(uint32_t p, uint32_t c, uint32_t ref) {
    NodeRec& pr = nodes_[p];
    const uint32_t first = pr.el.firstChild;
    if (!ref || !first) {
      append(p, c);
      return;
    }
    NodeRec& cr = nodes_[c];
    cr.parent = p;
    NodeRec& rr = nodes_[ref];
    cr.next = ref;
    cr.prev = rr.prev;
    if (ref == first) {
      pr.el.firstChild = c;
    } else {
      nodes_[rr.prev].next = c;
    }
    rr.prev = c;
    ++generation_;
  }
  /* Links detached attribute a at the end of element e's attributes. */
  void linkAttr(uint32_t e, uint32_t a);
  /* Detaches i from its parent's child or attribute list. */
  void unlink(uint32_t i);
  /* True when a is i or one of i's ancestors. */
  bool isAncestorOrSelf(uint32_t a, uint32_t i) const;
  /* Attribute of element e with the qualified name, or 0. Constant time on
     wide elements: the last wide element searched keeps an index, updated
     as attributes are added to it. */
  uint32_t findAttr(uint32_t e, std::u16string_view qname) const;
  /* The same by UTF-8 name for an element with few attributes, searched in
     place; false (nothing searched) when findAttr would use its index. */
  bool findAttrInPlace(uint32_t e, std::string_view qname, uint32_t* a) const;
  /* Comparisons findAttr made, for tests that bound its work. */
  uint64_t attrProbes() const { return attrProbes_; }
  /* Records passed over stepping to a child or sibling of a kind (counted by
     the face's stepping), for tests that bound its work. */
  uint64_t stepProbes() const { return stepProbes_; }
  void countSteps(uint64_t n) const { stepProbes_ += n; }
  /* Copies record i (and its subtree when deep) into a new detached record. */
  uint32_t clone(uint32_t i, bool deep);
  /* Moves every child of `from` to the end of `to`. */
  void moveChildren(uint32_t from, uint32_t to);

  /* Empties the store back to its bare document record (only when nothing
     but the document references it). */
  void reset();
  /* Counts record changes that can invalidate cached positions. */
  uint64_t generation() const { return generation_; }
  void touch() { ++generation_; }

  /* Element names the builder met lately (UTF-8 name and namespace URI)
     with the name id they were created under: a name met again needs no
     checking, widening or interning (names stay interned for the store's
     life). */
  struct BuiltName {
    std::string qname, uri;
    uint32_t nameId = 0;
    bool known = false;
    /* Keeps the name, whole or not at all (without memory, not kept). */
    void remember(std::string_view q, std::string_view u, uint32_t id) noexcept {
      known = false;
      try {
        qname.assign(q);
        uri.assign(u);
        nameId = id;
        known = true;
      } catch (const std::bad_alloc&) {
      }
    }
  };
  BuiltName& builtName(std::string_view qname) { return builtNames_[builtSlot(qname)]; }
  /* The same for attribute names (the URI unused: an added attribute's
     namespace follows from its name). */
  BuiltName& builtAttrName(std::string_view qname) { return builtAttrNames_[builtSlot(qname)]; }

  /* ---- node objects ---------------------------------------------------- */
  void* findWrapper(uint32_t i) const { return nodes_[i].hasFlag(kFlagWrapped) ? wrappers_.find(i) : nullptr; }
  /* False when memory for the entry cannot be had. */
  bool setWrapper(uint32_t i, void* w) {
    if (!wrappers_.insert(i, w)) return false;
    nodes_[i].setFlag(kFlagWrapped);
    return true;
  }
  void clearWrapper(uint32_t i) {
    wrappers_.erase(i);
    nodes_[i].clearFlag(kFlagWrapped);
  }
  /* Memory of released node objects and attribute maps, reused for the
     next ones: walking a document does not go to the allocator for every
     node it looks at. */
  void* takeBlock(int kind) {
    void*& head = freeBlocks_[kind];
    if (!head) return nullptr;
    void* b = head;
    head = *static_cast<void**>(b);
    --freeCount_[kind];
    return b;
  }
  /* False when the block is not kept (the caller frees it). */
  bool keepBlock(int kind, void* b) {
    if (freeCount_[kind] >= 64) return false;
    *static_cast<void**>(b) = freeBlocks_[kind];
    freeBlocks_[kind] = b;
    ++freeCount_[kind];
    return true;
  }
  /* The document object over this store while one is alive (not counted). */
  DomDocument* document = nullptr;

  /* ---- document settings kept with the content ------------------------- */
  ParseErrorState parseError;
  SkippedState skipped;
  bool preserveWhiteSpace = false;
  bool async = true;

  /* Bytes held by records and text (for measurements and tests). */
  size_t bytesUsed() const;

 private:
  uint32_t refs_ = 1;
  GrowArray<NodeRec> nodes_{pool::kDomNodes};
  GrowArray<char> text_{pool::kDomText};
  std::vector<NameEntry> names_;
  std::vector<std::u16string> nsList16_;
  std::vector<std::string> nsList8_;
  std::vector<uint32_t> nameHash_;  // open addressing over names_ (id+1, 0 empty)
  std::vector<uint32_t> nsHash_;
  WrapperTable wrappers_;  // node objects alive, by record
  uint64_t generation_ = 0;
  static constexpr size_t kBuiltNames = 32;
  BuiltName builtNames_[kBuiltNames], builtAttrNames_[kBuiltNames];
  static size_t builtSlot(std::string_view q) {
    return (q.empty() ? 0 : q.size() * 31 + uint8_t(q[0]) * 7 + uint8_t(q.back())) % kBuiltNames;
  }
  /* findAttr's index: attribute records of attrIndexOf_ by qname hash
     (open addressing, 0 empty). */
  mutable uint32_t attrIndexOf_ = 0;
  mutable std::vector<uint32_t> attrIndex_;
  mutable uint32_t attrIndexed_ = 0;
  mutable uint64_t attrProbes_ = 0;
  mutable uint64_t stepProbes_ = 0;
  void indexAttr(uint32_t a) const;
  void* freeBlocks_[2] = {nullptr, nullptr};
  uint32_t freeCount_[2] = {0, 0};

  static constexpr size_t kMaxRecords = 0xFFFFFFF0u;  // record indexes are 32-bit
  static constexpr size_t kMaxText = 0xFFFFFFFFu;      // and so are text offsets
  uint32_t newNodeGrowing(Kind kind, uint32_t nameId);
  bool reserveText(size_t bytes);
  /* Moves the data of record i to the end of the text heap (for appending). */
  bool toHeapEnd(uint32_t i, size_t extra);
};

/* ---- text helpers ------------------------------------------------------- */

/* The conversions are the library's shared ones (twxml/platform/utf.h),
   named here in the forms the store uses. */

/* UTF-16 to UTF-8; out must hold 3*n bytes. Returns bytes written and sets
   ascii when every unit was below 0x80 (any other unit takes two bytes or
   more). Lone surrogates become U+FFFD. */
inline size_t Utf16ToUtf8(const char16_t* s, size_t n, char* out, bool* ascii) {
  size_t w = twxml::utf::Utf16ToUtf8(s, n, out);
  if (ascii) *ascii = w == n;
  return w;
}
/* True when no byte has the high bit set. */
inline bool IsAscii(const char* s, size_t n) {
  return twxml::utf::AsciiPrefix(reinterpret_cast<const unsigned char*>(s), n) == n;
}
/* UTF-8 (valid) to UTF-16; out must hold n units. Returns units written. */
inline size_t Utf8ToUtf16(const char* s, size_t n, char16_t* out) { return twxml::utf::Utf8ToUtf16(s, n, out); }
/* UTF-16 units that Utf8ToUtf16 produces for this input. */
inline size_t Utf16Length(const char* s, size_t n) { return twxml::utf::Utf16Size(s, n); }
std::string ToUtf8(std::u16string_view s);
std::u16string ToUtf16(std::string_view s);

/* True when every character may appear in an XML 1.0 document (no C0
   controls other than tab/LF/CR, no U+FFFE/U+FFFF, no lone surrogates). */
bool IsXmlText(const char16_t* s, size_t n);
/* The same for UTF-8, which must be well formed besides. */
bool IsXmlText8(const char* s, size_t n);
/* Qualified-name check: NCName or NCName ':' NCName. */
bool IsQName(const char16_t* s, size_t n);
/* Name check: any XML Name (colons allowed anywhere). */
bool IsXmlName(const char16_t* s, size_t n);

inline size_t Len16(const char16_t* s) {
  if (!s) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace twdom
