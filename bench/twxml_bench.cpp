// twxml-bench: every job run side by side with its peers on one generated
// record document, printed as one table of throughput and ratios.
//
//   twxml-bench [--size MB] [--reps N] [--file PATH] [--only TEXT] [--no-memory]
//
// The document is generated deterministically and kept in the build tree
// (TWXML_BENCH_DATA_DIR) for later runs. Exit status 1 means an engine failed
// or engines of one job disagreed on the element count; missed speed targets
// are reported, not failed.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engines.h"
#if defined(TWBENCH_HAVE_DOM) || defined(TWBENCH_HAVE_XMLIF)
#include "twxml/platform/com.h"
#endif

namespace twbench {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double cpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

namespace {

#ifdef TWBENCH_HAVE_READER
constexpr EngineFn kTwReaderWalk = twReaderWalk;
#else
constexpr EngineFn kTwReaderWalk = nullptr;
#endif
#ifdef TWBENCH_HAVE_HANDLES
constexpr EngineFn kTwHandleRead = twHandleRead, kTwHandleWrite = twHandleWrite;
#else
constexpr EngineFn kTwHandleRead = nullptr, kTwHandleWrite = nullptr;
#endif
#ifdef TWBENCH_HAVE_DOM
constexpr EngineFn kTwDomWalk = twDomWalk, kTwDomSave = twDomSave;
#else
constexpr EngineFn kTwDomWalk = nullptr, kTwDomSave = nullptr;
#endif
#ifdef TWBENCH_HAVE_XMLIF
constexpr EngineFn kTwXmlIfStream = twXmlIfStreamRead, kTwXmlIfDom = twXmlIfDomRead,
                   kTwXmlIfWrite = twXmlIfWrite;
#else
constexpr EngineFn kTwXmlIfStream = nullptr, kTwXmlIfDom = nullptr, kTwXmlIfWrite = nullptr;
#endif

struct Engine {
  const char* name;
  EngineFn fn;
  const char* key;  // name for --child-peak; null when peak memory is not measured
};

struct Peer {
  Engine engine;
  double target;  // wanted ratio (peer time / our time); 0 = none
};

struct Job {
  const char* title;
  Engine subject;
  std::vector<Peer> peers;
};

std::vector<Job> jobs() {
  return {
      {"reader walk",
       {"twxml IXmlReader", kTwReaderWalk, nullptr},
       {{{"libxml2 xmlTextReader", libxml2ReaderWalk, nullptr}, 2.5},
        {{"expat (namespaces on)", expatWalk, nullptr}, 1.5}}},
      {"handle read",
       {"twxml XmlLite* reader", kTwHandleRead, nullptr},
       {{{"libxml2 xmlTextReader", libxml2ReaderCopies, nullptr}, 2.0}}},
      {"handle write",
       {"twxml XmlLite* writer", kTwHandleWrite, nullptr},
       {{{"libxml2 xmlTextWriter", libxml2TextWriter, nullptr}, 2.0}}},
      {"DOM load+walk",
       {"twxml DOMDocument", kTwDomWalk, "twdom"},
       {{{"libxml2 xmlReadMemory", libxml2DomWalk, "libxml2"}, 3.0},
        {{"pugixml", pugixmlDomWalk, "pugixml"}, 1 / 1.5}}},
      {"DOM save",
       {"twxml DOMDocument save", kTwDomSave, nullptr},
       {{{"libxml2 xmlDocDumpMemory", libxml2DomSave, nullptr}, 2.0},
        {{"pugixml save", pugixmlDomSave, nullptr}, 0}}},
      {"XmlInterface stream read",
       {"twxml XmlInterface (stream)", kTwXmlIfStream, nullptr},
       {{{"libxml2 xmlTextReader", libxml2ReaderCopies, nullptr}, 2.0}}},
      {"XmlInterface DOM read",
       {"twxml XmlInterface (DOM)", kTwXmlIfDom, nullptr},
       {{{"libxml2 xmlReadMemory", libxml2DomCopies, nullptr}, 1.5}}},
      {"XmlInterface write",
       {"twxml XmlInterface (stream)", kTwXmlIfWrite, nullptr},
       {{{"libxml2 xmlTextWriter", libxml2TextWriter, nullptr}, 2.0}}},
  };
}

// Keeps the best (least disturbed) of an engine's runs; the first error or
// unavailability sticks.
void keepBest(Result& best, bool first, Result r) {
  if (!best.error.empty() || best.unavailable) return;
  if (first || !r.error.empty() || r.unavailable || r.seconds < best.seconds) best = std::move(r);
}

long procStatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::atol(line.c_str() + n + 1);
  return -1;
}

// Child side of the peak-memory measurement: a fresh process per engine,
// so no engine sees another's heap. Prints the peak resident bytes the
// load+walk added on top of the document text itself.
int childPeak(const char* key, const char* path) {
  std::string doc;
  if (!readFile(path, &doc)) return 2;
  std::vector<Record> none;
  Input in{doc, none};
  EngineFn fn = nullptr;
  for (const Job& j : jobs()) {
    if (j.subject.key && std::strcmp(j.subject.key, key) == 0) fn = j.subject.fn;
    for (const Peer& p : j.peers)
      if (p.engine.key && std::strcmp(p.engine.key, key) == 0) fn = p.engine.fn;
  }
  if (!fn) return 2;
  // Writing 5 to clear_refs resets the high-water mark to the current size.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  long base = procStatusKb("VmRSS");
  Result r = fn(in);
  long peak = procStatusKb("VmHWM");
  if (r.unavailable) return 4;
  if (!r.error.empty() || base < 0 || peak < 0) return 3;
  std::printf("%ld\n", (peak - base) * 1024);
  return 0;
}

long long runChildPeak(const char* key, const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execl("/proc/self/exe", "twxml-bench", "--child-peak", key, path.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[64];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::atoll(out.c_str());
}

void usage() {
  std::fprintf(stderr,
               "usage: twxml-bench [--size MB] [--reps N] [--file PATH] [--only TEXT] "
               "[--no-memory]\n"
               "  --size MB     size of the generated record document (default 60)\n"
               "  --reps N      runs per engine, the best counts (default 3)\n"
               "  --file PATH   read this document instead of the generated one\n"
               "  --only TEXT   run only the jobs whose title contains TEXT\n"
               "  --no-memory   skip the peak-memory measurement of the DOM engines\n");
}

}  // namespace
}  // namespace twbench

