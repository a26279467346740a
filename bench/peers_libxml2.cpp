// libxml2 as a peer: its pull reader (xmlTextReader), its tree and its
// writer (xmlTextWriter).
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include <cstring>
#include <string>

#include "engines.h"
#include "peers_libxml2.h"
#include "record_writer.h"

namespace twbench {
namespace {

void silence(void*, const char*, ...) {}

xmlTextReaderPtr openReader(const Input& in) {
  quietLibxml2();
  return xmlReaderForMemory(in.doc.data(), static_cast<int>(in.doc.size()), nullptr, nullptr, 0);
}

bool isCharacterData(int type) {
  return type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
         type == XML_READER_TYPE_WHITESPACE || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
}

}  // namespace

void quietLibxml2() {
  static const bool once = [] {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, silence);
    return true;
  }();
  (void)once;
}

Result libxml2ReaderWalk(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  Stopwatch sw;
  xmlTextReaderPtr rd = openReader(in);
  int ret;
  while ((ret = xmlTextReaderRead(rd)) == 1) {
    int type = xmlTextReaderNodeType(rd);
    if (type == XML_READER_TYPE_ELEMENT) {
      ++r.work.elements;
      r.touched += touch(xmlTextReaderConstLocalName(rd));
      r.touched += touch(xmlTextReaderConstPrefix(rd));
      r.touched += touch(xmlTextReaderConstNamespaceUri(rd));
      r.touched += xmlTextReaderIsEmptyElement(rd);
      while (xmlTextReaderMoveToNextAttribute(rd) == 1) {
        ++r.work.attributes;
        r.touched += touch(xmlTextReaderConstLocalName(rd));
        r.touched += touch(xmlTextReaderConstPrefix(rd));
        r.touched += touch(xmlTextReaderConstNamespaceUri(rd));
        const xmlChar* v = xmlTextReaderConstValue(rd);
        r.touched += touch(v);
        if (in.verify) r.work.attrBytes += std::strlen(C(v));
      }
      xmlTextReaderMoveToElement(rd);
    } else if (type == XML_READER_TYPE_END_ELEMENT) {
      r.touched += touch(xmlTextReaderConstLocalName(rd));
    } else {
      const xmlChar* v = xmlTextReaderConstValue(rd);
      r.touched += touch(v);
      if (in.verify && isCharacterData(type)) r.work.textBytes += std::strlen(C(v));
    }
  }
  xmlFreeTextReader(rd);
  sw.stop(r);
  if (ret != 0) r.error = "xmlTextReaderRead failed";
  return r;
}

Result libxml2ReaderElements(const Input& in) {
  Result r;
  r.bytes = in.doc.size();
  char name[256], value[4096];
  Stopwatch sw;
  xmlTextReaderPtr rd = openReader(in);
  int ret;
  while ((ret = xmlTextReaderRead(rd)) == 1) {
    int type = xmlTextReaderNodeType(rd);
    if (type == XML_READER_TYPE_ELEMENT) {
      ++r.work.elements;
      copyToBuffer(C(xmlTextReaderConstLocalName(rd)), name, sizeof name);
      r.touched += static_cast<unsigned char>(name[0]);
      for (const char* const* a = knownAttributes(name); *a; ++a) {
        // An unprefixed name matches only attributes without a namespace,
        // as the handle interface asks.
        if (xmlTextReaderMoveToAttribute(rd, reinterpret_cast<const xmlChar*>(*a)) == 1) {
          ++r.work.attributes;
          r.work.attrBytes += copyToBuffer(C(xmlTextReaderConstValue(rd)), value, sizeof value);
          r.touched += static_cast<unsigned char>(value[0]);
        }
      }
      xmlTextReaderMoveToElement(rd);
    } else if (type == XML_READER_TYPE_TEXT) {
      r.work.textBytes += copyToBuffer(C(xmlTextReaderConstValue(rd)), value, sizeof value);
      r.touched += static_cast<unsigned char>(value[0]);
    }
  }
  xmlFreeTextReader(rd);
  sw.stop(r);
  if (ret != 0) r.error = "xmlTextReaderRead failed";
  return r;
}

namespace {

uint64_t contentBytes(xmlNodePtr n) {
  uint64_t len = 0;
  for (; n; n = n->next)
    if (n->content) len += std::strlen(C(n->content));
  return len;
}

// Counts the tree the way the other DOMs count theirs: namespace
// declarations among the attributes, text and CDATA as character data.
void countTree(xmlNodePtr root, Work& w) {
  xmlNodePtr n = root;
  while (n) {
    if (n->type == XML_ELEMENT_NODE) {
      ++w.elements;
      for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next) {
        ++w.attributes;
        w.attrBytes += ns->href ? std::strlen(C(ns->href)) : 0;
      }
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        ++w.attributes;
        w.attrBytes += contentBytes(a->children);
      }
    } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      w.textBytes += n->content ? std::strlen(C(n->content)) : 0;
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

Result libxml2Load(const Input& in) {
  quietLibxml2();
  return timed(in.doc.size(), [&](Result& r) {
    // Blank text between elements dropped, as the other DOMs drop it.
    xmlDocPtr doc = xmlReadMemory(in.doc.data(), static_cast<int>(in.doc.size()), nullptr,
                                  nullptr, XML_PARSE_NOBLANKS);
    if (!doc) {
      r.error = "xmlReadMemory failed";
      return;
    }
    if (in.verify) countTree(doc->children, r.work);
    r.touched = doc->children ? touch(doc->children->name) : 0;
    xmlFreeDoc(doc);
  });
}

namespace {

inline const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

struct TextWriter {
  xmlTextWriterPtr w;
  int rc = 0;
  void start(const char* prefix, const char* local, const char*) {
    rc |= prefix ? xmlTextWriterStartElementNS(w, X(prefix), X(local), nullptr)
                 : xmlTextWriterStartElement(w, X(local));
  }
  void declare(const char* prefix, const char* uri) {
    std::string name = std::string("xmlns:") + prefix;
    rc |= xmlTextWriterWriteAttribute(w, X(name.c_str()), X(uri));
  }
  void attribute(const char* prefix, const char* local, const char*, const char* value) {
    rc |= prefix ? xmlTextWriterWriteAttributeNS(w, X(prefix), X(local), nullptr, X(value))
                 : xmlTextWriterWriteAttribute(w, X(local), X(value));
  }
  void text(const char* s) { rc |= xmlTextWriterWriteString(w, X(s)); }
  void end() { rc |= xmlTextWriterEndElement(w); }
};

}  // namespace

Result libxml2TextWriter(const Input& in) {
  Result r;
  quietLibxml2();
  Stopwatch sw;
  xmlBufferPtr buf = xmlBufferCreate();
  TextWriter tw{xmlNewTextWriterMemory(buf, 0)};
  tw.rc |= xmlTextWriterStartDocument(tw.w, nullptr, "UTF-8", nullptr);
  writeRecords(tw, in.records);
  tw.rc |= xmlTextWriterEndDocument(tw.w);
  xmlFreeTextWriter(tw.w);
  r.bytes = static_cast<uint64_t>(xmlBufferLength(buf));
  r.touched = r.bytes ? xmlBufferContent(buf)[r.bytes / 2] : 0;
  if (in.verify) r.work = countDocument(C(xmlBufferContent(buf)), r.bytes);
  xmlBufferFree(buf);
  sw.stop(r);
  if (tw.rc < 0) r.error = "xmlTextWriter call failed";
  return r;
}

}  // namespace twbench
