// One function per system and job. Each times only the work being compared
// (setup such as generating records stays outside) and reports the work it
// did, so the driver can check that every system of a row did the same.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "docgen.h"

namespace twbench {

struct Input {
  const std::string& doc;              // the document read (zero-terminated)
  const std::vector<Record>& records;  // what the writers write
  // Count everything, also where counting costs work of its own (UTF-8
  // lengths of wide text, re-reading a writer's output). Verifying runs are
  // never timed; they double as the warm-up of each system.
  bool verify = false;
  // Streaming-memory runs: the document's content is read this many times
  // over inside one root element, without the text ever being whole in memory.
  unsigned repeat = 1;
};

// What a system did, in units every system can report the same way: text
// and attribute values in UTF-8 bytes after entity and character references
// are replaced.
struct Work {
  uint64_t elements = 0;
  uint64_t attributes = 0;  // attribute values taken (namespace declarations included where every system sees them)
  uint64_t attrBytes = 0;
  uint64_t textBytes = 0;   // character data: text, white space, CDATA
  uint64_t outBytes = 0;    // bytes a writer produced
};

struct Result {
  double cpu = 0;          // processor time, user + system (what ratios use)
  double sys = 0;          // the system (kernel) part of it
  double wall = 0;         // elapsed time of the same work
  uint64_t bytes = 0;      // bytes the throughput is counted on (input read or output made)
  Work work;
  uint64_t touched = 0;    // checksum of touched strings: keeps the work from being optimised away
  std::string error;       // non-empty when the system failed
  bool unavailable = false;  // a run-time part is missing (module, registered class): not a failure
};

using EngineFn = Result (*)(const Input&);

// Streaming walk of every node: element and attribute names, attribute
// values, text, comments.
Result twReaderWalk(const Input&);
Result libxml2SaxWalk(const Input&);
Result libxml2ReaderWalk(const Input&);
Result expatWalk(const Input&);

// The element job of the handle interface: each element's name, the
// attributes it is known to have (asked for by name), and its text, all
// copied into caller buffers.
Result twHandleRead(const Input&);
Result twXmlIfStreamRead(const Input&);
Result libxml2SaxElements(const Input&);
Result libxml2ReaderElements(const Input&);
Result expatElements(const Input&);

// The same job on a loaded document, load and free included.
Result twFaceWalk(const Input&);
Result twXmlIfDomRead(const Input&);
Result pugixmlElements(const Input&);
Result tinyxml2Elements(const Input&);

// A document loaded into memory and freed, no walk.
Result twDomLoad(const Input&);
Result pugixmlLoad(const Input&);
Result tinyxml2Load(const Input&);
Result libxml2Load(const Input&);

// The records written as a document into memory.
Result twHandleWrite(const Input&);
Result twXmlIfDomWrite(const Input&);
Result tinyxml2Print(const Input&);
Result libxml2TextWriter(const Input&);

// The streaming walk fed piece by piece from a repeating source, for peak
// memory on documents larger than memory holds comfortably.
Result twReaderStream(const Input&);
Result libxml2SaxStream(const Input&);
Result expatStream(const Input&);

// Elements, attributes and character data of a document, counted by one
// reader for all writers' outputs alike.
Work countDocument(const char* text, size_t size);

// Copies what the handle interface gets from a node into a caller buffer
// (cut to the buffer), so the peers pay for the same copies. Returns the
// length copied.
inline size_t copyToBuffer(const char* s, size_t n, char* buf, size_t size) {
  if (n >= size) n = size - 1;
  std::memcpy(buf, s, n);
  buf[n] = 0;
  return n;
}
inline size_t copyToBuffer(const char* s, char* buf, size_t size) {
  return copyToBuffer(s, s ? std::strlen(s) : 0, buf, size);
}

inline unsigned touch(const char* s) { return s ? static_cast<unsigned char>(s[0]) : 0; }

// Attribute names the element job asks for, by element name. The namespaced
// meta:region is asked for by its local name with no namespace, as the
// handle interface does, so it is found by no system.
inline const char* const* knownAttributes(const char* element) {
  static const char* const kRecord[] = {"id", "kind", "region", "status", nullptr};
  static const char* const kAmount[] = {"currency", nullptr};
  static const char* const kRoot[] = {"generator", nullptr};
  static const char* const kNone[] = {nullptr};
  if (std::strcmp(element, "record") == 0) return kRecord;
  if (std::strcmp(element, "amount") == 0) return kAmount;
  if (std::strcmp(element, "records") == 0) return kRoot;
  return kNone;
}

// Text made only of blanks, which the readers report as white space and the
// element job passes over.
inline bool allBlank(const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (s[i] != ' ' && s[i] != '\t' && s[i] != '\n' && s[i] != '\r') return false;
  return true;
}

// UTF-8 length of UTF-16 text, for counting what the wide faces hand out.
template <class Ch>
uint64_t utf8Length(const Ch* s, size_t n) {
  uint64_t len = 0;
  for (size_t i = 0; i < n; ++i) {
    auto c = static_cast<uint32_t>(s[i]);
    if (c < 0x80) {
      len += 1;
    } else if (c < 0x800) {
      len += 2;
    } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
      len += 4;
      ++i;
    } else {
      len += 3;
    }
  }
  return len;
}

// Times the measured work by processor time, which other load on the machine
// changes far less than elapsed time (the systems are single-threaded).
class Stopwatch {
 public:
  Stopwatch();
  void stop(Result& r) const;

 private:
  double user0_, sys0_, wall0_;
};

// Runs work(result) under a stopwatch: the frame every system shares.
template <class F>
Result timed(uint64_t bytes, F&& work) {
  Result r;
  r.bytes = bytes;
  Stopwatch sw;
  work(r);
  sw.stop(r);
  return r;
}

}  // namespace twbench
