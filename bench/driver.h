// The driver's pieces: the rows to run, the documents they read, the goals
// they are held to, and what the run reports.
#pragma once

#include <string>
#include <vector>

#include "engines.h"

namespace twbench {

enum class Doc { Records, Text, Written };

struct System {
  const char* name;
  EngineFn fn;
};

struct Peer {
  System system;
  double goal;  // wanted ratio (peer time / subject time); 0 = none
};

// One row: a twxml system (the subject) measured against its peers on the
// same job.
struct Row {
  const char* key;    // what --rows selects by
  const char* title;
  Doc doc;
  System subject;
  std::vector<Peer> peers;
};

std::vector<Row> speedRows();

// A system whose peak memory is measured, in a child process of its own.
struct MemorySystem {
  const char* key;  // names it to the child
  const char* name;
  EngineFn fn;
};

std::vector<MemorySystem> domMemorySystems();
std::vector<MemorySystem> streamMemorySystems();

// Run settings from the command line.
struct Options {
  double sizeMb = 60;       // record document
  double textSizeMb = -1;   // text-heavy document; negative: as sizeMb
  size_t records = 200000;  // records the writers write
  int rounds = 5;
  unsigned repeat = 10;     // how much larger the streaming-memory document is
  std::string file;         // read instead of the generated record document
  std::vector<std::string> rows;  // selected row keys (substrings); empty: all
  bool memory = true;
  bool defaultMalloc = false;  // leave the C allocator as every program starts with it
  bool selected(const char* key) const;
};

// A goal and how the run did against it, for the closing summary.
struct GoalLine {
  std::string what;
  std::string target;
  std::string measured;
  bool met;
};

struct Report {
  std::vector<GoalLine> goals;
  bool failed = false;  // a system failed or did other work than its row's subject
};

struct Documents {
  std::string records, text;
  std::string recordsPath, textPath;
  std::vector<Record> written;
};

void runSpeedRow(const Row& row, const Documents& docs, const Options& opt, Report& report);
void runMemoryRows(const Documents& docs, const Options& opt, Report& report);

// The child side of a memory measurement; returns the exit status.
int childPeak(const char* key, const char* path, unsigned repeat);

}  // namespace twbench
