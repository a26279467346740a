// The message table and the diagnostics printer.
#include "diagnosis.h"

#include <cstdio>

#include "text.h"

namespace twxml_cli {

namespace {

struct Entry {
  HRESULT hr;
  const char* text;
};

// Failures the libraries report as codes only: the writer's refusals and
// the streams' failures. Why a document is not well-formed comes from the
// reader and the document themselves (their shared message table).
const Entry kMessages[] = {
    {WR_E_INVALIDCHARACTER, "a character here cannot be written in the output encoding"},
    {WR_E_INVALIDSURROGATEPAIR, "a character here cannot be written (broken surrogate pair)"},
    {WR_E_INVALIDNAME, "a name here cannot be written"},
    {WR_E_UNKNOWNENCODING, "unknown output encoding"},
    {WR_E_INVALIDXMLSPACE, "xml:space must be 'default' or 'preserve'"},
    {MX_E_ENCODING, "unsupported encoding"},
    {STG_E_READFAULT, "read error"},
    {STG_E_WRITEFAULT, "write error"},
    {STG_E_MEDIUMFULL, "no space left for the output"},
    {REGDB_E_CLASSNOTREG, "class not registered"},
    {CO_E_NOTINITIALIZED, "COM is not initialised"},
    {E_OUTOFMEMORY, "out of memory"},
    {E_ACCESSDENIED, "access denied"},
    {E_INVALIDARG, "invalid argument"},
    {E_FAIL, "unspecified failure"},
};

Verbosity level = Verbosity::kNormal;

}  // namespace

std::string MessageFor(HRESULT hr) {
  for (const Entry& e : kMessages) {
    if (e.hr == hr) return e.text;
  }
  if (IsWriterRefusal(hr)) return "the writer refused the node here";
  char text[48];
  std::snprintf(text, sizeof text, "failure 0x%08X", static_cast<unsigned>(hr));
  return text;
}

bool IsWriterRefusal(HRESULT hr) {
  const unsigned code = static_cast<unsigned>(hr);
  return code >= static_cast<unsigned>(WR_E_NONWHITESPACE) &&
         code <= static_cast<unsigned>(WR_E_UNKNOWNENCODING);
}

Problem ReaderProblem(IXmlReader* reader, HRESULT hr) {
  Problem p;
  p.code = hr;
  IXmlReaderError* why = nullptr;
  UINT line = 0, column = 0;
  LPCWSTR message = nullptr;
  if (SUCCEEDED(reader->QueryInterface(IID_IXmlReaderError, reinterpret_cast<void**>(&why))) && why) {
    if (why->GetLastError(&line, &column, &message) == S_OK) p.message = Utf8(message);
    why->Release();
  } else {
    reader->GetLineNumber(&line);
    reader->GetLinePosition(&column);
  }
  p.line = line;
  p.column = column;
  // The writer's refusals, found at the reader's place, say what they are.
  if (p.message.empty() || IsWriterRefusal(hr)) p.message = MessageFor(hr);
  return p;
}

bool SkippedReferences(IUnknown* engine, Problem* problem) {
  UINT count = 0, line = 0, column = 0;
  std::string name;
  IXmlReaderError* reader = nullptr;
  IXMLDOMSkippedReferences* document = nullptr;
  if (SUCCEEDED(engine->QueryInterface(IID_IXmlReaderError, reinterpret_cast<void**>(&reader))) &&
      reader) {
    LPCWSTR first = nullptr;
    if (reader->GetSkippedReferences(&count, &line, &column, &first) == S_OK) name = Utf8(first);
    reader->Release();
  } else if (SUCCEEDED(engine->QueryInterface(IID_IXMLDOMSkippedReferences,
                                              reinterpret_cast<void**>(&document))) &&
             document) {
    BSTR first = nullptr;
    if (document->GetSkippedReferences(&count, &line, &column, &first) == S_OK) name = Utf8(first);
    SysFreeString(first);
    document->Release();
  }
  if (count == 0) return false;
  *problem = Problem();
  problem->line = line;
  problem->column = column;
  problem->message = "the entity '" + name +
                     "' is not declared in the document itself and was left unexpanded "
                     "(nothing outside the document is read)";
  if (count > 1) problem->message += "; " + std::to_string(count) + " such references";
  return true;
}

Problem DomProblem(IXMLDOMDocument* document, HRESULT hr) {
  Problem p;
  p.code = hr;
  IXMLDOMParseError* error = nullptr;
  if (SUCCEEDED(document->get_parseError(&error)) && error != nullptr) {
    LONG code = 0, line = 0, column = 0;
    BSTR reason = nullptr;
    error->get_errorCode(&code);
    error->get_line(&line);
    error->get_linepos(&column);
    error->get_reason(&reason);
    error->Release();
    if (code != 0) p.code = code;
    p.line = line > 0 ? static_cast<unsigned>(line) : 0;
    p.column = column > 0 ? static_cast<unsigned>(column) : 0;
    p.message = Utf8(reason);
    SysFreeString(reason);
  }
  if (p.message.empty()) p.message = MessageFor(p.code);
  return p;
}

void SetVerbosity(Verbosity v) { level = v; }
bool IsVerbose() { return level == Verbosity::kVerbose; }

namespace {

void Report(const std::string& file, const char* kind, const Problem& problem) {
  if (level == Verbosity::kQuiet) return;
  std::string line = file;
  if (problem.line > 0) {
    line += ':';
    line += std::to_string(problem.line);
    line += ':';
    line += std::to_string(problem.column);
  }
  line += ": ";
  line += kind;
  line += ": ";
  line += problem.message;
  if (level == Verbosity::kVerbose && problem.code != S_OK) {
    char code[24];
    std::snprintf(code, sizeof code, " [0x%08X]", static_cast<unsigned>(problem.code));
    line += code;
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

}  // namespace

void ReportError(const std::string& file, const Problem& problem) { Report(file, "error", problem); }
void ReportWarning(const std::string& file, const Problem& problem) {
  Report(file, "warning", problem);
}

void ReportError(const std::string& file, const std::string& message) {
  Problem p;
  p.message = message;
  ReportError(file, p);
}

void ReportNote(const std::string& file, const std::string& message) {
  if (level != Verbosity::kVerbose) return;
  std::fprintf(stderr, "%s: note: %s\n", file.c_str(), message.c_str());
}

void ReportNotice(const std::string& command, const std::string& message) {
  if (level == Verbosity::kQuiet) return;
  std::fprintf(stderr, "twxml: %s: %s\n", command.c_str(), message.c_str());
}

}  // namespace twxml_cli
