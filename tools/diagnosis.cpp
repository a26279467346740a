// The message table and the diagnostics printer.
#include "diagnosis.h"

#include <cstdio>

namespace twxml_cli {

namespace {

struct Entry {
  HRESULT hr;
  const char* text;
};

const Entry kMessages[] = {
    {MX_E_INPUTEND, "unexpected end of input"},
    {MX_E_ENCODING, "unsupported encoding"},
    {MX_E_ENCODINGSWITCH, "the encoding cannot be switched here"},
    {MX_E_ENCODINGSIGNATURE, "the bytes do not match the document's encoding"},
    {WC_E_WHITESPACE, "white space expected"},
    {WC_E_SEMICOLON, "';' expected"},
    {WC_E_GREATERTHAN, "'>' expected"},
    {WC_E_QUOTE, "quote expected"},
    {WC_E_EQUAL, "'=' expected"},
    {WC_E_LESSTHAN, "'<' not allowed here"},
    {WC_E_HEXDIGIT, "hexadecimal digit expected"},
    {WC_E_DIGIT, "decimal digit expected"},
    {WC_E_LEFTBRACKET, "'[' expected"},
    {WC_E_LEFTPAREN, "'(' expected"},
    {WC_E_XMLCHARACTER, "character not allowed in XML"},
    {WC_E_NAMECHARACTER, "character not allowed in a name"},
    {WC_E_SYNTAX, "syntax error"},
    {WC_E_CDSECT, "malformed CDATA section"},
    {WC_E_COMMENT, "malformed comment"},
    {WC_E_CONDSECT, "malformed conditional section"},
    {WC_E_DECLATTLIST, "malformed attribute-list declaration"},
    {WC_E_DECLDOCTYPE, "malformed document type declaration"},
    {WC_E_DECLELEMENT, "malformed element declaration"},
    {WC_E_DECLENTITY, "malformed entity declaration"},
    {WC_E_DECLNOTATION, "malformed notation declaration"},
    {WC_E_NDATA, "NDATA expected"},
    {WC_E_PUBLIC, "PUBLIC expected"},
    {WC_E_SYSTEM, "SYSTEM expected"},
    {WC_E_NAME, "name expected"},
    {WC_E_ROOTELEMENT, "exactly one document element expected"},
    {WC_E_ELEMENTMATCH, "end tag does not match the start tag"},
    {WC_E_UNIQUEATTRIBUTE, "attribute given twice"},
    {WC_E_TEXTXMLDECL, "misplaced text declaration"},
    {WC_E_LEADINGXML, "names beginning with 'xml' are reserved"},
    {WC_E_TEXTDECL, "malformed text declaration"},
    {WC_E_XMLDECL, "malformed XML declaration"},
    {WC_E_ENCNAME, "malformed encoding name"},
    {WC_E_PUBLICID, "malformed public identifier"},
    {WC_E_PESINTERNALSUBSET, "parameter entity reference inside a declaration of the internal subset"},
    {WC_E_PESBETWEENDECLS, "malformed parameter entity reference between declarations"},
    {WC_E_NORECURSION, "entity refers to itself"},
    {WC_E_ENTITYCONTENT, "malformed entity content"},
    {WC_E_UNDECLAREDENTITY, "undeclared entity"},
    {WC_E_PARSEDENTITY, "reference to an unparsed entity"},
    {WC_E_NOEXTERNALENTITYREF, "reference to an external entity in an attribute value"},
    {WC_E_PI, "malformed processing instruction"},
    {WC_E_SYSTEMID, "malformed system identifier"},
    {WC_E_QUESTIONMARK, "'?' expected"},
    {WC_E_CDSECTEND, "']]>' not allowed in text"},
    {WC_E_MOREDATA, "content after the document element"},
    {WC_E_DTDPROHIBITED, "document type declarations are not allowed"},
    {WC_E_INVALIDXMLSPACE, "xml:space must be 'default' or 'preserve'"},
    {NC_E_NAMECOLON, "misplaced colon in a name"},
    {NC_E_QNAMECHARACTER, "character not allowed in a qualified name"},
    {NC_E_QNAMECOLON, "more than one colon in a qualified name"},
    {NC_E_NAMESPACE, "namespace constraint violated"},
    {NC_E_UNDECLAREDPREFIX, "undeclared namespace prefix"},
    {NC_E_EMPTYURI, "a prefix cannot be bound to the empty namespace name"},
    {NC_E_XMLPREFIXRESERVED, "the prefix 'xml' is reserved"},
    {NC_E_XMLNSPREFIXRESERVED, "the prefix 'xmlns' is reserved"},
    {NC_E_XMLURIRESERVED, "the xml namespace name is reserved"},
    {NC_E_XMLNSURIRESERVED, "the xmlns namespace name is reserved"},
    {SC_E_MAXELEMENTDEPTH, "elements nested too deeply"},
    {SC_E_MAXENTITYEXPANSION, "entity expansion limit exceeded"},
    {WR_E_INVALIDCHARACTER, "a character here cannot be written in the output encoding"},
    {WR_E_INVALIDSURROGATEPAIR, "a character here cannot be written (broken surrogate pair)"},
    {WR_E_INVALIDNAME, "a name here cannot be written"},
    {WR_E_UNKNOWNENCODING, "unknown output encoding"},
    {WR_E_INVALIDXMLSPACE, "xml:space must be 'default' or 'preserve'"},
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
  p.message = MessageFor(hr);
  UINT line = 0, column = 0;
  reader->GetLineNumber(&line);
  reader->GetLinePosition(&column);
  p.line = line;
  p.column = column;
  return p;
}

Problem DomProblem(IXMLDOMDocument* document, HRESULT hr) {
  Problem p;
  p.code = hr;
  IXMLDOMParseError* error = nullptr;
  if (SUCCEEDED(document->get_parseError(&error)) && error != nullptr) {
    LONG code = 0, line = 0, column = 0;
    error->get_errorCode(&code);
    error->get_line(&line);
    error->get_linepos(&column);
    error->Release();
    // The code, not the DOM's own wording: both engines say the same.
    if (code != 0) p.code = code;
    p.line = line > 0 ? static_cast<unsigned>(line) : 0;
    p.column = column > 0 ? static_cast<unsigned>(column) : 0;
  }
  p.message = MessageFor(p.code);
  return p;
}

void SetVerbosity(Verbosity v) { level = v; }
bool IsVerbose() { return level == Verbosity::kVerbose; }

void ReportError(const std::string& file, const Problem& problem) {
  if (level == Verbosity::kQuiet) return;
  std::string line = file;
  if (problem.line > 0) {
    line += ':';
    line += std::to_string(problem.line);
    line += ':';
    line += std::to_string(problem.column);
  }
  line += ": error: ";
  line += problem.message;
  if (level == Verbosity::kVerbose && problem.code != S_OK) {
    char code[24];
    std::snprintf(code, sizeof code, " [0x%08X]", static_cast<unsigned>(problem.code));
    line += code;
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
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
