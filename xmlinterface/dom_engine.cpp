// XmlInterface over a loaded or built DOM document (no streaming module).
#include "dom_engine.h"

#include <cstring>
#include <cwchar>

#include "own_records.h"
#include "scratch.h"
#include "twxml/kernel.h"
#include "twxml/platform/com.h"
#include "twxml/platform/win32_internal.h"

namespace {

using twxml_detail::Scratch;

// prefix ":" name in scratch (which must hold both lengths plus 2 bytes).
void JoinName(const char* prefix, const char* name, char* out) {
  size_t p = std::strlen(prefix);
  size_t n = std::strlen(name);
  std::memcpy(out, prefix, p);
  out[p] = ':';
  std::memcpy(out + p + 1, name, n + 1);
}

size_t JoinedSize(const char* prefix, const char* name) {
  return std::strlen(prefix) + std::strlen(name) + 2;
}

// Length of the longest prefix of text that fits in size - 1 bytes without
// splitting a character of the thread's code page.
size_t FittingPrefix(const char* text, unsigned int size) {
  size_t length = std::strlen(text);
  if (size == 0) return 0;
  if (length < size) return length;
  size_t limit = size - 1;
  if (GetACP() == CP_UTF8) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
  }
  std::mbstate_t state{};
  size_t used = 0;
  while (used < limit) {
    size_t step = std::mbrlen(text + used, length - used, &state);
    if (step == 0 || step == static_cast<size_t>(-1) || step == static_cast<size_t>(-2)) step = 1;
    if (used + step > limit) break;
    used += step;
  }
  return used;
}

// Appends prefix:name, or name alone without a prefix, with a text or
// number value.
template <typename V>
bool AppendAttribute(KxXMLNode* element, char* prefix, char* name, V value) {
  if (prefix == nullptr) return element->AppendAttributeF(name, value) == 0;
  if (name == nullptr) return false;
  Scratch qualified(JoinedSize(prefix, name));
  if (qualified.get() == nullptr) return false;
  JoinName(prefix, name, qualified.get());
  return element->AppendAttributeF(qualified.get(), value) == 0;
}

}  // namespace

XmlInterfaceToDOM::XmlInterfaceToDOM(KxXMLParser* parserIn, KxXMLNode* rootNodeIn,
                                     KxStream* stream, char* encoding)
    : parser(parserIn),
      records(rootNodeIn == nullptr ? parserIn : nullptr),
      outStream(stream),
      elemStack(new (std::nothrow) ElemStackEntry[kInitialStackCapacity]),
      rootNode(rootNodeIn),
      stackCapacity(elemStack != nullptr ? kInitialStackCapacity : 0),
      stackTop(-1),
      peekPending(0),
      documentSaved(0) {
  if (elemStack == nullptr) return;
  if (rootNode != nullptr) {
    // The first step, peeking or not, lands on the document element.
    Push({rootNode, nullptr, 0});
    peekPending = 1;
  } else if (parser != nullptr) {
    parser->SetEncodingF(encoding);
  }
}

XmlInterfaceToDOM::~XmlInterfaceToDOM() {
  if (outStream != nullptr && !documentSaved && parser != nullptr) {
    documentSaved = 1;
    // A destructor cannot pass the save's failure on: the caller who needs to
    // know calls FlushV or AllocMemP first. Everything is released regardless.
    try {
      parser->SaveToStreamV(outStream);
    } catch (...) {
    }
  }
  ReleaseAll();
}

void XmlInterfaceToDOM::ReleaseAll() {
  ElemStackEntry entry;
  while (Pop(&entry)) delete entry.ownedNode;
  delete[] elemStack;
  elemStack = nullptr;
  stackCapacity = 0;
  delete parser;
  parser = nullptr;
  delete rootNode;
  rootNode = nullptr;
  delete outStream;
  outStream = nullptr;
  stackTop = -1;
}

void XmlInterfaceToDOM::Disown() {
  // Entries only refer to the root node, which stays the caller's too.
  stackTop = -1;
  parser = nullptr;
  rootNode = nullptr;
  outStream = nullptr;
}

bool XmlInterfaceToDOM::Push(ElemStackEntry entry) {
  if (elemStack == nullptr) return false;
  if (stackTop >= static_cast<int32_t>(stackCapacity) - 1) {
    uint64_t grown = static_cast<uint64_t>(stackCapacity) * 2;
    if (grown > kMaxStackCapacity) return false;
    auto* larger = new (std::nothrow) ElemStackEntry[grown];
    if (larger == nullptr) return false;
    std::memcpy(larger, elemStack, sizeof(ElemStackEntry) * (stackTop + 1));
    delete[] elemStack;
    elemStack = larger;
    stackCapacity = static_cast<uint32_t>(grown);
  }
  elemStack[++stackTop] = entry;
  return true;
}

bool XmlInterfaceToDOM::Pop(ElemStackEntry* entry) {
  if (stackTop < 0) return false;
  *entry = elemStack[stackTop--];
  return true;
}

KxXMLNode* XmlInterfaceToDOM::TopNode() {
  ElemStackEntry* top = Top();
  if (top == nullptr) return nullptr;
  if (top->node == nullptr && top->record != 0) {
    top->node = top->ownedNode = records.NodeOf(top->record);
  }
  return top->node;
}

