// The document face: abstract classes over a whole document, its nodes and
// the byte streams it loads from and saves to. The order of the virtual
// operations is part of the exported interface. Wide text is UTF-16 (WCHAR).
#pragma once

#include <cstddef>
#include <new>

#include "twxml/kxstream.h"
#include "twxml/platform/com.h"
#include "twxml/platform/msxml.h"

class KxXMLNode;
namespace twxml_dom {
class RecordWriter;
}

class TWXML_API KxXMLParser {
 public:
  virtual ~KxXMLParser();
  virtual int LoadFromStreamF(KxStream* stream) = 0;
  virtual void SaveToStreamV(KxStream* stream) = 0;
  virtual int PutRootElementF(KxXMLNode* element) = 0;
  virtual KxXMLNode* GetRootElementP() = 0;
  virtual KxXMLNode* CreateElementP(char* name, char* namespaceUri) = 0;
  virtual KxXMLNode* CreateElementP(WCHAR* name, WCHAR* namespaceUri) = 0;
  virtual KxXMLNode* CreateTextP(char* text) = 0;
  virtual KxXMLNode* CreateTextP(WCHAR* text) = 0;
  virtual KxXMLNode* CreateCommentP(char* text) = 0;
  virtual KxXMLNode* CreateCommentP(WCHAR* text) = 0;
  virtual int AppendElementF(KxXMLNode* parent, KxXMLNode* child) = 0;
  virtual int AppendElementF(KxXMLNode* parent, char* name, char* namespaceUri) = 0;
  virtual int AppendElementF(KxXMLNode* parent, WCHAR* name, WCHAR* namespaceUri) = 0;
  virtual int AppendTextF(KxXMLNode* parent, char* text) = 0;
  virtual int AppendTextF(KxXMLNode* parent, WCHAR* text) = 0;
  virtual int AppendCommentF(KxXMLNode* parent, char* text) = 0;
  virtual int AppendCommentF(KxXMLNode* parent, WCHAR* text) = 0;
  virtual int SetEncodingF(char* encoding) = 0;

  KxXMLParser(const KxXMLParser&) {}
  KxXMLParser& operator=(const KxXMLParser&) { return *this; }

 protected:
  KxXMLParser() {}
};

class TWXML_API KxXMLNode {
 public:
  virtual ~KxXMLNode();
  virtual WCHAR* GetNameBstr() = 0;
  virtual int AppendNodeF(KxXMLNode* child) = 0;
  virtual WCHAR* GetValueBstr() = 0;
  virtual int PutValueF(WCHAR* text) = 0;
  virtual int AppendAttributeF(char* name, int value) = 0;
  virtual int AppendAttributeF(char* name, char* value) = 0;
  virtual int AppendAttributeF(WCHAR* name, int value) = 0;
  virtual int AppendAttributeF(WCHAR* name, WCHAR* value) = 0;
  virtual KxXMLNode* GetNextChildNodePo(KxXMLNode* previous) = 0;
  virtual int ExtractNameF(char* leading, char* buffer, unsigned int size) = 0;
  virtual bool IsThisNameB(char* leading, char* name) = 0;
  virtual void GetTagNameV(char* buffer, unsigned int size) = 0;
  virtual int GetAttributeF(char* name, char* buffer, unsigned int size) = 0;
  virtual int GetAttributeF(char* name, int* value) = 0;
  virtual char* GetValuePsz(char* buffer, unsigned int size) = 0;
  virtual KxXMLNode* FindChildNodePo(char* leading, char* name) = 0;

  KxXMLNode(const KxXMLNode&) {}
  KxXMLNode& operator=(const KxXMLNode&) { return *this; }

 protected:
  KxXMLNode() {}
};

/* Exported for its constructor and assignment; the library never throws it. */
class TWXML_API StringBuilderException {
 public:
  explicit StringBuilderException(const char* message);
  StringBuilderException& operator=(const StringBuilderException& other);
  const char* message;
};

/* The document object over one DOM document. */
class TWXML_API KxXMLParserImpl : public KxXMLParser {
 public:
  KxXMLParserImpl();
  /* Copies take references of their own. */
  KxXMLParserImpl(const KxXMLParserImpl& other);
  KxXMLParserImpl& operator=(const KxXMLParserImpl& other);
  ~KxXMLParserImpl() override;

