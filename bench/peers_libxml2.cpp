// libxml2 as the benchmark peer: its pull reader, its tree and its writer.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include <cstring>

#include "engines.h"

namespace twbench {
namespace {

inline unsigned touch(const xmlChar* s) { return s ? s[0] : 0; }

void silence(void*, const char*, ...) {}

struct Quiet {
  Quiet() {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, silence);
  }
};
const Quiet quiet;

xmlTextReaderPtr openReader(const Input& in) {
  return xmlReaderForMemory(in.doc.data(), static_cast<int>(in.doc.size()), nullptr, nullptr, 0);
}

}  // namespace

Result libxml2ReaderWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Stopwatch sw;
  xmlTextReaderPtr rd = openReader(in);
  int ret;
  while ((ret = xmlTextReaderRead(rd)) == 1) {
    int type = xmlTextReaderNodeType(rd);
    if (type == XML_READER_TYPE_ELEMENT) {
      ++r.elements;
      r.touched += touch(xmlTextReaderConstLocalName(rd));
      r.touched += touch(xmlTextReaderConstPrefix(rd));
      r.touched += touch(xmlTextReaderConstNamespaceUri(rd));
      r.touched += xmlTextReaderIsEmptyElement(rd);
      while (xmlTextReaderMoveToNextAttribute(rd) == 1) {
        r.touched += touch(xmlTextReaderConstLocalName(rd));
        r.touched += touch(xmlTextReaderConstPrefix(rd));
        r.touched += touch(xmlTextReaderConstNamespaceUri(rd));
        r.touched += touch(xmlTextReaderConstValue(rd));
      }
      xmlTextReaderMoveToElement(rd);
    } else if (type == XML_READER_TYPE_END_ELEMENT) {
      r.touched += touch(xmlTextReaderConstLocalName(rd));
    } else {
      r.touched += touch(xmlTextReaderConstValue(rd));
    }
  }
  xmlFreeTextReader(rd);
  sw.stop(r);
  if (ret != 0) r.error = "xmlTextReaderRead failed";
  return r;
}

Result libxml2ReaderCopies(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  char name[256], value[4096];
  Stopwatch sw;
  xmlTextReaderPtr rd = openReader(in);
  int ret;
  while ((ret = xmlTextReaderRead(rd)) == 1) {
    int type = xmlTextReaderNodeType(rd);
    if (type == XML_READER_TYPE_ELEMENT) {
      ++r.elements;
      copyToBuffer(reinterpret_cast<const char*>(xmlTextReaderConstLocalName(rd)), name,
                   sizeof name);
      r.touched += static_cast<unsigned char>(name[0]);
      for (const char* const* a = knownAttributes(name); *a; ++a) {
        if (xmlTextReaderMoveToAttribute(rd, reinterpret_cast<const xmlChar*>(*a)) == 1) {
          copyToBuffer(reinterpret_cast<const char*>(xmlTextReaderConstValue(rd)), value,
                       sizeof value);
          r.touched += static_cast<unsigned char>(value[0]);
        }
      }
      xmlTextReaderMoveToElement(rd);
    } else if (type == XML_READER_TYPE_TEXT) {
      copyToBuffer(reinterpret_cast<const char*>(xmlTextReaderConstValue(rd)), value,
                   sizeof value);
      r.touched += static_cast<unsigned char>(value[0]);
    }
  }
  xmlFreeTextReader(rd);
  sw.stop(r);
  if (ret != 0) r.error = "xmlTextReaderRead failed";
  return r;
}

namespace {

void walkTree(xmlNodePtr root, Result& r) {
  // Iterative, so deep documents cannot overflow the stack.
  xmlNodePtr n = root;
  while (n) {
    if (n->type == XML_ELEMENT_NODE) {
      ++r.elements;
      r.touched += touch(n->name);
      if (n->ns) r.touched += touch(n->ns->prefix) + touch(n->ns->href);
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        r.touched += touch(a->name);
        if (a->ns) r.touched += touch(a->ns->prefix);
        if (a->children) r.touched += touch(a->children->content);
      }
    } else {
      r.touched += touch(n->content);
    }
    if (n->children && n->type == XML_ELEMENT_NODE) {
      n = n->children;
      continue;
    }
    while (n && !n->next) n = n->parent == root->parent ? nullptr : n->parent;
    if (n) n = n->next;
  }
}

}  // namespace

Result libxml2DomWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Stopwatch sw;
  xmlDocPtr doc = xmlReadMemory(in.doc.data(), static_cast<int>(in.doc.size()), nullptr,
                                nullptr, 0);
  if (!doc) {
    r.error = "xmlReadMemory failed";
    return r;
  }
  walkTree(doc->children, r);
  xmlFreeDoc(doc);
  sw.stop(r);
  return r;
}

