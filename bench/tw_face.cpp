// The document face (KxXMLParser and KxXMLNode) used the way its callers
// use it: load, then every element's name, known attributes and text into
// caller buffers, walking element children with node objects, then free.
#include <cstring>
#include <vector>

#include "engines.h"
#include "twxml/document.h"
#include "twxml/kernel.h"

namespace twbench {
namespace {

char* C(const char* s) { return const_cast<char*>(s); }

struct Visitor {
  Result& r;
  bool verify;
  char name[256];
  char value[4096];

  void visit(KxXMLNode* n) {
    ++r.work.elements;
    n->GetTagNameV(name, sizeof name);
    r.touched += static_cast<unsigned char>(name[0]);
    for (const char* const* a = knownAttributes(name); *a; ++a) {
      if (n->GetAttributeF(C(*a), value, sizeof value) == 0) {
        ++r.work.attributes;
        r.touched += static_cast<unsigned char>(value[0]);
        if (verify) r.work.attrBytes += std::strlen(value);
      }
    }
    char* text = n->GetValuePsz(value, sizeof value);
    r.touched += static_cast<unsigned char>(text[0]);
    if (verify) r.work.textBytes += std::strlen(text);
    if (text != value) MemFreeF(text);
  }
};

// Depth-first over the elements. A child's node object is its own level's
// node and, once that level is done, the previous child its parent steps
// on from; the parent deletes it.
void walk(KxXMLNode* root, Visitor& v) {
  struct Level {
    KxXMLNode* node;
    KxXMLNode* child;
  };
  std::vector<Level> levels;
  v.visit(root);
  levels.push_back({root, nullptr});
  while (!levels.empty()) {
    Level& l = levels.back();
    KxXMLNode* next = l.node->GetNextChildNodePo(l.child);
    delete l.child;
    l.child = next;
    if (!next) {
      levels.pop_back();
      if (levels.empty()) delete root;
      continue;
    }
    v.visit(next);
    levels.push_back({next, nullptr});
  }
}

}  // namespace

Result twFaceWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Visitor v{r, in.verify, {}, {}};
  Stopwatch sw;
  KxXMLParser* parser = XmlGetParserP();
  if (!parser) {
    r.unavailable = true;
    r.error = "no DOM document (document class not registered)";
    return r;
  }
  int status = 0;
  KxStream* stream = StreamCreateMemStreamP(C(in.doc.data()),
                                            static_cast<unsigned long>(in.doc.size()), "bench",
                                            0, 0, &status);
  if (!stream) {
    r.error = "StreamCreateMemStreamP failed";
  } else if (parser->LoadFromStreamF(stream) != 0) {
    r.error = "LoadFromStreamF failed";
  } else if (KxXMLNode* root = parser->GetRootElementP()) {
    walk(root, v);
  } else {
    r.error = "no root element";
  }
  delete stream;
  delete parser;
  sw.stop(r);
  return r;
}

}  // namespace twbench
