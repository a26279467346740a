// Stand-ins for the handle functions, the document classes and the kernel
// services that the XmlInterface engines call, so the engines and factories
// can be tested alone: every call is recorded and every answer can be set.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "twxml/document.h"
#include "twxml/handles.h"
#include "twxml/kernel.h"

namespace fake {

// Thrown by the fake document where the real one raises its COM error.
struct DomError {
  int code;
};

struct LiteState {
  BOOL dllFound = 1;
  int probeCalls = 0;
  bool createFails = false;
  std::map<std::string, int> status;           // function name -> answer (default 0)
  std::map<std::string, std::string> attrs;    // GetAttrValueToBufF answers; absent -> 30
  std::string elemName = "elem";
  std::string elemValue = "value";
  std::string memText = "<doc/>";
  std::vector<std::string> calls;              // "Function arg,arg,..."
  int openReaders = 0;
  int openWriters = 0;
};

struct DomNode {
  enum Kind { Element, Text, Comment } kind = Element;
  std::string name;
  std::string namespaceUri;
  bool hasNamespace = false;
  std::string text;
  std::vector<std::pair<std::string, std::string>> attrs;
  DomNode* parent = nullptr;
  std::vector<DomNode*> children;
};

struct DomStore {
  std::vector<std::unique_ptr<DomNode>> nodes;
  DomNode* root = nullptr;
  std::string declaration;  // encoding named by SetEncodingF; empty: none
  DomNode* Make(DomNode::Kind kind);
};

struct DomState {
  bool parserFails = false;
  bool loadNoRoot = false;
  bool putRootFails = false;
  bool appendFails = false;
  bool saveThrows = false;
  int liveParsers = 0;
  int liveNodes = 0;
  int liveStreams = 0;
  int getParserCalls = 0;
  int saveCalls = 0;
  int putRootCalls = 0;
  std::vector<std::string> encodings;       // SetEncodingF arguments ("(null)" for null)
  std::vector<std::string> createdNames;    // CreateElementP names
  std::vector<std::string> createdNs;       // CreateElementP namespace URIs ("(null)")
  std::vector<std::string> attrNames;       // AppendAttributeF names ("(null)")
  // Kernel streams.
  bool fileStreamFails = false;
  int memStreamStatus = 0;
  bool memStreamNull = false;
  std::vector<std::string> streamCalls;
};

extern LiteState lite;
extern DomState dom;
// The nth allocation made with the non-throwing operator new from now on
// fails (1 = the next one); 0 turns the injection off.
extern int failNothrowAt;

void Reset();
// Serialised form of the fake document of a reader or writer stream.
std::string Serialise(const DomStore& store);

}  // namespace fake
