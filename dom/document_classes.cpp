// Module entry, the factory, and the out-of-line parts of the exported
// abstract classes.
#include <dlfcn.h>
#include <new>

#include "module_entry.h"
#include "twxml/document.h"

HINSTANCE moduleHandle = nullptr;

extern "C" TWXML_API BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) moduleHandle = module;
  return TRUE;
}

namespace {
// The loader has no entry-point convention of its own, so a load-time
// constructor plays the attach notification. The module handle is the base
// address of the mapped image holding this code.
__attribute__((constructor)) void AttachModule() {
  Dl_info info = {};
  HINSTANCE module = nullptr;
  if (dladdr(reinterpret_cast<void*>(&AttachModule), &info) != 0) module = info.dli_fbase;
  DllMain(module, DLL_PROCESS_ATTACH, nullptr);
}
}  // namespace

KxXMLParser::~KxXMLParser() {}

KxXMLNode::~KxXMLNode() {}

StringBuilderException::StringBuilderException(const char* message) : message(message) {}

StringBuilderException& StringBuilderException::operator=(const StringBuilderException& other) {
  message = other.message;
  return *this;
}

extern "C" TWXML_API KxXMLParser* XmlGetParserP(void) {
  KxXMLParserImpl* parser = new (std::nothrow) KxXMLParserImpl();
  if (parser == nullptr) return nullptr;
  if (!parser->IsValidB()) {
    delete static_cast<KxXMLParser*>(parser);
    return nullptr;
  }
  return parser;
}
