// The streaming XML reader and writer: interfaces of the loadable module that
// LoadLibraryA("XmlLite.dll") maps to. The module exports the three factory
// functions at the end of this header; the library binds them at run time.
#pragma once

#include "twxml/platform/com.h"
#include "twxml/platform/com_macros.h"

typedef intptr_t LONG_PTR;

enum XmlNodeType {
  XmlNodeType_None = 0,
  XmlNodeType_Element = 1,
  XmlNodeType_Attribute = 2,
  XmlNodeType_Text = 3,
  XmlNodeType_CDATA = 4,
  XmlNodeType_ProcessingInstruction = 7,
  XmlNodeType_Comment = 8,
  XmlNodeType_DocumentType = 10,
  XmlNodeType_Whitespace = 13,
  XmlNodeType_EndElement = 15,
  XmlNodeType_XmlDeclaration = 17
};

enum XmlReaderProperty {
  XmlReaderProperty_MultiLanguage = 0,
  XmlReaderProperty_ConformanceLevel = 1,
  XmlReaderProperty_RandomAccess = 2,
  XmlReaderProperty_XmlResolver = 3,
  XmlReaderProperty_DtdProcessing = 4,
  XmlReaderProperty_ReadState = 5,
  XmlReaderProperty_MaxElementDepth = 6,
  XmlReaderProperty_MaxEntityExpansion = 7
};

enum XmlWriterProperty {
  XmlWriterProperty_MultiLanguage = 0,
  XmlWriterProperty_Indent = 1,
  XmlWriterProperty_ByteOrderMark = 2,
  XmlWriterProperty_OmitXmlDeclaration = 3,
  XmlWriterProperty_ConformanceLevel = 4
};

enum DtdProcessing { DtdProcessing_Prohibit = 0, DtdProcessing_Parse = 1 };
enum XmlConformanceLevel {
  XmlConformanceLevel_Auto = 0,
  XmlConformanceLevel_Fragment = 1,
  XmlConformanceLevel_Document = 2
};
enum XmlReadState {
  XmlReadState_Initial = 0,
  XmlReadState_Interactive = 1,
  XmlReadState_Error = 2,
  XmlReadState_EndOfFile = 3,
  XmlReadState_Closed = 4
};
enum XmlStandalone { XmlStandalone_Omit = 0, XmlStandalone_Yes = 1, XmlStandalone_No = 2 };

