// twxml check: the first well-formedness error of each file.
#include "cli.h"
#include "diagnosis.h"
#include "engines.h"
#include "files.h"

namespace twxml_cli {

namespace {

// Whether the document is well-formed; the reason has been reported if not.
bool CheckOne(const std::string& operand, bool dom) {
  Input in;
  std::string error;
  if (!in.Open(operand, &error)) {
    ReportError(in.name(), "cannot read: " + error);
    return false;
  }
  Ref<IStream> stream(in.Stream());
  if (dom) {
    Ref<IXMLDOMDocument> document = NewDomDocument(&error);
    if (!document) {
      ReportError(in.name(), error);
      return false;
    }
    HRESULT hr = LoadDom(document.get(), stream.get());
    if (FAILED(hr)) {
      ReportError(in.name(), DomProblem(document.get(), hr));
      return false;
    }
  } else {
    Ref<IXmlReader> reader = NewReader(&error);
    if (!reader) {
      ReportError(in.name(), error);
      return false;
    }
    reader->SetInput(stream.get());
    XmlNodeType type;
    HRESULT hr;
    while ((hr = reader->Read(&type)) == S_OK) {
    }
    if (hr != S_FALSE) {
      ReportError(in.name(), ReaderProblem(reader.get(), hr));
      return false;
    }
  }
  ReportNote(in.name(), "well-formed");
  return true;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  Arguments a;
  int status = kExitUsage;
  if (!ParseArguments("check", args, {"dom"}, &a, &status)) return status;
  if (a.operands.empty()) return UsageError("check", "no file given");
  const bool dom = ChooseDom("check", a.dom);
  int result = kExitOk;
  for (const std::string& operand : a.operands) {
    if (!CheckOne(operand, dom)) result = kExitBad;
  }
  return result;
}

}  // namespace twxml_cli
