// expat (namespaces on) as a peer of the streaming walks.
#include <expat.h>

#include <cstring>

#include "element_job.h"
#include "engines.h"
#include "repeat_source.h"

namespace twbench {
namespace {

// The full walk: every name, namespace declaration, attribute value, text,
// comment and processing instruction.
struct Walk {
  Result& r;
  bool verify;
};

void XMLCALL walkStart(void* ud, const XML_Char* name, const XML_Char** atts) {
  Walk& w = *static_cast<Walk*>(ud);
  ++w.r.work.elements;
  w.r.touched += touch(name);
  for (; *atts; atts += 2) {
    ++w.r.work.attributes;
    w.r.touched += touch(atts[0]) + touch(atts[1]);
    if (w.verify) w.r.work.attrBytes += std::strlen(atts[1]);
  }
}

// Namespace declarations are taken apart from the attributes here; the
// other systems report them as attributes, so they count as such.
void XMLCALL walkNamespace(void* ud, const XML_Char* prefix, const XML_Char* uri) {
  Walk& w = *static_cast<Walk*>(ud);
  ++w.r.work.attributes;
  w.r.touched += touch(prefix) + touch(uri);
  if (w.verify && uri) w.r.work.attrBytes += std::strlen(uri);
}

void XMLCALL walkEnd(void* ud, const XML_Char* name) {
  static_cast<Walk*>(ud)->r.touched += touch(name);
}

void XMLCALL walkText(void* ud, const XML_Char* s, int len) {
  Result& r = static_cast<Walk*>(ud)->r;
  r.work.textBytes += static_cast<uint64_t>(len);
  r.touched += len ? touch(s) : 0;
}

void XMLCALL walkComment(void* ud, const XML_Char* s) {
  static_cast<Walk*>(ud)->r.touched += touch(s);
}

void XMLCALL walkPi(void* ud, const XML_Char* target, const XML_Char* data) {
  static_cast<Walk*>(ud)->r.touched += touch(target) + touch(data);
}

XML_Parser parser(void* ud, XML_StartElementHandler start, XML_EndElementHandler end,
                  XML_CharacterDataHandler text, XML_CommentHandler comment,
                  XML_ProcessingInstructionHandler pi) {
  XML_Parser p = XML_ParserCreateNS(nullptr, '\x1f');
  XML_SetUserData(p, ud);
  XML_SetElementHandler(p, start, end);
  XML_SetCharacterDataHandler(p, text);
  XML_SetCommentHandler(p, comment);
  XML_SetProcessingInstructionHandler(p, pi);
  return p;
}

XML_Parser walkParser(Walk* w) {
  XML_Parser p = parser(w, walkStart, walkEnd, walkText, walkComment, walkPi);
  XML_SetStartNamespaceDeclHandler(p, walkNamespace);
  return p;
}

// The element job: names, the known attributes, texts into caller buffers.
void XMLCALL jobStart(void* ud, const XML_Char* name, const XML_Char** atts) {
  ElementJob& job = *static_cast<ElementJob*>(ud);
  // A namespaced name comes as URI, separator, local name.
  const char* local = std::strrchr(name, '\x1f');
  for (const char* const* a = job.element(local ? local + 1 : name); *a; ++a) {
    // An attribute without a namespace has no separator: only those match,
    // as the handle interface asks.
    for (const XML_Char** at = atts; *at; at += 2) {
      if (std::strcmp(at[0], *a) == 0) {
        job.attribute(at[1], std::strlen(at[1]));
        break;
      }
    }
  }
}

void XMLCALL jobEnd(void* ud, const XML_Char*) { static_cast<ElementJob*>(ud)->flush(); }

void XMLCALL jobText(void* ud, const XML_Char* s, int len) {
  static_cast<ElementJob*>(ud)->characters(s, static_cast<size_t>(len));
}

void XMLCALL jobComment(void* ud, const XML_Char*) { static_cast<ElementJob*>(ud)->flush(); }

void XMLCALL jobPi(void* ud, const XML_Char*, const XML_Char*) {
  static_cast<ElementJob*>(ud)->flush();
}

// Parses the whole document in one call and frees the parser.
void parseWhole(XML_Parser p, const std::string& doc, Result& r) {
  if (XML_Parse(p, doc.data(), static_cast<int>(doc.size()), 1) != XML_STATUS_OK)
    r.error = XML_ErrorString(XML_GetErrorCode(p));
  XML_ParserFree(p);
}

}  // namespace

Result expatWalk(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    Walk w{r, in.verify};
    parseWhole(walkParser(&w), in.doc, r);
  });
}

Result expatElements(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    ElementJob job(r, in.verify);
    parseWhole(parser(&job, jobStart, jobEnd, jobText, jobComment, jobPi), in.doc, r);
  });
}

Result expatStream(const Input& in) {
  Result r;
  Walk w{r, in.verify};
  RepeatSource src(in.doc, in.repeat);
  Stopwatch sw;
  XML_Parser p = walkParser(&w);
  bool ok = true;
  const char* piece;
  size_t n;
  while (ok && (n = src.next(&piece)) > 0)
    ok = XML_Parse(p, piece, static_cast<int>(n), 0) == XML_STATUS_OK;
  if (ok) ok = XML_Parse(p, nullptr, 0, 1) == XML_STATUS_OK;
  if (!ok) r.error = XML_ErrorString(XML_GetErrorCode(p));
  XML_ParserFree(p);
  sw.stop(r);
  r.bytes = src.total();
  return r;
}

}  // namespace twbench