/* Failure classes of the reader and writer (facility 0xC00C). */
#define MX_E_INPUTEND TW_HR(0xC00CEE02u)        /* unexpected end of input */
#define MX_E_ENCODING TW_HR(0xC00CEE03u)        /* unrecognised encoding */
#define MX_E_ENCODINGSWITCH TW_HR(0xC00CEE04u)  /* cannot switch encoding */
#define MX_E_ENCODINGSIGNATURE TW_HR(0xC00CEE05u)
#define WC_E_WHITESPACE TW_HR(0xC00CEE21u)
#define WC_E_SEMICOLON TW_HR(0xC00CEE22u)
#define WC_E_GREATERTHAN TW_HR(0xC00CEE23u)
#define WC_E_QUOTE TW_HR(0xC00CEE24u)
#define WC_E_EQUAL TW_HR(0xC00CEE25u)
#define WC_E_LESSTHAN TW_HR(0xC00CEE26u)
#define WC_E_HEXDIGIT TW_HR(0xC00CEE27u)
#define WC_E_DIGIT TW_HR(0xC00CEE28u)
#define WC_E_LEFTBRACKET TW_HR(0xC00CEE29u)
#define WC_E_LEFTPAREN TW_HR(0xC00CEE2Au)
#define WC_E_XMLCHARACTER TW_HR(0xC00CEE2Bu)  /* character not allowed in XML */
#define WC_E_NAMECHARACTER TW_HR(0xC00CEE2Cu)
#define WC_E_SYNTAX TW_HR(0xC00CEE2Du)
#define WC_E_CDSECT TW_HR(0xC00CEE2Eu)
#define WC_E_COMMENT TW_HR(0xC00CEE2Fu)
#define WC_E_CONDSECT TW_HR(0xC00CEE30u)
#define WC_E_DECLATTLIST TW_HR(0xC00CEE31u)
#define WC_E_DECLDOCTYPE TW_HR(0xC00CEE32u)
#define WC_E_DECLELEMENT TW_HR(0xC00CEE33u)
#define WC_E_DECLENTITY TW_HR(0xC00CEE34u)
#define WC_E_DECLNOTATION TW_HR(0xC00CEE35u)
#define WC_E_NDATA TW_HR(0xC00CEE36u)
#define WC_E_PUBLIC TW_HR(0xC00CEE37u)
#define WC_E_SYSTEM TW_HR(0xC00CEE38u)
#define WC_E_NAME TW_HR(0xC00CEE39u)
#define WC_E_ROOTELEMENT TW_HR(0xC00CEE3Au)    /* missing or second root element */
#define WC_E_ELEMENTMATCH TW_HR(0xC00CEE3Bu)   /* end tag does not match start tag */
#define WC_E_UNIQUEATTRIBUTE TW_HR(0xC00CEE3Cu)
#define WC_E_TEXTXMLDECL TW_HR(0xC00CEE3Du)
#define WC_E_LEADINGXML TW_HR(0xC00CEE3Eu)
#define WC_E_TEXTDECL TW_HR(0xC00CEE3Fu)
#define WC_E_XMLDECL TW_HR(0xC00CEE40u)
#define WC_E_ENCNAME TW_HR(0xC00CEE41u)
#define WC_E_PUBLICID TW_HR(0xC00CEE42u)
#define WC_E_PESINTERNALSUBSET TW_HR(0xC00CEE43u)
#define WC_E_PESBETWEENDECLS TW_HR(0xC00CEE44u)
#define WC_E_NORECURSION TW_HR(0xC00CEE45u)    /* entity refers to itself */
#define WC_E_ENTITYCONTENT TW_HR(0xC00CEE46u)
#define WC_E_UNDECLAREDENTITY TW_HR(0xC00CEE47u)
#define WC_E_PARSEDENTITY TW_HR(0xC00CEE48u)
#define WC_E_NOEXTERNALENTITYREF TW_HR(0xC00CEE49u)
#define WC_E_PI TW_HR(0xC00CEE4Au)
#define WC_E_SYSTEMID TW_HR(0xC00CEE4Bu)
#define WC_E_QUESTIONMARK TW_HR(0xC00CEE4Cu)
#define WC_E_CDSECTEND TW_HR(0xC00CEE4Du)
#define WC_E_MOREDATA TW_HR(0xC00CEE4Eu)         /* content after the root element */
#define WC_E_DTDPROHIBITED TW_HR(0xC00CEE4Fu)
#define WC_E_INVALIDXMLSPACE TW_HR(0xC00CEE50u)
#define NC_E_NAMECOLON TW_HR(0xC00CEE60u)
#define NC_E_QNAMECHARACTER TW_HR(0xC00CEE61u)
#define NC_E_QNAMECOLON TW_HR(0xC00CEE62u)
#define NC_E_NAMESPACE TW_HR(0xC00CEE63u)      /* undeclared prefix */
#define NC_E_UNDECLAREDPREFIX TW_HR(0xC00CEE64u)
#define NC_E_EMPTYURI TW_HR(0xC00CEE65u)
#define NC_E_XMLPREFIXRESERVED TW_HR(0xC00CEE66u)
#define NC_E_XMLNSPREFIXRESERVED TW_HR(0xC00CEE67u)
#define NC_E_XMLURIRESERVED TW_HR(0xC00CEE68u)
#define NC_E_XMLNSURIRESERVED TW_HR(0xC00CEE69u)
#define SC_E_MAXELEMENTDEPTH TW_HR(0xC00CEE80u)
#define SC_E_MAXENTITYEXPANSION TW_HR(0xC00CEE81u)
#define WR_E_NONWHITESPACE TW_HR(0xC00CEF00u)  /* writer: text that XML cannot carry */
#define WR_E_NSPREFIXDECLARED TW_HR(0xC00CEF01u)
#define WR_E_NSPREFIXWITHEMPTYNSURI TW_HR(0xC00CEF02u)
#define WR_E_DUPLICATEATTRIBUTE TW_HR(0xC00CEF03u)
#define WR_E_XMLNSPREFIXDECLARATION TW_HR(0xC00CEF04u)
#define WR_E_XMLPREFIXDECLARATION TW_HR(0xC00CEF05u)
#define WR_E_XMLURIDECLARATION TW_HR(0xC00CEF06u)
#define WR_E_XMLNSURIDECLARATION TW_HR(0xC00CEF07u)
#define WR_E_NAMESPACEUNDECLARED TW_HR(0xC00CEF08u)
#define WR_E_INVALIDXMLSPACE TW_HR(0xC00CEF09u)
#define WR_E_INVALIDACTION TW_HR(0xC00CEF0Au)   /* call not allowed in this state */
#define WR_E_INVALIDSURROGATEPAIR TW_HR(0xC00CEF0Bu)
#define WR_E_INVALIDNAME TW_HR(0xC00CEF0Cu)
#define WR_E_INVALIDCHARACTER TW_HR(0xC00CEF0Du)
#define WR_E_UNKNOWNENCODING TW_HR(0xC00CEF0Eu)

