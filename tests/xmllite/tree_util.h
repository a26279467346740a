// A small element tree used by the round-trip and differential tests: random
// documents are generated as trees, written through the writer handle, and
// read back through the reader handle and through libxml2.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "twxml/handles.h"

namespace tree {

// Elements hold either text or children (no mixed content); names are
// ASCII or UTF-8, attribute values and texts UTF-8.
struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::string text;
  std::vector<Element> children;
  bool operator==(const Element&) const = default;
};

std::string Dump(const Element& e, int depth = 0);
inline void PrintTo(const Element& e, std::ostream* os) { *os << "\n" << Dump(e); }

// asciiNames: names every output encoding can hold (names cannot be escaped).
Element Random(std::mt19937& rng, bool asciiNames = false, int depth = 0);

// Writes e through a writer handle; 0 when every call answered 0.
int Write(_XmlLiteWriterS* writer, const Element& e);

// Reads the element whose start the handle just consumed, asking for the
// attribute names of `shape` (the handle cannot enumerate attributes).
// Returns false with a message on any unexpected status.
bool Read(_XmlLiteReaderS* reader, const Element& shape, Element* out, std::string* error);

// Parses bytes with libxml2 (encoding from the document) into the tree;
// false with libxml2's message when it refuses the document.
bool ParseWithLibxml2(const std::string& bytes, Element* out, std::string* error,
                      std::string* encoding = nullptr);

}  // namespace tree
