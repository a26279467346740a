// twxml bench: read and write speed through XmlInterface.
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cli.h"

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
    int width = 40;
    int filled = static_cast<int>(width * std::min<uint64_t>(done, total_) / total_);
    std::fprintf(stderr, "\r%-6s [%s%s] %3d%%", label_, std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(),
                 static_cast<int>(100 * std::min<uint64_t>(done, total_) / total_));
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

// What the read job asks for per element name: the attributes seen on it.
using AttributeTable = std::map<std::string, std::vector<std::string>>;

// The write job: the elements, attributes and text of the document.
struct Op {
  enum Kind { Start, Attr, Text, End } kind;
  std::string prefix, local, ns, value;
};

class ReadSink final : public WalkSink {
 public:
  ReadSink(const AttributeTable& table, Progress* progress)
      : table_(table), progress_(progress), buffer_(new char[kValueBufferSize]) {}
  bool Enter(XmlInterface& x, int) override {
    char name[4096];
    if (!x.GetElemNameToBufB(name, sizeof name)) return false;
    auto it = table_.find(name);
    if (it != table_.end()) {
      for (const std::string& a : it->second) {
        if (x.GetAttrValueToBufB(C(a), buffer_.get(), kValueBufferSize)) touched_ += buffer_[0];
      }
    }
    if ((++elements_ & 1023) == 0 && progress_) progress_->Update(elements_);
    return true;
  }
  bool Value(const char* text, int) override {
    touched_ += text[0];
    return true;
  }
  bool MoreText(const char* text, int) override { return Value(text, 0); }
  bool Leave(int) override { return true; }
  uint64_t elements() const { return elements_; }

 private:
  const AttributeTable& table_;
  Progress* progress_;
  std::unique_ptr<char[]> buffer_;
  uint64_t elements_ = 0;
  unsigned touched_ = 0;
};

// Records the write job and the attribute table in one untimed walk.
class RecordSink final : public WalkSink {
 public:
  RecordSink(ReaderSession& s, AttributeTable& table, std::vector<Op>& ops)
      : s_(s), table_(table), ops_(ops), buffer_(new char[kValueBufferSize]) {}
  bool Enter(XmlInterface& x, int) override {
    char name[4096];
    ElemInfo info;
    if (!x.GetElemNameToBufB(name, sizeof name) || !s_.cursor->Next(&info) ||
        !SameElement(name, s_.dom, info)) {
      return false;
    }
    ops_.push_back({Op::Start, info.prefix, info.local, info.ns, ""});
    std::vector<std::string>& asked = table_[name];
    for (const AttrInfo& a : info.attrs) {
      if (s_.dom || (a.ns.empty() && a.prefix.empty())) {
        const std::string& key = s_.dom ? a.qname : a.local;
        bool known = false;
        for (const std::string& k : asked) known |= k == key;
        if (!known) asked.push_back(key);
      }
      ops_.push_back({Op::Attr, a.prefix, a.local, a.ns, AttributeValue(x, s_.dom, a, buffer_.get())});
    }
    ++elements_;
    return true;
  }
  bool Value(const char* text, int) override {
    if (*text) ops_.push_back({Op::Text, "", "", "", text});
    return true;
  }
  bool MoreText(const char* text, int) override { return Value(text, 0); }
  bool Leave(int) override {
    ops_.push_back({Op::End, "", "", "", ""});
    return true;
  }
  uint64_t elements() const { return elements_; }

 private:
  ReaderSession& s_;
  AttributeTable& table_;
  std::vector<Op>& ops_;
  std::unique_ptr<char[]> buffer_;
  uint64_t elements_ = 0;
};

char* OrNull(const std::string& s) { return s.empty() ? nullptr : C(s); }

