#include "docgen.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "docgen_common.h"

namespace twbench {
namespace {

const char* const kKinds[] = {"order", "invoice", "refund", "quote", "shipment"};
const char* const kRegions[] = {"eu-north", "eu-west", "us-east", "us-west", "ap-south", "sa-east"};
const char* const kStatus[] = {"open", "closed", "pending", "void"};
const char* const kCurrencies[] = {"EUR", "USD", "GBP", "JPY", "CHF"};
const char* const kFirst[] = {"Ada", "Grace", "Alan", "Edsger", "Barbara", "Niklaus", "Frances",
                              "Ken", "Dennis", "Margaret", "Jos\xC3\xA9", "Bj\xC3\xB6rn"};
const char* const kLast[] = {"Lovelace", "Hopper", "Turing", "Dijkstra", "Liskov", "Wirth",
                             "Allen", "Thompson", "Ritchie", "Hamilton", "M\xC3\xBCller",
                             "\xC3\x85str\xC3\xB6m"};
const char* const kFirms[] = {" & Sons", " & Partners", " <Holding>", " \"Trading\"", " Ltd.",
                              "'s Workshop", ""};
const char* const kWords[] = {
    "shipment", "arrived", "late", "because", "of", "weather", "the", "customer", "asked",
    "for", "a", "refund", "invoice", "attached", "see", "terms", "net", "thirty", "days",
    "priority", "handling", "fragile", "keep", "dry", "caf\xC3\xA9", "na\xC3\xAFve",
    "\xE2\x82\xAC", ("stra\xC3\x9F" "e"), "\xE6\x9D\xB1\xE4\xBA\xAC", "5 < 7", "A&B",
    "\"quoted\"", "it's", "x > y"};
const char* const kTags[] = {"alpha", "beta", "gamma", "delta", "urgent", "bulk", "retail",
                             "export"};
const char* const kComments[] = {" checked by batch job ", " imported from legacy system ",
                                 " manual correction ", " see ticket 4711 "};

void attr(std::string& out, const char* name, const std::string& value) {
  out += ' ';
  out += name;
  out += "=\"";
  escapeText(out, value, true);
  out += '"';
}

void renderRecord(std::string& out, const Record& r);

}  // namespace

std::vector<Record> makeRecords(size_t targetBytes, size_t maxRecords) {
  Rng rng;
  std::vector<Record> records;
  records.reserve(std::min(targetBytes / 480, maxRecords) + 1);
  size_t bytes = 200;
  char buf[64];
  std::string scratch;
  for (size_t i = 0; bytes < targetBytes && i < maxRecords; ++i) {
    Record r;
    std::snprintf(buf, sizeof buf, "R%08zu", i + 1);
    r.id = buf;
    r.kind = rng.pick(kKinds);
    r.region = rng.pick(kRegions);
    r.status = rng.pick(kStatus);
    // One draw per statement, so every compiler makes the same document.
    r.customer = rng.pick(kFirst);
    r.customer += ' ';
    r.customer += rng.pick(kLast);
    r.customer += rng.pick(kFirms);
    r.currency = rng.pick(kCurrencies);
    size_t units = rng.below(100000);
    size_t cents = rng.below(100);
    std::snprintf(buf, sizeof buf, "%zu.%02zu", units, cents);
    r.amount = buf;
    size_t words = 12 + rng.below(28);
    for (size_t w = 0; w < words; ++w) {
      if (w) r.note += ' ';
      r.note += rng.pick(kWords);
    }
    if (rng.below(3) == 0) r.comment = rng.pick(kComments);
    r.archived = rng.below(2) == 0;
    size_t tags = rng.below(4);
    for (size_t t = 0; t < tags; ++t) r.tags.push_back(rng.pick(kTags));
    scratch.clear();
    renderRecord(scratch, r);
    bytes += scratch.size();
    records.push_back(std::move(r));
  }
  return records;
}

namespace {

void renderRecord(std::string& out, const Record& r) {
  out += "  <record";
  attr(out, "id", r.id);
  attr(out, "kind", r.kind);
  attr(out, "meta:region", r.region);
  attr(out, "status", r.status);
  out += ">\n    <customer>";
  escapeText(out, r.customer, false);
  out += "</customer>\n    <amount";
  attr(out, "currency", r.currency);
  out += '>';
  out += r.amount;
  out += "</amount>\n    <note>";
  escapeText(out, r.note, false);
  // A character reference in every note, so the readers meet both kinds.
  out += " &#x2014; ";
  out += r.id;
  out += "</note>\n";
  if (!r.comment.empty()) {
    out += "    <!--";
    out += r.comment;
    out += "-->\n";
  }
  if (r.archived) out += "    <archived/>\n";
  if (!r.tags.empty()) {
    out += "    <tags>";
    for (const std::string& t : r.tags) {
      out += "<tag>";
      out += t;
      out += "</tag>";
    }
    out += "</tags>\n";
  }
  out += "  </record>\n";
}

}  // namespace

std::string renderDocument(const std::vector<Record>& records) {
  std::string out;
  out.reserve(records.size() * 480 + 256);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<!-- twxml benchmark document: record-style data -->\n";
  out += "<records xmlns:meta=\"";
  out += kMetaNs;
  out += "\" generator=\"twxml-bench\">\n";
  for (const Record& r : records) renderRecord(out, r);
  out += "</records>\n";
  return out;
}

bool readFile(const std::string& path, std::string* out) {
  // Straight into a string of the right size: no second copy, so peak
  // memory measured after reading reflects the document once.
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  long size = ok ? std::ftell(f) : -1;
  ok = ok && size >= 0 && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    out->resize(static_cast<size_t>(size));
    ok = std::fread(out->data(), 1, out->size(), f) == out->size();
  }
  std::fclose(f);
  return ok;
}

std::string renderRecordDocument(size_t targetBytes) {
  return renderDocument(makeRecords(targetBytes));
}

std::string loadOrMakeDocument(const std::string& path, std::string (*make)(size_t), size_t size) {
  std::string text;
  if (readFile(path, &text) && !text.empty()) return text;
  text = make(size);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

}  // namespace twbench
