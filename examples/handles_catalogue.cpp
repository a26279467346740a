// Reads the bundled catalogue through the handle functions (XmlLite*) and
// writes a price list with a writer handle. The handle face needs the
// streaming module; without it the program says so and exits with 0.
//
//   handles_catalogue [prices.xml [catalogue.xml]]
#include <cstdio>
#include <cstring>
#include <string>

#include "twxml/twxml.h"

#ifndef TWXML_EXAMPLES_DIR
#define TWXML_EXAMPLES_DIR "."
#endif

namespace {

// Steps into the next child element; comments, white space and the
// declaration are never reported.
bool NextChild(_XmlLiteReaderS* reader) { return XmlLiteReadElemF(reader) == 0; }

}  // namespace

int main(int argc, char** argv) {
  if (!XmlLiteIsDllFoundB()) {
    std::printf("the streaming module is not available; nothing to show\n");
    return 0;
  }
  std::string input = argc > 2 ? argv[2] : TWXML_EXAMPLES_DIR "/catalogue.xml";
  _XmlLiteReaderS* reader = XmlLiteCreateFileReaderH(input.c_str());
  _XmlLiteWriterS* writer = XmlLiteCreateMemWriterH(1, "UTF-8");
  if (reader == nullptr || writer == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", input.c_str());
    return 1;
  }
  XmlLiteWriteStartElemF(writer, nullptr, "prices", nullptr);
  int books = 0;
  char name[64], text[256], id[32];
  if (!NextChild(reader)) return 1;  // catalogue
  while (NextChild(reader)) {        // book
    XmlLiteGetAttrValueToBufF(reader, "id", id, sizeof id);
    while (NextChild(reader)) {  // title, creator, price, tags
      XmlLiteGetElemNameToBufF(reader, name, sizeof name);  // local name: no prefix
      if (std::strcmp(name, "price") == 0) {
        char currency[8] = "";
        XmlLiteGetAttrValueToBufF(reader, "currency", currency, sizeof currency);
        XmlLiteGetElemValueToBufF(reader, text, sizeof text);
        XmlLiteWriteStartElemF(writer, nullptr, "price", nullptr);
        XmlLiteWriteAttrF(writer, nullptr, "book", nullptr, id);
        XmlLiteWriteAttrF(writer, nullptr, "currency", nullptr, currency);
        XmlLiteWriteValueF(writer, text);
        XmlLiteWriteEndElemF(writer);
        std::printf("%s  %s %s\n", id, text, currency);
        if (XmlLiteReadEndElemF(reader) != 0) return 1;
      } else if (XmlLiteSkipLevelF(reader) != 0) {  // everything inside, through the end
        return 1;
      }
    }
    if (XmlLiteReadEndElemF(reader) != 0) return 1;  // </book>
    ++books;
  }
  XmlLiteCloseReaderF(reader);
  XmlLiteWriteEndElemF(writer);

  char* document = nullptr;
  unsigned int length = 0;
  if (XmlLiteGetMemF(writer, &document, &length) != 0) return 1;
  std::fwrite(document, 1, length, stdout);
  std::fputc('\n', stdout);
  if (argc > 1) {
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(document, 1, length, out) != length) return 1;
    std::fclose(out);
  }
  MemFreeF(document);
  XmlLiteCloseWriterF(writer);
  return books == 4 ? 0 : 1;
}
