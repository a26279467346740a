// Reads the bundled catalogue through XmlInterface and writes a stock report
// through it: the same code runs on the streaming engine and, where the
// streaming module is missing, on the document engine.
//
//   xmlinterface_catalogue [report.xml [catalogue.xml]]
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "twxml/twxml.h"

#ifndef TWXML_EXAMPLES_DIR
#define TWXML_EXAMPLES_DIR "."
#endif

namespace {

char* Text(const char* text) { return const_cast<char*>(text); }

struct Delete {
  void operator()(XmlInterface* x) const { delete x; }
};
using XmlPtr = std::unique_ptr<XmlInterface, Delete>;

struct Book {
  std::string id, title;
  int stock = 0;
};

// One book element is current: its attributes first, then its children.
bool ReadBook(XmlInterface& reader, Book* book) {
  char value[256];
  if (!reader.GetAttrValueToBufB(Text("id"), value, sizeof value)) return false;
  book->id = value;
  reader.GetAttrValueToIntB(Text("stock"), &book->stock);
  while (reader.SelectElemB()) {
    // The document engine names the element dc:title, the streaming engine
    // title: ExtractNameB drops a leading text the caller expects.
    char name[64];
    bool prefixed = reader.ExtractNameB(Text("dc:"), name, sizeof name);
    if (!prefixed) reader.GetElemNameToBufB(name, sizeof name);
    if (std::string(name) == "title" && reader.GetElemValueToBufB(value, sizeof value)) {
      book->title = value;
    }
    if (!reader.SkipLevelB()) return false;
  }
  return reader.EndElemB();
}

}  // namespace

int main(int argc, char** argv) {
  // The document engine needs COM on this thread; the streaming one does not mind.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string input = argc > 2 ? argv[2] : TWXML_EXAMPLES_DIR "/catalogue.xml";

  XmlInterface* raw = nullptr;
  int status = XmlInterface::CreateReaderFromFileF(Text(input.c_str()), &raw);
  if (status != 0) {
    std::fprintf(stderr, "%s: cannot read (status %d)\n", input.c_str(), status);
    return 1;
  }
  XmlPtr reader(raw);
  Book books[16];
  int count = 0;
  if (!reader->SelectElemB() || !reader->IsThisNameB(nullptr, Text("catalogue"))) {
    std::fprintf(stderr, "%s: not a catalogue\n", input.c_str());
    return 1;
  }
  while (count < 16 && reader->SelectElemB()) {
    if (!ReadBook(*reader, &books[count])) {
      std::fprintf(stderr, "%s: malformed book\n", input.c_str());
      return 1;
    }
    std::printf("%-6s %3d  %s\n", books[count].id.c_str(), books[count].stock,
                books[count].title.c_str());
    ++count;
  }
  reader->EndElemB();
  reader.reset();

  // The report: one element per book that needs ordering.
  if (XmlInterface::CreateWriterToMemF(&raw, true) != 0) return 1;
  XmlPtr writer(raw);
  bool ok = writer->WriteStartElemB(Text("reorder"));
  for (int i = 0; i < count; ++i) {
    if (books[i].stock >= 5) continue;
    ok = ok && writer->WriteStartElemB(Text("book"));
    ok = ok && writer->WriteAttrB(Text("ref"), Text(books[i].id.c_str()));
    ok = ok && writer->WriteIntAttrB(Text("missing"), 5 - books[i].stock);
    ok = ok && writer->WriteValueB(Text(books[i].title.c_str()));
    ok = ok && writer->EndElemB();
  }
  ok = ok && writer->EndElemB();
  unsigned int size = 0;
  char* report = ok ? writer->AllocMemP(&size) : nullptr;
  if (report == nullptr) {
    std::fprintf(stderr, "writing the report failed\n");
    return 1;
  }
  std::fwrite(report, 1, size, stdout);
  std::fputc('\n', stdout);
  if (argc > 1) {
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(report, 1, size, out) != size) return 1;
    std::fclose(out);
  }
  MemFreeF(report);
  return count == 4 ? 0 : 1;
}
