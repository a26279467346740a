// Writes a small document with a writer handle and reads it back with a
// reader handle. The handles run on the streaming module.
#include <twxml/twxml.h>

#include <cstdio>

int main() {
  if (!XmlLiteIsDllFoundB()) {
    std::printf("the streaming module is not installed\n");
    return 0;
  }
  _XmlLiteWriterS* writer = XmlLiteCreateMemWriterH(1, "UTF-8");  // indented
  XmlLiteWriteStartElemF(writer, "inv", "stock", "urn:example:inventory");
  for (const char* sku : {"A-1", "B-2"}) {
    XmlLiteWriteStartElemF(writer, "inv", "part", "urn:example:inventory");
    XmlLiteWriteAttrF(writer, nullptr, "sku", nullptr, sku);
    XmlLiteWriteValueF(writer, "caf\xc3\xa9 & co");                 // escaped for you
    XmlLiteWriteEndElemF(writer);
  }
  XmlLiteWriteEndElemF(writer);
  char* document = nullptr;
  unsigned int length = 0;
  if (XmlLiteGetMemF(writer, &document, &length) != TWXML_OK) return 1;
  std::printf("%s\n", document);

  _XmlLiteReaderS* reader = XmlLiteCreateMemReaderH(document);  // reads the text in place
  char name[32], sku[16], value[64];
  int parts = 0;
  if (XmlLiteReadElemF(reader) == TWXML_OK) {            // <inv:stock>
    while (XmlLiteReadElemF(reader) == TWXML_OK) {       // each <inv:part>
      XmlLiteGetElemNameToBufF(reader, name, sizeof name);  // local name: "part"
      XmlLiteGetAttrValueToBufF(reader, "sku", sku, sizeof sku);
      XmlLiteGetElemValueToBufF(reader, value, sizeof value);
      std::printf("%s %s: %s\n", name, sku, value);
      XmlLiteReadEndElemF(reader);
      ++parts;
    }
  }
  XmlLiteCloseReaderF(reader);
  MemFreeF(document);
  XmlLiteCloseWriterF(writer);
  return parts == 2 ? 0 : 1;
}
