// COM objects of the document model: the document, the node object (one class
// answering every node face), node lists, attribute maps, load errors and the
// memory stream the document uses to talk to persistable objects.
#pragma once

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "dom_store.h"
#include "twxml/platform/com_internal.h"
#include "twxml/platform/msxml_internal.h"

namespace twdom {

/* The record a node object stands for, answering the face's questions. */
class NodeHandle final : public NodeRecord {
 public:
  NodeHandle(Store* s, uint32_t i) : NodeRecord(s, i) {}
  DOMNodeType type() const override;
  const char16_t* name(size_t* length) const override;
  uint32_t firstChildOfType(DOMNodeType wanted) const override;
  uint32_t nextSiblingOfType(DOMNodeType wanted) const override;
  uint32_t attribute(std::u16string_view qname) const override;
  const char* name8(size_t* length) const override;
  std::string_view text8(uint32_t i) const override;
  size_t textUnits(uint32_t i) const override;
  size_t textUtf16(uint32_t i, char16_t* out) const override;
  IXMLDOMNode* nodeObject(uint32_t i) const override;
};

/* Closes a method's function-try-block: running out of memory is a result
   (E_OUTOFMEMORY) of every COM method, never an exception. */
#define TWDOM_NO_THROW \
  catch (const std::bad_alloc&) { return E_OUTOFMEMORY; }

/* One counted reference, given back however the scope ends. */
template <class T>
class Held {
 public:
  Held() = default;
  explicit Held(T* p) : p_(p) {}
  ~Held() {
    if (p_) p_->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  /* Out parameter of a call that hands a reference over. */
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

constexpr char16_t kXmlnsUri[] = u"http://www.w3.org/2000/xmlns/";
constexpr char16_t kXmlUri[] = u"http://www.w3.org/XML/1998/namespace";

/* Kinds of memory blocks a store keeps for reuse (Store::takeBlock). */
enum { kBlockNode = 0, kBlockMap = 1 };

/* Sets the thread's error information and returns hr. */
HRESULT Fail(HRESULT hr, const char16_t* description);
/* A new BSTR copy of s[0, n) in *out; E_OUTOFMEMORY when it cannot be had. */
HRESULT OutBstr(BSTR* out, const char16_t* s, size_t n);
/* The record behind a node argument, checked to belong to this store. */
HRESULT ArgNode(Store* s, IXMLDOMNode* node, uint32_t* out);
/* A node object (with a new reference) for record i; the document object for
   the document record. Null when out of memory. */
IXMLDOMNode* Wrap(Store* store, uint32_t i);
/* Stores a node object for i in *out with the interface iid; S_FALSE and
   null when i is 0. */
HRESULT WrapAs(Store* store, uint32_t i, REFIID iid, void** out);
/* Serialises record i (document: whole document) as UTF-16 text. */
HRESULT SerializeToUtf16(Store* store, uint32_t i, std::u16string& out);

/* The node operations shared by the document and node objects. */
namespace ops {
/* What nodeName gives for record i, zero-terminated UTF-16 kept by the store
   (or a constant); *length in units. */
const char16_t* nameOf(Store* s, uint32_t i, size_t* length);
/* The same as UTF-8; *length in bytes. */
const char* nameOf8(Store* s, uint32_t i, size_t* length);
HRESULT nodeName(Store* s, uint32_t i, BSTR* out);
HRESULT nodeValue(Store* s, uint32_t i, VARIANT* out);
HRESULT putNodeValue(Store* s, uint32_t i, VARIANT v);
HRESULT nodeType(Store* s, uint32_t i, DOMNodeType* out);
HRESULT parentNode(Store* s, uint32_t i, IXMLDOMNode** out);
HRESULT childNodes(Store* s, uint32_t i, IXMLDOMNodeList** out);
HRESULT firstChild(Store* s, uint32_t i, IXMLDOMNode** out);
HRESULT lastChild(Store* s, uint32_t i, IXMLDOMNode** out);
HRESULT previousSibling(Store* s, uint32_t i, IXMLDOMNode** out);
HRESULT nextSibling(Store* s, uint32_t i, IXMLDOMNode** out);
HRESULT attributes(Store* s, uint32_t i, IXMLDOMNamedNodeMap** out);
HRESULT insertBefore(Store* s, uint32_t i, IXMLDOMNode* child, VARIANT ref, IXMLDOMNode** out);
HRESULT replaceChild(Store* s, uint32_t i, IXMLDOMNode* child, IXMLDOMNode* old, IXMLDOMNode** out);
HRESULT removeChild(Store* s, uint32_t i, IXMLDOMNode* child, IXMLDOMNode** out);
HRESULT appendChild(Store* s, uint32_t i, IXMLDOMNode* child, IXMLDOMNode** out);
HRESULT hasChildNodes(Store* s, uint32_t i, VARIANT_BOOL* out);
HRESULT ownerDocument(Store* s, uint32_t i, IXMLDOMDocument** out);
HRESULT cloneNode(Store* s, uint32_t i, VARIANT_BOOL deep, IXMLDOMNode** out);
HRESULT nodeTypeString(Store* s, uint32_t i, BSTR* out);
HRESULT text(Store* s, uint32_t i, BSTR* out);
HRESULT putText(Store* s, uint32_t i, BSTR text);
HRESULT xml(Store* s, uint32_t i, BSTR* out);
HRESULT namespaceURI(Store* s, uint32_t i, BSTR* out);
HRESULT prefix(Store* s, uint32_t i, BSTR* out);
HRESULT baseName(Store* s, uint32_t i, BSTR* out);
/* Sets the character data of a text, comment, CDATA, PI or attribute record
   after checking that XML can carry it there. */
HRESULT setCharacterData(Store* s, uint32_t i, const char16_t* text, size_t n);
/* The attribute of element e with the qualified name q (checked): the one e
   has, or a new record not yet linked (*added). 0 when out of memory. */
uint32_t attributeFor(Store* s, uint32_t e, std::u16string_view q, bool* added);
}  // namespace ops

#define TWDOM_NODE_FORWARDS                                                                             \
  HRESULT get_nodeName(BSTR* v) override { return ops::nodeName(handle_.store, handle_.index, v); }                   \
  HRESULT get_nodeValue(VARIANT* v) override { return ops::nodeValue(handle_.store, handle_.index, v); }              \
  HRESULT put_nodeValue(VARIANT v) override { return ops::putNodeValue(handle_.store, handle_.index, v); }            \
  HRESULT get_nodeType(DOMNodeType* v) override { return ops::nodeType(handle_.store, handle_.index, v); }            \
  HRESULT get_parentNode(IXMLDOMNode** v) override { return ops::parentNode(handle_.store, handle_.index, v); }       \
  HRESULT get_childNodes(IXMLDOMNodeList** v) override { return ops::childNodes(handle_.store, handle_.index, v); }   \
  HRESULT get_firstChild(IXMLDOMNode** v) override { return ops::firstChild(handle_.store, handle_.index, v); }       \
  HRESULT get_lastChild(IXMLDOMNode** v) override { return ops::lastChild(handle_.store, handle_.index, v); }         \
  HRESULT get_previousSibling(IXMLDOMNode** v) override { return ops::previousSibling(handle_.store, handle_.index, v); } \
  HRESULT get_nextSibling(IXMLDOMNode** v) override { return ops::nextSibling(handle_.store, handle_.index, v); }     \
  HRESULT get_attributes(IXMLDOMNamedNodeMap** v) override { return ops::attributes(handle_.store, handle_.index, v); } \
  HRESULT insertBefore(IXMLDOMNode* c, VARIANT r, IXMLDOMNode** o) override {                          \
    return ops::insertBefore(handle_.store, handle_.index, c, r, o);                                                  \
  }                                                                                                     \
  HRESULT replaceChild(IXMLDOMNode* c, IXMLDOMNode* old, IXMLDOMNode** o) override {                   \
    return ops::replaceChild(handle_.store, handle_.index, c, old, o);                                                \
  }                                                                                                     \
  HRESULT removeChild(IXMLDOMNode* c, IXMLDOMNode** o) override { return ops::removeChild(handle_.store, handle_.index, c, o); } \
  HRESULT appendChild(IXMLDOMNode* c, IXMLDOMNode** o) override { return ops::appendChild(handle_.store, handle_.index, c, o); } \
  HRESULT hasChildNodes(VARIANT_BOOL* v) override { return ops::hasChildNodes(handle_.store, handle_.index, v); }     \
  HRESULT get_ownerDocument(IXMLDOMDocument** v) override { return ops::ownerDocument(handle_.store, handle_.index, v); } \
  HRESULT cloneNode(VARIANT_BOOL d, IXMLDOMNode** o) override { return ops::cloneNode(handle_.store, handle_.index, d, o); } \
  HRESULT get_nodeTypeString(BSTR* v) override { return ops::nodeTypeString(handle_.store, handle_.index, v); }       \
  HRESULT get_text(BSTR* v) override { return ops::text(handle_.store, handle_.index, v); }                           \
  HRESULT put_text(BSTR v) override { return ops::putText(handle_.store, handle_.index, v); }                          \
  HRESULT get_xml(BSTR* v) override { return ops::xml(handle_.store, handle_.index, v); }                             \
  HRESULT get_namespaceURI(BSTR* v) override { return ops::namespaceURI(handle_.store, handle_.index, v); }           \
  HRESULT get_prefix(BSTR* v) override { return ops::prefix(handle_.store, handle_.index, v); }                       \
  HRESULT get_baseName(BSTR* v) override { return ops::baseName(handle_.store, handle_.index, v); }

/* One node object per record that a caller holds: the faces it answers
   depend on the record's kind. */
class DomNode final : public IXMLDOMElement,
                      public IXMLDOMAttribute,
                      public IXMLDOMCDATASection,
                      public IXMLDOMComment,
                      public IXMLDOMProcessingInstruction,
                      public ISupportErrorInfo {
 public:
  /* A node object for record i, its memory recycled through the store. */
  static DomNode* Make(Store* store, uint32_t index);
  DomNode(const DomNode&) = delete;
  DomNode& operator=(const DomNode&) = delete;

  IXMLDOMNode* asNode() { return static_cast<IXMLDOMElement*>(this); }

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  TWDOM_NODE_FORWARDS

  // element
  HRESULT get_tagName(BSTR* name) override;
  HRESULT getAttribute(BSTR name, VARIANT* value) override;
  HRESULT setAttribute(BSTR name, VARIANT value) override;
  HRESULT removeAttribute(BSTR name) override;
  HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attribute) override;
  // attribute
  HRESULT get_name(BSTR* name) override;
  HRESULT get_value(VARIANT* value) override;
  HRESULT put_value(VARIANT value) override;
  // character data and processing instruction
  HRESULT get_data(BSTR* data) override;
  HRESULT put_data(BSTR data) override;
  HRESULT get_length(LONG* length) override;
  HRESULT appendData(BSTR data) override;
  HRESULT get_target(BSTR* target) override;
  // error information
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  DomNode(Store* store, uint32_t index);
  ~DomNode();
  NodeHandle handle_;
  ULONG refs_ = 1;  // one thread at a time per document (no atomics)
};

class DomDocument final : public IXMLDOMDocument,
                          public ISupportErrorInfo,
                          public IXMLDOMSkippedReferences,
                          public RecordBuilder {
 public:
  /* A document object over store (taking a reference on it). */
  explicit DomDocument(Store* store);
  DomDocument(const DomDocument&) = delete;
  DomDocument& operator=(const DomDocument&) = delete;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  TWDOM_NODE_FORWARDS

  HRESULT get_documentElement(IXMLDOMElement** element) override;
  HRESULT putref_documentElement(IXMLDOMElement* element) override;
  HRESULT createElement(BSTR tagName, IXMLDOMElement** element) override;
  HRESULT createTextNode(BSTR data, IXMLDOMText** text) override;
  HRESULT createComment(BSTR data, IXMLDOMComment** comment) override;
  HRESULT createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) override;
  HRESULT createProcessingInstruction(BSTR target, BSTR data, IXMLDOMProcessingInstruction** pi) override;
  HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) override;
  HRESULT createNode(VARIANT type, BSTR name, BSTR namespaceUri, IXMLDOMNode** node) override;
  HRESULT load(VARIANT source, VARIANT_BOOL* success) override;
  HRESULT loadXML(BSTR xml, VARIANT_BOOL* success) override;
  HRESULT save(VARIANT destination) override;
  HRESULT get_parseError(IXMLDOMParseError** error) override;
  HRESULT GetSkippedReferences(UINT* count, UINT* line, UINT* column, BSTR* name) override;
  HRESULT get_async(VARIANT_BOOL* async) override;
  HRESULT put_async(VARIANT_BOOL async) override;
  HRESULT get_preserveWhiteSpace(VARIANT_BOOL* preserve) override;
  HRESULT put_preserveWhiteSpace(VARIANT_BOOL preserve) override;

  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

