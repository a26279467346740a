// One function per engine and job. Each does its own timing around the work
// being compared (so setup such as loading a document before a save stays
// outside) and fills in counts that the driver uses to check that all
// engines of a job did the same work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "docgen.h"

namespace twbench {

struct Input {
  const std::string& doc;               // the record document (zero-terminated)
  const std::vector<Record>& records;   // what the writers write
};

struct Result {
  double seconds = 0;     // processor time of the measured work (what ratios use)
  double wall = 0;        // elapsed time of the same work
  uint64_t bytes = 0;     // bytes the throughput is counted on (input read or output made)
  uint64_t elements = 0;  // elements met or written: must agree across a job's engines
  uint64_t touched = 0;   // checksum of touched strings, keeps the work from being optimised away
  std::string error;      // non-empty when the engine failed
  bool unavailable = false;  // a run-time part is missing (module, registered class): not a failure
};

using EngineFn = Result (*)(const Input&);

// Walk a reader over every node: names, prefixes, namespace URIs, attribute
// names and values, node values.
Result libxml2ReaderWalk(const Input&);
Result expatWalk(const Input&);
Result twReaderWalk(const Input&);

// The handle-style read: every element name, the attribute values the
// caller knows by name, and element text copied into caller buffers.
Result libxml2ReaderCopies(const Input&);
Result twHandleRead(const Input&);
Result twXmlIfStreamRead(const Input&);
Result twXmlIfDomRead(const Input&);
Result libxml2DomCopies(const Input&);

// Write the records as a document into memory.
Result libxml2TextWriter(const Input&);
Result twHandleWrite(const Input&);
Result twXmlIfWrite(const Input&);

// Load a whole document and walk every node and attribute.
Result libxml2DomWalk(const Input&);
Result pugixmlDomWalk(const Input&);
Result twDomWalk(const Input&);

// Serialise a loaded document into memory (load not timed).
Result libxml2DomSave(const Input&);
Result pugixmlDomSave(const Input&);
Result twDomSave(const Input&);

// Copies what the handle interface gets from a node into a caller buffer,
// so the peers pay for the same copies.
inline void copyToBuffer(const char* s, char* buf, unsigned size) {
  unsigned i = 0;
  if (s)
    for (; i + 1 < size && s[i]; ++i) buf[i] = s[i];
  buf[i] = 0;
}

// Attribute names the handle-style readers ask for, by element name.
inline const char* const* knownAttributes(const char* element) {
  static const char* const kRecord[] = {"id", "kind", "region", "status", nullptr};
  static const char* const kAmount[] = {"currency", nullptr};
  static const char* const kRoot[] = {"generator", nullptr};
  static const char* const kNone[] = {nullptr};
  switch (element[0]) {
    case 'r':
      if (element[1] == 'e' && element[2] == 'c') return element[6] == 's' ? kRoot : kRecord;
      break;
    case 'a':
      if (element[1] == 'm') return kAmount;
      break;
  }
  return kNone;
}

double now();
double cpuNow();

// Times the measured work by processor time, which other load on the
// machine changes far less than elapsed time (the engines are single-threaded).
class Stopwatch {
 public:
  Stopwatch() : cpu0_(cpuNow()), wall0_(now()) {}
  void stop(Result& r) const {
    r.seconds = cpuNow() - cpu0_;
    r.wall = now() - wall0_;
  }

 private:
  double cpu0_, wall0_;
};

}  // namespace twbench
