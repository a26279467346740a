// twxml bench: read and write speed through XmlInterface.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "cli.h"
#include "diagnosis.h"
#include "engines.h"
#include "files.h"
#include "twxml/twxml.h"
#include "walk.h"

namespace twxml_cli {

namespace {

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Processor time of this process: on a busy machine it tells the work done
// apart from the time spent waiting for a core.
double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

char* C(const std::string& s) { return const_cast<char*>(s.c_str()); }
char* OrNull(const std::string& s) { return s.empty() ? nullptr : C(s); }

// A bar on standard error, shown only on a terminal and only once a run has
// taken more than a second.
class Progress {
 public:
  Progress(const char* label, uint64_t total)
      : label_(label), total_(total ? total : 1), start_(Now()), tty_(isatty(2) != 0) {}
  ~Progress() {
    if (drawn_) std::fputs("\r\033[K", stderr);
  }
  void Update(uint64_t done) {
    if (!tty_) return;
    double t = Now();
    if (t - start_ < 1.0 || t - last_ < 0.1) return;
    last_ = t;
    drawn_ = true;
    const int width = 40;
    const uint64_t part = std::min<uint64_t>(done, total_);
    const int filled = static_cast<int>(width * part / total_);
    std::fprintf(stderr, "\r%-6s [%s%s] %3d%%", label_, std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), static_cast<int>(100 * part / total_));
    std::fflush(stderr);
  }

 private:
  const char* label_;
  uint64_t total_;
  double start_;
  double last_ = 0;
  bool tty_;
  bool drawn_ = false;
};

// The write job: the elements, attributes and text of the document.
struct Op {
  enum Kind { Start, Attr, Text, End } kind;
  NodeName name;
  std::string value;
};

bool IsDeclaration(const NodeName& n) {
  return n.prefix == "xmlns" || (n.prefix.empty() && n.local == "xmlns");
}

class Recorder final : public NodeSink {
 public:
  bool Start(const NodeName& element) override {
    ops.push_back({Op::Start, element, ""});
    ++elements;
    return true;
  }
  bool Attribute(const NodeName& name, const std::string& value) override {
    ops.push_back({Op::Attr, name, value});
    return true;
  }
  bool Text(const std::string& text) override {
    if (!ops.empty() && ops.back().kind == Op::Text) {
      ops.back().value += text;
    } else {
      ops.push_back({Op::Text, NodeName(), text});
    }
    return true;
  }
  bool End() override {
    ops.push_back({Op::End, NodeName(), ""});
    return true;
  }
  std::vector<Op> ops;
  uint64_t elements = 0;
};

// What the read job asks for per element name: the attributes seen on it,
// named as the engine looks them up (the streaming engine knows local
// names in no namespace only).
using AttributeTable = std::map<std::string, std::vector<std::string>>;

AttributeTable TableFor(const std::vector<Op>& ops, bool dom) {
  AttributeTable table;
  std::vector<std::string>* asked = nullptr;
  for (const Op& op : ops) {
    if (op.kind == Op::Start) asked = &table[dom ? op.name.qname : op.name.local];
    if (op.kind != Op::Attr || asked == nullptr) continue;
    if (!dom && (!op.name.prefix.empty() || !op.name.ns.empty())) continue;
    const std::string& key = dom ? op.name.qname : op.name.local;
    if (std::find(asked->begin(), asked->end(), key) == asked->end()) asked->push_back(key);
  }
  return table;
}

// A caller buffer that grows until the engine's name fits.
class NameBuffer {
 public:
  const char* Get(XmlInterface& x) {
    for (;;) {
      if (x.GetElemNameToBufB(data_.data(), static_cast<unsigned>(data_.size()))) return data_.data();
      if (data_.size() >= (size_t(1) << 26)) return nullptr;
      data_.resize(data_.size() * 2);
    }
  }

