// Stand-ins for the handle functions, the document classes and the kernel
// services that the XmlInterface engines call, so the engines and factories
// can be tested alone: every call is recorded and every answer can be set.
// They reach what the real layers cannot be made to do on demand: failed
// creations and allocations, refused saves, the exact calls each operation
// makes.
#pragma once

#include <map>
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

struct State {
  // Handle functions.
  BOOL dllFound = 1;
  int probeCalls = 0;
  bool createFails = false;
  std::map<std::string, int> status;         // function name -> answer (default 0)
  std::map<std::string, std::string> attrs;  // GetAttrValueToBufF answers; absent -> 30
  std::string memText = "<doc/>";
  std::vector<std::string> calls;            // "Function arg,arg,..." (handle functions)
  int openHandles = 0;
  // Document classes and kernel streams.
  bool parserFails = false, loadNoRoot = false, putRootFails = false, appendFails = false;
  bool saveThrows = false, fileStreamFails = false, memStreamNull = false;
  int memStreamStatus = 0;
  int liveObjects = 0;  // parsers, nodes and streams not yet deleted
  int getParserCalls = 0, saveCalls = 0, putRootCalls = 0;
  std::vector<std::string> domCalls;  // "SetEncodingF x", "CreateElementP n,ns", "stream ..."
};

extern State st;
// The nth allocation made with the non-throwing operator new from now on
// fails (1 = the next one); 0 turns the injection off.
extern int failNothrowAt;

inline void Reset() {
  st = State();
  failNothrowAt = 0;
}

}  // namespace fake
