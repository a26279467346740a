// Both readers walked into one comparable form: the streaming reader through
// IXmlReader and libxml2's xmlTextReader, each node with its names, value,
// empty-element flag and attribute set.
#pragma once

#include <string>
#include <vector>

namespace twdiff {

struct Attr {
  std::string prefix, local, ns, value;
  bool isDefault = false;
  bool operator<(const Attr& o) const {
    return ns != o.ns ? ns < o.ns : local != o.local ? local < o.local : prefix < o.prefix;
  }
  bool operator==(const Attr& o) const {
    return prefix == o.prefix && local == o.local && ns == o.ns && value == o.value &&
           isDefault == o.isDefault;
  }
};

struct Node {
  int type = 0;  // element 1, text 3, CDATA 4, PI 7, comment 8, DOCTYPE 10, end element 15
  int depth = 0;
  std::string prefix, local, ns, value;
  bool empty = false;
  std::vector<Attr> attrs;  // sorted by (ns, local)
  bool operator==(const Node& o) const {
    return type == o.type && depth == o.depth && prefix == o.prefix && local == o.local &&
           ns == o.ns && value == o.value && empty == o.empty && attrs == o.attrs;
  }
};

struct Walk {
  bool accepted = false;
  std::string error;  // why it was rejected
  std::vector<Node> nodes;
};

// Our streaming reader, in-process, over the bytes.
Walk readOurs(const std::string& bytes);
// libxml2's reader: entities substituted, attribute defaults added, no
// network. Errors of the parser and namespace domains count as rejection,
// namespace errors included (libxml2 reports them without stopping).
Walk readLibxml2(const std::string& bytes);

// Brings both walks to the same shape; see the comments in oracle.cpp for
// each known difference it removes.
void normalise(Walk& w);

// Turns an element with no content followed by its end into one empty
// element. Only for documents whose entities hold markup: libxml2 reports
// <a></a> from an entity's replacement text as an empty element.
void collapseEmptyPairs(Walk& w);

std::string describe(const Node& n);
// Printable form of a document for failure messages.
std::string printable(const std::string& bytes, size_t limit = 600);

}  // namespace twdiff
