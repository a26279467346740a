// Documents for the tests that run both engines: generated ones and a few
// real ones, and libxml2's reading of them as the expected answer.
#pragma once

#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace corpus {

struct Attr {
  std::string prefix = {}, local = {}, ns = {}, value = {};
  std::string QName() const { return prefix.empty() ? local : prefix + ":" + local; }
  bool operator==(const Attr&) const = default;
};

struct Node {
  std::string prefix = {}, local = {}, ns = {};
  std::vector<Attr> attrs = {};  // namespace declarations are not attributes here
  std::string text = {};         // direct text, pieces that are only white space dropped
  bool mixed = false;            // text and element children
  std::vector<Node> children = {};
  std::string QName() const { return prefix.empty() ? local : prefix + ":" + local; }
  bool operator==(const Node&) const = default;
};

std::string Dump(const Node& n, int depth = 0);
inline void PrintTo(const Node& n, std::ostream* os) { *os << "\n" << Dump(n); }

// libxml2's reading of bytes (encoding from the document itself, given back
// in `encoding` when asked). Attributes come sorted by namespace and local
// name so that trees compare as sets.
bool Parse(const std::string& bytes, Node* root, std::string* error, std::string* encoding = nullptr);

// A generated document. Data documents give each element either text or
// children; the others mix them. Comments, white space between elements,
// character and entity references, namespaces and text outside ASCII occur
// at random. No document type, CDATA or processing instruction in content.
std::string Generate(std::mt19937& rng, bool data);

// A generated element tree for the writers (names valid, namespaces bound
// through the element names so both writers can declare them).
// asciiNames: names every output encoding can hold (names cannot be escaped).
Node GenerateTree(std::mt19937& rng, bool mixed, bool asciiNames, int depth = 0);

// What Parse gives for a tree written out: attributes sorted, text that is
// only white space dropped.
Node Expected(Node n);

// Real documents: the bundled catalogue and a configuration file in Latin-1.
struct Named {
  std::string name, text;
};
std::vector<Named> RealDocuments();

}  // namespace corpus
