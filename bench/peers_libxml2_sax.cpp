// libxml2's SAX2 interface (namespaces on) as a peer of the streaming walks,
// and as the one reader that counts what every writer wrote.
#include <libxml/parserInternals.h>

#include <cstring>

#include "element_job.h"
#include "engines.h"
#include "peers_libxml2.h"
#include "repeat_source.h"

namespace twbench {
namespace {

// The full walk: every name, namespace declaration, attribute value, text,
// comment and processing instruction.
struct Walk {
  Result& r;
  bool verify;
};

void walkStart(void* ctx, const xmlChar* local, const xmlChar* prefix, const xmlChar* uri,
               int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int,
               const xmlChar** attributes) {
  Walk& w = *static_cast<Walk*>(ctx);
  Result& r = w.r;
  ++r.work.elements;
  r.touched += touch(local) + touch(prefix) + touch(uri);
  // Namespace declarations come apart from the attributes here; the other
  // systems report them as attributes, so they count as such.
  for (int i = 0; i < nbNamespaces; ++i) {
    ++r.work.attributes;
    r.touched += touch(namespaces[2 * i]) + touch(namespaces[2 * i + 1]);
    if (w.verify) r.work.attrBytes += std::strlen(C(namespaces[2 * i + 1]));
  }
  for (int i = 0; i < nbAttributes; ++i, attributes += 5) {
    ++r.work.attributes;
    r.work.attrBytes += static_cast<uint64_t>(attributes[4] - attributes[3]);
    r.touched += touch(attributes[0]) + touch(attributes[1]) + touch(attributes[2]) +
                 touch(attributes[3]);
  }
}

void walkEnd(void* ctx, const xmlChar* local, const xmlChar*, const xmlChar*) {
  static_cast<Walk*>(ctx)->r.touched += touch(local);
}

void walkText(void* ctx, const xmlChar* s, int len) {
  Result& r = static_cast<Walk*>(ctx)->r;
  r.work.textBytes += static_cast<uint64_t>(len);
  r.touched += touch(s);
}

void walkComment(void* ctx, const xmlChar* s) { static_cast<Walk*>(ctx)->r.touched += touch(s); }

void walkPi(void* ctx, const xmlChar* target, const xmlChar* data) {
  static_cast<Walk*>(ctx)->r.touched += touch(target) + touch(data);
}

xmlSAXHandler handler(startElementNsSAX2Func start, endElementNsSAX2Func end,
                      charactersSAXFunc text, commentSAXFunc comment,
                      processingInstructionSAXFunc pi) {
  xmlSAXHandler h;
  std::memset(&h, 0, sizeof h);
  h.initialized = XML_SAX2_MAGIC;
  h.startElementNs = start;
  h.endElementNs = end;
  h.characters = text;
  h.ignorableWhitespace = text;
  h.cdataBlock = text;
  h.comment = comment;
  h.processingInstruction = pi;
  return h;
}

xmlSAXHandler walkHandler() { return handler(walkStart, walkEnd, walkText, walkComment, walkPi); }

// The element job: names, the known attributes, texts into caller buffers.
void jobStart(void* ctx, const xmlChar* local, const xmlChar*, const xmlChar*, int,
              const xmlChar**, int nbAttributes, int, const xmlChar** attributes) {
  ElementJob& job = *static_cast<ElementJob*>(ctx);
  for (const char* const* a = job.element(C(local)); *a; ++a) {
    for (int i = 0; i < nbAttributes; ++i) {
      const xmlChar* const* at = attributes + 5 * i;
      // Asked for by local name with no namespace, as the handle interface asks.
      if (!at[2] && std::strcmp(C(at[0]), *a) == 0) {
        job.attribute(C(at[3]), static_cast<size_t>(at[4] - at[3]));
        break;
      }
    }
  }
}

void jobEnd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  static_cast<ElementJob*>(ctx)->flush();
}

void jobText(void* ctx, const xmlChar* s, int len) {
  static_cast<ElementJob*>(ctx)->characters(C(s), static_cast<size_t>(len));
}

void jobComment(void* ctx, const xmlChar*) { static_cast<ElementJob*>(ctx)->flush(); }

void jobPi(void* ctx, const xmlChar*, const xmlChar*) { static_cast<ElementJob*>(ctx)->flush(); }

xmlSAXHandler jobHandler() { return handler(jobStart, jobEnd, jobText, jobComment, jobPi); }

// Entity and character references replaced (XML_PARSE_NOENT): without it
// SAX2 hands out &amp; in attribute values as "&#38;", not as "&".
constexpr int kOptions = XML_PARSE_NOENT;

bool parseMemory(xmlSAXHandler* h, void* ctx, const char* text, size_t size) {
  quietLibxml2();
  xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(text, static_cast<int>(size));
  if (!ctxt) return false;
  xmlSAXHandler* own = ctxt->sax;
  ctxt->sax = h;
  ctxt->userData = ctx;
  xmlCtxtUseOptions(ctxt, kOptions);
  bool ok = xmlParseDocument(ctxt) == 0 && ctxt->wellFormed;
  ctxt->sax = own;
  xmlFreeParserCtxt(ctxt);
  return ok;
}

}  // namespace

Result libxml2SaxWalk(const Input& in) {
  xmlSAXHandler h = walkHandler();
  return timed(in.doc.size(), [&](Result& r) {
    Walk w{r, in.verify};
    if (!parseMemory(&h, &w, in.doc.data(), in.doc.size())) r.error = "SAX2 parse failed";
  });
}

Result libxml2SaxElements(const Input& in) {
  xmlSAXHandler h = jobHandler();
  return timed(in.doc.size(), [&](Result& r) {
    ElementJob job(r, in.verify);
    if (!parseMemory(&h, &job, in.doc.data(), in.doc.size())) r.error = "SAX2 parse failed";
  });
}

Result libxml2SaxStream(const Input& in) {
  Result r;
  quietLibxml2();
  xmlSAXHandler h = walkHandler();
  Walk w{r, in.verify};
  RepeatSource src(in.doc, in.repeat);
  Stopwatch sw;
  const char* piece = nullptr;
  size_t n = src.next(&piece);
  xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&h, &w, piece, static_cast<int>(n), nullptr);
  bool ok = ctxt != nullptr;
  if (ok) xmlCtxtUseOptions(ctxt, kOptions);
  while (ok && (n = src.next(&piece)) > 0) ok = xmlParseChunk(ctxt, piece, static_cast<int>(n), 0) == 0;
  if (ok) ok = xmlParseChunk(ctxt, nullptr, 0, 1) == 0 && ctxt->wellFormed;
  if (ctxt) xmlFreeParserCtxt(ctxt);
  sw.stop(r);
  r.bytes = src.total();
  if (!ok) r.error = "push parse failed";
  return r;
}

Work countDocument(const char* text, size_t size) {
  Result r;
  xmlSAXHandler h = walkHandler();
  Walk w{r, true};
  // A document that does not parse counts as no work at all.
  if (!parseMemory(&h, &w, text, size)) r.work = Work{};
  r.work.outBytes = size;
  return r.work;
}

}  // namespace twbench
