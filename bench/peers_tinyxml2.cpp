// tinyxml2 as a peer: its document (load, and load with the element job)
// and its XMLPrinter as a writer.
#include <tinyxml2.h>

#include <cstring>

#include "element_job.h"
#include "engines.h"
#include "record_writer.h"

namespace twbench {
namespace {

using tinyxml2::XMLElement;
using tinyxml2::XMLNode;

bool load(tinyxml2::XMLDocument& doc, const std::string& text, Result& r) {
  if (doc.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS) return true;
  r.error = doc.ErrorStr();
  return false;
}

void countTree(const XMLNode* top, Work& w) {
  for (const XMLNode* n = top->FirstChild(); n;) {
    if (const XMLElement* e = n->ToElement()) {
      ++w.elements;
      for (const tinyxml2::XMLAttribute* a = e->FirstAttribute(); a; a = a->Next()) {
        ++w.attributes;
        w.attrBytes += std::strlen(a->Value());
      }
    } else if (n->ToText()) {
      w.textBytes += std::strlen(n->Value());
    }
    if (n->FirstChild()) {
      n = n->FirstChild();
      continue;
    }
    while (n && !n->NextSibling()) n = n->Parent() == top ? nullptr : n->Parent();
    if (n) n = n->NextSibling();
  }
}

}  // namespace

// tinyxml2 replaces entity references and normalises text on first access,
// not while parsing, so a load without a walk leaves that work out.
Result tinyxml2Load(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    tinyxml2::XMLDocument doc;
    if (!load(doc, in.doc, r)) return;
    if (in.verify) countTree(&doc, r.work);
    r.touched = doc.RootElement() ? touch(doc.RootElement()->Name()) : 0;
  });
}

Result tinyxml2Elements(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    ElementJob job(r, in.verify);
    tinyxml2::XMLDocument doc;
    if (!load(doc, in.doc, r)) return;
    const XMLElement* e = doc.RootElement();
    while (e) {
      for (const char* const* a = job.element(e->Name()); *a; ++a) {
        if (const tinyxml2::XMLAttribute* at = e->FindAttribute(*a))
          job.attribute(at->Value(), std::strlen(at->Value()));
      }
      // The first text child that is not CDATA, as the document face's value is.
      for (const XMLNode* c = e->FirstChild(); c; c = c->NextSibling()) {
        const tinyxml2::XMLText* t = c->ToText();
        if (t && !t->CData()) {
          job.characters(t->Value(), std::strlen(t->Value()));
          job.flush();
          break;
        }
      }
      const XMLElement* next = e->FirstChildElement();
      while (!next && e) {
        next = e->NextSiblingElement();
        if (!next) e = e->Parent() ? e->Parent()->ToElement() : nullptr;
      }
      e = next;
    }
  });
}

namespace {

struct Printer {
  tinyxml2::XMLPrinter p{nullptr, true};  // into memory, no indentation
  char name[128];
  // XMLPrinter takes qualified names only.
  const char* qualified(const char* prefix, const char* local) {
    if (!prefix) return local;
    size_t a = std::strlen(prefix), b = std::strlen(local);
    std::memcpy(name, prefix, a);
    name[a] = ':';
    std::memcpy(name + a + 1, local, b + 1);
    return name;
  }
  void start(const char* prefix, const char* local, const char*) {
    p.OpenElement(qualified(prefix, local), true);
  }
  void declare(const char* prefix, const char* uri) {
    p.PushAttribute(qualified("xmlns", prefix), uri);
  }
  void attribute(const char* prefix, const char* local, const char*, const char* value) {
    p.PushAttribute(qualified(prefix, local), value);
  }
  void text(const char* s) { p.PushText(s); }
  void end() { p.CloseElement(true); }
};

}  // namespace

Result tinyxml2Print(const Input& in) {
  return timed(0, [&](Result& r) {
    Printer pr;
    pr.p.PushDeclaration("xml version=\"1.0\" encoding=\"UTF-8\"");
    writeRecords(pr, in.records);
    r.bytes = static_cast<uint64_t>(pr.p.CStrSize() - 1);
    r.touched = static_cast<unsigned char>(pr.p.CStr()[r.bytes / 2]);
    if (in.verify) r.work = countDocument(pr.p.CStr(), r.bytes);
  });
}

}  // namespace twbench