 private:
  std::vector<char> data_ = std::vector<char>(4096);
};

struct WalkCount {
  uint64_t elements = 0;
  bool stuck = false;  // the engine would not step over the node ahead
};

// The read job: every element entered, its name, the attributes asked for
// and its text read, and left again.
WalkCount ReadJob(XmlInterface& x, const AttributeTable& table, Progress* progress) {
  WalkCount count;
  NameBuffer name;
  std::vector<char> value(1 << 16);
  unsigned touched = 0;
  auto enter = [&]() {
    const char* n = name.Get(x);
    if (n == nullptr) return false;
    auto it = table.find(n);
    if (it != table.end()) {
      for (const std::string& a : it->second) {
        if (x.GetAttrValueToBufB(C(a), value.data(), static_cast<unsigned>(value.size()))) touched += value[0];
      }
    }
    value[0] = '\0';
    x.GetElemValueToBufB(value.data(), static_cast<unsigned>(value.size()));
    touched += value[0];
    if ((++count.elements & 1023) == 0 && progress) progress->Update(count.elements);
    return true;
  };
  if (!x.SelectElemB() || !enter()) {
    count.stuck = true;
    return count;
  }
  int depth = 1, idle = 0;
  while (depth > 0) {
    if (x.SelectElemB()) {
      ++depth;
      if (!enter()) break;
      idle = 0;
    } else if (x.EndElemB()) {
      --depth;
      idle = 0;
    } else {
      // On the streaming engine a text after a child element stands in the
      // way: it is read as a value.
      value[0] = '\0';
      x.GetElemValueToBufB(value.data(), static_cast<unsigned>(value.size()));
      if (value[0] != '\0') {
        idle = 0;
      } else if (++idle >= 2) {
        count.stuck = true;
        break;
      }
    }
  }
  if (touched == 1) count.elements += 0;  // keeps the reads from being optimised away
  return count;
}

// One write run; the size of the document written, or 0 with *refused
// saying what the writer did not take.
size_t WriteRun(const std::vector<Op>& ops, bool dom, Progress* progress, std::string* refused) {
  XmlInterface* w = nullptr;
  if (XmlInterface::CreateWriterToMemF(&w, false, dom, nullptr) != 0) {
    *refused = "the XmlInterface writer could not be made";
    return 0;
  }
  std::unique_ptr<XmlInterface> owned(w);
  static const char kXmlnsUri[] = "http://www.w3.org/2000/xmlns/";
  uint64_t done = 0;
  const NodeName* element = nullptr;
  for (const Op& op : ops) {
    const NodeName& n = op.name;
    bool ok = true;
    switch (op.kind) {
      case Op::Start:
        element = &n;
        ok = w->WriteStartElemNsB(OrNull(n.prefix), C(n.local), OrNull(n.ns));
        if ((++done & 1023) == 0 && progress) progress->Update(done);
        break;
      case Op::Attr:
        // A refused declaration is one the writer has made itself.
        if (IsDeclaration(n)) {
          w->WriteAttrNsB(OrNull(n.prefix), C(n.local), dom ? nullptr : const_cast<char*>(kXmlnsUri),
                          C(op.value));
        } else {
          ok = w->WriteAttrNsB(OrNull(n.prefix), C(n.local), OrNull(n.ns), C(op.value));
        }
        break;
      case Op::Text:
        ok = w->WriteValueB(C(op.value));
        break;
      case Op::End:
        ok = w->EndElemB();
        break;
    }
    if (!ok) {
      *refused = "the XmlInterface writer refused " +
                 (op.kind == Op::Attr ? "the attribute " + n.qname + " of " : std::string()) +
                 (element ? "<" + element->qname + ">" : std::string("the document"));
      return 0;
    }
  }
  unsigned int size = 0;
  char* text = w->AllocMemP(&size);
  if (text == nullptr) {
    *refused = "the XmlInterface writer could not finish the document";
    return 0;
  }
  MemFreeF(text);
  return size;
}

std::string Megabytes(double bytes) {
  char text[32];
  if (bytes >= 1e6) {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.1f KB", bytes / 1e3);
  }
  return text;
}

XmlInterface* NewInterfaceReader(std::string& text, bool dom) {
  XmlInterface* x = nullptr;
  if (XmlInterface::CreateReaderFromMemF(C(text), static_cast<unsigned long>(text.size()), &x, dom) != 0)
    return nullptr;
  return x;
}

// Records the document through whichever engine is there; false after
// reporting why it cannot be read.
bool Record(const std::string& name, const std::string& text, Recorder* recorder) {
  Ref<IStream> memory(NewMemoryStream(text));
  Problem problem;
  WalkResult result = ReadDocument(memory.get(), !StreamingAvailable(), recorder, &problem);
  if (result == WalkResult::kFailed) ReportError(name, problem);
  return result == WalkResult::kDone;
}

bool BenchOne(const std::string& operand, bool dom) {
  Input in;
  std::string text;
  if (!in.Open(operand) || !in.ReadAll(&text)) return false;
  // Untimed: the write job and the number of elements, then one walk that
  // shows the engine can follow the whole document.
  Recorder recorder;
  if (!Record(in.name(), text, &recorder)) return false;
  WalkCount check;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::unique_ptr<XmlInterface> x(NewInterfaceReader(text, dom));
    if (!x) {
      ReportError(in.name(), "the XmlInterface reader could not be made");
      return false;
    }
    check = ReadJob(*x, TableFor(recorder.ops, dom), nullptr);
    if (!check.stuck || dom) break;
    ReportNote(in.name(),
               "the streaming engine does not step over a processing instruction, CDATA section or "
               "document type; measuring the document engine");
    dom = true;
  }
  if (check.elements != recorder.elements) {
    ReportError(in.name(), "the " + std::string(dom ? "document" : "streaming") + " engine walked " +
                               std::to_string(check.elements) + " of " +
                               std::to_string(recorder.elements) + " elements" +
                               (dom ? " (it follows at most 65,536 levels)" : ""));
    return false;
  }
  const AttributeTable table = TableFor(recorder.ops, dom);
  const uint64_t elements = recorder.elements;
  if (!PutStdout("file     " + in.name() + " (" + Megabytes(static_cast<double>(text.size())) + ", " +
                 std::to_string(elements) + " elements)\nengine   " +
                 (dom ? "document (DOM)\n" : "streaming\n"))) {
    return false;
  }
  std::fflush(stdout);