  // building for the face (dom_build.cpp)
  uint32_t appendElement(uint32_t parent, std::string_view qname, std::string_view uri) override;
  bool setAttribute(uint32_t e, std::string_view qname, std::string_view value) override;
  bool appendText(uint32_t parent, std::string_view text) override;
  bool owns(const NodeRecord& node) const override { return node.store == handle_.store; }
  IXMLDOMNode* nodeObject(uint32_t i) override { return Wrap(handle_.store, i); }

 private:
  ~DomDocument();
  /* Creates a detached record of the kind with the name/data, checked. */
  HRESULT create(int kind, const char16_t* name, size_t nameLen, const char16_t* ns, size_t nsLen,
                 const char16_t* data, size_t dataLen, uint32_t* out);
  /* Loads from a stream input (see LoadDocument). */
  HRESULT loadFrom(IUnknown* input, VARIANT_BOOL* success);

  NodeHandle handle_;
  ULONG refs_ = 1;  // one thread at a time per document (no atomics)
};

class DomNodeList final : public IXMLDOMNodeList, public ISupportErrorInfo {
 public:
  DomNodeList(Store* store, uint32_t parent);
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT get_item(LONG index, IXMLDOMNode** node) override;
  HRESULT get_length(LONG* length) override;
  HRESULT nextNode(IXMLDOMNode** node) override;
  HRESULT reset() override;
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  ~DomNodeList();
  uint32_t at(LONG index);
  Store* store_;
  uint32_t parent_;
  ULONG refs_ = 1;  // one thread at a time per document (no atomics)
  // Position cache for sequential item access, valid for one generation.
  uint64_t cacheGen_ = ~0ull;
  LONG cacheIndex_ = -1;
  uint32_t cacheNode_ = 0;
  LONG iterIndex_ = 0;
};

