// Stand-ins for the handle functions, the document classes and the kernel
// services the XmlInterface engines call. They give what the real layers
// cannot be made to do on demand: failed creations, allocations, appends and
// saves, the exact calls each operation makes, documents deep enough to fill
// the document engine's stack. Every object they hand out is counted.
#pragma once

#include <map>
#include <set>
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
  BOOL dllFound = 1;
  int probeCalls = 0, getParserCalls = 0, saveCalls = 0, putRootCalls = 0;
  int live = 0;  // handles, parsers, nodes and streams not yet released
  int memStreamStatus = 0;
  // Injected failures: "create" (handles), "parser", "noroot", "putroot",
  // "append", "save", "filestream", "memnull" (a memory stream of status 0).
  std::set<std::string> fail;
  std::map<std::string, int> status;         // handle function -> answer (default 0)
  std::map<std::string, std::string> attrs;  // GetAttrValueToBufF answers; absent -> 30
  std::string memText = "<doc/>", elemName = "elem";
  std::vector<std::string> calls;     // "Function arg,arg" (handle functions)
  std::vector<std::string> domCalls;  // streams, SetEncodingF, AppendAttributeF
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
