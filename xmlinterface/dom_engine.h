// The DOM engine: a reader walks a loaded document with a stack of cursors,
// one entry per open element level; a writer builds a new document node by
// node and writes it into its stream once.
#pragma once

#include <cstdint>

#include "own_writer.h"
#include "twxml/document.h"
#include "twxml/xmlinterface.h"

struct ElemStackEntry {
  KxXMLNode* node;       // the element of this level; never deleted by the entry
  KxXMLNode* ownedNode;  // reader: the child last entered (cursor); writer: node itself
  // Writer: the element's record in the library's own model (0 for another
  // DOM). An element written record by record gets its node object only
  // when a call needs one (NodeOf).
  uint32_t record;
};

class XmlInterfaceToDOM : public XmlInterface {
 public:
  static constexpr uint32_t kInitialStackCapacity = 128;
  static constexpr uint32_t kMaxStackCapacity = 65536;

  // Reader: rootNode given, stream null. Writer: rootNode null, stream (may
  // be null: the document then stays in memory) and encoding (null: UTF-8).
  // Takes over parser, rootNode and stream. StackReady() tells whether the
  // stack array could be allocated.
  XmlInterfaceToDOM(KxXMLParser* parser, KxXMLNode* rootNode, KxStream* stream, char* encoding);
  ~XmlInterfaceToDOM() override;

  bool StackReady() const { return elemStack != nullptr; }
  // Gives up ownership of parser, root node and stream without touching them.
  void Disown();

  bool ReadElemB(bool peek) override;
  bool EndElemB() override;
  bool GetElemNameToBufB(char* buffer, unsigned int size) override;
  bool GetAttrValueToBufB(char* name, char* buffer, unsigned int size) override;
  bool GetAttrValueToIntB(char* name, int* value) override;
  bool GetElemValueToBufB(char* buffer, unsigned int size) override;
  bool SkipLevelB() override;
  bool WriteStartElemNsB(char* prefix, char* name, char* namespaceUri) override;
  bool WriteStartElemB(char* name) override;
  bool WriteAttrNsB(char* prefix, char* name, char* namespaceUri, char* value) override;
  bool WriteAttrB(char* name, char* value) override;
  bool WriteIntAttrNsB(char* prefix, char* name, char* namespaceUri, int value) override;
  bool WriteIntAttrB(char* name, int value) override;
  bool WriteValueB(char* text) override;
  char* AllocMemP(unsigned int* size) override;
  void FlushV() override;

  // Inspection for tests.
  uint32_t StackCapacity() const { return stackCapacity; }
  int32_t StackTop() const { return stackTop; }
  bool PeekPending() const { return peekPending != 0; }
  bool DocumentSaved() const { return documentSaved != 0; }

  XmlInterfaceToDOM(const XmlInterfaceToDOM&) = delete;
  XmlInterfaceToDOM& operator=(const XmlInterfaceToDOM&) = delete;

 private:
  bool Push(ElemStackEntry entry);
  bool Pop(ElemStackEntry* entry);
  ElemStackEntry* Top() { return stackTop >= 0 ? &elemStack[stackTop] : nullptr; }
  // The top entry's element node object, made for it when it has none yet;
  // null without a top entry or memory for the node object.
  KxXMLNode* TopNode();
  void ReleaseAll();

  KxXMLParser* parser;
  twxml_dom::RecordWriter records;
  KxStream* outStream;
  ElemStackEntry* elemStack;
  KxXMLNode* rootNode;
  uint32_t stackCapacity;
  int32_t stackTop;
  uint8_t peekPending;
  uint8_t documentSaved;
};
