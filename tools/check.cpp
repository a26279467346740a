// twxml check: the first well-formedness error of each file.
#include "cli.h"
#include "diagnosis.h"
#include "engines.h"
#include "files.h"
#include "walk.h"

namespace twxml_cli {

namespace {

// Whether the document is well-formed; the reason has been reported if not.
bool CheckOne(const std::string& operand, bool dom) {
  Input in;
  if (!in.Open(operand)) return false;
  Ref<IStream> stream(in.Stream());
  Problem problem;
  if (ReadDocument(stream.get(), dom, nullptr, &problem) != WalkResult::kDone) {
    ReportError(in.name(), problem);
    return false;
  }
  ReportNote(in.name(), "well-formed");
  return true;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  Arguments a;
  bool dom = false;
  int status = kExitUsage;
  if (!ParseFileCommand("check", args, &a, &dom, &status)) return status;
  int result = kExitOk;
  for (const std::string& operand : a.operands) {
    if (!CheckOne(operand, dom)) result = kExitBad;
  }
  return result;
}

}  // namespace twxml_cli