int main(int argc, char** argv) {
  using namespace twbench;
  if (argc == 4 && std::strcmp(argv[1], "--child-peak") == 0) {
#if defined(TWBENCH_HAVE_DOM) || defined(TWBENCH_HAVE_XMLIF)
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
    return childPeak(argv[2], argv[3]);
  }
  double sizeMb = 60;
  int reps = 3;
  std::string file, only;
  bool memory = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--size" && hasValue) {
      sizeMb = std::atof(argv[++i]);
    } else if (a == "--reps" && hasValue) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--file" && hasValue) {
      file = argv[++i];
    } else if (a == "--only" && hasValue) {
      only = argv[++i];
    } else if (a == "--no-memory") {
      memory = false;
    } else {
      usage();
      return 2;
    }
  }
  if (sizeMb <= 0 || sizeMb > 1024) {
    std::fprintf(stderr, "twxml-bench: --size must be between 0 and 1024 MB\n");
    return 2;
  }
#if defined(TWBENCH_HAVE_DOM) || defined(TWBENCH_HAVE_XMLIF)
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
  // Large blocks would otherwise come from fresh mappings whose page faults
  // land on whichever engine runs first after the allocator's state changed
  // (one engine measured 2x apart in two jobs). From the heap, kept, every
  // engine runs on warm memory after the first run.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);

  std::vector<Record> records = makeRecords(static_cast<size_t>(sizeMb * 1024 * 1024));
  std::string doc;
  if (file.empty()) {
    char name[64];
    std::snprintf(name, sizeof name, "/records-v3-%gMB.xml", sizeMb);
    file = std::string(TWXML_BENCH_DATA_DIR) + name;
    doc = loadOrMakeDocument(file, records);
  } else if (!readFile(file, &doc)) {
    std::fprintf(stderr, "twxml-bench: cannot read %s\n", file.c_str());
    return 2;
  }
  Input in{doc, records};
  const double mb = static_cast<double>(doc.size()) / (1024.0 * 1024.0);
  std::printf("document  %s\n          %.1f MB, %zu records (writers write the same records)\n",
              file.c_str(), mb, records.size());
  std::printf("build     %s, best of %d run%s per engine\n\n", TWXML_BENCH_BUILD_TYPE, reps,
              reps == 1 ? "" : "s");
  std::printf("%-26s %-30s %9s %9s %9s %8s  %s\n", "job", "engine", "MB/s", "cpu s", "wall s",
              "ratio", "target");

  bool failed = false;
  for (const Job& job : jobs()) {
    if (!only.empty() && std::string(job.title).find(only) == std::string::npos) continue;
    Result subject;
    bool haveSubject = job.subject.fn != nullptr;
    // Runs interleaved (ours, each peer, ours, ...), so a change in the
    // machine's load falls on all engines of the job alike.
    std::vector<Result> peers(job.peers.size());
    for (int rep = 0; rep < reps; ++rep) {
      if (haveSubject) keepBest(subject, rep == 0, job.subject.fn(in));
      for (size_t i = 0; i < job.peers.size(); ++i)
        keepBest(peers[i], rep == 0, job.peers[i].engine.fn(in));
    }
    std::printf("%-26s %-30s ", job.title, job.subject.name);
    if (!haveSubject) {
      std::printf("%9s  (not built yet)\n", "n/a");
    } else if (subject.unavailable) {
      std::printf("%9s  (not available: %s)\n", "n/a", subject.error.c_str());
      haveSubject = false;
    } else if (!subject.error.empty()) {
      std::printf("%9s  FAILED: %s\n", "-", subject.error.c_str());
      failed = true;
    } else {
      std::printf("%9.1f %9.3f %9.3f\n", subject.bytes / (1024.0 * 1024.0) / subject.seconds,
                  subject.seconds, subject.wall);
    }
    for (size_t i = 0; i < job.peers.size(); ++i) {
      const Peer& p = job.peers[i];
      const Result& r = peers[i];
      std::printf("%-26s %-30s ", "", p.engine.name);
      if (!r.error.empty()) {
        std::printf("%9s  FAILED: %s\n", "-", r.error.c_str());
        failed = true;
        continue;
      }
      std::printf("%9.1f %9.3f %9.3f", r.bytes / (1024.0 * 1024.0) / r.seconds, r.seconds, r.wall);
      if (haveSubject && subject.error.empty()) {
        // Same work on both sides, so the time ratio is the speed ratio.
        double ratio = r.seconds / subject.seconds;
        std::printf(" %7.2fx", ratio);
        if (p.target > 0)
          std::printf("  >= %.2fx %s", p.target, ratio >= p.target ? "met" : "MISSED");
        if (r.elements != subject.elements) {
          std::printf("  element count differs: %llu vs %llu",
                      static_cast<unsigned long long>(subject.elements),
                      static_cast<unsigned long long>(r.elements));
          failed = true;
        }
      }
      std::printf("\n");
    }
    // Peak memory of the engines that keep the whole document.
    if (memory) {
      std::vector<const Engine*> measured;
      if (job.subject.key && haveSubject) measured.push_back(&job.subject);
      for (const Peer& p : job.peers)
        if (p.engine.key) measured.push_back(&p.engine);
      for (const Engine* e : measured) {
        long long peak = runChildPeak(e->key, file);
        std::printf("%-26s %-30s ", "  peak memory", e->name);
        if (peak < 0) {
          std::printf("%9s  (not measured)\n", "-");
        } else {
          double ratio = static_cast<double>(peak) / static_cast<double>(doc.size());
          std::printf("%7.1f MB %18s %7.2fx of the document", peak / (1024.0 * 1024.0), "",
                      ratio);
          if (e == &job.subject) std::printf("  <= 3.00x %s", ratio <= 3.0 ? "met" : "MISSED");
          std::printf("\n");
        }
      }
    }
  }
  std::printf(
      "\nMB/s and ratio from processor time (best run); ratio = peer time / twxml time\n"
      "for the same work, higher is better for twxml\n");
  return failed ? 1 : 0;
}