TW_DEFINE_GUID(IID_IXmlReader, 0x6a1f3e20, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77, 0x78, 0x6d, 0x6c, 0x01);
TW_DEFINE_GUID(IID_IXmlWriter, 0x6a1f3e21, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77, 0x78, 0x6d, 0x6c, 0x01);
TW_DEFINE_GUID(IID_IXmlWriterOutput, 0x6a1f3e22, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77, 0x78, 0x6d, 0x6c, 0x01);
TW_DEFINE_GUID(IID_IXmlReaderError, 0x6a1f3e23, 0x5b7c, 0x4e21, 0x9d, 0x31, 0x74, 0x77, 0x78, 0x6d, 0x6c, 0x01);

struct IXmlReader : IUnknown {
  /* input: an IStream, or any IUnknown answering ISequentialStream/IStream; null detaches. */
  virtual HRESULT SetInput(IUnknown* input) = 0;
  virtual HRESULT GetProperty(UINT property, LONG_PTR* value) = 0;
  virtual HRESULT SetProperty(UINT property, LONG_PTR value) = 0;
  /* S_OK with the next node's type, S_FALSE at the end, a failure code on
     malformed input or stream failure (and on every call after one). */
  virtual HRESULT Read(XmlNodeType* nodeType) = 0;
  virtual HRESULT GetNodeType(XmlNodeType* nodeType) = 0;
  virtual HRESULT MoveToFirstAttribute() = 0;
  virtual HRESULT MoveToNextAttribute() = 0;
  /* S_FALSE when the element has no such attribute. */
  virtual HRESULT MoveToAttributeByName(LPCWSTR localName, LPCWSTR namespaceUri) = 0;
  virtual HRESULT MoveToElement() = 0;
  /* Strings are zero-terminated and stay valid until the reader moves. */
  virtual HRESULT GetQualifiedName(LPCWSTR* name, UINT* length) = 0;
  virtual HRESULT GetNamespaceUri(LPCWSTR* uri, UINT* length) = 0;
  virtual HRESULT GetLocalName(LPCWSTR* name, UINT* length) = 0;
  virtual HRESULT GetPrefix(LPCWSTR* prefix, UINT* length) = 0;
  virtual HRESULT GetValue(LPCWSTR* value, UINT* length) = 0;
  virtual HRESULT ReadValueChunk(WCHAR* buffer, UINT chunkSize, UINT* read) = 0;
  virtual HRESULT GetBaseUri(LPCWSTR* uri, UINT* length) = 0;
  virtual BOOL IsDefault() = 0;
  virtual BOOL IsEmptyElement() = 0;
  virtual HRESULT GetLineNumber(UINT* line) = 0;
  virtual HRESULT GetLinePosition(UINT* position) = 0;
  virtual HRESULT GetAttributeCount(UINT* count) = 0;
  virtual HRESULT GetDepth(UINT* depth) = 0;
  virtual BOOL IsEOF() = 0;
};

/* Extension, asked of a reader with QueryInterface(IID_IXmlReaderError):
   why and where its Read failed. */
