// The document object model: interfaces of the DOM document class that
// CoCreateInstance(CLSID_DOMDocument, ..., IID_IXMLDOMDocument) makes.
// BSTR arguments are read up to their terminating zero, so plain
// zero-terminated UTF-16 text may be passed where a BSTR is asked for.
// Every interface answers ISupportErrorInfo; failures set the thread's error
// information with a readable description.
#pragma once

#include "twxml/platform/com.h"

enum tagDOMNodeType {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_CDATA_SECTION = 4,
  NODE_ENTITY_REFERENCE = 5,
  NODE_ENTITY = 6,
  NODE_PROCESSING_INSTRUCTION = 7,
  NODE_COMMENT = 8,
  NODE_DOCUMENT = 9,
  NODE_DOCUMENT_TYPE = 10,
  NODE_DOCUMENT_FRAGMENT = 11,
  NODE_NOTATION = 12
};
typedef tagDOMNodeType DOMNodeType;

inline constexpr GUID CLSID_DOMDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
inline constexpr GUID IID_IXMLDOMDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
inline constexpr GUID IID_IXMLDOMNode = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
inline constexpr GUID IID_IXMLDOMElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
inline constexpr GUID IID_IXMLDOMNodeList = {0x7c3d5f01, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMNamedNodeMap = {0x7c3d5f02, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMAttribute = {0x7c3d5f03, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMCharacterData = {0x7c3d5f04, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMText = {0x7c3d5f05, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMComment = {0x7c3d5f06, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMCDATASection = {0x7c3d5f07, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMProcessingInstruction = {0x7c3d5f08, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMParseError = {0x7c3d5f09, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};
inline constexpr GUID IID_IXMLDOMSkippedReferences = {0x7c3d5f0a, 0x1e2a, 0x4b6c, {0x8f, 0x10, 0x64, 0x6f, 0x6d, 0x00, 0x00, 0x01}};

struct IXMLDOMDocument;
struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;
struct IXMLDOMElement;
struct IXMLDOMAttribute;
struct IXMLDOMText;
struct IXMLDOMComment;
struct IXMLDOMCDATASection;
struct IXMLDOMProcessingInstruction;
struct IXMLDOMParseError;

/* Out pointers receive a new reference (or null with S_FALSE where there is
   no such node). */
struct IXMLDOMNode : IUnknown {
  virtual HRESULT get_nodeName(BSTR* name) = 0;
  /* VT_BSTR for text, comment, CDATA, PI and attribute nodes; VT_NULL otherwise. */
  virtual HRESULT get_nodeValue(VARIANT* value) = 0;
  virtual HRESULT put_nodeValue(VARIANT value) = 0;
  virtual HRESULT get_nodeType(DOMNodeType* type) = 0;
  virtual HRESULT get_parentNode(IXMLDOMNode** parent) = 0;
  virtual HRESULT get_childNodes(IXMLDOMNodeList** children) = 0;
  virtual HRESULT get_firstChild(IXMLDOMNode** child) = 0;
  virtual HRESULT get_lastChild(IXMLDOMNode** child) = 0;
  virtual HRESULT get_previousSibling(IXMLDOMNode** sibling) = 0;
  virtual HRESULT get_nextSibling(IXMLDOMNode** sibling) = 0;
  virtual HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) = 0;
  /* refChild: VT_UNKNOWN/VT_DISPATCH node (null appends), VT_EMPTY or VT_NULL appends. */
  virtual HRESULT insertBefore(IXMLDOMNode* newChild, VARIANT refChild, IXMLDOMNode** outNewChild) = 0;
  virtual HRESULT replaceChild(IXMLDOMNode* newChild, IXMLDOMNode* oldChild, IXMLDOMNode** outOldChild) = 0;
  virtual HRESULT removeChild(IXMLDOMNode* child, IXMLDOMNode** outOldChild) = 0;
  virtual HRESULT appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) = 0;
  virtual HRESULT hasChildNodes(VARIANT_BOOL* hasChildren) = 0;
  virtual HRESULT get_ownerDocument(IXMLDOMDocument** document) = 0;
  virtual HRESULT cloneNode(VARIANT_BOOL deep, IXMLDOMNode** clone) = 0;
  virtual HRESULT get_nodeTypeString(BSTR* typeName) = 0;
  /* The concatenated text of the node and its descendants. */
  virtual HRESULT get_text(BSTR* text) = 0;
  /* Replaces the children by one text node (or sets the value of a character node). */
  virtual HRESULT put_text(BSTR text) = 0;
  virtual HRESULT get_xml(BSTR* xml) = 0;
  virtual HRESULT get_namespaceURI(BSTR* uri) = 0;
  virtual HRESULT get_prefix(BSTR* prefix) = 0;
  virtual HRESULT get_baseName(BSTR* localName) = 0;
};

struct IXMLDOMNodeList : IUnknown {
  virtual HRESULT get_item(LONG index, IXMLDOMNode** node) = 0;
  virtual HRESULT get_length(LONG* length) = 0;
  virtual HRESULT nextNode(IXMLDOMNode** node) = 0;
  virtual HRESULT reset() = 0;
};

struct IXMLDOMNamedNodeMap : IUnknown {
  virtual HRESULT getNamedItem(BSTR name, IXMLDOMNode** node) = 0;
  virtual HRESULT setNamedItem(IXMLDOMNode* node, IXMLDOMNode** outNode) = 0;
  virtual HRESULT removeNamedItem(BSTR name, IXMLDOMNode** outNode) = 0;
  virtual HRESULT get_item(LONG index, IXMLDOMNode** node) = 0;
  virtual HRESULT get_length(LONG* length) = 0;
};

struct IXMLDOMElement : IXMLDOMNode {
  virtual HRESULT get_tagName(BSTR* name) = 0;
  /* VT_BSTR with the value, or S_FALSE with VT_NULL when there is no such attribute. */
  virtual HRESULT getAttribute(BSTR name, VARIANT* value) = 0;
  /* The value is turned into text (numbers as decimal); invalid names fail. */
  virtual HRESULT setAttribute(BSTR name, VARIANT value) = 0;
  virtual HRESULT removeAttribute(BSTR name) = 0;
  virtual HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attribute) = 0;
};

struct IXMLDOMAttribute : IXMLDOMNode {
  virtual HRESULT get_name(BSTR* name) = 0;
  virtual HRESULT get_value(VARIANT* value) = 0;
  virtual HRESULT put_value(VARIANT value) = 0;
};

struct IXMLDOMCharacterData : IXMLDOMNode {
  virtual HRESULT get_data(BSTR* data) = 0;
  virtual HRESULT put_data(BSTR data) = 0;
  virtual HRESULT get_length(LONG* length) = 0;
  virtual HRESULT appendData(BSTR data) = 0;
};

struct IXMLDOMText : IXMLDOMCharacterData {};
struct IXMLDOMComment : IXMLDOMCharacterData {};
struct IXMLDOMCDATASection : IXMLDOMText {};

struct IXMLDOMProcessingInstruction : IXMLDOMNode {
  virtual HRESULT get_target(BSTR* target) = 0;
  virtual HRESULT get_data(BSTR* data) = 0;
  virtual HRESULT put_data(BSTR data) = 0;
};

struct IXMLDOMParseError : IUnknown {
  /* 0 after a successful load; the parser's failure code otherwise. */
  virtual HRESULT get_errorCode(LONG* code) = 0;
  virtual HRESULT get_reason(BSTR* reason) = 0;
  virtual HRESULT get_line(LONG* line) = 0;
  virtual HRESULT get_linepos(LONG* column) = 0;
  virtual HRESULT get_filepos(LONG* offset) = 0;
  virtual HRESULT get_srcText(BSTR* text) = 0;
};

/* Extension, asked of a document with QueryInterface: entity references the
   last load left unexpanded because what they name lies outside the document
   (an external parsed entity, or an entity only the external subset can
   declare; nothing outside the document is read). S_OK with their count, the
   position and the name of the first (*name a new BSTR); S_FALSE with 0, 0, 0
   and a null name when there were none. */
struct IXMLDOMSkippedReferences : IUnknown {
  virtual HRESULT GetSkippedReferences(UINT* count, UINT* line, UINT* column, BSTR* name) = 0;
};

struct IXMLDOMDocument : IXMLDOMNode {
  virtual HRESULT get_documentElement(IXMLDOMElement** element) = 0;
  virtual HRESULT putref_documentElement(IXMLDOMElement* element) = 0;
  virtual HRESULT createElement(BSTR tagName, IXMLDOMElement** element) = 0;
  virtual HRESULT createTextNode(BSTR data, IXMLDOMText** text) = 0;
  virtual HRESULT createComment(BSTR data, IXMLDOMComment** comment) = 0;
  virtual HRESULT createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) = 0;
  virtual HRESULT createProcessingInstruction(BSTR target, BSTR data,
                                              IXMLDOMProcessingInstruction** pi) = 0;
  virtual HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) = 0;
  /* type: VT_I4 (or text convertible to it) holding a DOMNodeType. */
  virtual HRESULT createNode(VARIANT type, BSTR name, BSTR namespaceUri, IXMLDOMNode** node) = 0;
  /* source: VT_UNKNOWN holding an IStream, ISequentialStream or IPersistStream.
     S_FALSE with *success false when the bytes do not parse. */
  virtual HRESULT load(VARIANT source, VARIANT_BOOL* success) = 0;
  virtual HRESULT loadXML(BSTR xml, VARIANT_BOOL* success) = 0;
  /* destination: VT_UNKNOWN holding an IStream or IPersistStream. */
  virtual HRESULT save(VARIANT destination) = 0;
  virtual HRESULT get_parseError(IXMLDOMParseError** error) = 0;
  virtual HRESULT get_async(VARIANT_BOOL* async) = 0;
  virtual HRESULT put_async(VARIANT_BOOL async) = 0;
  virtual HRESULT get_preserveWhiteSpace(VARIANT_BOOL* preserve) = 0;
  virtual HRESULT put_preserveWhiteSpace(VARIANT_BOOL preserve) = 0;
};