bool XmlInterfaceToDOM::ReadElemB(bool peek) {
  if (peekPending) {
    peekPending = peek;
    return stackTop >= 0;
  }
  if (TopNode() == nullptr) return false;
  ElemStackEntry* top = Top();
  // The top entry is updated in place: the same as popping it and pushing it
  // back, but nothing is lost if the walk throws.
  KxXMLNode* next = top->node->GetNextChildNodePo(top->ownedNode);
  if (next == nullptr) return false;
  if (top->ownedNode == top->node) {
    // A writer's entry owns its own element, which is always the last one
    // added, so nothing can follow it; never give up the entry's element.
    delete next;
    return false;
  }
  delete top->ownedNode;
  top->ownedNode = next;
  bool entered = Push({next, nullptr, 0});
  if (entered) peekPending = peek;
  return entered;
}

bool XmlInterfaceToDOM::EndElemB() {
  ElemStackEntry entry;
  if (!Pop(&entry)) return false;
  delete entry.ownedNode;
  return true;
}

bool XmlInterfaceToDOM::GetElemNameToBufB(char* buffer, unsigned int size) {
  KxXMLNode* node = TopNode();
  if (node == nullptr) return false;
  return twxml_dom::NameIntoBuffer(node, buffer, size) == 0;
}

bool XmlInterfaceToDOM::GetAttrValueToBufB(char* name, char* buffer, unsigned int size) {
  KxXMLNode* node = TopNode();
  return node != nullptr && node->GetAttributeF(name, buffer, size) == 0;
}

bool XmlInterfaceToDOM::GetAttrValueToIntB(char* name, int* value) {
  KxXMLNode* node = TopNode();
  return node != nullptr && node->GetAttributeF(name, value) == 0;
}

bool XmlInterfaceToDOM::GetElemValueToBufB(char* buffer, unsigned int size) {
  KxXMLNode* node = TopNode();
  if (node == nullptr || buffer == nullptr) return false;
  char* value = node->GetValuePsz(buffer, size);
  if (value == nullptr) return false;
  if (value != buffer) {
    // The value did not fit and came back as a separate copy: hand over as
    // much of it as the buffer holds, cut on a character boundary.
    if (size > 0) {
      size_t keep = FittingPrefix(value, size);
      std::memcpy(buffer, value, keep);
      buffer[keep] = '\0';
    }
    MemFreeF(value);
  }
  return true;
}

bool XmlInterfaceToDOM::SkipLevelB() { return EndElemB(); }

bool XmlInterfaceToDOM::WriteStartElemNsB(char* prefix, char* name, char* namespaceUri) {
  if (parser == nullptr || name == nullptr) return false;
  const bool prefixed = prefix != nullptr && StrPadGetSizeU(prefix) != 0;
  Scratch qualified(prefixed ? JoinedSize(prefix, name) : 0);
  if (qualified.get() == nullptr) return false;
  char* qname = name;
  if (prefixed) {
    JoinName(prefix, name, qualified.get());
    qname = qualified.get();
  }
  ElemStackEntry* top = Top();
  if (top != nullptr && top->record != 0) {
    // At the stack limit the element stays in the document, empty.
    if (uint32_t record = records.AppendElement(top->record, qname, namespaceUri))
      return Push({nullptr, nullptr, record});
  }
  KxXMLNode* element = parser->CreateElementP(qname, namespaceUri);
  if (element == nullptr) return false;
  int status = top == nullptr ? parser->PutRootElementF(element)
                              : parser->AppendElementF(TopNode(), element);
  if (status != 0) {
    delete element;
    return false;
  }
  if (!Push({element, element, records.RecordOf(element)})) {
    delete element;
    return false;
  }
  return true;
}

bool XmlInterfaceToDOM::WriteStartElemB(char* name) {
  return WriteStartElemNsB(nullptr, name, nullptr);
}

bool XmlInterfaceToDOM::WriteAttrNsB(char* prefix, char* name, char* /*namespaceUri*/,
                                     char* value) {
  ElemStackEntry* top = Top();
  if (top == nullptr) return false;
  if (top->record != 0 && name != nullptr) {
    if (prefix == nullptr) {
      if (records.SetAttribute(top->record, name, value)) return true;
    } else {
      Scratch qualified(JoinedSize(prefix, name));
      if (qualified.get() == nullptr) return false;
      JoinName(prefix, name, qualified.get());
      if (records.SetAttribute(top->record, qualified.get(), value)) return true;
    }
  }
  KxXMLNode* node = TopNode();
  return node != nullptr && AppendAttribute(node, prefix, name, value);
}

bool XmlInterfaceToDOM::WriteAttrB(char* name, char* value) {
  return WriteAttrNsB(nullptr, name, nullptr, value);
}

bool XmlInterfaceToDOM::WriteIntAttrNsB(char* prefix, char* name, char* /*namespaceUri*/,
                                        int value) {
  KxXMLNode* node = TopNode();
  return node != nullptr && AppendAttribute(node, prefix, name, value);
}

bool XmlInterfaceToDOM::WriteIntAttrB(char* name, int value) {
  return WriteIntAttrNsB(nullptr, name, nullptr, value);
}

bool XmlInterfaceToDOM::WriteValueB(char* text) {
  if (parser == nullptr) return false;
  ElemStackEntry* top = Top();
  if (top == nullptr) return false;
  if (top->record != 0 && records.AppendText(top->record, text)) return true;
  KxXMLNode* node = TopNode();
  return node != nullptr && parser->AppendTextF(node, text) == 0;
}

char* XmlInterfaceToDOM::AllocMemP(unsigned int* size) {
  if (outStream == nullptr) return nullptr;
  FlushV();
  return outStream->AllocMemP(size);
}

void XmlInterfaceToDOM::FlushV() {
  if (outStream == nullptr || documentSaved || parser == nullptr) return;
  // Marked first: a failed save is not tried again.
  documentSaved = 1;
  parser->SaveToStreamV(outStream);
}
