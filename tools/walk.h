// A document's elements, attributes and text in document order, from either
// engine: the commands that look at the content (outline, the recording
// pass of bench) see the same events from both.
#pragma once

#include <string>

#include "diagnosis.h"
#include "twxml/platform/msxml.h"
#include "twxml/platform/xmllite.h"

namespace twxml_cli {

struct NodeName {
  std::string qname, prefix, local, ns;
};

class NodeSink {
 public:
  virtual ~NodeSink() = default;
  // Each answers false to stop the walk.
  virtual bool Start(const NodeName& element) = 0;
  // Attributes as written (namespace declarations included), then those
  // the document type supplies.
  virtual bool Attribute(const NodeName& name, const std::string& value) = 0;
  // Text, CDATA and white space inside elements, in as many pieces as the
  // engine has.
  virtual bool Text(const std::string& text) = 0;
  virtual bool End() = 0;
};

enum class WalkResult { kDone, kStopped, kFailed };

// Reads a whole document with the chosen engine, handing its content to the
// sink when there is one (nesting costs no stack). kStopped when the sink
// stopped it; kFailed with *problem when the document is not well-formed or
// the engine cannot be made. When the sink saw the whole document but the
// engine left entity references unexpanded (only something outside the
// document could define them), *incomplete says so (its message stays
// empty otherwise).
WalkResult ReadDocument(IStream* input, bool dom, NodeSink* sink, Problem* problem,
                        Problem* incomplete = nullptr);

}  // namespace twxml_cli
