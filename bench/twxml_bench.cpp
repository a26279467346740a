// twxml-bench: each of twxml's jobs run side by side with its peers, as rows
// of throughput, processor time and ratios, the work every system reported,
// peak memory, and the goals met or missed.
//
// Documents are generated deterministically into the build tree
// (TWXML_BENCH_DATA_DIR) and kept there for later runs. Exit status 1 means
// a system failed or did other work than its row's subject; missed goals
// are reported, not failed.
#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver.h"
#ifdef TWBENCH_HAVE_LIBRARY
#include "twxml/platform/com.h"
#endif

namespace twbench {

namespace {

double wallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

void cpuNow(double* user, double* sys) {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  *user = seconds(u.ru_utime);
  *sys = seconds(u.ru_stime);
}

}  // namespace

Stopwatch::Stopwatch() : wall0_(wallNow()) { cpuNow(&user0_, &sys0_); }

void Stopwatch::stop(Result& r) const {
  double user, sys;
  cpuNow(&user, &sys);
  r.sys = sys - sys0_;
  r.cpu = user - user0_ + r.sys;
  r.wall = wallNow() - wall0_;
}

bool Options::selected(const char* key) const {
  if (rows.empty()) return true;
  for (const std::string& s : rows)
    if (std::strstr(key, s.c_str())) return true;
  return false;
}

namespace {

void usage(std::FILE* out) {
  std::fprintf(
      out,
      "usage: twxml-bench [options]\n"
      "  --rows KEY[,KEY]  run only the rows whose key contains one of these (see --list)\n"
      "  --list            list the rows and exit\n"
      "  --size MB         size of the record document (default 60)\n"
      "  --text-size MB    size of the text-heavy document (default: as --size)\n"
      "  --records N       records the writers write (default 200000)\n"
      "  --rounds N        timed rounds per system, the best counts (default 5)\n"
      "  --repeat N        the larger document of the streaming-memory row, in times\n"
      "                    the record document (default 10)\n"
      "  --file PATH       read this document instead of the generated record document\n"
      "  --no-memory       skip the peak-memory rows\n"
      "  --default-malloc  keep the C allocator's own settings: large blocks then come\n"
      "                    from fresh mappings, and every system pays their page faults\n"
      "  --quick           1 MB documents, 4000 records, one round: a smoke run\n"
      "  --help            this text\n");
}

void list() {
  for (const Row& r : speedRows()) std::printf("%-16s %s\n", r.key, r.title);
  std::printf("%-16s %s\n", "memory-dom", "peak memory of a loaded document, each DOM");
  std::printf("%-16s %s\n", "memory-stream", "peak memory of the streaming walk as the document grows");
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto take = [&] { return argv[++i]; };
    if (a == "--size" && v) {
      o.sizeMb = std::atof(take());
    } else if (a == "--text-size" && v) {
      o.textSizeMb = std::atof(take());
    } else if (a == "--records" && v) {
      o.records = static_cast<size_t>(std::atoll(take()));
    } else if ((a == "--rounds" || a == "--reps") && v) {
      o.rounds = std::max(1, std::atoi(take()));
    } else if (a == "--repeat" && v) {
      o.repeat = static_cast<unsigned>(std::max(2, std::atoi(take())));
    } else if (a == "--file" && v) {
      o.file = take();
    } else if ((a == "--rows" || a == "--only") && v) {
      std::string s = take();
      for (size_t p = 0, q; p <= s.size(); p = q + 1) {
        q = s.find(',', p);
        if (q == std::string::npos) q = s.size();
        if (q > p) o.rows.push_back(s.substr(p, q - p));
      }
    } else if (a == "--no-memory") {
      o.memory = false;
    } else if (a == "--default-malloc") {
      o.defaultMalloc = true;
    } else if (a == "--quick") {
      o.sizeMb = o.textSizeMb = 1;
      o.records = 4000;
      o.rounds = 1;
    } else {
      return false;
    }
  }
  if (o.textSizeMb < 0) o.textSizeMb = o.sizeMb;
  return o.sizeMb > 0 && o.sizeMb <= 1024 && o.textSizeMb > 0 && o.textSizeMb <= 1024 &&
         o.records > 0;
}

std::string dataPath(const char* stem, double mb) {
  char name[64];
  std::snprintf(name, sizeof name, "/%s-%gMB.xml", stem, mb);
  return std::string(TWXML_BENCH_DATA_DIR) + name;
}

bool prepare(const Options& o, Documents& d) {
  bool records = false, text = false, written = false;
  for (const Row& r : speedRows()) {
    if (!o.selected(r.key)) continue;
    records |= r.doc == Doc::Records;
    text |= r.doc == Doc::Text;
    written |= r.doc == Doc::Written;
  }
  if (o.memory) {
    records |= o.selected("memory-dom") || o.selected("memory-stream");
    text |= o.selected("memory-dom");
  }
  constexpr double kMiB = 1024.0 * 1024.0;
  if (records && !o.file.empty()) {
    d.recordsPath = o.file;
    if (!readFile(o.file, &d.records)) {
      std::fprintf(stderr, "twxml-bench: cannot read %s\n", o.file.c_str());
      return false;
    }
  } else if (records) {
    d.recordsPath = dataPath("records-v3", o.sizeMb);
    d.records = loadOrMakeDocument(d.recordsPath, renderRecordDocument,
                                   static_cast<size_t>(o.sizeMb * kMiB));
  }
  if (text) {
    d.textPath = dataPath("text-v1", o.textSizeMb);
    d.text = loadOrMakeDocument(d.textPath, renderTextDocument,
                                static_cast<size_t>(o.textSizeMb * kMiB));
  }
  if (written) d.written = makeRecords(SIZE_MAX, o.records);
  std::printf("twxml-bench (%s build)\n", TWXML_BENCH_BUILD_TYPE);
  if (records)
    std::printf("  record document      %s (%.1f MB)\n", d.recordsPath.c_str(),
                d.records.size() / kMiB);
  if (text)
    std::printf("  text-heavy document  %s (%.1f MB)\n", d.textPath.c_str(), d.text.size() / kMiB);
  if (written) std::printf("  writers write        %zu records\n", d.written.size());
  std::printf(
      "  processor time (user + system) of the best of %d interleaved round%s per system,\n"
      "  after one untimed run that also counts the work; ratio = peer time / twxml time\n",
      o.rounds, o.rounds == 1 ? "" : "s");
  return true;
}

void summary(const Report& report) {
  if (report.goals.empty()) return;
  std::printf("\n== goals\n");
  size_t met = 0;
  for (const GoalLine& g : report.goals) {
    std::printf("   %-50s %-34s %9s  %s\n", g.what.c_str(), g.target.c_str(), g.measured.c_str(),
                g.met ? "met" : "MISSED");
    met += g.met;
  }
  std::printf("   %zu of %zu goals met\n", met, report.goals.size());
}

}  // namespace
}  // namespace twbench

int main(int argc, char** argv) {
  using namespace twbench;
#ifdef TWBENCH_HAVE_LIBRARY
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
  if (argc == 5 && std::strcmp(argv[1], "--child-peak") == 0)
    return childPeak(argv[2], argv[3], static_cast<unsigned>(std::atoi(argv[4])));
  Options opt;
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    list();
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    usage(stdout);
    return 0;
  }
  if (!parse(argc, argv, opt)) {
    usage(stderr);
    return 2;
  }
  // Large blocks would otherwise come from fresh mappings whose page faults
  // land on whichever system runs first after the allocator's state changed.
  // From the heap, kept, every system runs on warm memory after its first
  // run. Memory the library maps for itself is not affected.
  if (!opt.defaultMalloc) {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }

  Documents docs;
  if (!prepare(opt, docs)) return 2;
  Report report;
  for (const Row& row : speedRows())
    if (opt.selected(row.key)) runSpeedRow(row, docs, opt, report);
  runMemoryRows(docs, opt, report);
  summary(report);
  return report.failed ? 1 : 0;
}
