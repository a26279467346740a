// The one sequence of writer calls every writer makes for the records: each
// writer supplies an adapter with start (prefix, local name, namespace URI),
// a namespace declaration, attribute, text and end.
#pragma once

#include <vector>

#include "docgen.h"

namespace twbench {

template <class W>
void writeRecords(W& w, const std::vector<Record>& records) {
  w.start(nullptr, "records", nullptr);
  w.declare("meta", kMetaNs);
  w.attribute(nullptr, "generator", nullptr, "twxml-bench");
  for (const Record& rec : records) {
    w.start(nullptr, "record", nullptr);
    w.attribute(nullptr, "id", nullptr, rec.id.c_str());
    w.attribute(nullptr, "kind", nullptr, rec.kind.c_str());
    w.attribute("meta", "region", kMetaNs, rec.region.c_str());
    w.attribute(nullptr, "status", nullptr, rec.status.c_str());
    w.start(nullptr, "customer", nullptr);
    w.text(rec.customer.c_str());
    w.end();
    w.start(nullptr, "amount", nullptr);
    w.attribute(nullptr, "currency", nullptr, rec.currency.c_str());
    w.text(rec.amount.c_str());
    w.end();
    w.start(nullptr, "note", nullptr);
    w.text(rec.note.c_str());
    w.end();
    if (rec.archived) {
      w.start(nullptr, "archived", nullptr);
      w.end();
    }
    if (!rec.tags.empty()) {
      w.start(nullptr, "tags", nullptr);
      for (const std::string& t : rec.tags) {
        w.start(nullptr, "tag", nullptr);
        w.text(t.c_str());
        w.end();
      }
      w.end();
    }
    w.end();
  }
  w.end();
}

}  // namespace twbench