class DomNamedNodeMap final : public IXMLDOMNamedNodeMap, public ISupportErrorInfo {
 public:
  static DomNamedNodeMap* Make(Store* store, uint32_t element);
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT getNamedItem(BSTR name, IXMLDOMNode** node) override;
  HRESULT setNamedItem(IXMLDOMNode* node, IXMLDOMNode** outNode) override;
  HRESULT removeNamedItem(BSTR name, IXMLDOMNode** outNode) override;
  HRESULT get_item(LONG index, IXMLDOMNode** node) override;
  HRESULT get_length(LONG* length) override;
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  DomNamedNodeMap(Store* store, uint32_t element);
  ~DomNamedNodeMap();
  Store* store_;
  uint32_t element_;
  ULONG refs_ = 1;  // one thread at a time per document (no atomics)
  // Position cache for sequential item access, valid for one generation.
  uint64_t cacheGen_ = ~0ull;
  LONG cacheIndex_ = -1;
  uint32_t cacheAttr_ = 0;
};

class DomParseError final : public IXMLDOMParseError, public ISupportErrorInfo {
 public:
  explicit DomParseError(const ParseErrorState& state) : state_(state) {}
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT get_errorCode(LONG* code) override;
  HRESULT get_reason(BSTR* reason) override;
  HRESULT get_line(LONG* line) override;
  HRESULT get_linepos(LONG* column) override;
  HRESULT get_filepos(LONG* offset) override;
  HRESULT get_srcText(BSTR* text) override;
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  ~DomParseError() = default;
  ParseErrorState state_;
  std::atomic<ULONG> refs_{1};
};

