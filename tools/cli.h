// The twxml command line program: shared pieces of its commands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "twxml/twxml.h"
#include "twxml/platform/xmllite.h"

namespace twxml_cli {

// Exit statuses, the same for every command.
enum ExitStatus { kExitOk = 0, kExitBad = 1, kExitUsage = 2 };

// ---- Text ---------------------------------------------------------------
std::string Utf8(const WCHAR* text);
std::string Utf8(const WCHAR* text, size_t length);
// Leading and trailing white space removed, inner runs of white space that
// hold a line end collapsed to one blank.
std::string Trimmed(const std::string& text);

// ---- Byte streams for the reader and the DOM ------------------------------
// A read-only IStream over a file, read in large blocks. Null and a message
// (strerror text) when the file cannot be opened for reading.
IStream* OpenFileStream(const char* path, std::string* error);
// True when path can be opened for reading; otherwise the reason in *error.
bool Readable(const char* path, std::string* error);

// ---- The streaming reader module ----------------------------------------
// A new IXmlReader from the loadable module (bound once through the loader,
// as the library binds it). Null and a message when the module or its entry
// point is missing or the reader cannot be made.
IXmlReader* NewModuleReader(std::string* error);
// Readable text for a failure code of the reader or the DOM.
std::string FailureMessage(HRESULT hr);

// ---- The DOM ----------------------------------------------------------------
// Initialises COM on this thread (once) and makes a DOM document, or gives
// null and a message.
IXMLDOMDocument* NewDomDocument(std::string* error);

// ---- Well-formedness ------------------------------------------------------
struct Diagnosis {
  bool opened = false;       // false: message says why the file could not be read
  bool wellFormed = false;
  bool engineMissing = false;  // the reader module or the document class is not there
  unsigned line = 0, column = 0;
  std::string message;
};
Diagnosis CheckWithReader(const char* path);
Diagnosis CheckWithDom(const char* path);
// "FILE:LINE:COL: message" (or "FILE: message" without a position).
std::string Describe(const char* path, const Diagnosis& d);

// ---- Element structure --------------------------------------------------
// What the element-by-element interface cannot tell about an element: the
// names and namespaces of its attributes. A cursor hands out the elements of
// a document in document order, alongside an XmlInterface walk.
struct AttrInfo {
  std::string qname, prefix, local, ns;
  std::string value;  // as the cursor's own parser read it
  bool IsNamespaceDeclaration() const;
};
struct ElemInfo {
  std::string qname, prefix, local, ns;
  std::vector<AttrInfo> attrs;
};
class ElementCursor {
 public:
  virtual ~ElementCursor() = default;
  // The next element start; false at the end or on failure (error() tells).
  virtual bool Next(ElemInfo* info) = 0;
  virtual std::string error() const = 0;
};
std::unique_ptr<ElementCursor> OpenReaderCursor(const char* path, std::string* error);
std::unique_ptr<ElementCursor> OpenDomCursor(const char* path, std::string* error);

// ---- Walking an XmlInterface reader -------------------------------------
// Calls back for every element entered, its value, further text met inside
// it, and every element left. Handles what each
// engine puts in the way (text nodes that stand before an end on the
// streaming engine). False when the walk cannot go on; *stuck then tells
// whether the reader refused to step although the input may be fine.
class WalkSink {
 public:
  virtual ~WalkSink() = default;
  // An element was entered: read its name and attributes now (the streaming
  // engine can give attributes only before the value is read).
  virtual bool Enter(XmlInterface& x, int depth) = 0;
  // The element's value as the engine gives it (possibly empty).
  virtual bool Value(const char* text, int depth) = 0;
  // Further text of a mixed-content element (streaming engine only).
  virtual bool MoreText(const char* text, int depth) = 0;
  virtual bool Leave(int depth) = 0;
};
bool Walk(XmlInterface& x, WalkSink& sink, bool* stuck);

// Size of the buffers used for element values.
constexpr unsigned kValueBufferSize = 1u << 20;

// ---- A reader session: XmlInterface reader plus element cursor ------------
struct ReaderSession {
  XmlInterface* reader = nullptr;  // owned
  std::unique_ptr<ElementCursor> cursor;
  bool dom = false;                // the document engine serves the session
  ~ReaderSession() { delete reader; }
};
// Initialises COM on this thread once (the document engine needs it).
void EnsureCom();
// The engine that a factory will choose, with a note on stderr when the
// streaming module is missing and the document engine stands in.
bool ChoosesDom(const std::string& command, bool forceDom);
// Opens path through the XmlInterface factories and a matching cursor.
// Returns an exit status; on failure the reason has been printed.
int OpenSession(const std::string& command, const std::string& path, bool forceDom,
                ReaderSession* session);
// After a walk that could not go on: prints why (the first well-formedness
// error, or the node the streaming engine does not step over). kExitBad.
int ReportWalkFailure(const std::string& command, const std::string& path, bool dom, bool stuck);
// The attribute's value through the engine (qualified name on the document
// engine, local name on the streaming engine), or the cursor's value when
// the engine cannot look it up. buffer holds kValueBufferSize bytes.
std::string AttributeValue(XmlInterface& x, bool dom, const AttrInfo& a, char* buffer);
// The element's name as the engine gives it equals what the cursor saw.
bool SameElement(const char* engineName, bool dom, const ElemInfo& info);

// ---- Arguments ------------------------------------------------------------
struct Arguments {
  bool dom = false;
  bool indent = false;
  bool hasEncoding = false;
  std::string encoding;
  std::vector<std::string> operands;
};
// Parses the options a command accepts ("dom", "indent", "encoding"); "--"
// ends the options. False after printing a usage error.
bool ParseArguments(const std::string& command, const std::vector<std::string>& args,
                    const std::vector<std::string>& accepted, Arguments* out, int* status);

// ---- Commands -------------------------------------------------------------
int RunCheck(const std::vector<std::string>& args);
int RunOutline(const std::vector<std::string>& args);
int RunCopy(const std::vector<std::string>& args);
int RunBench(const std::vector<std::string>& args);

// Usage text of one command (or of the program for an empty name); null for
// an unknown command.
const char* UsageText(const std::string& command);
// "twxml: <command>: <message>" on stderr plus a hint to --help; kExitUsage.
int UsageError(const std::string& command, const std::string& message);
bool IsHelp(const std::string& arg);

}  // namespace twxml_cli
