// Why a document was refused and where, in the words of the library's one
// message table (so both engines say the same), and the one place that
// prints diagnostics (standard error, "FILE:LINE:COL: error: message").
#pragma once

#include <string>

#include "twxml/platform/msxml.h"
#include "twxml/platform/xmllite.h"

namespace twxml_cli {

struct Problem {
  unsigned line = 0, column = 0;  // 0: no position
  HRESULT code = S_OK;
  std::string message;
};

// The message for a failure code the libraries give no words for (the
// writer's refusals, stream failures).
std::string MessageFor(HRESULT hr);
// The reader's failure hr: the reader's own account of it, placed where the
// reader stopped (a refusal of the writer is named after hr).
Problem ReaderProblem(IXmlReader* reader, HRESULT hr);
// Why the document did not load, from its parse error.
Problem DomProblem(IXMLDOMDocument* document, HRESULT hr);
// Whether the reader or document left entity references unexpanded because
// only something outside the document could define them: the first one,
// placed, with how many there were.
bool SkippedReferences(IUnknown* engine, Problem* problem);
// Whether hr is a refusal of the writer (rather than of the reader).
bool IsWriterRefusal(HRESULT hr);

// ---- Reporting -------------------------------------------------------------
enum class Verbosity { kQuiet, kNormal, kVerbose };
void SetVerbosity(Verbosity v);
bool IsVerbose();

// FILE:LINE:COL: error: message (FILE: error: message without a position).
void ReportError(const std::string& file, const Problem& problem);
void ReportError(const std::string& file, const std::string& message);
// FILE:LINE:COL: warning: message (not with -q).
void ReportWarning(const std::string& file, const Problem& problem);
// FILE: note: message, shown only with -v.
void ReportNote(const std::string& file, const std::string& message);
// twxml: COMMAND: message, about the run rather than a file (not with -q).
void ReportNotice(const std::string& command, const std::string& message);

}  // namespace twxml_cli