  bool IsValidB();
  KxXMLNode* CreateElementP(int nodeType, WCHAR* name, WCHAR* namespaceUri);
  /* Extension: why and where the last LoadFromStreamF failed, answered as
     XmlLiteGetLastErrorF answers for a reader (30 with line 0 after a good
     load or none); 44 without DOM document. */
  int GetLoadErrorF(unsigned int* line, unsigned int* column, char* message, unsigned int size);

  int LoadFromStreamF(KxStream* stream) override;
  void SaveToStreamV(KxStream* stream) override;
  int PutRootElementF(KxXMLNode* element) override;
  KxXMLNode* GetRootElementP() override;
  KxXMLNode* CreateElementP(char* name, char* namespaceUri) override;
  KxXMLNode* CreateElementP(WCHAR* name, WCHAR* namespaceUri) override;
  KxXMLNode* CreateTextP(char* text) override;
  KxXMLNode* CreateTextP(WCHAR* text) override;
  KxXMLNode* CreateCommentP(char* text) override;
  KxXMLNode* CreateCommentP(WCHAR* text) override;
  int AppendElementF(KxXMLNode* parent, KxXMLNode* child) override;
  int AppendElementF(KxXMLNode* parent, char* name, char* namespaceUri) override;
  int AppendElementF(KxXMLNode* parent, WCHAR* name, WCHAR* namespaceUri) override;
  int AppendTextF(KxXMLNode* parent, char* text) override;
  int AppendTextF(KxXMLNode* parent, WCHAR* text) override;
  int AppendCommentF(KxXMLNode* parent, char* text) override;
  int AppendCommentF(KxXMLNode* parent, WCHAR* text) override;
  int SetEncodingF(char* encoding) override;

 private:
  /* The library's writer of its own documents (not exported) follows the
     same default namespace. */
  friend class twxml_dom::RecordWriter;
  IXMLDOMDocument* domDocument;
  BSTR defaultNamespaceUri;
};

/* The node object over one DOM node (one reference held). */
class TWXML_API KxXMLNodeImpl : public KxXMLNode {
 public:
  explicit KxXMLNodeImpl(IXMLDOMNode* node);
  /* Copies take a reference of their own. */
  KxXMLNodeImpl(const KxXMLNodeImpl& other);
  KxXMLNodeImpl& operator=(const KxXMLNodeImpl& other);
  ~KxXMLNodeImpl() override;

  IXMLDOMNode* GetInterfaceP() const;

  /* Node objects are recycled through per-thread lists: a walk makes and
     deletes one per step. */
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t, void* place) noexcept { return place; }
  static void operator delete(void* block, std::size_t size) noexcept;

  WCHAR* GetNameBstr() override;
  int AppendNodeF(KxXMLNode* child) override;
  WCHAR* GetValueBstr() override;
  int PutValueF(WCHAR* text) override;
  int AppendAttributeF(char* name, int value) override;
  int AppendAttributeF(char* name, char* value) override;
  int AppendAttributeF(WCHAR* name, int value) override;
  int AppendAttributeF(WCHAR* name, WCHAR* value) override;
  KxXMLNode* GetNextChildNodePo(KxXMLNode* previous) override;
  int ExtractNameF(char* leading, char* buffer, unsigned int size) override;
  bool IsThisNameB(char* leading, char* name) override;
  void GetTagNameV(char* buffer, unsigned int size) override;
  int GetAttributeF(char* name, char* buffer, unsigned int size) override;
  int GetAttributeF(char* name, int* value) override;
  char* GetValuePsz(char* buffer, unsigned int size) override;
  KxXMLNode* FindChildNodePo(char* leading, char* name) override;

 private:
  IXMLDOMNode* GetNextChildNodepo(IXMLDOMNode* previous, tagDOMNodeType wanted);
  IXMLDOMNode* domNode;
};

extern "C" {
/* A new document object holding a usable DOM document, or null (for
   instance on a thread that has not initialized COM). */
TWXML_API KxXMLParser* XmlGetParserP(void);
/* Extension: KxXMLParserImpl::GetLoadErrorF for a document object from
   XmlGetParserP; 44 for null or another object. */
TWXML_API int XmlGetLoadErrorF(KxXMLParser* parser, unsigned int* line, unsigned int* column,
                               char* message, unsigned int size);
/* Module entry: stores the module handle on process attach; always 1. */
TWXML_API BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
}