/* A growable in-memory IStream, used to exchange bytes with persistable
   objects and as the loader's buffer for text given as a string. Its bytes
   live in a pooled mapping: a document's worth of input is taken without
   copies on growth or fresh page faults. */
class MemoryStream final : public IStream {
 public:
  MemoryStream() = default;
  const char* data() const { return data_.data(); }
  size_t size() const { return data_.size(); }
  /* Room for n more bytes at the end; null when memory is exhausted. The
     caller fills some of them and counts them with grew(). */
  char* room(size_t n) { return data_.reserveMore(n) ? data_.data() + data_.size() : nullptr; }
  void grew(size_t n) { data_.extend(n); }
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override;
  HRESULT Write(const void* data, ULONG count, ULONG* written) override;
  HRESULT Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) override;
  HRESULT SetSize(ULARGE_INTEGER newSize) override;
  HRESULT CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
  HRESULT Commit(DWORD flags) override;
  HRESULT Revert() override;
  HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) override;
  HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD lockType) override;
  HRESULT Stat(STATSTG* stat, DWORD flags) override;
  HRESULT Clone(IStream** out) override;

 private:
  ~MemoryStream() = default;
  /* Sets the size, zero-filling what grows; false when memory is exhausted. */
  bool resize(size_t n);
  GrowArray<char> data_{pool::kDomInput};
  size_t pos_ = 0;
  std::atomic<ULONG> refs_{1};
};

