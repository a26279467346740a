// Peak memory, each system in a fresh child process of its own so that no
// system sees another's heap. The child reads the document, resets the
// high-water mark of its resident set (/proc/self/clear_refs), runs the
// system once and reports how far the mark rose above where it started: the
// document text itself is not counted, everything the system built is.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "driver.h"

namespace twbench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;
// The DOM goal: a loaded document takes at most this multiple of its text.
constexpr double kDomGoal = 2.5;
// The streaming goal: the larger document raises the peak by at most this.
constexpr double kStreamGrowthGoalMb = 4.0;

long procStatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::atol(line.c_str() + n + 1);
  return -1;
}

struct Peak {
  bool ok = false;
  double bytes = 0;  // peak resident bytes added
  double read = 0;   // document bytes the system read
};

Peak runChild(const char* key, const std::string& path, unsigned repeat) {
  Peak p;
  int fds[2];
  if (pipe(fds) != 0) return p;
  std::string rep = std::to_string(repeat);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execl("/proc/self/exe", "twxml-bench", "--child-peak", key, path.c_str(), rep.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[128];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return p;
  p.ok = std::sscanf(out.c_str(), "%lf %lf", &p.bytes, &p.read) == 2;
  return p;
}

const MemorySystem* findSystem(const char* key) {
  static const std::vector<MemorySystem> dom = domMemorySystems();
  static const std::vector<MemorySystem> stream = streamMemorySystems();
  for (const auto* list : {&dom, &stream})
    for (const MemorySystem& m : *list)
      if (std::strcmp(m.key, key) == 0) return &m;
  return nullptr;
}

void domRow(const char* label, const std::string& path, double docBytes, Report& report) {
  std::printf("\n== memory-dom: peak memory of a loaded document (%s, %.1f MB)\n", label,
              docBytes / kMiB);
  std::printf("   %-30s %10s %12s  %s\n", "system", "peak MB", "x document", "goal");
  for (const MemorySystem& m : domMemorySystems()) {
    std::printf("   %-30s ", m.name);
    Peak p = m.fn ? runChild(m.key, path, 1) : Peak{};
    if (!p.ok) {
      std::printf("%10s  (not measured)\n", "-");
      continue;
    }
    double ratio = p.bytes / docBytes;
    std::printf("%10.1f %11.2fx", p.bytes / kMiB, ratio);
    if (std::strcmp(m.key, "twdom") == 0) {
      bool met = ratio <= kDomGoal;
      std::printf("  <= %.2fx %s", kDomGoal, met ? "met" : "MISSED");
      char target[48], measured[32];
      std::snprintf(target, sizeof target, "<= %.2fx the document", kDomGoal);
      std::snprintf(measured, sizeof measured, "%.2fx", ratio);
      report.goals.push_back({std::string("memory-dom (") + label + "): " + m.name, target,
                              measured, met});
    }
    std::printf("\n");
  }
}

void streamRow(const std::string& path, double docBytes, unsigned repeat, Report& report) {
  std::printf("\n== memory-stream: peak memory of the streaming walk (record document, %.1f MB "
              "and %ux larger, read piece by piece)\n",
              docBytes / kMiB, repeat);
  std::printf("   %-30s %10s %10s %10s  %s\n", "system", "1x MB", "larger MB", "growth", "goal");
  for (const MemorySystem& m : streamMemorySystems()) {
    std::printf("   %-30s ", m.name);
    Peak small = m.fn ? runChild(m.key, path, 1) : Peak{};
    Peak large = small.ok ? runChild(m.key, path, repeat) : Peak{};
    if (!small.ok || !large.ok) {
      std::printf("%10s  (not measured)\n", "-");
      continue;
    }
    double growth = (large.bytes - small.bytes) / kMiB;
    std::printf("%10.1f %10.1f %+9.1f", small.bytes / kMiB, large.bytes / kMiB, growth);
    if (std::strcmp(m.key, "twreader") == 0) {
      bool met = growth <= kStreamGrowthGoalMb;
      std::printf("  <= +%.0f MB %s", kStreamGrowthGoalMb, met ? "met" : "MISSED");
      char target[64], measured[32];
      std::snprintf(target, sizeof target, "<= +%.0f MB at %ux the document", kStreamGrowthGoalMb,
                    repeat);
      std::snprintf(measured, sizeof measured, "%+.1f MB", growth);
      report.goals.push_back({std::string("memory-stream: ") + m.name, target, measured, met});
    }
    std::printf("  (%.0f MB read)\n", large.read / kMiB);
  }
}

}  // namespace

int childPeak(const char* key, const char* path, unsigned repeat) {
  const MemorySystem* m = findSystem(key);
  std::string doc;
  if (!m || !m->fn || !readFile(path, &doc)) return 2;
  std::vector<Record> none;
  // Writing 5 to clear_refs resets the high-water mark to the current size.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  long base = procStatusKb("VmRSS");
  Result r = m->fn(Input{doc, none, false, repeat});
  long peak = procStatusKb("VmHWM");
  if (r.unavailable) return 4;
  if (!r.error.empty() || base < 0 || peak < 0) return 3;
  std::printf("%.0f %.0f\n", (peak - base) * 1024.0, static_cast<double>(r.bytes));
  return 0;
}

void runMemoryRows(const Documents& docs, const Options& opt, Report& report) {
  if (!opt.memory) return;
  if (opt.selected("memory-dom")) {
    if (!docs.records.empty())
      domRow("record document", docs.recordsPath, static_cast<double>(docs.records.size()),
             report);
    if (!docs.text.empty())
      domRow("text-heavy document", docs.textPath, static_cast<double>(docs.text.size()), report);
  }
  if (opt.selected("memory-stream") && !docs.records.empty())
    streamRow(docs.recordsPath, static_cast<double>(docs.records.size()), opt.repeat, report);
}

}  // namespace twbench
