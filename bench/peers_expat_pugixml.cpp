// expat (push parser) and pugixml (in-memory tree) as benchmark peers.
#include <expat.h>

#include <pugixml.hpp>
#include <sstream>

#include "engines.h"

namespace twbench {
namespace {

inline unsigned touch(const char* s) { return s ? static_cast<unsigned char>(s[0]) : 0; }

void XMLCALL onStart(void* ud, const XML_Char* name, const XML_Char** atts) {
  Result& r = *static_cast<Result*>(ud);
  ++r.elements;
  r.touched += touch(name);
  for (; *atts; atts += 2) r.touched += touch(atts[0]) + touch(atts[1]);
}
void XMLCALL onEnd(void* ud, const XML_Char* name) {
  static_cast<Result*>(ud)->touched += touch(name);
}
void XMLCALL onText(void* ud, const XML_Char* s, int len) {
  static_cast<Result*>(ud)->touched += len ? touch(s) : 0;
}
void XMLCALL onComment(void* ud, const XML_Char* s) { static_cast<Result*>(ud)->touched += touch(s); }
void XMLCALL onPi(void* ud, const XML_Char* target, const XML_Char* data) {
  static_cast<Result*>(ud)->touched += touch(target) + touch(data);
}

}  // namespace

Result expatWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Stopwatch sw;
  // Namespace processing on, as the other readers resolve namespaces too.
  XML_Parser p = XML_ParserCreateNS(nullptr, '\x1f');
  XML_SetUserData(p, &r);
  XML_SetElementHandler(p, onStart, onEnd);
  XML_SetCharacterDataHandler(p, onText);
  XML_SetCommentHandler(p, onComment);
  XML_SetProcessingInstructionHandler(p, onPi);
  if (XML_Parse(p, in.doc.data(), static_cast<int>(in.doc.size()), 1) != XML_STATUS_OK)
    r.error = XML_ErrorString(XML_GetErrorCode(p));
  XML_ParserFree(p);
  sw.stop(r);
  return r;
}

namespace {

void walk(const pugi::xml_node& top, Result& r) {
  pugi::xml_node n = top.first_child();
  while (n) {
    if (n.type() == pugi::node_element) {
      ++r.elements;
      r.touched += touch(n.name());
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
        r.touched += touch(a.name()) + touch(a.value());
    } else {
      r.touched += touch(n.value());
    }
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) n = n.parent() == top ? pugi::xml_node() : n.parent();
    if (n) n = n.next_sibling();
  }
}

// Keeps comments (the other DOMs keep them too) and the declaration.
constexpr unsigned kPugiOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_declaration;

}  // namespace

Result pugixmlDomWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Stopwatch sw;
  pugi::xml_document doc;
  pugi::xml_parse_result pr = doc.load_buffer(in.doc.data(), in.doc.size(), kPugiOptions);
  if (!pr) {
    r.error = pr.description();
    return r;
  }
  walk(doc, r);
  doc.reset();
  sw.stop(r);
  return r;
}

Result pugixmlDomSave(const Input& in) {
  Result r;
  pugi::xml_document doc;
  if (!doc.load_buffer(in.doc.data(), in.doc.size(), kPugiOptions)) {
    r.error = "load failed";
    return r;
  }
  struct Sink : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override {
      out.append(static_cast<const char*>(data), size);
    }
  } sink;
  Stopwatch sw;
  doc.save(sink, "", pugi::format_raw);
  sw.stop(r);
  r.bytes = sink.out.size();
  r.touched = sink.out.empty() ? 0 : sink.out[sink.out.size() / 2];
  return r;
}

}  // namespace twbench
