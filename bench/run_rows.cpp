// Runs one row: a verifying run of every system (untimed, also the warm-up),
// then timed rounds interleaved across the systems (A, B, C, A, B, C, ...)
// so a change in the machine's load falls on all of them alike; the best
// round of each counts. Prints times, ratios, goals and the work each
// system reported.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver.h"

namespace twbench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;

struct Entry {
  const System* system;
  double goal;
  Result verify, best;
  bool usable = false;  // built, available and verified without error
};

// A system that frees many small blocks leaves them for the allocator to
// merge on the next large request, which would charge the next system for
// them. One large request after every run, untimed, merges them there.
void settleHeap() {
  void* volatile p = std::malloc(1 << 20);
  std::free(p);
}

void keepBest(Result& best, bool first, Result r) {
  if (!best.error.empty()) return;
  if (first || !r.error.empty() || r.cpu < best.cpu) best = std::move(r);
}

std::string describe(const Row& row, const Documents& docs) {
  char buf[96];
  switch (row.doc) {
    case Doc::Records:
      std::snprintf(buf, sizeof buf, "record document, %.1f MB", docs.records.size() / kMiB);
      break;
    case Doc::Text:
      std::snprintf(buf, sizeof buf, "text-heavy document, %.1f MB", docs.text.size() / kMiB);
      break;
    case Doc::Written:
      std::snprintf(buf, sizeof buf, "%zu records written", docs.written.size());
      break;
  }
  return buf;
}

// A count, marked when it differs from the subject's.
std::string count(uint64_t v, uint64_t subject, bool compare, bool* differs) {
  std::string s = std::to_string(v);
  if (compare && v != subject) {
    s += '*';
    *differs = true;
  }
  return s;
}

void printWork(const std::vector<Entry>& entries, bool writer, Report& report) {
  std::printf("   %-30s %10s %11s %11s %11s", "work", "elements", "attributes", "attr bytes",
              "text bytes");
  if (writer) std::printf(" %11s", "out bytes");
  std::printf("\n");
  const Entry& s = entries[0];
  bool compare = s.usable;
  bool differs = false, outDiffers = false;
  for (const Entry& e : entries) {
    if (!e.usable) continue;
    const Work& w = e.verify.work;
    const Work& sw = s.verify.work;
    std::printf("   %-30s %10s %11s %11s %11s", e.system->name,
                count(w.elements, sw.elements, compare, &differs).c_str(),
                count(w.attributes, sw.attributes, compare, &differs).c_str(),
                count(w.attrBytes, sw.attrBytes, compare, &differs).c_str(),
                count(w.textBytes, sw.textBytes, compare, &differs).c_str());
    if (writer) std::printf(" %11s", count(w.outBytes, sw.outBytes, compare, &outDiffers).c_str());
    std::printf("\n");
    // The timed runs must have done what the verifying run did (where they
    // count at all: loads and writers count only when verifying).
    const Work& tw = e.best.work;
    if ((tw.elements || tw.attributes) &&
        (tw.elements != w.elements || tw.attributes != w.attributes)) {
      std::printf("   %s: a timed run met %llu elements and %llu attributes\n", e.system->name,
                  static_cast<unsigned long long>(e.best.work.elements),
                  static_cast<unsigned long long>(e.best.work.attributes));
      report.failed = true;
    }
  }
  if (differs) {
    std::printf("   * differs from %s: NOT THE SAME WORK\n", s.system->name);
    report.failed = true;
  }
  // Writers may escape and declare differently; their documents are compared
  // by what a reader finds in them, their sizes are shown.
  if (outDiffers) std::printf("   * output sizes differ (each writer's own escaping)\n");
}

}  // namespace

void runSpeedRow(const Row& row, const Documents& docs, const Options& opt, Report& report) {
  static const std::string kNone;
  const std::string& doc =
      row.doc == Doc::Records ? docs.records : row.doc == Doc::Text ? docs.text : kNone;
  std::vector<Entry> entries;
  entries.push_back({&row.subject, 0, {}, {}});
  for (const Peer& p : row.peers) entries.push_back({&p.system, p.goal, {}, {}});

  for (Entry& e : entries) {
    if (!e.system->fn) continue;
    e.verify = e.system->fn(Input{doc, docs.written, true});
    settleHeap();
    e.usable = e.verify.error.empty() && !e.verify.unavailable;
  }
  for (int round = 0; round < opt.rounds; ++round) {
    for (Entry& e : entries) {
      if (!e.usable) continue;
      keepBest(e.best, round == 0, e.system->fn(Input{doc, docs.written, false}));
      settleHeap();
    }
  }

  std::printf("\n== %s: %s (%s)\n", row.key, row.title, describe(row, docs).c_str());
  std::printf("   %-30s %8s %8s %7s %8s %8s  %s\n", "system", "MB/s", "cpu s", "sys s", "wall s",
              "ratio", "goal");
  const Entry& s = entries[0];
  for (Entry& e : entries) {
    std::printf("   %-30s ", e.system->name);
    const Result& r = e.usable ? e.best : e.verify;
    double ratio = -1;
    if (!e.system->fn) {
      std::printf("%8s  (not built)\n", "n/a");
    } else if (r.unavailable) {
      std::printf("%8s  (not available: %s)\n", "n/a", r.error.c_str());
    } else if (!r.error.empty()) {
      std::printf("%8s  FAILED: %s\n", "-", r.error.c_str());
      e.usable = false;
      report.failed = true;
    } else {
      std::printf("%8.1f %8.3f %7.3f %8.3f", r.bytes / kMiB / r.cpu, r.cpu, r.sys, r.wall);
      if (&e != &s && s.usable && s.best.error.empty()) {
        ratio = r.cpu / s.best.cpu;
        std::printf(" %7.2fx", ratio);
        if (e.goal > 0) std::printf("  >= %.2fx %s", e.goal, ratio >= e.goal ? "met" : "MISSED");
      }
      std::printf("\n");
    }
    if (e.goal <= 0) continue;
    char target[64], measured[32] = "n/a";
    std::snprintf(target, sizeof target, ">= %.2fx %s", e.goal, e.system->name);
    if (ratio >= 0) std::snprintf(measured, sizeof measured, "%.2fx", ratio);
    report.goals.push_back(
        {std::string(row.key) + ": " + s.system->name, target, measured, ratio >= e.goal});
  }
  printWork(entries, row.doc == Doc::Written, report);
}

}  // namespace twbench
