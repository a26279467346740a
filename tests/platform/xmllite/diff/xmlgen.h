// Random well-formed XML documents for differential tests and fuzz seeds:
// namespaces (prefixed, default, undeclared default), attributes with entity
// and character references, CDATA, processing instructions, comments, a
// DOCTYPE with internal entities and attribute defaults, mixed content,
// non-ASCII names and text, line ends to normalise; plus the mutations that
// turn them into malformed input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace twgen {

struct Options {
  bool doctype = true;     // internal subset with entities and attribute defaults
  bool namespaces = true;
  bool nonAscii = true;    // non-ASCII names and text beyond Latin-1
  bool latin1Only = false; // keep every character inside Latin-1 (for 8-bit encodings)
  int maxDepth = 6;
  int maxChildren = 5;
};

// A deterministic random document for seed (UTF-8, no encoding declaration).
std::string randomDocument(uint64_t seed, const Options& options = {});

// The document re-encoded: an XML declaration naming the encoding replaces
// any existing one; with bom a byte order mark leads (UTF-8/16/32 only).
// False when iconv cannot represent it.
bool encodeDocument(const std::string& utf8, const std::string& encoding, bool bom,
                    std::string* out);

// Small documents, one per construct (and a few combinations), each
// well-formed.
std::vector<std::string> constructSamples();

enum class Mutation { Truncate, InsertByte, DeleteByte, ReplaceByte, MismatchTag, DuplicateAttr };
const char* mutationName(Mutation m);

// A damaged copy of doc; mostly malformed, sometimes still well-formed.
std::string mutate(const std::string& doc, uint64_t seed, Mutation* kind);

}  // namespace twgen