/* Serialisation of a whole document into bytes pushed to a sink. */
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual HRESULT write(const char* data, size_t n) = 0;
};
/* Writes the document in the encoding its declaration names. */
HRESULT SaveDocument(Store* store, ByteSink& sink);

/* Replaces the content of a document with what the parser makes of input
   (an ISequentialStream or IStream).
   declData, when given, becomes the data of the declaration node (the
   document's own text of it). On failure the parse error is filled and the
   document is left empty. */
HRESULT LoadDocument(Store* store, IUnknown* input, const std::u16string* declData);
/* The class factory registered under CLSID_DOMDocument. */
HRESULT CreateDocument(IUnknown* outer, REFIID iid, void** out);
/* Empties a document: in place when nothing else references its store,
   otherwise by detaching its children (they live on for their holders). */
void ResetContent(Store* store);
/* The load-failure message for a code that did not come from the parser
   (no document element, out of memory, a failed stream), in the parser's
   words. */
std::string ReasonFor(HRESULT hr);

/* Checks the data of an XML declaration (version, then optional encoding and
   standalone pseudo-attributes); stores the encoding name (empty if none). */
bool ParseXmlDecl(std::u16string_view data, std::u16string* encoding);
/* Finds the value of the encoding pseudo-attribute in declaration text. */
bool FindDeclEncoding(std::u16string_view text, size_t* valueStart, size_t* valueEnd);

}  // namespace twdom
