// twxml outline: the element tree, one element per line.
#include <cstdio>
#include <memory>

#include "cli.h"

namespace twxml_cli {

namespace {

class OutlineSink final : public WalkSink {
 public:
  explicit OutlineSink(ReaderSession& s) : s_(s), buffer_(new char[kValueBufferSize]) {}

  bool Enter(XmlInterface& x, int depth) override {
    char name[4096];
    if (!x.GetElemNameToBufB(name, sizeof name)) name[0] = '\0';
    ElemInfo info;
    // A cursor that cannot go on met the same parse error as the engine; the
    // caller diagnoses it.
    if (!s_.cursor->Next(&info)) return false;
    if (!SameElement(name, s_.dom, info)) {
      error_ = "the element structure could not be followed at <" + std::string(name) + ">";
      return false;
    }
    line_.assign(static_cast<size_t>(depth - 1) * 2, ' ');
    line_ += name;
    for (const AttrInfo& a : info.attrs) {
      if (!s_.dom && a.IsNamespaceDeclaration()) continue;
      line_ += ' ';
      line_ += s_.dom ? a.qname : a.local;
      line_ += "=\"" + AttributeValue(x, s_.dom, a, buffer_.get()) + "\"";
    }
    return true;
  }
  bool Value(const char* text, int) override {
    std::string value = Trimmed(text);
    if (!value.empty()) line_ += ": " + value;
    line_ += '\n';
    return std::fputs(line_.c_str(), stdout) >= 0;
  }
  bool MoreText(const char*, int) override { return true; }
  bool Leave(int) override { return true; }
  const std::string& error() const { return error_; }

 private:
  ReaderSession& s_;
  std::unique_ptr<char[]> buffer_;
  std::string line_;
  std::string error_;
};

}  // namespace

int RunOutline(const std::vector<std::string>& args) {
  Arguments a;
  int status = kExitUsage;
  if (!ParseArguments("outline", args, {"dom"}, &a, &status)) return status;
  if (a.operands.empty()) return UsageError("outline", "no file given");
  if (a.operands.size() > 1) return UsageError("outline", "one file only");
  const std::string& path = a.operands.front();

  ReaderSession session;
  status = OpenSession("outline", path, a.dom, &session);
  if (status != kExitOk) return status;
  OutlineSink sink(session);
  bool stuck = false;
  bool ok = Walk(*session.reader, sink, &stuck);
  std::fflush(stdout);
  if (ok) return kExitOk;
  if (!sink.error().empty()) {
    std::fprintf(stderr, "twxml: outline: %s: %s\n", path.c_str(), sink.error().c_str());
    return kExitBad;
  }
  return ReportWalkFailure("outline", path, session.dom, stuck);
}

}  // namespace twxml_cli
