// twxml outline: the element tree, one element per line.
#include <string>

#include "cli.h"
#include "diagnosis.h"
#include "engines.h"
#include "files.h"
#include "text.h"
#include "walk.h"

namespace twxml_cli {

namespace {

// Levels indented by two blanks each; deeper ones keep the last indentation
// and show their level, so that deep documents give output in proportion
// to their size.
constexpr size_t kIndentedLevels = 20;

// Prints an element's line once its leading text is known: when its first
// child starts or when it ends.
class Printer final : public NodeSink {
 public:
  bool Start(const NodeName& element) override {
    if (!Flush()) return false;
    ++depth_;
    line_.assign(2 * (depth_ <= kIndentedLevels ? depth_ - 1 : kIndentedLevels - 1), ' ');
    if (depth_ > kIndentedLevels) line_ += "[" + std::to_string(depth_) + "] ";
    line_ += element.qname;
    pending_ = true;
    return true;
  }
  bool Attribute(const NodeName& name, const std::string& value) override {
    if (!pending_) return true;
    line_ += ' ';
    line_ += name.qname;
    line_ += "=\"";
    AppendEscaped(&line_, value, '"');
    line_ += '"';
    return true;
  }
  bool Text(const std::string& text) override {
    if (pending_) text_ += text;
    return true;
  }
  bool End() override {
    --depth_;
    return Flush();
  }
  // Puts out a line still waiting (also after a failed walk).
  bool Flush() {
    if (!pending_) return true;
    pending_ = false;
    const std::string text = Trimmed(text_);
    text_.clear();
    if (!text.empty()) {
      line_ += ": ";
      AppendEscaped(&line_, text);
    }
    line_ += '\n';
    return PutStdout(line_);
  }

 private:
  size_t depth_ = 0;
  bool pending_ = false;
  std::string line_, text_;
};

// kStopped when standard output failed.
WalkResult OutlineOne(Input& in, bool dom) {
  Ref<IStream> stream(in.Stream());
  Printer printer;
  Problem problem, incomplete;
  WalkResult result = ReadDocument(stream.get(), dom, &printer, &problem, &incomplete);
  // The outline up to an error stays complete to that point.
  if (result != WalkResult::kStopped && !printer.Flush()) return WalkResult::kStopped;
  if (result == WalkResult::kFailed) ReportError(in.name(), problem);
  if (!incomplete.message.empty()) ReportWarning(in.name(), incomplete);
  return result;
}

}  // namespace

int RunOutline(const std::vector<std::string>& args) {
  Arguments a;
  bool dom = false;
  int status = kExitUsage;
  if (!ParseFileCommand("outline", args, &a, &dom, &status)) return status;
  int result = kExitOk;
  for (const std::string& operand : a.operands) {
    Input in;
    if (!in.Open(operand)) {
      result = kExitBad;
      continue;
    }
    if (a.operands.size() > 1 && !PutStdout("==> " + in.name() + " <==\n")) break;
    WalkResult walked = OutlineOne(in, dom);
    if (walked == WalkResult::kStopped) break;  // output lost: nothing more can be shown
    if (walked == WalkResult::kFailed) result = kExitBad;
  }
  if (!FinishStdout()) result = kExitBad;
  return result;
}

}  // namespace twxml_cli
