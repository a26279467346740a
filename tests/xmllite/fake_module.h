// Scripted stand-ins for the streaming module's reader and writer, installed
// through the handle layer's factory seam so the stepping and writing cores
// can be tested call by call.
#pragma once

// Reading a freed handle record is only defined behaviour to the library's
// validity test, not to the address sanitizer: those cases are left out there.
#if defined(__SANITIZE_ADDRESS__)
#define TWXML_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TWXML_TEST_ASAN 1
#endif
#endif
#ifndef TWXML_TEST_ASAN
#define TWXML_TEST_ASAN 0
#endif

#include <string>
#include <utility>
#include <vector>

#include "lite_internal.h"

namespace fake {

struct Node {
  XmlNodeType type = XmlNodeType_None;
  std::u16string name = {};
  std::u16string value = {};
  bool empty = false;
  std::vector<std::pair<std::u16string, std::u16string>> attrs = {};
};

Node Elem(const char* name, std::vector<std::pair<std::u16string, std::u16string>> attrs = {});
Node Empty(const char* name);
Node End();
Node Text(const char* value);
Node Node_(XmlNodeType type, const char* value = "");

// What the next created reader reads; failAt >= 0 makes the Read call of
// that index (0-based) and every later one fail.
struct ReaderScript {
  std::vector<Node> nodes;
  int failAt = -1;
  HRESULT createResult = S_OK;
  HRESULT nameResult = S_OK;
  HRESULT valueResult = S_OK;
  HRESULT moveResult = S_OK;  // used instead of the lookup when not S_OK
};

// Counters and arguments seen by the fakes since Install().
struct Stats {
  int reads = 0;
  int readers = 0;
  int liveReaders = 0;
  int liveWriters = 0;
  int liveOutputs = 0;
  int endDocuments = 0;
  int flushes = 0;
  bool inputWasStream = false;
  std::u16string lastAttrAsked;
  bool lastAttrAskedNull = false;
  bool lastAttrNamespaceNull = false;
  std::u16string outputEncoding;
  std::u16string lastString;  // the wide text of the last WriteString
  std::vector<std::string> writerCalls;  // "start p:l:u", "attr ...", "string t", ...
  long indentSet = -1;
  int outputRequests = 0;
};

struct WriterScript {
  HRESULT createResult = S_OK;
  HRESULT writeResult = S_OK;    // answer of every write call
  HRESULT outputResult = S_OK;   // answer of the encoding output factory
};

void Install(ReaderScript reader, WriterScript writer = {});
void Uninstall();
Stats& stats();
// The reader made last, for position checks.
const Node* CurrentNode();

std::string Narrow(const WCHAR* text);

}  // namespace fake
