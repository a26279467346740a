// pugixml as a peer of the document loads.
#include <cstring>
#include <pugixml.hpp>

#include "element_job.h"
#include "engines.h"

namespace twbench {
namespace {

// Keeps comments, as the other DOMs do; blank text between elements is
// dropped by default, as the other DOMs drop it.
constexpr unsigned kOptions = pugi::parse_default | pugi::parse_comments;

bool load(pugi::xml_document& doc, const std::string& text, Result& r) {
  pugi::xml_parse_result pr = doc.load_buffer(text.data(), text.size(), kOptions);
  if (!pr) r.error = pr.description();
  return bool(pr);
}

void countTree(const pugi::xml_node& top, Work& w) {
  for (pugi::xml_node n = top.first_child(); n;) {
    if (n.type() == pugi::node_element) {
      ++w.elements;
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
        ++w.attributes;
        w.attrBytes += std::strlen(a.value());
      }
    } else if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
      w.textBytes += std::strlen(n.value());
    }
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) n = n.parent() == top ? pugi::xml_node() : n.parent();
    if (n) n = n.next_sibling();
  }
}

pugi::xml_node firstElement(pugi::xml_node n) {
  while (n && n.type() != pugi::node_element) n = n.next_sibling();
  return n;
}

}  // namespace

Result pugixmlLoad(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    pugi::xml_document doc;
    if (!load(doc, in.doc, r)) return;
    if (in.verify) countTree(doc, r.work);
    r.touched = touch(doc.document_element().name());
  });
}

Result pugixmlElements(const Input& in) {
  return timed(in.doc.size(), [&](Result& r) {
    ElementJob job(r, in.verify);
    pugi::xml_document doc;
    if (!load(doc, in.doc, r)) return;
    pugi::xml_node n = doc.document_element();
    while (n) {
      for (const char* const* a = job.element(n.name()); *a; ++a) {
        pugi::xml_attribute at = n.attribute(*a);
        if (at) job.attribute(at.value(), std::strlen(at.value()));
      }
      // The first text child, as the document face's value is.
      for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata) {
          job.characters(c.value(), std::strlen(c.value()));
          job.flush();
          break;
        }
      }
      pugi::xml_node next = firstElement(n.first_child());
      while (!next && n) {
        next = firstElement(n.next_sibling());
        if (!next) n = n.parent().type() == pugi::node_element ? n.parent() : pugi::xml_node();
      }
      n = next;
    }
  });
}

}  // namespace twbench