// One write run; the size of the document written, or 0 on failure.
size_t WriteRun(const std::vector<Op>& ops, bool forceDom, Progress* progress) {
  XmlInterface* w = nullptr;
  if (XmlInterface::CreateWriterToMemF(&w, false, forceDom, nullptr) != 0) return 0;
  std::unique_ptr<XmlInterface> owned(w);
  static const char kXmlnsUri[] = "http://www.w3.org/2000/xmlns/";
  uint64_t done = 0;
  for (const Op& op : ops) {
    switch (op.kind) {
      case Op::Start:
        if (!w->WriteStartElemNsB(OrNull(op.prefix), C(op.local), OrNull(op.ns))) return 0;
        if ((++done & 1023) == 0 && progress) progress->Update(done);
        break;
      case Op::Attr:
        if (op.prefix == "xmlns" || (op.prefix.empty() && op.local == "xmlns")) {
          w->WriteAttrNsB(OrNull(op.prefix), C(op.local),
                          forceDom ? nullptr : const_cast<char*>(kXmlnsUri), C(op.value));
        } else if (!w->WriteAttrNsB(OrNull(op.prefix), C(op.local), OrNull(op.ns), C(op.value))) {
          return 0;
        }
        break;
      case Op::Text:
        if (!w->WriteValueB(C(op.value))) return 0;
        break;
      case Op::End:
        if (!w->EndElemB()) return 0;
        break;
    }
  }
  unsigned int size = 0;
  char* text = w->AllocMemP(&size);
  if (text == nullptr) return 0;
  MemFreeF(text);
  return size;
}

std::string Megabytes(double bytes) {
  char text[32];
  if (bytes >= 1e6)
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  else
    std::snprintf(text, sizeof text, "%.1f KB", bytes / 1e3);
  return text;
}

}  // namespace

int RunBench(const std::vector<std::string>& args) {
  Arguments a;
  int status = kExitUsage;
  if (!ParseArguments("bench", args, {"dom"}, &a, &status)) return status;
  if (a.operands.size() != 1) return UsageError("bench", "needs exactly one FILE");
  const std::string& path = a.operands.front();

  // Untimed: open, record the write job and the attributes asked per element.
  ReaderSession session;
  status = OpenSession("bench", path, a.dom, &session);
  if (status != kExitOk) return status;
  bool dom = session.dom;
  AttributeTable table;
  std::vector<Op> ops;
  RecordSink recorder(session, table, ops);
  bool stuck = false;
  if (!Walk(*session.reader, recorder, &stuck)) return ReportWalkFailure("bench", path, dom, stuck);
  uint64_t elements = recorder.elements();

  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  std::string text = content.str();

  std::printf("file     %s (%s, %llu elements)\n", path.c_str(), Megabytes(text.size()).c_str(),
              static_cast<unsigned long long>(elements));
  std::printf("engine   %s\n", dom ? "document (DOM)" : "streaming");
  std::fflush(stdout);

  // Timed read: factory over the text in memory, then the walk.
  double best = 1e30, bestCpu = 1e30, spent = 0;
  int runs = 0;
  while (runs == 0 || (spent < 1.0 && runs < 100)) {
    Progress progress("read", elements);
    double t0 = Now(), c0 = CpuNow();
    XmlInterface* x = nullptr;
    if (XmlInterface::CreateReaderFromMemF(C(text), static_cast<unsigned long>(text.size()), &x,
                                           a.dom) != 0) {
      std::fprintf(stderr, "twxml: bench: the reader could not be made\n");
      return kExitBad;
    }
    ReadSink sink(table, &progress);
    bool ok = Walk(*x, sink, &stuck);
    delete x;
    double t = Now() - t0;
    bestCpu = std::min(bestCpu, CpuNow() - c0);
    if (!ok) return ReportWalkFailure("bench", path, dom, stuck);
    best = std::min(best, t);
    spent += t;
    ++runs;
  }
  std::printf("read     %8.1f MB/s  (%.3f ms per run, best of %d; %.1f MB/s of processor time)\n",
              text.size() / best / 1e6, best * 1e3, runs, text.size() / bestCpu / 1e6);
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
    written = WriteRun(ops, a.dom, &progress);
    double t = Now() - t0;
    bestCpu = std::min(bestCpu, CpuNow() - c0);
    if (written == 0) {
      std::fprintf(stderr, "twxml: bench: the writer refused the document\n");
      return kExitBad;
    }
    best = std::min(best, t);
    spent += t;
    ++runs;
  }
  std::printf("write    %8.1f MB/s  (%.3f ms per run, best of %d; %.1f MB/s of processor time; %s written)\n",
              written / best / 1e6, best * 1e3, runs, written / bestCpu / 1e6, Megabytes(written).c_str());
  return kExitOk;
}

}  // namespace twxml_cli