struct IXmlReaderError : IUnknown {
  /* S_OK with the 1-based line and column and the message (UTF-16, valid
     until the reader gets new input or goes) once Read has failed; S_FALSE
     with 0, 0 and an empty message while nothing has failed. */
  virtual HRESULT GetLastError(UINT* line, UINT* column, LPCWSTR* message) = 0;
  /* Entity references read so far that were left unexpanded because what
     they name lies outside the document (an external parsed entity, or an
     entity only the external subset can declare; nothing outside is read).
     S_OK with their count, the position and the name (UTF-16, valid until
     the reader gets new input or goes) of the first; S_FALSE with 0, 0, 0
     and an empty name when there were none. */
  virtual HRESULT GetSkippedReferences(UINT* count, UINT* line, UINT* column,
                                       LPCWSTR* firstName) = 0;
};

struct IXmlWriter : IUnknown {
  /* output: an IStream/ISequentialStream, or an output made by
     CreateXmlWriterOutputWithEncodingName. */
  virtual HRESULT SetOutput(IUnknown* output) = 0;
  virtual HRESULT GetProperty(UINT property, LONG_PTR* value) = 0;
  virtual HRESULT SetProperty(UINT property, LONG_PTR value) = 0;
  virtual HRESULT WriteAttributes(IXmlReader* reader, BOOL writeDefaultAttributes) = 0;
  virtual HRESULT WriteAttributeString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                                       LPCWSTR value) = 0;
  virtual HRESULT WriteCData(LPCWSTR text) = 0;
  virtual HRESULT WriteCharEntity(WCHAR ch) = 0;
  virtual HRESULT WriteChars(const WCHAR* chars, UINT count) = 0;
  virtual HRESULT WriteComment(LPCWSTR comment) = 0;
  virtual HRESULT WriteDocType(LPCWSTR name, LPCWSTR publicId, LPCWSTR systemId,
                               LPCWSTR subset) = 0;
  virtual HRESULT WriteElementString(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri,
                                     LPCWSTR value) = 0;
  virtual HRESULT WriteEndDocument() = 0;
  virtual HRESULT WriteEndElement() = 0;
  virtual HRESULT WriteEntityRef(LPCWSTR name) = 0;
  virtual HRESULT WriteFullEndElement() = 0;
  virtual HRESULT WriteName(LPCWSTR name) = 0;
  virtual HRESULT WriteNmToken(LPCWSTR nmToken) = 0;
  virtual HRESULT WriteNode(IXmlReader* reader, BOOL writeDefaultAttributes) = 0;
  virtual HRESULT WriteNodeShallow(IXmlReader* reader, BOOL writeDefaultAttributes) = 0;
  virtual HRESULT WriteProcessingInstruction(LPCWSTR name, LPCWSTR text) = 0;
  virtual HRESULT WriteQualifiedName(LPCWSTR localName, LPCWSTR namespaceUri) = 0;
  virtual HRESULT WriteRaw(LPCWSTR data) = 0;
  virtual HRESULT WriteRawChars(const WCHAR* chars, UINT count) = 0;
  virtual HRESULT WriteStartDocument(XmlStandalone standalone) = 0;
  virtual HRESULT WriteStartElement(LPCWSTR prefix, LPCWSTR localName, LPCWSTR namespaceUri) = 0;
  virtual HRESULT WriteString(LPCWSTR text) = 0;
  virtual HRESULT WriteSurrogateCharEntity(WCHAR lowChar, WCHAR highChar) = 0;
  virtual HRESULT WriteWhitespace(LPCWSTR whitespace) = 0;
  virtual HRESULT Flush() = 0;
};

/* Entry points of the loadable module (bound by name at run time). */
typedef HRESULT (*PFN_CreateXmlReader)(REFIID iid, void** out, IMalloc* malloc);
typedef HRESULT (*PFN_CreateXmlWriter)(REFIID iid, void** out, IMalloc* malloc);
typedef HRESULT (*PFN_CreateXmlWriterOutputWithEncodingName)(IUnknown* stream, IMalloc* malloc,
                                                             LPCWSTR encodingName,
                                                             IUnknown** output);

extern "C" {
TWXML_API HRESULT CreateXmlReader(REFIID iid, void** out, IMalloc* malloc);
TWXML_API HRESULT CreateXmlWriter(REFIID iid, void** out, IMalloc* malloc);
TWXML_API HRESULT CreateXmlWriterOutputWithEncodingName(IUnknown* stream, IMalloc* malloc,
                                                        LPCWSTR encodingName, IUnknown** output);
}