  // Timed read: factory over the text in memory, then the walk.
  double best = 1e30, bestCpu = 1e30, spent = 0;
  int runs = 0;
  while (runs == 0 || (spent < 1.0 && runs < 100)) {
    Progress progress("read", elements);
    double t0 = Now(), c0 = CpuNow();
    std::unique_ptr<XmlInterface> x(NewInterfaceReader(text, dom));
    WalkCount count = x ? ReadJob(*x, table, &progress) : WalkCount();
    x.reset();
    double t = Now() - t0;
    bestCpu = std::min(bestCpu, CpuNow() - c0);
    if (count.elements != elements) {
      ReportError(in.name(), "a read run walked " + std::to_string(count.elements) + " of " +
                                 std::to_string(elements) + " elements");
      return false;
    }
    best = std::min(best, t);
    spent += t;
    ++runs;
  }
  char line[160];
  std::snprintf(line, sizeof line,
                "read     %8.1f MB/s  (%.3f ms per run, best of %d; %.1f MB/s of processor time)\n",
                static_cast<double>(text.size()) / best / 1e6, best * 1e3, runs,
                static_cast<double>(text.size()) / bestCpu / 1e6);
  if (!PutStdout(line)) return false;
  std::fflush(stdout);

  // Timed write: the same elements, attributes and text into memory.
  best = 1e30;
  bestCpu = 1e30;
  spent = 0;
  runs = 0;
  size_t written = 0;
  while (runs == 0 || (spent < 1.0 && runs < 100)) {
    Progress progress("write", elements);
    double t0 = Now(), c0 = CpuNow();
    std::string refused;
    size_t size = WriteRun(recorder.ops, dom, &progress, &refused);
    double t = Now() - t0;
    bestCpu = std::min(bestCpu, CpuNow() - c0);
    if (size == 0 || (written != 0 && size != written)) {
      ReportError(in.name(), size == 0 ? refused : "write runs gave different documents");
      return false;
    }
    written = size;
    best = std::min(best, t);
    spent += t;
    ++runs;
  }
  std::snprintf(line, sizeof line,
                "write    %8.1f MB/s  (%.3f ms per run, best of %d; %.1f MB/s of processor time; %s "
                "written)\n",
                static_cast<double>(written) / best / 1e6, best * 1e3, runs,
                static_cast<double>(written) / bestCpu / 1e6, Megabytes(static_cast<double>(written)).c_str());
  return PutStdout(line);
}

}  // namespace

int RunBench(const std::vector<std::string>& args) {
  Arguments a;
  bool dom = false;
  int status = kExitUsage;
  if (!ParseFileCommand("bench", args, &a, &dom, &status)) return status;
  EnsureCom();  // the document engine may stand in for the streaming one
  int result = kExitOk;
  for (const std::string& operand : a.operands) {
    if (!BenchOne(operand, dom)) result = kExitBad;
  }
  if (!FinishStdout()) result = kExitBad;
  return result;
}

}  // namespace twxml_cli
