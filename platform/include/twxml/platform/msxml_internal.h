// The document model's records read in place, for the document face: names,
// character data and attributes without a BSTR for each, and element
// children stepped without a node object for every child passed over; and
// records appended the same way when the face builds a document. Only
// node objects of this model have a record (RecordOf answers null for any
// other object), so the face keeps its COM calls for everything else. The
// record answers through virtual calls: the face needs no link to the model.
// Not installed; not exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "twxml/platform/com_macros.h"
#include "twxml/platform/msxml.h"

namespace twdom {

class Store;

/* A record of a document, what each node object of the model stands for,
   with the answers the face reads in place (the same the COM calls give).
   Other records are named by index within the same document. An interface
   only (the model implements it), so using it needs no link to the model. */
class NodeRecord {
 public:
  NodeRecord(const NodeRecord&) = delete;
  NodeRecord& operator=(const NodeRecord&) = delete;

  /* What get_nodeType answers. */
  virtual DOMNodeType type() const = 0;
  /* What get_nodeName answers, zero-terminated UTF-16 that lives as long as
     the node; *length in units. */
  virtual const char16_t* name(size_t* length) const = 0;
  /* The same as UTF-8; *length in bytes. */
  virtual const char* name8(size_t* length) const = 0;
  /* The first child of the wanted type, or 0. */
  virtual uint32_t firstChildOfType(DOMNodeType wanted) const = 0;
  /* The first sibling after this node of the wanted type, or 0 (attributes
     have none). */
  virtual uint32_t nextSiblingOfType(DOMNodeType wanted) const = 0;
  /* The attribute of this element with the qualified name, or 0. */
  virtual uint32_t attribute(std::u16string_view qname) const = 0;
  /* Character data of record i (text, comment, attribute value, ...) as
     UTF-8 (no zero inside), the UTF-16 units it makes, and those units
     written to out, which holds as many units as the UTF-8 has bytes
     (returns the units written). */
  virtual std::string_view text8(uint32_t i) const = 0;
  virtual size_t textUnits(uint32_t i) const = 0;
  virtual size_t textUtf16(uint32_t i, char16_t* out) const = 0;
  /* A node object for record i with a new reference; null when out of
     memory. */
  virtual IXMLDOMNode* nodeObject(uint32_t i) const = 0;

  Store* const store;
  const uint32_t index;

 protected:
  NodeRecord(Store* s, uint32_t i) : store(s), index(i) {}
  ~NodeRecord() = default;
};

/* QueryInterface with this identifier yields the NodeRecord of a node object
   of this model (no reference taken). */
TW_DEFINE_GUID(IID_TwDomNodeHandle, 0x7c3d5f7f, 0x1e2a, 0x4b6c, 0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x7f);

/* The record behind a node object of this model, or null. */
inline const NodeRecord* RecordOf(IUnknown* node) {
  void* p = nullptr;
  if (!node || FAILED(node->QueryInterface(IID_TwDomNodeHandle, &p))) return nullptr;
  return static_cast<const NodeRecord*>(p);
}

/* The write side for the face: records appended to a document of this model
   straight from UTF-8, without a node object, a BSTR or a variant for each.
   Each call does exactly what the COM calls named with it do when they
   succeed, or nothing observable and answers 0 / false: when the text is not
   well-formed UTF-8, when a check refuses it or memory runs out. The caller
   then makes the COM calls, which give the same result or the refusal. The
   records are those of the document's own store (NodeRecord::index). */
class RecordBuilder {
 public:
  RecordBuilder(const RecordBuilder&) = delete;
  RecordBuilder& operator=(const RecordBuilder&) = delete;

  /* createNode(NODE_ELEMENT, qname, uri) appended to element parent with
     appendChild: the new record. */
  virtual uint32_t appendElement(uint32_t parent, std::string_view qname, std::string_view uri) = 0;
  /* setAttribute(qname, text value) on element e. */
  virtual bool setAttribute(uint32_t e, std::string_view qname, std::string_view value) = 0;
  /* createNode(NODE_TEXT) given text with put_text, appended to element
     parent with appendChild. */
  virtual bool appendText(uint32_t parent, std::string_view text) = 0;
  /* Whether node is a node object of this very document. */
  virtual bool owns(const NodeRecord& node) const = 0;
  /* A node object for record i with a new reference; null when out of
     memory. */
  virtual IXMLDOMNode* nodeObject(uint32_t i) = 0;

 protected:
  RecordBuilder() = default;
  ~RecordBuilder() = default;
};

/* QueryInterface with this identifier yields the RecordBuilder of a
   document object of this model (no reference taken). */
TW_DEFINE_GUID(IID_TwDomRecordBuilder, 0x7c3d5f80, 0x1e2a, 0x4b6c, 0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x80);

/* The builder of a document object of this model, or null. */
inline RecordBuilder* BuilderOf(IUnknown* document) {
  void* p = nullptr;
  if (!document || FAILED(document->QueryInterface(IID_TwDomRecordBuilder, &p))) return nullptr;
  return static_cast<RecordBuilder*>(p);
}

}  // namespace twdom