Result libxml2DomCopies(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  char name[256], value[4096];
  Stopwatch sw;
  xmlDocPtr doc = xmlReadMemory(in.doc.data(), static_cast<int>(in.doc.size()), nullptr,
                                nullptr, 0);
  if (!doc) {
    r.error = "xmlReadMemory failed";
    return r;
  }
  xmlNodePtr root = xmlDocGetRootElement(doc);
  xmlNodePtr n = root;
  while (n) {
    ++r.elements;
    copyToBuffer(reinterpret_cast<const char*>(n->name), name, sizeof name);
    for (const char* const* a = knownAttributes(name); *a; ++a) {
      xmlAttrPtr at = xmlHasProp(n, reinterpret_cast<const xmlChar*>(*a));
      if (at && at->children) {
        copyToBuffer(reinterpret_cast<const char*>(at->children->content), value, sizeof value);
        r.touched += static_cast<unsigned char>(value[0]);
      }
    }
    xmlNodePtr text = n->children;
    while (text && text->type != XML_TEXT_NODE) text = text->next;
    if (text) copyToBuffer(reinterpret_cast<const char*>(text->content), value, sizeof value);
    // Next element: first element child, else the next element sibling up the chain.
    xmlNodePtr next = xmlFirstElementChild(n);
    while (!next && n) {
      next = xmlNextElementSibling(n);
      if (!next) n = n->parent == root->parent || n == root ? nullptr : n->parent;
    }
    n = next;
  }
  xmlFreeDoc(doc);
  sw.stop(r);
  return r;
}

Result libxml2DomSave(const Input& in) {
  Result r;
  xmlDocPtr doc = xmlReadMemory(in.doc.data(), static_cast<int>(in.doc.size()), nullptr,
                                nullptr, 0);
  if (!doc) {
    r.error = "xmlReadMemory failed";
    return r;
  }
  Stopwatch sw;
  xmlChar* mem = nullptr;
  int size = 0;
  xmlDocDumpMemory(doc, &mem, &size);
  sw.stop(r);
  r.bytes = static_cast<uint64_t>(size);
  r.touched = mem ? mem[size / 2] : 0;
  xmlFree(mem);
  xmlFreeDoc(doc);
  return r;
}

namespace {
inline const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
inline const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }
}  // namespace

Result libxml2TextWriter(const Input& in) {
  Result r;
  Stopwatch sw;
  xmlBufferPtr buf = xmlBufferCreate();
  xmlTextWriterPtr w = xmlNewTextWriterMemory(buf, 0);
  int rc = xmlTextWriterStartDocument(w, nullptr, "UTF-8", nullptr);
  rc |= xmlTextWriterStartElement(w, X("records"));
  rc |= xmlTextWriterWriteAttribute(w, X("xmlns:meta"), X(kMetaNs));
  rc |= xmlTextWriterWriteAttribute(w, X("generator"), X("twxml-bench"));
  ++r.elements;
  for (const Record& rec : in.records) {
    rc |= xmlTextWriterStartElement(w, X("record"));
    rc |= xmlTextWriterWriteAttribute(w, X("id"), X(rec.id));
    rc |= xmlTextWriterWriteAttribute(w, X("kind"), X(rec.kind));
    rc |= xmlTextWriterWriteAttributeNS(w, X("meta"), X("region"), nullptr, X(rec.region));
    rc |= xmlTextWriterWriteAttribute(w, X("status"), X(rec.status));
    rc |= xmlTextWriterStartElement(w, X("customer"));
    rc |= xmlTextWriterWriteString(w, X(rec.customer));
    rc |= xmlTextWriterEndElement(w);
    rc |= xmlTextWriterStartElement(w, X("amount"));
    rc |= xmlTextWriterWriteAttribute(w, X("currency"), X(rec.currency));
    rc |= xmlTextWriterWriteString(w, X(rec.amount));
    rc |= xmlTextWriterEndElement(w);
    rc |= xmlTextWriterStartElement(w, X("note"));
    rc |= xmlTextWriterWriteString(w, X(rec.note));
    rc |= xmlTextWriterEndElement(w);
    r.elements += 4;
    if (rec.archived) {
      rc |= xmlTextWriterStartElement(w, X("archived"));
      rc |= xmlTextWriterEndElement(w);
      ++r.elements;
    }
    if (!rec.tags.empty()) {
      rc |= xmlTextWriterStartElement(w, X("tags"));
      for (const std::string& t : rec.tags) {
        rc |= xmlTextWriterStartElement(w, X("tag"));
        rc |= xmlTextWriterWriteString(w, X(t));
        rc |= xmlTextWriterEndElement(w);
      }
      rc |= xmlTextWriterEndElement(w);
      r.elements += 1 + rec.tags.size();
    }
    rc |= xmlTextWriterEndElement(w);
  }
  rc |= xmlTextWriterEndElement(w);
  rc |= xmlTextWriterEndDocument(w);
  xmlFreeTextWriter(w);
  r.bytes = static_cast<uint64_t>(xmlBufferLength(buf));
  r.touched = r.bytes ? xmlBufferContent(buf)[r.bytes / 2] : 0;
  xmlBufferFree(buf);
  sw.stop(r);
  if (rc < 0) r.error = "xmlTextWriter call failed";
  return r;
}

}  // namespace twbench
