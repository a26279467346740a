// Deterministic record-style documents for the benchmarks: the same records
// feed the XML text that the readers parse and the calls the writers make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace twbench {

inline constexpr const char* kMetaNs = "urn:twxml:bench:meta";

struct Record {
  std::string id, kind, region, status;  // the record's four attributes (region is meta:region)
  std::string customer;                  // text with characters that need entity references
  std::string currency, amount;
  std::string note;                      // longer text, some of it non-ASCII
  std::string comment;                   // empty: no comment in this record
  bool archived = false;                 // empty element <archived/>
  std::vector<std::string> tags;
};

// The records of a document of about targetBytes bytes of XML text, or the
// first maxRecords of them when that comes first. The same records always
// come in the same order.
std::vector<Record> makeRecords(size_t targetBytes, size_t maxRecords = SIZE_MAX);

// The XML text of the records: a root with the meta namespace declared,
// character and entity references in text and attributes, comments and
// empty elements.
std::string renderDocument(const std::vector<Record>& records);

// A text-heavy document of about targetBytes bytes: long character data,
// CDATA sections, mixed content and many namespaces, some declared locally.
std::string renderTextDocument(size_t targetBytes);

// A document read from path when that file exists (its name carries the
// generator version and size), otherwise made and written there for later
// runs and other tools.
std::string loadOrMakeDocument(const std::string& path, std::string (*make)(size_t), size_t size);

// renderDocument of makeRecords(targetBytes), in the form loadOrMakeDocument takes.
std::string renderRecordDocument(size_t targetBytes);

bool readFile(const std::string& path, std::string* out);

}  // namespace twbench
